#ifndef TAVIK_CORE_DECODE_H_
#define TAVIK_CORE_DECODE_H_

// Decoding: a code word back to the 16 bytes of its identifier.

#include <cstdint>
#include <span>

#include "base/result.h"
#include "base/u128.h"
#include "core/check.h"
#include "core/config.h"
#include "core/normalize.h"
#include "core/render.h"
#include "fpe/sha256.h"

namespace tavik::core {

// The failures of decoding; recovery reports them too.
inline constexpr Error kNormalizationFailed = value_error("input normalization failed");
inline constexpr Error kKeyRequired = value_error("key required for this mode");
inline constexpr Error kRecoveryNotSupported = value_error("recovery not supported in plain mode");
inline constexpr Error kCheckFailed =
    value_error("check verification failed \xE2\x80\x94 input may be corrupted");

// decode_text normalizes, checks the key, verifies the check syllables and that the data
// syllables spell a value inside the domain, deciphers it and checks that the result lies in
// the domain too (all three failures are kCheckFailed), then cuts the value to the width. A
// word whose check fails costs at most one pass of the cipher. Never allocates.
Result<Bytes16> decode_text(const CodecConfig& config, CodeUnits text);

// The steps of decode_text, for the bulk path that deciphers many words at once:
// read_word normalizes the text into *input and writes the code value of its data units to
// *value; it returns how it fails, as decode_text does before the check (kNormalizationFailed,
// kKeyRequired, and kCheckFailed for a value outside the domain), or nullptr: no Result per
// word in a batch. With data_text, normalize may also hand out the text of the data units
// there. decoded_value ends a decode from the deciphered value (kCheckFailed outside the
// domain); cut_to_width keeps the low bit_width bits and writes 16 bytes, most significant
// first.
const Error* read_word(const CodecConfig& config, const CodeUnits& text, NormalizedInput* input,
                       U128* value, DataText* data_text = nullptr);
// read_keyed_word is read_word that also lays out the keyed check block of the word's data
// units, as layout_check_block does (kCheckTextTooLong where it refuses), from the letters
// normalize read where it hands them out.
const Error* read_keyed_word(const CodecConfig& config, const CodeUnits& text,
                             NormalizedInput* input,
                             uint8_t block[fpe::kSha256BlockLen], U128* value);

// WordReader is read_word and read_keyed_word for the words of one configuration, with what
// depends only on the configuration worked out once: the bulk calls read every word of a batch
// with it, inline.
class WordReader {
 public:
  explicit WordReader(const CodecConfig& config)
      : level_(static_cast<uint8_t>(config.level)),
        key_missing_(config.mode != Mode::kPlain && !config.check_key),
        data_units_(2 * data_syllable_count(config)),
        check_units_(2 * config.check_syllables),
        max_value_(config.domain.max_value()) {}

  // normalize is core::normalize for the configuration's level and window.
  bool normalize(const CodeUnits& text, NormalizedInput* input,
                 DataText* data_text = nullptr) const {
    return core::normalize(level_, text, data_units_, check_units_, input, data_text);
  }

  // normalize_group is normalize of `count` texts, at most four: the four of a whole group
  // side by side (core::normalize_four).
  void normalize_group(size_t count, const CodeUnits* const (&text)[4],
                       NormalizedInput* const (&input)[4], DataText* const (&data_text)[4],
                       bool (&ok)[4]) const {
    if (count == 4) {
      core::normalize_four(level_, text, data_units_, check_units_, input, data_text, ok);
      return;
    }
    for (size_t w = 0; w < count; ++w) { ok[w] = normalize(*text[w], input[w], data_text[w]); }
  }

  const Error* read(const CodeUnits& text, NormalizedInput* input, U128* value,
                    DataText* data_text = nullptr) const {
    if (!normalize(text, input, data_text)) { return &kNormalizationFailed; }
    return value_of(*input, value);
  }

  // value_of is the rest of read once normalize has succeeded.
  const Error* value_of(const NormalizedInput& input, U128* value) const {
    if (key_missing_) { return &kKeyRequired; }
    // A value outside the domain fails like a wrong check syllable, so the order of the two
    // tests does not show.
    if (!units_to_value_checked(input.data(), value) || *value > max_value_) {
      return &kCheckFailed;
    }
    return nullptr;
  }

  const Error* read_keyed(const CodeUnits& text, NormalizedInput* input,
                          uint8_t block[fpe::kSha256BlockLen], U128* value) const {
    DataText data_text{.bytes = block};
    if (const Error* failure = read(text, input, value, &data_text)) { return failure; }
    if (!layout_check_block(data_text, input->data(), block)) { return &kCheckTextTooLong; }
    return nullptr;
  }

 private:
  uint8_t level_;
  bool key_missing_;
  size_t data_units_;
  size_t check_units_;
  U128 max_value_;
};
Result<Bytes16> decoded_value(const CodecConfig& config, U128 plain);
// decode_read_word is the rest of decode_text for a word that read_word has read: the check,
// the cipher and the domain, with the keyed check digest computed alongside the cipher. The
// check is computed from data_text where normalize wrote it there (at_end for mode plain).
Result<Bytes16> decode_read_word(const CodecConfig& config, const NormalizedInput& input,
                                 U128 value, const DataText& data_text = {});
Bytes16 cut_to_width(const CodecConfig& config, U128 plain);

// ValueEnd is decoded_value and cut_to_width for the values of one configuration, with the
// domain's largest value and the width's mask worked out once: the bulk calls end every word
// of a batch with it, inline.
class ValueEnd {
 public:
  explicit ValueEnd(const CodecConfig& config)
      : max_value_(config.domain.max_value()), width_mask_(U128::low_mask(config.bit_width)) {}
  // A deciphered value outside the domain fails the check.
  bool in_domain(U128 plain) const { return plain <= max_value_; }
  void write(U128 plain, Bytes16& out) const { (plain & width_mask_).to_be_bytes(out.data()); }

 private:
  U128 max_value_;
  U128 width_mask_;
};

// finish_value deciphers a code value, keeps its low bit_width bits and writes 16 bytes,
// most significant first.
Bytes16 finish_value(const CodecConfig& config, U128 value);

// units_in_domain tells whether data units spell a value of the domain (below 2^128) that, in
// a Modulus domain, also deciphers to a value of the domain: only such words can come from
// encode. (With an odd bit count the cipher keeps the domain's top bit, so a walk just above a
// power of two may not come back within its passes.) Bits domains need no deciphering here.
// With `value`, it also writes the value the units spell when they lie in the domain.
bool units_in_domain(const CodecConfig& config, std::span<const uint8_t> data_units,
                     U128* value = nullptr);

}  // namespace tavik::core

#endif  // TAVIK_CORE_DECODE_H_
