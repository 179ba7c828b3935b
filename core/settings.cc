#include "core/settings.h"

#include <array>
#include <cstddef>
#include <utility>
#include <vector>

#include "core/builders.h"

namespace tavik::core {

namespace {

constexpr std::string_view kVersionToken = "tavik/1";

enum Field : size_t {
  kLevel,
  kMode,
  kBits,
  kModulus,
  kCipher,
  kCheck,
  kCase,
  kChunk,
  kSep,
  kEpochMs,
  kGranularity,
  kNumFields
};

// The messages of one field, each a fixed text that names it.
struct FieldText {
  std::string_view name;
  std::string_view missing;
  std::string_view repeated;
  std::string_view invalid;
  std::string_view only_open;
};

#define TAVIK_FIELD(name, allowed)                                                   \
  FieldText {                                                                        \
    name, "settings text lacks the field '" name "'",                                \
        "settings text repeats the field '" name "'",                                \
        "settings field '" name "' must be " allowed,                                \
        "settings field '" name "' applies only to mode open"                        \
  }

constexpr std::array<FieldText, kNumFields> kFields = {
    TAVIK_FIELD("level", "one of: universal, eu, en, numeric, ko"),
    TAVIK_FIELD("mode", "one of: sealed, open, plain"),
    TAVIK_FIELD("bits", "a number in 16..128"),
    TAVIK_FIELD("modulus", "a number in 2..2^128-1"),
    TAVIK_FIELD("cipher",
                "one of: feistel8:key, feistel8:cipher_key, feistel8:public, shuffle4:public"),
    TAVIK_FIELD("check", "a number in 1..8"),
    TAVIK_FIELD("case", "one of: upper, lower"),
    TAVIK_FIELD("chunk", "balanced, none, fixed:N or pattern:N,N,... with N below 2^64"),
    TAVIK_FIELD("sep", "none or U+ and 4 to 6 upper-case hex digits of a non-alphabetic code point"),
    TAVIK_FIELD("epoch_ms", "a number in -2^63..2^63-1"),
    TAVIK_FIELD("granularity", "one of: second, minute, hour, day, week, month"),
};

#undef TAVIK_FIELD

constexpr std::string_view kMissingWidth = "settings text lacks the field 'bits' (or 'modulus')";
constexpr std::string_view kBothWidths = "settings text has both 'bits' and 'modulus': give one";
constexpr std::string_view kNotAscii = "settings text must be one line of printable ASCII";
constexpr std::string_view kNoVersion = "settings text must start with tavik/1";
constexpr std::string_view kOtherVersion =
    "settings text is of another version: this tavik reads tavik/1";
constexpr std::string_view kNoEquals = "settings field must be written name=value";
constexpr std::string_view kCipherInPlain =
    "settings field 'cipher' must not be feistel8:key in mode plain, which has no key for the "
    "cipher";
constexpr std::string_view kSepWithNone = "settings field 'sep' must be none with chunk=none";
constexpr std::string_view kSepWithFixed =
    "settings field 'sep' must be U+002D with chunk=fixed and chunk=pattern";
constexpr std::string_view kCipherKeyRequired =
    "cipher_key is required for cipher=feistel8:cipher_key";
constexpr std::string_view kCipherKeyUnused = "cipher_key is only for cipher=feistel8:cipher_key";

struct CipherName {
  std::string_view text;
  fpe::CipherKind kind;
  CipherKeySource source;
};
constexpr std::array<CipherName, 4> kCipherNames = {{
    {"feistel8:key", fpe::CipherKind::kFeistel8, CipherKeySource::kConfigKey},
    {"feistel8:cipher_key", fpe::CipherKind::kFeistel8, CipherKeySource::kWithCipherKey},
    {"feistel8:public", fpe::CipherKind::kFeistel8, CipherKeySource::kPublicKey},
    {"shuffle4:public", fpe::CipherKind::kShuffle, CipherKeySource::kPublicKey},
}};

Error invalid(Field field) { return value_error(kFields[field].invalid); }

// parse_decimal reads digits without sign or leading zeros, up to `max`.
std::optional<U128> parse_decimal(std::string_view text, U128 max) {
  if (text.empty() || text.size() > 39 || (text[0] == '0' && text.size() > 1)) {
    return std::nullopt;
  }
  NativeU128 value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') { return std::nullopt; }
    const NativeU128 digit = static_cast<NativeU128>(c - '0');
    if (digit > max.native() || value > (max.native() - digit) / 10) { return std::nullopt; }
    value = value * 10 + digit;
  }
  return U128::from_native(value);
}

std::optional<uint64_t> parse_u64(std::string_view text) {
  const std::optional<U128> value = parse_decimal(text, U128::from_u64(~uint64_t{0}));
  if (!value) { return std::nullopt; }
  return value->lo();
}

std::optional<int64_t> parse_i64(std::string_view text) {
  constexpr uint64_t kMagnitudeOfMin = uint64_t{1} << 63;
  if (!text.empty() && text[0] == '-') {
    const std::optional<U128> magnitude =
        parse_decimal(text.substr(1), U128::from_u64(kMagnitudeOfMin));
    if (!magnitude || magnitude->lo() == 0) { return std::nullopt; }  // "-0" is written "0"
    return static_cast<int64_t>(~magnitude->lo() + 1);
  }
  const std::optional<U128> value = parse_decimal(text, U128::from_u64(kMagnitudeOfMin - 1));
  if (!value) { return std::nullopt; }
  return static_cast<int64_t>(value->lo());
}

template <typename Enum>
std::optional<Enum> parse_enum(std::optional<Enum> (*parse)(std::string_view), Field field,
                               std::string_view text, Error* error) {
  std::optional<Enum> value = parse(text);
  if (!value) { *error = invalid(field); }
  return value;
}

std::optional<ChunkLayout> parse_chunk(std::string_view text) {
  if (text == "balanced") { return ChunkLayout::balanced('-'); }
  if (text == "none") { return ChunkLayout::unchunked(); }
  constexpr std::string_view kFixed = "fixed:";
  constexpr std::string_view kPattern = "pattern:";
  if (text.starts_with(kFixed)) {
    const std::optional<uint64_t> size = parse_u64(text.substr(kFixed.size()));
    if (!size) { return std::nullopt; }
    return ChunkLayout::fixed(*size);
  }
  if (!text.starts_with(kPattern)) { return std::nullopt; }
  text.remove_prefix(kPattern.size());
  PatternSizes sizes;  // kept as with_chunk_pattern keeps them
  while (!text.empty()) {
    const size_t comma = text.find(',');
    const std::optional<uint64_t> size = parse_u64(text.substr(0, comma));
    if (!size) { return std::nullopt; }
    sizes.add(*size);
    if (comma == std::string_view::npos) { break; }
    text.remove_prefix(comma + 1);
    if (text.empty()) { return std::nullopt; }  // a trailing comma
  }
  return ChunkLayout::with_pattern(sizes.take());
}

// parse_separator reads "none" (0) or U+XXXX in its one spelling.
std::optional<uint32_t> parse_separator(std::string_view text) {
  if (text == "none") { return 0; }
  if (!text.starts_with("U+")) { return std::nullopt; }
  const std::string_view digits = text.substr(2);
  if (digits.size() < 4 || digits.size() > 6 || (digits.size() > 4 && digits[0] == '0')) {
    return std::nullopt;
  }
  uint32_t code_point = 0;
  for (const char c : digits) {
    uint32_t digit = 0;
    if (c >= '0' && c <= '9') {
      digit = static_cast<uint32_t>(c - '0');
    } else if (c >= 'A' && c <= 'F') {
      digit = static_cast<uint32_t>(c - 'A' + 10);
    } else {
      return std::nullopt;
    }
    code_point = code_point * 16 + digit;
  }
  if (code_point == 0 || code_point > 0x10FFFF || (code_point >= 0xD800 && code_point <= 0xDFFF) ||
      is_alphabetic(code_point)) {
    return std::nullopt;
  }
  return code_point;
}

std::string separator_text(uint32_t code_point) {
  if (code_point == 0) { return "none"; }
  constexpr std::string_view kHex = "0123456789ABCDEF";
  std::string digits;
  for (uint32_t rest = code_point; rest != 0 || digits.size() < 4; rest >>= 4) {
    digits.insert(digits.begin(), kHex[rest & 0xF]);
  }
  return "U+" + digits;
}

std::string chunk_text(const ChunkLayout& layout) {
  switch (layout.kind) {
    case ChunkKind::kBalanced: return "balanced";
    case ChunkKind::kUnchunked: return "none";
    case ChunkKind::kFixed:
      return "fixed:" + std::to_string(layout.fixed_size.value_or(kDefaultFixedSize));
    case ChunkKind::kPattern: {
      std::string text = "pattern:";
      for (size_t i = 0; i < layout.pattern.size(); ++i) {
        if (i != 0) { text += ','; }
        text += std::to_string(layout.pattern[i]);
      }
      return text;
    }
  }
  return "balanced";
}

std::string_view cipher_text(const CodecConfig& config) {
  const fpe::CipherKind kind = config.cipher->kind();
  const CipherKeySource source = cipher_key_source(config);
  for (const CipherName& name : kCipherNames) {
    if (name.kind == kind && name.source == source) { return name.text; }
  }
  return kCipherNames[0].text;  // a Shuffle runs under the public key: never reached
}

// split_fields returns the words of a text between its spaces.
std::vector<std::string_view> split_fields(std::string_view text) {
  std::vector<std::string_view> tokens;
  for (size_t i = 0; i < text.size();) {
    const size_t end = std::min(text.find(' ', i), text.size());
    if (end > i) { tokens.push_back(text.substr(i, end - i)); }
    i = end + 1;
  }
  return tokens;
}

// field_index returns the Field of a name, or kNumFields for an unknown one.
size_t field_index(std::string_view name) {
  size_t field = 0;
  while (field < kNumFields && kFields[field].name != name) { ++field; }
  return field;
}

// read_values converts the values of the fields present, in canonical order, so the first
// fault named is the same whatever order the text gives.
Result<Settings> read_values(const std::array<std::optional<std::string_view>, kNumFields>& v) {
  Settings s;
  Error error = invalid(kLevel);
  const std::optional<Level> level = parse_enum(&parse_level, kLevel, *v[kLevel], &error);
  if (!level) { return error; }
  const std::optional<Mode> mode = parse_enum(&parse_mode, kMode, *v[kMode], &error);
  if (!mode) { return error; }
  s.level = *level;
  s.mode = *mode;
  if (v[kBits]) {
    const std::optional<U128> bits = parse_decimal(*v[kBits], U128::from_u64(128));
    if (!bits || bits->lo() < 16) { return invalid(kBits); }
    s.bits = static_cast<uint32_t>(bits->lo());
  } else {
    s.modulus = parse_decimal(*v[kModulus], U128::max());
    if (!s.modulus || *s.modulus < U128::from_u64(2)) { return invalid(kModulus); }
  }
  const CipherName* cipher = nullptr;
  for (const CipherName& name : kCipherNames) {
    if (name.text == *v[kCipher]) { cipher = &name; }
  }
  if (cipher == nullptr) { return invalid(kCipher); }
  if (s.mode == Mode::kPlain && cipher->source == CipherKeySource::kConfigKey) {
    return value_error(kCipherInPlain);
  }
  s.cipher = cipher->kind;
  s.cipher_key_source = cipher->source;
  const std::optional<U128> check = parse_decimal(*v[kCheck], U128::from_u64(kMaxCheckSyllables));
  if (!check || check->lo() == 0) { return invalid(kCheck); }
  s.check_syllables = check->lo();
  const std::optional<LetterCase> letter_case =
      parse_enum(&parse_case, kCase, *v[kCase], &error);
  if (!letter_case) { return error; }
  s.letter_case = *letter_case;
  const std::optional<ChunkLayout> layout = parse_chunk(*v[kChunk]);
  if (!layout) { return invalid(kChunk); }
  s.chunk_layout = *layout;
  const std::optional<uint32_t> separator = parse_separator(*v[kSep]);
  if (!separator) { return invalid(kSep); }
  if (layout->kind == ChunkKind::kBalanced) {
    s.chunk_layout.separator = *separator;
  } else if (*separator != layout->separator) {
    return value_error(layout->kind == ChunkKind::kUnchunked ? kSepWithNone : kSepWithFixed);
  }
  for (const Field field : {kEpochMs, kGranularity}) {
    if (s.mode != Mode::kOpen && v[field]) { return value_error(kFields[field].only_open); }
    if (s.mode == Mode::kOpen && !v[field]) { return value_error(kFields[field].missing); }
  }
  if (s.mode == Mode::kOpen) {
    const std::optional<int64_t> epoch_ms = parse_i64(*v[kEpochMs]);
    if (!epoch_ms) { return invalid(kEpochMs); }
    s.epoch_ms = *epoch_ms;
    const std::optional<Granularity> granularity =
        parse_enum(&parse_granularity, kGranularity, *v[kGranularity], &error);
    if (!granularity) { return error; }
    s.granularity = *granularity;
  }
  return s;
}

}  // namespace

