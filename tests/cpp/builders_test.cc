#include "core/builders.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "core/encode.h"

namespace tavik::core {
namespace {

const std::vector<uint8_t> kKey = {'b', 'u', 'i', 'l', 'd'};

CodecConfig make(std::string_view mode = "sealed") {
  return construct_config(kKey, "eu", mode, 128).value();
}

std::string encode_text(const CodecConfig& config, std::span<const uint8_t> data) {
  const Result<EncodedText> text = encode(config, data);
  EXPECT_TRUE(text.ok());
  return text.ok() ? std::string(text.value().view()) : std::string();
}

std::string error_of(const Result<CodecConfig>& r) {
  return std::string(r.ok() ? "(ok)" : r.error().message);
}

std::vector<std::vector<uint8_t>> samples() {
  std::mt19937_64 rng(9);
  std::vector<std::vector<uint8_t>> out;
  for (int i = 0; i < 8; ++i) {
    std::vector<uint8_t> data(16);
    for (uint8_t& b : data) { b = static_cast<uint8_t>(rng()); }
    out.push_back(data);
  }
  return out;
}

bool same_words(const CodecConfig& a, const CodecConfig& b) {
  for (const auto& data : samples()) {
    if (encode_text(a, data) != encode_text(b, data)) { return false; }
  }
  return true;
}

TEST(Builders, LeaveTheReceiverUnchanged) {
  const CodecConfig base = make("open");
  std::vector<uint8_t> data(16, 0x5A);
  data[6] = 0x7A;  // a version 7 UUID, so the time settings show in the word
  const std::string word = encode_text(base, data);
  const fpe::CipherHandle cipher = base.cipher;
  const std::vector<uint8_t> other = {'o', 't', 'h', 'e', 'r'};

  const CodecConfig lower = with_case(base, "lower").value();
  std::string lowered = word.substr(5);
  for (char& c : lowered) {
    if (c >= 'A' && c <= 'Z') { c = static_cast<char>(c - 'A' + 'a'); }
  }
  EXPECT_EQ(encode_text(lower, data), word.substr(0, 5) + lowered);
  const std::vector<CodecConfig> derived = {
      lower,
      with_bit_width(base, 40),
      with_modulus(base, U128::from_u64(1000)).value(),
      with_cipher(base, "feistel", other).value(),
      with_check_syllables(base, 5),
      with_separator(base, "/").value(),
      with_chunk_none(base),
      with_chunk_fixed(base, 3),
      with_chunk_pattern(base, {1, 2}),
      with_timestamp_config(base, 0, "second").value(),
  };
  for (const CodecConfig& next : derived) { EXPECT_NE(encode_text(next, data), word); }
  EXPECT_EQ(encode_text(base, data), word);
  EXPECT_EQ(base.cipher, cipher);
  EXPECT_EQ(base.bit_width, 128u);
  EXPECT_EQ(base.tweak, (std::array<uint8_t, 4>{1, 1, 128, 0}));
  EXPECT_FALSE(base.explicit_cipher);
  EXPECT_EQ(base.check_syllables, 1u);
  EXPECT_EQ(base.letter_case, LetterCase::kUpper);
  EXPECT_EQ(base.chunk_layout, ChunkLayout::balanced('-'));
  EXPECT_EQ(base.epoch_ms, kDefaultEpochMs);
  EXPECT_EQ(base.granularity, Granularity::kMonth);
  // Every builder keeps the constructor's key, the level, the mode and the chunk engine; one
  // that leaves the domain alone shares the cipher.
  // The key bytes are one copy, shared, never copied by a builder (nor copyable at all).
  static_assert(!std::is_copy_constructible_v<SecretBytes>);
  static_assert(!std::is_copy_assignable_v<SecretBytes>);
  for (const CodecConfig& next : derived) {
    ASSERT_NE(next.key, nullptr);
    EXPECT_EQ(next.key, base.key);
    const auto key = next.key->bytes();
    EXPECT_EQ(std::vector<uint8_t>(key.begin(), key.end()), kKey);
    EXPECT_EQ(next.level, Level::kEu);
    EXPECT_EQ(next.mode, Mode::kOpen);
    EXPECT_EQ(next.chunk_engine, base.chunk_engine);
  }
  EXPECT_EQ(derived[0].cipher, cipher);
  EXPECT_NE(derived[1].cipher, cipher);
  ASSERT_NE(derived[3].explicit_key, nullptr);
  EXPECT_EQ(with_bit_width(derived[3], 64).explicit_key, derived[3].explicit_key);
}

TEST(Builders, WidthAndModulusSetTheDomain) {
  const CodecConfig base = make();
  for (const auto& [given, kept] : std::vector<std::pair<uint32_t, uint32_t>>{
           {0, 16}, {8, 16}, {16, 16}, {65, 65}, {128, 128}, {256, 128}, {UINT32_MAX, 128}}) {
    const CodecConfig next = with_bit_width(base, given);
    EXPECT_EQ(next.bit_width, kept);
    EXPECT_EQ(next.domain, fpe::CipherDomain::bits(kept));
    EXPECT_EQ(next.tweak, (std::array<uint8_t, 4>{1, 0, static_cast<uint8_t>(kept), 0}));
  }
  for (uint64_t m : {uint64_t{0}, uint64_t{1}}) {
    const Result<CodecConfig> r = with_modulus(base, U128::from_u64(m));
    EXPECT_EQ(error_of(r), "modulus must be at least 2");
    EXPECT_EQ(r.error().code, ErrorCode::kValue);
  }
  const std::vector<std::pair<U128, uint32_t>> moduli = {
      {U128::from_u64(2), 2}, {U128::from_u64(700), 10},         {U128::from_u64(1024), 11},
      {U128(1, 0), 65},       {U128(uint64_t{1} << 63, 0), 128}, {U128::max(), 128}};
  for (const auto& [m, bits] : moduli) {
    const CodecConfig next = with_modulus(base, m).value();
    EXPECT_EQ(next.bit_width, bits);
    EXPECT_EQ(next.domain, fpe::CipherDomain::mod(m));
    EXPECT_EQ(next.tweak[2], bits);
    EXPECT_NE(next.cipher, base.cipher);
  }
  // A width after a modulus brings back a Bits domain.
  const CodecConfig back = with_bit_width(with_modulus(base, U128::from_u64(700)).value(), 128);
  EXPECT_EQ(back.domain, fpe::CipherDomain::bits(128));
  EXPECT_TRUE(same_words(back, base));
}

TEST(Builders, CipherKinds) {
  const CodecConfig base = make();
  for (const char* kind : {"FEISTEL", "Shuffle", "feistel16", "", "aes"}) {
    const Result<CodecConfig> r = with_cipher(base, kind, std::nullopt);
    EXPECT_EQ(error_of(r), "unknown cipher: use 'feistel' or 'shuffle'") << kind;
  }
  const std::vector<uint8_t> other = {'o', 't', 'h', 'e', 'r'};
  const CodecConfig shuffle = with_cipher(base, "shuffle", std::nullopt).value();
  EXPECT_TRUE(shuffle.explicit_cipher);
  EXPECT_EQ(shuffle.tweak, base.tweak);
  EXPECT_TRUE(same_words(with_cipher(base, "shuffle", other).value(), shuffle));
  EXPECT_TRUE(same_words(with_cipher(base, "shuffle4", std::nullopt).value(), shuffle));
  EXPECT_TRUE(same_words(with_cipher(base, "feistel", std::nullopt).value(), shuffle));
  const CodecConfig keyed = with_cipher(base, "feistel", other).value();
  EXPECT_TRUE(same_words(with_cipher(base, "feistel8", other).value(), keyed));
  EXPECT_FALSE(same_words(keyed, shuffle));
  EXPECT_FALSE(same_words(keyed, base));
  // The cipher key is the one given; the constructor's key still keys the check syllables,
  // so a cipher under the constructor's key gives the default words.
  EXPECT_TRUE(same_words(with_cipher(base, "feistel", kKey).value(), base));
  // Once chosen, the cipher stays chosen through later builders.
  EXPECT_TRUE(with_check_syllables(with_case(keyed, "lower").value(), 3).explicit_cipher);
  EXPECT_TRUE(with_bit_width(keyed, 64).explicit_cipher);
}

TEST(Builders, CaseAndCheckSyllables) {
  const CodecConfig base = make();
  EXPECT_EQ(with_case(base, "lower").value().letter_case, LetterCase::kLower);
  EXPECT_EQ(with_case(with_case(base, "lower").value(), "upper").value().letter_case,
            LetterCase::kUpper);
  for (const char* name : {"Upper", "LOWER", "", "title"}) {
    EXPECT_EQ(error_of(with_case(base, name)), "case must be 'upper' or 'lower'") << name;
  }
  const std::vector<std::pair<uint64_t, uint64_t>> counts = {
      {0, 1}, {1, 1}, {5, 5}, {8, 8}, {9, 8}, {1000, 8}, {UINT64_MAX, 8}};
  for (const auto& [given, kept] : counts) {
    const CodecConfig next = with_check_syllables(base, given);
    EXPECT_EQ(next.check_syllables, kept);
    const std::string word = encode_text(next, kKey);
    // The check syllables follow the last separator.
    const std::string check = word.substr(word.rfind('-') + 1);
    EXPECT_GE(check.size(), 2 * kept);
    EXPECT_LE(check.size(), 4 * kept);
  }
}

TEST(Builders, SeparatorRules) {
  const CodecConfig base = make();
  EXPECT_EQ(error_of(with_separator(base, "")), "separator must not be empty");
  const std::string alphabetic = "invalid separator: must be non-alphabetic";
  for (const char* sep : {"a", "Z", "\xC3\xA9",  // é
                          "\xC3\x9F",            // ß
                          "\xE4\xB8\xAD",        // a CJK ideograph
                          "\xC2\xAA",            // ª, the first alphabetic above ASCII
                          "Z-"}) {
    EXPECT_EQ(error_of(with_separator(base, sep)), alphabetic) << sep;
  }
  const std::vector<std::pair<std::string, uint32_t>> accepted = {
      {"0", '0'},
      {"_", '_'},
      {" ", ' '},
      {"/", '/'},
      {"_x", '_'},
      {"-", '-'},
      {"\xE2\x82\xAC", 0x20AC},  // €
      {"\xC2\xA9", 0xA9},        // ©
      {"\xC3\x97", 0xD7},        // ×, between two alphabetic ranges
      {"\xF0\x9F\x98\x80", 0x1F600},
      {std::string(1, '\0'), 0}};
  for (const auto& [sep, code_point] : accepted) {
    const Result<CodecConfig> r = with_separator(base, sep);
    ASSERT_TRUE(r.ok()) << sep;
    EXPECT_EQ(r.value().chunk_layout, ChunkLayout::balanced(code_point)) << sep;
  }
  // The first character only: "_x" writes '_', and U+0000 writes no separator at all.
  const std::vector<uint8_t> data(16, 0x33);
  const std::string underscored = encode_text(with_separator(base, "_x").value(), data);
  EXPECT_EQ(std::count(underscored.begin(), underscored.end(), '_'), 5);
  EXPECT_EQ(underscored.find('x'), std::string::npos);
  const std::string bare = encode_text(with_separator(base, std::string(1, '\0')).value(), data);
  for (char c : bare) { EXPECT_TRUE(c >= 'A' && c <= 'Z') << bare; }
}

TEST(Builders, LayoutIsReplacedWhole) {
  const CodecConfig base = make();
  const CodecConfig slash = with_separator(base, "/").value();
  EXPECT_EQ(with_chunk_fixed(slash, 4).chunk_layout, ChunkLayout::fixed(4));
  EXPECT_EQ(with_chunk_fixed(slash, 4).chunk_layout.separator, uint32_t{'-'});
  EXPECT_EQ(with_chunk_pattern(slash, {2, 2}).chunk_layout, ChunkLayout::with_pattern({2, 2}));
  EXPECT_EQ(with_chunk_pattern(slash, {}).chunk_layout.separator, uint32_t{'-'});
  EXPECT_EQ(with_chunk_none(slash).chunk_layout, ChunkLayout::unchunked());
  EXPECT_EQ(with_chunk_none(slash).chunk_layout.separator, 0u);
  EXPECT_EQ(with_chunk_fixed(base, 0).chunk_layout, ChunkLayout::fixed(0));
  const CodecConfig balanced_again = with_separator(with_chunk_fixed(base, 4), "/").value();
  EXPECT_EQ(balanced_again.chunk_layout, ChunkLayout::balanced('/'));
  EXPECT_EQ(balanced_again.chunk_layout.kind, ChunkKind::kBalanced);
  EXPECT_EQ(balanced_again.chunk_layout.target_groups, 5u);

  const std::vector<uint8_t> data(16, 0x77);
  const std::string word = encode_text(balanced_again, data);
  EXPECT_EQ(std::count(word.begin(), word.end(), '/'), 5) << word;
  EXPECT_EQ(std::count(word.begin(), word.end(), '-'), 0) << word;
  const std::string none = encode_text(with_chunk_none(slash), data);
  EXPECT_EQ(none.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ"), std::string::npos) << none;
}

TEST(Builders, TimestampConfig) {
  const CodecConfig base = make("open");
  const std::vector<std::pair<std::string, Granularity>> names = {
      {"second", Granularity::kSecond}, {"minute", Granularity::kMinute},
      {"hour", Granularity::kHour},     {"day", Granularity::kDay},
      {"week", Granularity::kWeek},     {"month", Granularity::kMonth}};
  for (const auto& [name, granularity] : names) {
    const CodecConfig next = with_timestamp_config(base, -5, name).value();
    EXPECT_EQ(next.granularity, granularity);
    EXPECT_EQ(next.epoch_ms, -5);
  }
  for (const char* name : {"Month", "months", "", "year"}) {
    EXPECT_EQ(error_of(with_timestamp_config(base, 0, name)),
              "granularity must be one of: second, minute, hour, day, week, month")
        << name;
  }
  // The epoch moves the prefix: a version 7 UUID a year after a new epoch, counted in months.
  std::vector<uint8_t> uuid(16, 0);
  uuid[6] = 0x70;
  const int64_t t = 1700807049216;
  for (size_t i = 0; i < 6; ++i) { uuid[i] = static_cast<uint8_t>(t >> (40 - 8 * i)); }
  const int64_t year_before = t - 366LL * 86400000;  // 2022-11-23, twelve months before
  EXPECT_EQ(encode_text(base, uuid).substr(0, 6), "BA-DA-");
  EXPECT_EQ(
      encode_text(with_timestamp_config(base, year_before, "month").value(), uuid).substr(0, 6),
      "BI-DI-");  // 12 = 2 * 5 + 2
  // The whole signed range of epochs: from INT64_MIN the count of seconds needs 64 bits.
  __extension__ typedef __int128 Wide;
  const int64_t seconds = static_cast<int64_t>((Wide{t} - Wide{INT64_MIN}) / 1000);
  const std::string expected = {'B', "AEIOU"[(seconds / 5) % 5], '-', 'D', "AEIOU"[seconds % 5]};
  EXPECT_EQ(
      encode_text(with_timestamp_config(base, INT64_MIN, "second").value(), uuid).substr(0, 5),
      expected);
}

}  // namespace
}  // namespace tavik::core
