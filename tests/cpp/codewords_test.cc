// Replays the known code words of tests/vectors/codewords.jsonl through the core: the exact
// text of a code word is frozen there, so a change that moves encode and decode together
// still fails here. The file holds one JSON object per line; a small reader below parses it.

#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <fstream>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/builders.h"
#include "core/encode.h"
#include "core/config.h"
#include "core/decode.h"
#include "core/recover.h"
#include "core/settings.h"
#include "fpe/backend.h"
#include "tests/support/backend_swap.h"

namespace tavik::core {
namespace {

// Json is a parsed JSON value. Numbers keep their literal text (integers up to 2^128 - 1);
// an object keeps its keys beside its values.
struct Json {
  enum class Kind : uint8_t { kNull, kNumber, kString, kArray, kObject };
  Kind kind = Kind::kNull;
  std::string text;               // a string's UTF-8, or a number's literal
  std::vector<Json> items;        // an array's elements, or an object's values
  std::vector<std::string> keys;  // an object's keys, one per value

  // find returns the value of an object's key, or nullptr; at fails the test when it is missing.
  const Json* find(std::string_view key) const {
    for (size_t i = 0; i < keys.size(); ++i) {
      if (keys[i] == key) { return &items[i]; }
    }
    return nullptr;
  }
  const Json& at(std::string_view key) const {
    static const Json kMissing;
    const Json* value = find(key);
    if (value == nullptr) { ADD_FAILURE() << "no \"" << key << "\""; }
    return value != nullptr ? *value : kMissing;
  }
};

void append_utf8(std::string& out, uint32_t cp) {
  static constexpr uint32_t kLead[] = {0x00, 0xC0, 0xE0, 0xF0};
  const int num_tail = cp < 0x80 ? 0 : cp < 0x800 ? 1 : cp < 0x10000 ? 2 : 3;
  out.push_back(static_cast<char>(kLead[num_tail] | cp >> (6 * num_tail)));
  for (int i = num_tail - 1; i >= 0; --i) {
    out.push_back(static_cast<char>(0x80 | (cp >> (6 * i) & 0x3F)));
  }
}

// JsonParser reads one JSON value of null, integers, strings, arrays and objects (all the
// file uses). Strings are UTF-8 with the escapes of JSON, \uXXXX surrogate pairs included.
class JsonParser {
 public:
  explicit JsonParser(std::string_view text) : text_(text) {}

  // parse returns the value that spans the whole text, or nullopt if the text is not one.
  std::optional<Json> parse() {
    Json value;
    if (!read_value(value)) { return std::nullopt; }
    skip_space();
    if (pos_ != text_.size()) { return std::nullopt; }
    return value;
  }