std::string decimal_text(U128 value) {
  char digits[40];
  size_t len = 0;
  do {
    uint64_t digit = 0;
    value = value.divmod_u64(10, &digit);
    digits[len++] = static_cast<char>('0' + digit);
  } while (value != U128());
  std::string text;
  while (len > 0) { text += digits[--len]; }
  return text;
}

std::string settings_text(const CodecConfig& config) {
  std::string text(kVersionToken);
  text += " level=";
  text += level_name(config.level);
  text += " mode=";
  text += mode_name(config.mode);
  if (config.domain.kind == fpe::CipherDomain::Kind::kModulus) {
    text += " modulus=" + decimal_text(config.domain.modulus);
  } else {
    text += " bits=" + std::to_string(config.bit_width);
  }
  text += " cipher=";
  text += cipher_text(config);
  text += " check=" + std::to_string(config.check_syllables);
  text += " case=";
  text += case_name(config.letter_case);
  text += " chunk=" + chunk_text(config.chunk_layout);
  text += " sep=" + separator_text(config.chunk_layout.separator);
  if (config.mode == Mode::kOpen) {  // the time prefix and its settings exist in mode open only
    text += " epoch_ms=" + std::to_string(config.epoch_ms);
    text += " granularity=";
    text += granularity_name(config.granularity);
  }
  return text;
}

