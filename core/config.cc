#include "core/config.h"

#include <utility>

#include "core/render.h"
#include "fpe/feistel.h"

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

CipherKeySource cipher_key_source(const CodecConfig& config) {
  if (config.explicit_cipher) {
    // with_cipher keeps a key only for Feistel8: Shuffle ignores the key it is given.
    return config.explicit_key ? CipherKeySource::kWithCipherKey : CipherKeySource::kPublicKey;
  }
  return config.mode == Mode::kPlain ? CipherKeySource::kPublicKey : CipherKeySource::kConfigKey;
}

uint32_t clamp_bit_width(uint32_t bits) { return bits < 16 ? 16 : (bits > 128 ? 128 : bits); }

void rekey_cipher(CodecConfig& config) {
  config.tweak[2] = static_cast<uint8_t>(config.domain.bit_count());
  if (config.explicit_cipher) {
    std::optional<std::span<const uint8_t>> key;
    if (config.explicit_key) { key = config.explicit_key->bytes(); }
    config.cipher = fpe::rebuild_cipher(*config.cipher, key, config.domain);
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
    if (!key) { return kKeyMissing; }
    if (key->empty()) { return kKeyEmpty; }
  }
  CodecConfig config;
  config.level = *parsed_level;
  config.mode = *parsed_mode;
  if (key) { config.key = std::make_shared<const SecretBytes>(*key); }
  if (config.mode != Mode::kPlain) {
    config.check_key =
        std::make_shared<const fpe::HmacKey>(fpe::HmacKey::derive(config.key->bytes()));
  }
  config.bit_width = clamp_bit_width(bit_width);
  config.domain = fpe::CipherDomain::bits(config.bit_width);
  config.tweak = {static_cast<uint8_t>(config.level), static_cast<uint8_t>(config.mode), 0, 0};
  config.chunk_layout = ChunkLayout::balanced('-');
  config.chunk_engine = shared_chunk_engine();
  rekey_cipher(config);  // keyed once, for the final domain
  return config;
}

size_t data_syllable_count(const CodecConfig& config) { return syllable_count(config.bit_width); }

}  // namespace tavik::core