 private:
  void skip_space() {
    while (pos_ < text_.size() && std::string_view(" \t\r\n").find(text_[pos_]) != npos) {
      ++pos_;
    }
  }
  bool eat(char c) {
    skip_space();
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  bool read_value(Json& out) {
    skip_space();
    if (eat('"')) {
      out.kind = Json::Kind::kString;
      return read_string(out.text);
    }
    if (eat('[')) {
      out.kind = Json::Kind::kArray;
      return read_items(out, ']');
    }
    if (eat('{')) {
      out.kind = Json::Kind::kObject;
      return read_items(out, '}');
    }
    if (text_.substr(pos_, 4) == "null") {
      pos_ += 4;
      return true;
    }
    const size_t start = pos_;
    if (pos_ < text_.size() && text_[pos_] == '-') { ++pos_; }
    const size_t digits = pos_;
    while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') { ++pos_; }
    out.kind = Json::Kind::kNumber;
    out.text = text_.substr(start, pos_ - start);
    return pos_ > digits;
  }
  bool read_items(Json& out, char close) {
    if (eat(close)) { return true; }
    do {
      if (close == '}') {
        std::string key;
        if (!eat('"') || !read_string(key) || !eat(':')) { return false; }
        out.keys.push_back(std::move(key));
      }
      out.items.emplace_back();
      if (!read_value(out.items.back())) { return false; }
    } while (eat(','));
    return eat(close);
  }
  bool read_hex4(uint32_t& out) {
    if (pos_ + 4 > text_.size()) { return false; }
    const char* first = text_.data() + pos_;
    pos_ += 4;
    return std::from_chars(first, first + 4, out, 16).ptr == first + 4;
  }
  // read_string reads the rest of a string whose opening quote is taken.
  bool read_string(std::string& out) {
    while (pos_ < text_.size()) {
      const char c = text_[pos_++];
      if (c == '"') { return true; }
      if (c != '\\') {
        out.push_back(c);
        continue;
      }
      if (pos_ == text_.size()) { return false; }
      const char escape = text_[pos_++];
      const size_t simple = std::string_view("\"\\/bfnrt").find(escape);
      if (simple != npos) {
        out.push_back("\"\\/\b\f\n\r\t"[simple]);
        continue;
      }
      uint32_t cp = 0;
      if (escape != 'u' || !read_hex4(cp)) { return false; }
      if (cp >= 0xD800 && cp < 0xDC00) {  // a high surrogate: its low half follows
        uint32_t low = 0;
        if (text_.substr(pos_, 2) != "\\u") { return false; }
        pos_ += 2;
        if (!read_hex4(low) || low < 0xDC00 || low > 0xDFFF) { return false; }
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
      }
      append_utf8(out, cp);
    }
    return false;
  }

  static constexpr size_t npos = std::string_view::npos;
  std::string_view text_;
  size_t pos_ = 0;
};

std::vector<uint8_t> from_hex(std::string_view hex) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    uint8_t byte = 0;
    std::from_chars(hex.data() + i, hex.data() + i + 2, byte, 16);
    out.push_back(byte);
  }
  return out;
}

std::string to_hex(std::span<const uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (uint8_t b : bytes) { out += {kDigits[b >> 4], kDigits[b & 15]}; }
  return out;
}

// Integers of the file: a magnitude below 2^128 and a sign.
U128 magnitude(const Json& number) {
  EXPECT_EQ(number.kind, Json::Kind::kNumber) << number.text;
  NativeU128 value = 0;
  for (char c : std::string_view(number.text).substr(number.text.starts_with('-') ? 1 : 0)) {
    const auto digit = static_cast<NativeU128>(c - '0');
    EXPECT_TRUE(value <= (~NativeU128{0} - digit) / 10) << "too large: " << number.text;
    value = value * 10 + digit;
  }
  return U128::from_native(value);
}
uint64_t to_u64(const Json& number) {
  const U128 value = magnitude(number);
  EXPECT_TRUE(value.hi() == 0 && !number.text.starts_with('-')) << number.text;
  return value.lo();
}
uint32_t to_u32(const Json& number) {
  const uint64_t value = to_u64(number);
  EXPECT_LE(value, UINT32_MAX) << number.text;
  return static_cast<uint32_t>(value);
}
int64_t to_i64(const Json& number) {
  const uint64_t value = magnitude(number).lo();  // the file holds -2^63 .. 2^63 - 1
  return static_cast<int64_t>(number.text.starts_with('-') ? 0 - value : value);
}

// optional_bytes reads bytes written as hex text or as {"hex": "..."}; null (or a missing
// argument) is none. `storage` holds the bytes the span refers to.
std::optional<std::span<const uint8_t>> optional_bytes(const Json* value,
                                                       std::vector<uint8_t>& storage) {
  if (value == nullptr || value->kind == Json::Kind::kNull) { return std::nullopt; }
  storage = from_hex(value->kind == Json::Kind::kObject ? value->at("hex").text : value->text);
  return std::span<const uint8_t>(storage);
}

// apply_call runs one builder call [name, [arguments]] on a record.
Result<CodecConfig> apply_call(const CodecConfig& config, const Json& call) {
  static const Json kNone;
  const std::string& name = call.items.at(0).text;
  const std::vector<Json>& args = call.items.at(1).items;
  const Json& arg0 = args.empty() ? kNone : args[0];
  const Json* arg1 = args.size() < 2 ? nullptr : &args[1];  // the optional second argument
  if (name == "with_bit_width") { return with_bit_width(config, to_u32(arg0)); }
  if (name == "with_modulus") { return with_modulus(config, magnitude(arg0)); }
  if (name == "with_cipher") {
    std::vector<uint8_t> key;
    return with_cipher(config, arg0.text, optional_bytes(arg1, key));
  }
  if (name == "with_case") { return with_case(config, arg0.text); }
  if (name == "with_check_syllables") { return with_check_syllables(config, to_u64(arg0)); }
  if (name == "with_separator") { return with_separator(config, arg0.text); }
  if (name == "with_chunk_none") { return with_chunk_none(config); }
  if (name == "with_chunk_fixed") { return with_chunk_fixed(config, to_u64(arg0)); }
  if (name == "with_chunk_pattern") {
    std::vector<uint64_t> pattern;
    for (const Json& size : arg0.items) { pattern.push_back(to_u64(size)); }
    return with_chunk_pattern(config, std::move(pattern));
  }
  if (name == "with_timestamp_config") {
    return with_timestamp_config(config, to_i64(arg0), arg1 ? arg1->text : "month");
  }
  return value_error("no builder named " + name);
}

// build makes the record of a line: the constructor, then the builder calls in order.
Result<CodecConfig> build(const Json& line) {
  std::vector<uint8_t> key;
  Result<CodecConfig> config =
      construct_config(optional_bytes(&line.at("key"), key), line.at("level").text,
                       line.at("mode").text, to_u32(line.at("bit_width")));
  for (const Json& call : line.at("calls").items) {
    if (!config.ok()) { break; }
    config = apply_call(config.value(), call);
  }
  return config;
}

// The 16 bytes decode returns: the input's first ceil(bits/8) bytes, or its last with a
// modulus, right-aligned and cut to the bit width.
std::string expected_hex(const CodecConfig& config, std::span<const uint8_t> input) {
  const size_t num_bytes = (config.bit_width + 7) / 8;
  const size_t num_taken = std::min(num_bytes, input.size());
  const bool tail = config.domain.kind == fpe::CipherDomain::Kind::kModulus;
  uint8_t block[16] = {};
  const std::span<const uint8_t> taken = tail ? input.last(num_taken) : input.first(num_taken);
  std::copy(taken.begin(), taken.end(), block + 16 - (tail ? num_taken : num_bytes));
  uint8_t out[16];
  (U128::from_be_bytes(block) & U128::low_mask(config.bit_width)).to_be_bytes(out);
  return to_hex(out);
}

struct KnownWord {
  int line_number;
  Json line;
};

// read_known_words parses every line of the file but its header (the one with "comment").
std::vector<KnownWord> read_known_words() {
  std::ifstream file(std::string(TAVIK_VECTORS_DIR) + "/codewords.jsonl");
  std::vector<KnownWord> words;
  std::string text;
  for (int number = 1; std::getline(file, text); ++number) {
    std::optional<Json> line = JsonParser(text).parse();
    if (!line || line->kind != Json::Kind::kObject) {
      ADD_FAILURE() << "codewords.jsonl line " << number << " is no JSON object";
    } else if (line->find("comment") == nullptr) {
      words.push_back({number, std::move(*line)});
    }
  }
  return words;
}

const std::vector<KnownWord>& known_words() {
  static const std::vector<KnownWord> words = read_known_words();
  return words;
}

TEST(JsonParser, ReadsTheEscapesOfJson) {
  const std::optional<Json> value =
      JsonParser(R"( {"a": ["\u0000\"\\\/\t", "\u00b7\ud83d\ude00", -12, null, {}, []]} )")
          .parse();
  ASSERT_TRUE(value);
  const Json& items = value->at("a");
  ASSERT_EQ(items.items.size(), 6u);
  EXPECT_EQ(items.items[0].text, std::string("\0\"\\/\t", 5));
  EXPECT_EQ(items.items[1].text, "\xC2\xB7\xF0\x9F\x98\x80");
  EXPECT_EQ(to_i64(items.items[2]), -12);
  EXPECT_EQ(items.items[3].kind, Json::Kind::kNull);
  EXPECT_EQ(items.items[4].kind, Json::Kind::kObject);
  for (std::string_view bad : {"", "[1,", R"("\ud83d")", R"({"a" 1})", "[1] 2", "-"}) {
    EXPECT_FALSE(JsonParser(bad).parse()) << bad;
  }
}