Result<Settings> parse_settings(std::string_view text) {
  for (const char c : text) {
    if (c < 0x20 || c > 0x7E) { return value_error(kNotAscii); }
  }
  const std::vector<std::string_view> tokens = split_fields(text);
  if (tokens.empty() || tokens[0] != kVersionToken) {
    const bool versioned = !tokens.empty() && tokens[0].starts_with("tavik/");
    return value_error(versioned ? kOtherVersion : kNoVersion);
  }
  std::array<std::optional<std::string_view>, kNumFields> values;
  for (size_t t = 1; t < tokens.size(); ++t) {
    const size_t equals = tokens[t].find('=');
    if (equals == std::string_view::npos) { return value_error(kNoEquals); }
    const size_t field = field_index(tokens[t].substr(0, equals));
    if (field == kNumFields) { return value_error(kUnknownSettingsField); }
    if (values[field]) { return value_error(kFields[field].repeated); }
    values[field] = tokens[t].substr(equals + 1);
  }
  for (const Field field : {kLevel, kMode, kBits, kCipher, kCheck, kCase, kChunk, kSep}) {
    if (field == kBits) {
      if (values[kBits] && values[kModulus]) { return value_error(kBothWidths); }
      if (!values[kBits] && !values[kModulus]) { return value_error(kMissingWidth); }
    } else if (!values[field]) {
      return value_error(kFields[field].missing);
    }
  }
  return read_values(values);
}

