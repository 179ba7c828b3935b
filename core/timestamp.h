#ifndef TAVIK_CORE_TIMESTAMP_H_
#define TAVIK_CORE_TIMESTAMP_H_

// The time prefix of mode open: for a time-based UUID (versions 1, 6 and 7) the number of
// whole units elapsed since an epoch, modulo 25, written as B<vowel>-D<vowel>.

#include <array>
#include <cstdint>
#include <optional>

#include "core/types.h"

namespace tavik::core {

inline constexpr int64_t kDefaultEpochMs = 1700000000000;  // 2023-11-14T22:13:20Z
inline constexpr size_t kPrefixLen = 5;

// detect_timestamp reads a 16-byte big-endian value block: version nibble (high nibble of
// byte 6) 7 gives the 48-bit Unix milliseconds of bytes 0-5; 1 and 6 give the 60-bit count of
// 100 ns ticks since 1582-10-15 converted to Unix milliseconds; any other nibble gives none.
std::optional<int64_t> detect_timestamp(const uint8_t block[16]);

// elapsed_units is the signed number of whole granularity units from epoch to t, truncated
// toward zero (calendar months for kMonth, a negative day number counting as January 1970).
// Exact for every pair of signed 64-bit values.
int64_t elapsed_units(int64_t t_ms, int64_t epoch_ms, Granularity granularity);

// prefix_text is the five characters B, vowel, '-', D, vowel for H = max(units, 0): the
// vowels are H / 5 mod 5 and H mod 5 of A E I O U. Always upper case.
std::array<char, kPrefixLen> prefix_text(int64_t t_ms, int64_t epoch_ms,
                                         Granularity granularity);

}  // namespace tavik::core

#endif  // TAVIK_CORE_TIMESTAMP_H_