TEST(KnownCodeWords, EncodeWritesEveryWordAndDecodeReadsItBack) {
  ASSERT_GE(known_words().size(), 100u);
  for (const auto& [number, line] : known_words()) {
    SCOPED_TRACE("codewords.jsonl line " + std::to_string(number));
    const Result<CodecConfig> config = build(line);
    ASSERT_TRUE(config.ok()) << config.error().message;
    const std::string& word = line.at("word").text;
    const std::vector<uint8_t> input = from_hex(line.at("input").text);
    const Result<EncodedText> encoded = encode(config.value(), input);
    ASSERT_TRUE(encoded.ok()) << encoded.error().message;
    EXPECT_EQ(encoded.value().view(), word);

    const std::string want = expected_hex(config.value(), input);
    const Result<Bytes16> decoded = decode_text(config.value(), word);
    EXPECT_TRUE(decoded.ok());
    EXPECT_EQ(to_hex(decoded.value()), want);
    if (config.value().mode != Mode::kPlain) {
      const Result<Bytes16> recovered = recover_text(config.value(), word);
      ASSERT_TRUE(recovered.ok()) << recovered.error().message;
      EXPECT_EQ(to_hex(recovered.value()), want);
    }
  }
}

// The settings text of every line builds, with the line's keys, a codec that has the same
// settings and writes the same word as the one the constructor and the builders made.
TEST(KnownCodeWords, SettingsTextBuildsTheSameCodec) {
  for (const auto& [number, line] : known_words()) {
    SCOPED_TRACE("codewords.jsonl line " + std::to_string(number));
    const Result<CodecConfig> built = build(line);
    ASSERT_TRUE(built.ok()) << built.error().message;
    const std::string& settings = line.at("settings").text;
    EXPECT_EQ(settings_text(built.value()), settings);
    std::vector<uint8_t> key;
    std::vector<uint8_t> cipher_key;
    const Result<CodecConfig> config =
        config_from_settings(settings, optional_bytes(&line.at("key"), key),
                             optional_bytes(&line.at("cipher_key"), cipher_key));
    ASSERT_TRUE(config.ok()) << config.error().message;
    EXPECT_EQ(settings_text(config.value()), settings);
    const Result<EncodedText> encoded = encode(config.value(), from_hex(line.at("input").text));
    ASSERT_TRUE(encoded.ok()) << encoded.error().message;
    EXPECT_EQ(encoded.value().view(), line.at("word").text);
  }
}

