#include "core/lib.h"

#include <openssl/crypto.h>

#include <utility>

#include "core/check.h"
#include "core/normalize.h"
#include "core/render.h"

namespace tavik::core {

namespace {

constexpr std::array<std::string_view, kNumLevels> kLevelNames = {"universal", "eu", "en",
                                                                  "numeric", "ko"};
constexpr std::array<std::string_view, 3> kModeNames = {"sealed", "open", "plain"};
constexpr std::array<std::string_view, 2> kCaseNames = {"upper", "lower"};
constexpr std::array<std::string_view, 6> kGranularityNames = {"second", "minute", "hour",
                                                               "day",    "week",   "month"};

template <typename Enum, size_t N>
std::optional<Enum> parse_name(const std::array<std::string_view, N>& names,
                               std::string_view name) {
  for (size_t i = 0; i < N; ++i) {
    if (names[i] == name) { return static_cast<Enum>(i); }
  }
  return std::nullopt;
}

std::shared_ptr<const ChunkEngine> shared_chunk_engine() {
  static const std::shared_ptr<const ChunkEngine> engine = std::make_shared<const ChunkEngine>();
  return engine;
}

std::span<const uint8_t> default_key_material(const CodecConfig& config) {
  if (config.mode == Mode::kPlain || !config.key) { return fpe::FIXED_PLAIN_KEY; }
  return config.key->bytes();
}

// unkeyed_record fills every constructor value for Bits(128) except the cipher.
CodecConfig unkeyed_record(std::optional<std::span<const uint8_t>> key, Level level, Mode mode) {
  CodecConfig config;
  config.level = level;
  config.mode = mode;
  if (key) { config.key.emplace(*key); }
  if (mode != Mode::kPlain && config.key) {
    config.check_key =
        std::make_shared<const fpe::HmacKey>(fpe::HmacKey::derive(config.key->bytes()));
  }
  config.domain = fpe::CipherDomain::bits(128);
  config.bit_width = 128;
  config.tweak = {static_cast<uint8_t>(level), static_cast<uint8_t>(mode), 128, 0};
  config.chunk_layout = ChunkLayout::balanced('-');
  config.chunk_engine = shared_chunk_engine();
  return config;
}

}  // namespace

std::optional<Level> parse_level(std::string_view name) {
  return parse_name<Level>(kLevelNames, name);
}
std::optional<Mode> parse_mode(std::string_view name) { return parse_name<Mode>(kModeNames, name); }
std::optional<LetterCase> parse_case(std::string_view name) {
  return parse_name<LetterCase>(kCaseNames, name);
}
std::optional<Granularity> parse_granularity(std::string_view name) {
  return parse_name<Granularity>(kGranularityNames, name);
}
std::string_view level_name(Level level) { return kLevelNames[static_cast<size_t>(level)]; }
std::string_view mode_name(Mode mode) { return kModeNames[static_cast<size_t>(mode)]; }
std::string_view case_name(LetterCase letter_case) {
  return kCaseNames[static_cast<size_t>(letter_case)];
}
std::string_view granularity_name(Granularity granularity) {
  return kGranularityNames[static_cast<size_t>(granularity)];
}

uint32_t clamp_bit_width(uint32_t bits) { return bits < 16 ? 16 : (bits > 128 ? 128 : bits); }

CodecConfig new_config(std::optional<std::span<const uint8_t>> key, Level level, Mode mode) {
  CodecConfig config = unkeyed_record(key, level, mode);
  rekey_cipher(config);
  return config;
}

void rekey_cipher(CodecConfig& config) {
  config.tweak[2] = static_cast<uint8_t>(config.domain.bit_count());
  if (config.explicit_cipher) {
    std::optional<std::span<const uint8_t>> key;
    if (config.explicit_key) { key = config.explicit_key->bytes(); }
    config.cipher = fpe::build_cipher(config.explicit_kind, key, config.domain);
    return;
  }
  config.cipher = std::make_shared<const fpe::Feistel8>(
      fpe::derive_cipher_key(default_key_material(config), config.domain));
}

Result<CodecConfig> construct_config(std::optional<std::span<const uint8_t>> key,
                                     std::string_view level, std::string_view mode,
                                     uint32_t bit_width) {
  const std::optional<Level> parsed_level = parse_level(level);
  if (!parsed_level) { return value_error("level must be one of: universal, eu, en, numeric"); }
  const std::optional<Mode> parsed_mode = parse_mode(mode);
  if (!parsed_mode) { return value_error("mode must be one of: sealed, open, plain"); }
  if (*parsed_mode != Mode::kPlain) {
    if (!key) { return value_error("key is required for sealed and open modes"); }
    if (key->empty()) { return value_error("key must not be empty for sealed/open modes"); }
  }
  // The record is keyed once, for the final domain.
  CodecConfig config = unkeyed_record(key, *parsed_level, *parsed_mode);
  config.bit_width = clamp_bit_width(bit_width);
  config.domain = fpe::CipherDomain::bits(config.bit_width);
  rekey_cipher(config);
  return config;
}

U128 domain_max_value(const CodecConfig& config) { return config.domain.max_value(); }

std::string_view decode_error_text(DecodeError error) {
  switch (error) {
    case DecodeError::kNormalizationFailed: return "input normalization failed";
    case DecodeError::kKeyRequired: return "key required for this mode";
    case DecodeError::kRecoveryNotSupported: return "recovery not supported in plain mode";
    case DecodeError::kCheckFailed:
      return "check verification failed \xE2\x80\x94 input may be corrupted";
  }
  return "input normalization failed";
}

size_t data_syllable_count(const CodecConfig& config) {
  return syllable_count(config.bit_width);
}

bool units_in_domain(const CodecConfig& config, std::span<const uint8_t> data_units) {
  U128 value;
  if (!units_to_value_checked(data_units, &value) || value > domain_max_value(config)) {
    return false;
  }
  return config.domain.kind != fpe::CipherDomain::Kind::kModulus ||
         config.cipher->decrypt(value, config.tweak) <= domain_max_value(config);
}

namespace {

// The deciphered value cut to the width, as 16 bytes, most significant first.
Bytes16 cut_to_width(const CodecConfig& config, U128 plain) {
  plain = plain & U128::low_mask(config.bit_width);
  Bytes16 bytes;
  plain.to_be_bytes(bytes.data());
  return bytes;
}

// CheckFilter lets a cycle walk go on only for a word whose keyed check passes.
class CheckFilter final : public fpe::MacFilter {
 public:
  explicit CheckFilter(std::span<const uint8_t> received) : received_(received) {}
  bool operator()(const uint32_t mac[8]) const override {
    return keyed_check_matches(mac, received_);
  }