std::string_view unknown_settings_field(std::string_view text) {
  const std::vector<std::string_view> tokens = split_fields(text);
  for (size_t t = 1; t < tokens.size(); ++t) {
    const std::string_view name = tokens[t].substr(0, tokens[t].find('='));
    if (field_index(name) == kNumFields) { return name; }
  }
  return {};
}

namespace {

constexpr std::array<std::string_view, 12> kGeneralTexts = {
    kNotAscii,      kNoVersion,     kOtherVersion, kUnknownSettingsField,
    kNoEquals,      kMissingWidth,  kBothWidths,   kCipherInPlain,
    kSepWithNone,   kSepWithFixed,  kCipherKeyRequired, kCipherKeyUnused};
constexpr std::array<std::string_view, kGeneralTexts.size() + 4 * kNumFields> kFailureTexts = [] {
  std::array<std::string_view, kGeneralTexts.size() + 4 * kNumFields> texts{};
  size_t i = 0;
  for (const std::string_view text : kGeneralTexts) { texts[i++] = text; }
  for (const FieldText& field : kFields) {
    for (const std::string_view text :
         {field.missing, field.repeated, field.invalid, field.only_open}) {
      texts[i++] = text;
    }
  }
  return texts;
}();

}  // namespace

std::span<const std::string_view> settings_failure_texts() { return kFailureTexts; }

