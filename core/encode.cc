#include "core/encode.h"

#include <algorithm>
#include <cstring>

#include "core/check.h"
#include "core/render.h"
#include "fpe/cpu.h"

namespace tavik::core {

size_t encode_separator(uint32_t code_point, char out[kMaxSeparatorLen]) {
  if (code_point == 0) { return 0; }
  if (code_point > 0x10FFFF || (code_point >= 0xD800 && code_point <= 0xDFFF)) {
    code_point = 0xFFFD;
  }
  if (code_point < 0x80) {
    out[0] = static_cast<char>(code_point);
    return 1;
  }
  if (code_point < 0x800) {
    out[0] = static_cast<char>(0xC0 | (code_point >> 6));
    out[1] = static_cast<char>(0x80 | (code_point & 0x3F));
    return 2;
  }
  if (code_point < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (code_point >> 12));
    out[1] = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (code_point & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (code_point >> 18));
  out[1] = static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (code_point & 0x3F));
  return 4;
}

WordWriter::WordWriter(const CodecConfig& config)
    : config_(config),
      letters_(kSyllableLetters[static_cast<size_t>(config.level)]),
      case_flip_(config.letter_case == LetterCase::kUpper ? kUpperCaseFlip : 0) {
  char bytes[kMaxSeparatorLen] = {};
  separator_len_ = encode_separator(config.chunk_layout.separator, bytes);
  for (size_t i = 0; i < kMaxSeparatorLen; ++i) {
    separator_ |= uint32_t{static_cast<uint8_t>(bytes[i])} << (8 * i);
  }
}

namespace {

// The writers store four bytes for every syllable and separator and advance by their length.
// EncodedText gives every syllable and separator of the longest word four bytes, so a store
// never reaches past the room of the piece it writes. Pen holds the writer's spelling in
// locals: the stores of letters may write anything as far as the compiler knows, so members
// would be read again after every store.
struct Pen {
  char* syllable(char* out, uint32_t digit) const {
    store_letters(letters[digit] ^ case_flip, out);
    return out + kSyllableWidths[digit];
  }
  const uint32_t* letters;
  uint32_t case_flip;
  uint32_t separator;
  size_t separator_len;
};

}  // namespace

// The data syllables, with the separator before every syllable j whose bit is set in
// separator_mask: it is stored before every syllable and kept only where the bit says, since
// the cuts of a word are no pattern a branch could predict.
template <typename DigitOf>
inline char* WordWriter::put_data_syllables(char* out, size_t num_syllables, DigitOf digit_of,
                                            uint32_t mask) const {
  const Pen pen{letters_.data(), case_flip_, separator_, separator_len_};
  const auto put = [&](size_t j) {
    store_letters(pen.separator, out);
    out += ((mask >> j) & 1u) * pen.separator_len;
    out = pen.syllable(out, digit_of(j));
  };
  if (num_syllables == kMaxDataSyllables) {
    // The words of 128 bits: a loop of known length, unrolled whole.
#pragma GCC unroll 14
    for (size_t j = 0; j < kMaxDataSyllables; ++j) { put(j); }
  } else {
    for (size_t j = 0; j < num_syllables; ++j) { put(j); }
  }
  return out;
}

// The separator and the check syllables after the data syllables.
template <typename DigitOf>
inline char* WordWriter::put_check_syllables(char* out, size_t num_syllables,
                                             DigitOf digit_of) const {
  const Pen pen{letters_.data(), case_flip_, separator_, separator_len_};
  store_letters(pen.separator, out);
  out += pen.separator_len;
  for (size_t k = 0; k < num_syllables; ++k) { out = pen.syllable(out, digit_of(k)); }
  return out;
}

// The time prefix of mode open and its separator, when the value block carries a time.
char* WordWriter::put_prefix(char* out, const uint8_t block[16]) const {
  if (config_.mode != Mode::kOpen) { return out; }
  const std::optional<int64_t> timestamp = detect_timestamp(block);
  if (!timestamp) { return out; }
  const std::array<char, kPrefixLen> prefix =
      prefix_text(*timestamp, config_.epoch_ms, config_.granularity);
  std::memcpy(out, prefix.data(), prefix.size());
  out += prefix.size();
  store_letters(separator_, out);
  return out + separator_len_;
}

uint32_t WordWriter::separator_mask(std::span<const uint16_t> data_digits) const {
  if (separator_len_ == 0) { return 0; }
  return config_.chunk_engine->digits_separator_mask(data_digits, config_.chunk_layout);
}

void WordWriter::separator_masks(std::span<const std::array<uint16_t, kMaxDataSyllables>> words,
                                 size_t n, uint32_t* masks) const {
  if (separator_len_ == 0) {
    std::fill_n(masks, words.size(), 0u);
    return;
  }
  config_.chunk_engine->digits_separator_masks(words, n, config_.chunk_layout, masks);
}

void WordWriter::write(const uint8_t block[16], std::span<const uint16_t> data_digits,
                       uint32_t mask, std::span<const uint16_t> check_digits,
                       EncodedText& text) const {
  // Only mode open has a prefix: other modes write no call for it.
  char* out = config_.mode == Mode::kOpen ? put_prefix(text.data, block) : text.data;
  out = put_data_syllables(
      out, data_digits.size(), [&](size_t j) { return data_digits[j]; }, mask);
  out = put_check_syllables(out, check_digits.size(), [&](size_t k) { return check_digits[k]; });
  text.len = static_cast<size_t>(out - text.data);
}