 private:
  std::span<const uint8_t> received_;
};

// decoded_value ends a decode: a deciphered value outside the domain comes from no word of
// encode (see units_in_domain) and fails like a wrong check syllable.
DecodeResult decoded_value(const CodecConfig& config, U128 plain) {
  DecodeResult result;
  if (plain > domain_max_value(config)) {
    result.error = DecodeError::kCheckFailed;
  } else {
    result.bytes = cut_to_width(config, plain);
  }
  return result;
}

}  // namespace

Bytes16 finish_value(const CodecConfig& config, U128 value) {
  return cut_to_width(config, config.cipher->decrypt(value, config.tweak));
}

DecodeResult decode_text(const CodecConfig& config, CodeUnits text) {
  DecodeResult result;
  const size_t num_data = data_syllable_count(config);
  NormalizedInput input;
  if (!normalize(static_cast<uint8_t>(config.level), text, 2 * num_data,
                 2 * config.check_syllables, &input)) {
    result.error = DecodeError::kNormalizationFailed;
    return result;
  }
  if (config.mode != Mode::kPlain && !config.check_key) {
    result.error = DecodeError::kKeyRequired;
    return result;
  }
  // A value outside the domain fails like a wrong check syllable, so the order of the two
  // tests does not show.
  U128 value;
  if (!units_to_value_checked(input.data(), &value) || value > domain_max_value(config)) {
    result.error = DecodeError::kCheckFailed;
    return result;
  }
  if (config.mode != Mode::kPlain) {
    // The keyed check digest and the cipher are independent: the digest runs alongside the
    // cipher's first round, and the result is kept only if the check passes. A word whose
    // check fails ends its cycle walk after the first pass, so a forged word costs no more
    // than a real one in any domain.
    const KeyedCheckBlock block(input.data());
    if (block.fits()) {
      uint32_t mac[8];
      const CheckFilter walk_on(input.check());
      const U128 plain = config.cipher->decrypt_with_mac(value, config.tweak, *config.check_key,
                                                         block.bytes(), mac, walk_on);
      const bool ok = keyed_check_matches(mac, input.check());
      OPENSSL_cleanse(mac, sizeof(mac));
      if (!ok) {
        result.error = DecodeError::kCheckFailed;
        return result;
      }
      return decoded_value(config, plain);
    }
  }
  if (!verify_check(config.mode, config.check_key.get(), input.data(), input.check())) {
    result.error = DecodeError::kCheckFailed;
    return result;
  }
  return decoded_value(config, config.cipher->decrypt(value, config.tweak));
}

}  // namespace tavik::core