Result<CodecConfig> config_from_settings(std::string_view text,
                                         std::optional<std::span<const uint8_t>> key,
                                         std::optional<std::span<const uint8_t>> cipher_key) {
  const Result<Settings> parsed = parse_settings(text);
  if (!parsed.ok()) { return parsed.error(); }
  const Settings& s = parsed.value();
  const bool uses_cipher_key = s.cipher_key_source == CipherKeySource::kWithCipherKey;
  if (uses_cipher_key && !cipher_key) { return value_error(kCipherKeyRequired); }
  if (!uses_cipher_key && cipher_key) { return value_error(kCipherKeyUnused); }
  Result<CodecConfig> built =
      construct_config(key, level_name(s.level), mode_name(s.mode), s.bits.value_or(128));
  if (!built.ok()) { return built.error(); }
  CodecConfig config = std::move(built).value();
  if (s.modulus) {
    built = with_modulus(config, *s.modulus);
    if (!built.ok()) { return built.error(); }
    config = std::move(built).value();
  }
  // The default cipher runs under the codec's key, or the public key in mode plain; any other
  // is chosen as with_cipher chooses it.
  const bool default_cipher =
      s.cipher == fpe::CipherKind::kFeistel8 &&
      s.cipher_key_source == (s.mode == Mode::kPlain ? CipherKeySource::kPublicKey
                                                     : CipherKeySource::kConfigKey);
  if (!default_cipher) {
    built = with_cipher(config, s.cipher == fpe::CipherKind::kShuffle ? "shuffle" : "feistel",
                        uses_cipher_key ? cipher_key : std::nullopt);
    if (!built.ok()) { return built.error(); }
    config = std::move(built).value();
  }
  config.check_syllables = s.check_syllables;
  config.letter_case = s.letter_case;
  config.chunk_layout = s.chunk_layout;
  config.epoch_ms = s.epoch_ms;
  config.granularity = s.granularity;
  return config;
}

}  // namespace tavik::core
