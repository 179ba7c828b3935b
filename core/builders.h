#ifndef TAVIK_CORE_BUILDERS_H_
#define TAVIK_CORE_BUILDERS_H_

// The builders: each returns a changed copy of a record and never touches the receiver.

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "base/u128.h"
#include "core/config.h"

namespace tavik::core {

// with_bit_width clamps to 16..128 and rekeys for Bits(width).
CodecConfig with_bit_width(const CodecConfig& config, uint32_t bits);
// with_modulus fails with "modulus must be at least 2" below 2, else rekeys for Modulus(m).
Result<CodecConfig> with_modulus(const CodecConfig& config, U128 modulus);
// with_cipher fails with "unknown cipher: use 'feistel' or 'shuffle'" for other kinds.
Result<CodecConfig> with_cipher(const CodecConfig& config, std::string_view kind,
                                std::optional<std::span<const uint8_t>> key);
// with_case fails with "case must be 'upper' or 'lower'".
Result<CodecConfig> with_case(const CodecConfig& config, std::string_view letter_case);
// with_check_syllables clamps to 1..8.
CodecConfig with_check_syllables(const CodecConfig& config, uint64_t n);
// with_separator takes the first code point of UTF-8 text: fails with "separator must not be
// empty" for empty text and "invalid separator: must be non-alphabetic" when that code point
// is alphabetic. The rest of the text is ignored.
Result<CodecConfig> with_separator(const CodecConfig& config, std::string_view sep);
CodecConfig with_chunk_none(const CodecConfig& config);
CodecConfig with_chunk_fixed(const CodecConfig& config, uint64_t char_size);
CodecConfig with_chunk_pattern(const CodecConfig& config, std::vector<uint64_t> pattern);
// with_timestamp_config fails with "granularity must be one of: second, minute, hour, day,
// week, month".
Result<CodecConfig> with_timestamp_config(const CodecConfig& config, int64_t epoch_ms,
                                          std::string_view granularity);

// is_alphabetic: ASCII letters, and from U+00AA up the Unicode Alphabetic property.
bool is_alphabetic(uint32_t code_point);

}  // namespace tavik::core

#endif  // TAVIK_CORE_BUILDERS_H_