// Every backend this processor runs (the SHA instructions, our own SHA-256 with BMI2 or in
// plain C++, each with its lanes) must write and read the very same words.
TEST(KnownCodeWords, EveryBackendWritesTheSameWords) {
  for (const fpe::Backend& backend : fpe::available_backends()) {
    const testing::ScopedBackend scoped(backend);
    for (const auto& [number, line] : known_words()) {
      SCOPED_TRACE("codewords.jsonl line " + std::to_string(number) + ", backend " +
                   std::string(backend.name));
      const Result<CodecConfig> config = build(line);
      ASSERT_TRUE(config.ok()) << config.error().message;
      const std::vector<uint8_t> input = from_hex(line.at("input").text);
      const Result<EncodedText> encoded = encode(config.value(), input);
      ASSERT_TRUE(encoded.ok()) << encoded.error().message;
      EXPECT_EQ(encoded.value().view(), line.at("word").text);
      const Result<Bytes16> decoded = decode_text(config.value(), line.at("word").text);
      ASSERT_TRUE(decoded.ok());
      EXPECT_EQ(to_hex(decoded.value()), expected_hex(config.value(), input));
    }
  }
}

TEST(KnownCodeWords, RecoverCorrectsEveryTypo) {
  int num_typos = 0;
  for (const auto& [number, line] : known_words()) {
    if (line.find("typo") == nullptr) { continue; }
    SCOPED_TRACE("codewords.jsonl line " + std::to_string(number));
    ++num_typos;
    const Result<CodecConfig> config = build(line);
    ASSERT_TRUE(config.ok()) << config.error().message;
    EXPECT_FALSE(decode_text(config.value(), line.at("typo").text).ok());
    const Result<Bytes16> recovered = recover_text(config.value(), line.at("typo").text);
    ASSERT_TRUE(recovered.ok()) << recovered.error().message;
    EXPECT_EQ(to_hex(recovered.value()), line.at("recovered").text);
  }
  EXPECT_GE(num_typos, 30);
}

}  // namespace
}  // namespace tavik::core
