#ifndef TAVIK_CORE_ENCODE_H_
#define TAVIK_CORE_ENCODE_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "base/result.h"
#include "core/config.h"
#include "core/timestamp.h"

namespace tavik::core {

// The longest code word: prefix and separator, 14 data syllables of 4 letters with 13
// separators, the separator before the check syllables and 8 check syllables of 4 letters;
// a separator is at most 4 bytes of UTF-8.
inline constexpr size_t kMaxSeparatorLen = 4;
inline constexpr size_t kMaxEncodedLen = kPrefixLen + kMaxSeparatorLen +
                                         kMaxDataSyllables * 4 + (kMaxDataSyllables - 1) * 4 +
                                         kMaxSeparatorLen + kMaxCheckSyllables * 4;

// EncodedText is a code word in fixed storage, UTF-8. The byte past the longest word gives
// the writers room to store two letters at a time.
struct EncodedText {
  char data[kMaxEncodedLen + 1];
  size_t len = 0;
  std::string_view view() const { return {data, len}; }
};

// encode_separator writes the UTF-8 form of a code point (nothing for 0) and returns its
// length; a code point that is no Unicode scalar value is written as U+FFFD.
size_t encode_separator(uint32_t code_point, char out[kMaxSeparatorLen]);

// encode turns bytes into a code word: select ceil(bit_width / 8) bytes (the head, or the
// tail with a modulus), read them as a big-endian value, mask it to the width, encipher,
// write data and check syllables, group, add the time prefix in mode open, and join.
// Fails (kValue) with "value must be below the modulus" for a value not below a modulus,
// and (kInternal) for a keyed mode without its key.
Result<EncodedText> encode(const CodecConfig& config, std::span<const uint8_t> data);

}  // namespace tavik::core

#endif  // TAVIK_CORE_ENCODE_H_
