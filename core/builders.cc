#include "core/builders.h"

#include <algorithm>
#include <utility>

namespace tavik::core {

namespace {

struct CodePointRange {
  uint32_t first;
  uint32_t last;
};

constexpr CodePointRange kAlphabeticRanges[] = {
#include "core/unicode_alphabetic.inc"
};

// first_code_point decodes the first code point of UTF-8 text (the binding hands over valid
// UTF-8; a malformed lead byte is taken as its own value).
uint32_t first_code_point(std::string_view text) {
  const auto byte = [&](size_t i) { return static_cast<uint32_t>(static_cast<uint8_t>(text[i])); };
  const uint32_t lead = byte(0);
  size_t len = 1;
  uint32_t cp = lead;
  if (lead >= 0xF0) {
    len = 4;
    cp = lead & 0x07;
  } else if (lead >= 0xE0) {
    len = 3;
    cp = lead & 0x0F;
  } else if (lead >= 0xC0) {
    len = 2;
    cp = lead & 0x1F;
  }
  if (len > text.size()) { return lead; }
  for (size_t i = 1; i < len; ++i) { cp = (cp << 6) | (byte(i) & 0x3F); }
  return cp;
}

}  // namespace

bool is_alphabetic(uint32_t code_point) {
  if (code_point < 0x80) {
    return (code_point >= 'A' && code_point <= 'Z') || (code_point >= 'a' && code_point <= 'z');
  }
  if (code_point < 0xAA) { return false; }
  const auto* end = std::end(kAlphabeticRanges);
  const auto* it = std::upper_bound(
      std::begin(kAlphabeticRanges), end, code_point,
      [](uint32_t cp, const CodePointRange& range) { return cp < range.first; });
  return it != std::begin(kAlphabeticRanges) && code_point <= (it - 1)->last;
}

CodecConfig with_bit_width(const CodecConfig& config, uint32_t bits) {
  CodecConfig next = config;
  next.bit_width = clamp_bit_width(bits);
  next.domain = fpe::CipherDomain::bits(next.bit_width);
  rekey_cipher(next);
  return next;
}

Result<CodecConfig> with_modulus(const CodecConfig& config, U128 modulus) {
  if (modulus < U128::from_u64(2)) { return value_error("modulus must be at least 2"); }
  CodecConfig next = config;
  next.domain = fpe::CipherDomain::mod(modulus);
  next.bit_width = modulus.bit_length();
  rekey_cipher(next);
  return next;
}

Result<CodecConfig> with_cipher(const CodecConfig& config, std::string_view kind,
                                std::optional<std::span<const uint8_t>> key) {
  Result<fpe::CipherHandle> cipher = fpe::make_cipher(kind, key, config.domain);
  if (!cipher.ok()) { return cipher.error(); }
  CodecConfig next = config;
  next.cipher = std::move(cipher).value();
  next.explicit_cipher = true;
  next.explicit_key.reset();
  if (key && next.cipher->kind() == fpe::CipherKind::kFeistel8) {
    next.explicit_key = std::make_shared<const SecretBytes>(*key);
  }
  return next;
}

Result<CodecConfig> with_case(const CodecConfig& config, std::string_view letter_case) {
  const std::optional<LetterCase> parsed = parse_case(letter_case);
  if (!parsed) { return value_error("case must be 'upper' or 'lower'"); }
  CodecConfig next = config;
  next.letter_case = *parsed;
  return next;
}

CodecConfig with_check_syllables(const CodecConfig& config, uint64_t n) {
  CodecConfig next = config;
  next.check_syllables = std::clamp<uint64_t>(n, 1, kMaxCheckSyllables);
  return next;
}

Result<CodecConfig> with_separator(const CodecConfig& config, std::string_view sep) {
  if (sep.empty()) { return value_error("separator must not be empty"); }
  const uint32_t separator = first_code_point(sep);
  if (is_alphabetic(separator)) {
    return value_error("invalid separator: must be non-alphabetic");
  }
  CodecConfig next = config;
  next.chunk_layout = ChunkLayout::balanced(separator);
  return next;
}

CodecConfig with_chunk_none(const CodecConfig& config) {
  CodecConfig next = config;
  next.chunk_layout = ChunkLayout::unchunked();
  return next;
}

CodecConfig with_chunk_fixed(const CodecConfig& config, uint64_t char_size) {
  CodecConfig next = config;
  next.chunk_layout = ChunkLayout::fixed(char_size);
  return next;
}

CodecConfig with_chunk_pattern(const CodecConfig& config, std::vector<uint64_t> pattern) {
  CodecConfig next = config;
  next.chunk_layout = ChunkLayout::with_pattern(std::move(pattern));
  return next;
}

Result<CodecConfig> with_timestamp_config(const CodecConfig& config, int64_t epoch_ms,
                                          std::string_view granularity) {
  const std::optional<Granularity> parsed = parse_granularity(granularity);
  if (!parsed) {
    return value_error(
        "granularity must be one of: second, minute, hour, day, week, month");
  }
  CodecConfig next = config;
  next.epoch_ms = epoch_ms;
  next.granularity = *parsed;
  return next;
}

}  // namespace tavik::core
