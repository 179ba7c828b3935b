#ifndef TAVIK_CORE_ENCODE_H_
#define TAVIK_CORE_ENCODE_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "base/result.h"
#include "base/u128.h"
#include "core/config.h"
#include "core/render.h"
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

// The values encode refuses: one at or above the modulus, and, in a modulus of odd bit length
// just above a power of two, one whose cycle walk cannot come back below the modulus (the
// cipher keeps the domain's top bit): its word would decode to other bytes.
inline constexpr Error kNotBelowModulus = value_error("value must be below the modulus");
inline constexpr Error kNotEnciphered =
    value_error("value cannot be enciphered within the modulus");

// encode turns bytes into a code word: select ceil(bit_width / 8) bytes (the head, or the
// tail with a modulus), read them as a big-endian value, mask it to the width, encipher,
// write data and check syllables, group, add the time prefix in mode open, and join.
// Fails with kNotBelowModulus, kNotEnciphered, and (kInternal) for a keyed mode without its
// key. Never allocates.
Result<EncodedText> encode(const CodecConfig& config, std::span<const uint8_t> data);

// The steps of encode, for the bulk path that runs the hashing of many identifiers at once:
// select_value reads the identifier (the 16-byte value block, which the time prefix reads too,
// and the value masked to the width) and fails as encode does before the cipher.
struct Selected {
  uint8_t block[16] = {};
  U128 value;
};
Result<Selected> select_value(const CodecConfig& config, std::span<const uint8_t> data);

// WordWriter writes the words of one configuration from their digits: what depends only on
// the configuration (the syllable letters of its level, the case, the separator) is settled
// once. separator_mask tells where the chunk layout puts separators among data syllables of
// these digits (bit j: before syllable j); write joins prefix (mode open reads the value block
// for it, other modes never do), data syllables (the base-700 digits of the enciphered value,
// as value_to_digits writes them) with separators by the mask, and check syllables of the
// given digits, into `text`.
class WordWriter {
 public:
  explicit WordWriter(const CodecConfig& config);
  uint32_t separator_mask(std::span<const uint16_t> data_digits) const;
  // separator_masks is separator_mask of many words of n digits each, into masks[i].
  void separator_masks(std::span<const std::array<uint16_t, kMaxDataSyllables>> words, size_t n,
                       uint32_t* masks) const;
  void write(const uint8_t block[16], std::span<const uint16_t> data_digits, uint32_t mask,
             std::span<const uint16_t> check_digits, EncodedText& text) const;
  // write_many writes word j of n data digits and num_check check digits, with masks[j] and
  // value block blocks[j], to texts[index[j]].
  void write_many(std::span<const std::array<uint8_t, 16>> blocks,
                  std::span<const std::array<uint16_t, kMaxDataSyllables>> data_digits, size_t n,
                  const uint32_t* masks,
                  const std::array<uint16_t, kMaxCheckSyllables>* check_digits,
                  size_t num_check, const uint32_t* index, EncodedText* texts) const;

 private:
  // encode writes the pieces itself, the check syllables while its digest runs.
  friend Result<EncodedText> encode(const CodecConfig& config, std::span<const uint8_t> data);
  char* put_prefix(char* out, const uint8_t block[16]) const;
  template <typename DigitOf>
  char* put_data_syllables(char* out, size_t num_syllables, DigitOf digit_of,
                           uint32_t mask) const;
  template <typename DigitOf>
  char* put_check_syllables(char* out, size_t num_syllables, DigitOf digit_of) const;

  const CodecConfig& config_;
  const std::array<uint32_t, kSyllableBase>& letters_;
  uint32_t case_flip_;
  uint32_t separator_ = 0;  // its UTF-8 bytes packed like letters
  size_t separator_len_ = 0;
};

// word_texts_vbmi2 spells words as the table does, with AVX-512 VBMI2 (x86-64 only: callers
// check that the processor has it), word j to texts[index[j]] (its text and length): the
// num_data >= 1 data digits of data_digits[j], `separator` before each data syllable k whose
// bit is set in separator_masks[j] (1 <= k < num_data), `separator` again, and the num_check
// check digits of check_digits[j] (num_data + num_check <= 16). A separator of 0 writes
// nothing. Nothing is written past a word's text.
void word_texts_vbmi2(const SyllableLetterTable& table,
                      std::span<const std::array<uint16_t, kMaxDataSyllables>> data_digits,
                      size_t num_data, const uint32_t* separator_masks,
                      const std::array<uint16_t, kMaxCheckSyllables>* check_digits,
                      size_t num_check, uint8_t separator, const uint32_t* index,
                      EncodedText* texts);

}  // namespace tavik::core

#endif  // TAVIK_CORE_ENCODE_H_
