#include "core/encode.h"

#include <algorithm>
#include <cstring>

#include "core/check.h"
#include "core/render.h"

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

namespace {

// Writes syllables at a level and case, with the separator before every syllable j whose bit
// is set in separator_mask. Two bytes are stored for every unit and the end advances by the
// unit's length, so `out` needs one byte of room past the text (EncodedText has it).
char* append_syllables(char* out, const uint8_t* units, size_t num_syllables,
                       const std::array<UnitText, 256>& texts, uint16_t case_flip,
                       uint32_t separator_mask, std::string_view separator) {
  const auto put = [&](uint8_t unit) {
    const UnitText t = texts[unit];
    const uint16_t letters = static_cast<uint16_t>(t.letters ^ case_flip);
    out[0] = static_cast<char>(letters & 0xFF);
    out[1] = static_cast<char>(letters >> 8);
    out += t.len;
  };
  for (size_t j = 0; j < num_syllables; ++j) {
    if (((separator_mask >> j) & 1u) != 0) {
      std::memcpy(out, separator.data(), separator.size());
      out += separator.size();
    }
    put(units[2 * j]);
    put(units[2 * j + 1]);
  }
  return out;
}

}  // namespace

Result<Selected> select_value(const CodecConfig& config, std::span<const uint8_t> data) {
  // Byte selection: the head of the input, or its tail with a modulus, right-aligned in a
  // 16-byte big-endian block.
  const uint32_t bit_width = config.bit_width;
  const size_t num_bytes = (bit_width + 7) / 8;
  const size_t num_taken = std::min(data.size(), num_bytes);
  const bool has_modulus = config.domain.kind == fpe::CipherDomain::Kind::kModulus;
  Selected selected;
  if (num_taken != 0) {
    if (has_modulus) {
      std::memcpy(selected.block + 16 - num_taken, data.data() + data.size() - num_taken,
                  num_taken);
    } else {
      std::memcpy(selected.block + 16 - num_bytes, data.data(), num_taken);
    }
  }
  selected.value = U128::from_be_bytes(selected.block) & U128::low_mask(bit_width);
  if (has_modulus && selected.value >= config.domain.modulus) { return kNotBelowModulus; }
  if (config.mode != Mode::kPlain && !config.check_key) {
    return Error{ErrorCode::kInternal, "keyed mode without a key"};
  }
  return selected;
}

Result<EncodedText> encode(const CodecConfig& config, std::span<const uint8_t> data) {
  const Result<Selected> selected = select_value(config, data);
  if (!selected.ok()) { return selected.error(); }
  const U128 enciphered = config.cipher->encrypt(selected.value().value, config.tweak);
  if (enciphered > config.domain.max_value()) { return kNotEnciphered; }
  uint8_t data_units[kMaxDataUnits];
  const std::span<const uint8_t> units = word_units(config, enciphered, data_units);
  uint8_t check_units[kMaxCheckUnits];
  const size_t num_check_units =
      compute_check_units(config.mode, config.check_key.get(), units,
                          std::min<uint64_t>(config.check_syllables, kMaxCheckSyllables),
                          check_units);
  return write_word(config, selected.value().block, units, {check_units, num_check_units});
}

std::span<const uint8_t> word_units(const CodecConfig& config, U128 enciphered,
                                    uint8_t units[kMaxDataUnits]) {
  const size_t num_data = data_syllable_count(config);
  value_to_units(enciphered, num_data, units);
  return {units, 2 * num_data};
}

EncodedText write_word(const CodecConfig& config, const uint8_t block[16],
                       std::span<const uint8_t> data_units, std::span<const uint8_t> check_units) {
  const size_t num_data = data_units.size() / 2;
  const Boundaries boundaries = config.chunk_engine->boundaries(data_units, config.chunk_layout);
  char separator_buffer[kMaxSeparatorLen];
  const std::string_view separator(separator_buffer,
                                   encode_separator(config.chunk_layout.separator,
                                                    separator_buffer));
  const uint32_t mask = separator.empty() ? 0 : boundaries.separator_mask(num_data);

  EncodedText text;
  char* out = text.data;
  if (config.mode == Mode::kOpen) {
    if (const std::optional<int64_t> timestamp = detect_timestamp(block)) {
      const std::array<char, kPrefixLen> prefix =
          prefix_text(*timestamp, config.epoch_ms, config.granularity);
      std::memcpy(out, prefix.data(), prefix.size());
      out += prefix.size();
      std::memcpy(out, separator.data(), separator.size());
      out += separator.size();
    }
  }
  const auto& texts = kUnitTexts[static_cast<size_t>(config.level)];
  const uint16_t case_flip = config.letter_case == LetterCase::kUpper ? kUpperCaseFlip : 0;
  out = append_syllables(out, data_units.data(), num_data, texts, case_flip, mask, separator);
  std::memcpy(out, separator.data(), separator.size());
  out += separator.size();
  out = append_syllables(out, check_units.data(), check_units.size() / 2, texts, case_flip, 0,
                         separator);
  text.len = static_cast<size_t>(out - text.data);
  return text;
}

}  // namespace tavik::core