void WordWriter::write_many(std::span<const std::array<uint8_t, 16>> blocks,
                            std::span<const std::array<uint16_t, kMaxDataSyllables>> data_digits,
                            size_t n, const uint32_t* masks,
                            const std::array<uint16_t, kMaxCheckSyllables>* check_digits,
                            size_t num_check, const uint32_t* index, EncodedText* texts) const {
#if defined(__x86_64__)
  // In vector registers where the processor can: words without a time prefix, with a separator
  // of at most one byte.
  static const bool with_vbmi2 = fpe::cpu_features().avx512vbmi2;
  if (with_vbmi2 && config_.mode != Mode::kOpen && separator_len_ <= 1 && n != 0 &&
      n + num_check <= 16) {
    word_texts_vbmi2(
        syllable_letter_table(static_cast<size_t>(config_.level), config_.letter_case),
        data_digits, n, masks, check_digits, num_check, static_cast<uint8_t>(separator_), index,
        texts);
    return;
  }
#endif
  for (size_t j = 0; j < data_digits.size(); ++j) {
    write(blocks[j].data(), {data_digits[j].data(), n}, masks[j],
          {check_digits[j].data(), num_check}, texts[index[j]]);
  }
}

Result<Selected> select_value(const CodecConfig& config, std::span<const uint8_t> data) {
  // Byte selection: the head of the input, or its tail with a modulus, right-aligned in a
  // 16-byte big-endian block.
  const uint32_t bit_width = config.bit_width;
  const size_t num_bytes = (bit_width + 7) / 8;
  const size_t num_taken = std::min(data.size(), num_bytes);
  const bool has_modulus = config.domain.kind == fpe::CipherDomain::Kind::kModulus;
  Selected selected;
  if (bit_width == 128 && data.size() >= 16 && !has_modulus) {
    // The common case, an identifier of 16 bytes or more at 128 bits: its head as it stands,
    // copied and read at a fixed size rather than through a copy of variable length.
    std::memcpy(selected.block, data.data(), 16);
    selected.value = U128::from_be_bytes(data.data());
  } else {
    if (num_taken != 0) {
      if (has_modulus) {
        std::memcpy(selected.block + 16 - num_taken, data.data() + data.size() - num_taken,
                    num_taken);
      } else {
        std::memcpy(selected.block + 16 - num_bytes, data.data(), num_taken);
      }
    }
    selected.value = U128::from_be_bytes(selected.block) & U128::low_mask(bit_width);
  }
  if (has_modulus && selected.value >= config.domain.modulus) { return kNotBelowModulus; }
  if (config.mode != Mode::kPlain && !config.check_key) {
    return Error{ErrorCode::kInternal, "keyed mode without a key"};
  }
  return selected;
}

Result<EncodedText> encode(const CodecConfig& config, std::span<const uint8_t> data) {
  const Result<Selected> selected = select_value(config, data);
  if (!selected.ok()) { return selected.error(); }
  const WordWriter writer(config);
  const size_t num_data = data_syllable_count(config);
  const size_t num_check = std::min<uint64_t>(config.check_syllables, kMaxCheckSyllables);
  EncodedText text;
  char* out = writer.put_prefix(text.data, selected.value().block);
  const U128 enciphered = config.cipher->encrypt(selected.value().value, config.tweak);
  if (enciphered > config.domain.max_value()) { return kNotEnciphered; }
  uint16_t digits[kMaxDataSyllables];
  value_to_digits(enciphered, num_data, digits);
  const std::span<const uint16_t> data_digits(digits, num_data);
  const auto digit_of = [&](size_t j) { return digits[j]; };
  uint8_t block[fpe::kSha256BlockLen];
  if (config.mode != Mode::kPlain && num_check != 0 && config.check_key &&
      layout_digits_check_block(data_digits, block)) {
    // The check digest needs only the data syllables: the rest of the word is written while
    // its two compressions run.
    KeyedCheckDigest digest(*config.check_key);
    digest.start(block);
    const uint32_t mask = writer.separator_mask(data_digits);
    digest.outer();
    out = writer.put_data_syllables(out, num_data, digit_of, mask);
    out = writer.put_check_syllables(out, num_check,
                                     [&](size_t k) { return digest.syllable_digit(k); });
    text.len = static_cast<size_t>(out - text.data);
    return text;
  }
  uint8_t data_units[kMaxDataUnits];
  digits_to_units(data_digits, data_units);
  uint8_t check_units[kMaxCheckUnits];
  const size_t num_check_units = compute_check_units(
      config.mode, config.check_key.get(), {data_units, 2 * num_data}, num_check, check_units);
  out = writer.put_data_syllables(out, num_data, digit_of, writer.separator_mask(data_digits));
  out = writer.put_check_syllables(out, num_check_units / 2, [&](size_t k) {
    return syllable_digit(check_units[2 * k], check_units[2 * k + 1]);
  });
  text.len = static_cast<size_t>(out - text.data);
  return text;
}

}  // namespace tavik::core
