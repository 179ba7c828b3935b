// The configuration record, encode and decode, taken together: what encode writes, decode
// must read back, for every setting.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "core/builders.h"
#include "core/check.h"
#include "core/encode.h"
#include "core/config.h"
#include "core/decode.h"
#include "core/normalize.h"
#include "core/render.h"

namespace tavik::core {
namespace {


const std::vector<uint8_t> kKey = {'c', 'o', 'd', 'e', 'c', '-', 'k', 'e', 'y'};

constexpr std::array<Level, 5> kLevels = {Level::kUniversal, Level::kEu, Level::kEn,
                                          Level::kNumeric, Level::kKo};
constexpr std::array<Mode, 3> kModes = {Mode::kSealed, Mode::kOpen, Mode::kPlain};

CodecConfig make(Level level = Level::kUniversal, Mode mode = Mode::kSealed,
                 uint32_t bit_width = 128) {
  Result<CodecConfig> config =
      construct_config(kKey, level_name(level), mode_name(mode), bit_width);
  EXPECT_TRUE(config.ok());
  return std::move(config).value();
}

std::string encode_text(const CodecConfig& config, std::span<const uint8_t> data) {
  const Result<EncodedText> text = encode(config, data);
  EXPECT_TRUE(text.ok()) << (text.ok() ? "" : text.error().message);
  return text.ok() ? std::string(text.value().view()) : std::string();
}

Bytes16 be_bytes(U128 value) {
  Bytes16 out;
  value.to_be_bytes(out.data());
  return out;
}

// The value a Bits configuration keeps of the input: its first ceil(w/8) bytes, cut to w bits.
Bytes16 kept_bits(std::span<const uint8_t> data, uint32_t width) {
  const size_t num_bytes = (width + 7) / 8;
  uint8_t block[16] = {};
  for (size_t i = 0; i < num_bytes && i < data.size(); ++i) { block[16 - num_bytes + i] = data[i]; }
  return be_bytes(U128::from_be_bytes(block) & U128::low_mask(width));
}

std::vector<uint8_t> random_bytes(std::mt19937_64& rng, size_t len) {
  std::vector<uint8_t> out(len);
  for (uint8_t& b : out) { b = static_cast<uint8_t>(rng()); }
  return out;
}

U128 random_below(std::mt19937_64& rng, U128 bound) {
  const NativeU128 r = (NativeU128{rng()} << 64) | rng();
  return U128::from_native(r % bound.native());
}

std::vector<std::string> split(const std::string& text, char sep) {
  std::vector<std::string> parts(1);
  for (char c : text) {
    if (c == sep) {
      parts.emplace_back();
    } else {
      parts.back().push_back(c);
    }
  }
  return parts;
}

// spell writes data units and their correct check units as a code word (no separators).
std::string spell_with_check(const CodecConfig& config, std::span<const uint8_t> data_units) {
  uint8_t check[kMaxCheckUnits];
  const size_t num_check = compute_check_units(config.mode, config.check_key.get(), data_units,
                                               config.check_syllables, check);
  std::string out;
  for (uint8_t unit : data_units) {
    append_cased(out, render_unit(unit, static_cast<uint8_t>(config.level)), LetterCase::kUpper);
  }
  for (size_t i = 0; i < num_check; ++i) {
    append_cased(out, render_unit(check[i], static_cast<uint8_t>(config.level)),
                 LetterCase::kUpper);
  }
  return out;
}

std::vector<uint8_t> units_of(U128 value, size_t num_syllables) {
  std::vector<uint8_t> units(2 * num_syllables);
  value_to_units(value, num_syllables, units.data());
  return units;
}

void expect_round_trips(const CodecConfig& config, std::span<const uint8_t> data,
                        const Bytes16& expected) {
  const std::string word = encode_text(config, data);
  const Result<Bytes16> decoded = decode_text(config, word);
  ASSERT_TRUE(decoded.ok()) << word << " width " << config.bit_width;
  EXPECT_EQ(decoded.value(), expected) << word << " width " << config.bit_width;
}

TEST(Config, ConstructorChecksInOrder) {
  const auto message = [](std::optional<std::span<const uint8_t>> key, std::string_view level,
                          std::string_view mode) {
    const Result<CodecConfig> r = construct_config(key, level, mode, 128);
    EXPECT_FALSE(r.ok());
    if (r.ok()) { return std::string(); }
    EXPECT_EQ(r.error().code, ErrorCode::kValue);
    return std::string(r.error().message);
  };
  const std::string bad_level = "level must be one of: universal, eu, en, numeric";
  const std::string bad_mode = "mode must be one of: sealed, open, plain";
  const std::vector<uint8_t> empty;
  EXPECT_EQ(message(kKey, "EU", "sealed"), bad_level);
  EXPECT_EQ(message(std::nullopt, "Universal", "nope"), bad_level);   // level first
  EXPECT_EQ(message(std::nullopt, "universal", "Sealed"), bad_mode);  // mode before key
  EXPECT_EQ(message(std::nullopt, "universal", "sealed"),
            "key is required for sealed and open modes");
  EXPECT_EQ(message(std::nullopt, "eu", "open"), "key is required for sealed and open modes");
  EXPECT_EQ(message(empty, "universal", "sealed"), "key must not be empty for sealed/open modes");
  EXPECT_EQ(message(empty, "ko", "open"), "key must not be empty for sealed/open modes");

  const Result<CodecConfig> no_key = construct_config(std::nullopt, "universal", "plain", 128);
  ASSERT_TRUE(no_key.ok());
  EXPECT_EQ(no_key.value().key, nullptr);
  const Result<CodecConfig> empty_key = construct_config(empty, "ko", "plain", 128);
  ASSERT_TRUE(empty_key.ok());
  ASSERT_NE(empty_key.value().key, nullptr);
  EXPECT_EQ(empty_key.value().key->size(), 0u);
  EXPECT_EQ(empty_key.value().level, Level::kKo);
  EXPECT_EQ(empty_key.value().tweak[0], 4);
}

TEST(Config, FreshRecordDefaultsAndWidthClamp) {
  const std::array<std::pair<uint32_t, uint32_t>, 7> widths = {
      {{0, 16}, {15, 16}, {16, 16}, {77, 77}, {128, 128}, {129, 128}, {UINT32_MAX, 128}}};
  for (const auto& [given, kept] : widths) {
    const Result<CodecConfig> r = construct_config(kKey, "en", "open", given);
    ASSERT_TRUE(r.ok());
    const CodecConfig& c = r.value();
    EXPECT_EQ(c.bit_width, kept);
    EXPECT_EQ(c.domain, fpe::CipherDomain::bits(kept));
    EXPECT_EQ(c.tweak, (std::array<uint8_t, 4>{2, 1, static_cast<uint8_t>(kept), 0}));
    EXPECT_NE(c.cipher, nullptr);
    EXPECT_FALSE(c.explicit_cipher);
    ASSERT_NE(c.key, nullptr);
    const auto key = c.key->bytes();
    EXPECT_EQ(std::vector<uint8_t>(key.begin(), key.end()), kKey);
    EXPECT_EQ(c.check_syllables, 1u);
    EXPECT_EQ(c.letter_case, LetterCase::kUpper);
    EXPECT_EQ(c.chunk_layout, ChunkLayout::balanced('-'));
    EXPECT_EQ(c.chunk_layout.target_groups, 5u);
    EXPECT_NE(c.chunk_engine, nullptr);
    EXPECT_EQ(c.epoch_ms, 1700000000000);
    EXPECT_EQ(c.granularity, Granularity::kMonth);
  }
  // Every record shares one chunk engine.
  EXPECT_EQ(make().chunk_engine, make(Level::kKo, Mode::kPlain, 16).chunk_engine);
}

TEST(Codec, PlainModeIgnoresTheKey) {
  std::mt19937_64 rng(1);
  const std::vector<uint8_t> empty;
  const CodecConfig with_key = construct_config(kKey, "eu", "plain", 100).value();
  const CodecConfig with_empty = construct_config(empty, "eu", "plain", 100).value();
  const CodecConfig without = construct_config(std::nullopt, "eu", "plain", 100).value();
  for (int i = 0; i < 20; ++i) {
    const std::vector<uint8_t> data = random_bytes(rng, 16);
    const std::string word = encode_text(with_key, data);
    EXPECT_EQ(encode_text(with_empty, data), word);
    EXPECT_EQ(encode_text(without, data), word);
    EXPECT_EQ(decode_text(without, word).value(), kept_bits(data, 100));
  }
}

TEST(Codec, RoundTripsEveryLevelModeAndWidth) {
  std::mt19937_64 rng(2);
  for (Level level : kLevels) {
    for (Mode mode : kModes) {
      for (uint32_t width = 16; width <= 128; ++width) {
        const CodecConfig config = make(level, mode, width);
        for (int i = 0; i < 3; ++i) {
          const std::vector<uint8_t> data = random_bytes(rng, 16);
          expect_round_trips(config, data, kept_bits(data, width));
        }
        std::vector<uint8_t> ones(16, 0xFF);
        expect_round_trips(config, ones, kept_bits(ones, width));
        if (testing::Test::HasFailure()) { return; }
      }
    }
  }
}

TEST(Codec, RoundTripsBelowEveryModulus) {
  std::mt19937_64 rng(3);
  const std::array<U128, 6> moduli = {U128::from_u64(2),   U128::from_u64(3),
                                      U128::from_u64(700), U128::from_u64(1000),
                                      U128(1, 0),          U128(uint64_t{1} << 63, 1)};
  for (Mode mode : kModes) {
    for (U128 m : moduli) {
      const CodecConfig config = with_modulus(make(Level::kEn, mode), m).value();
      std::vector<U128> values = {U128(), m - U128::from_u64(1)};
      for (int i = 0; i < 20; ++i) { values.push_back(random_below(rng, m)); }
      for (U128 v : values) {
        const Bytes16 bytes = be_bytes(v);
        expect_round_trips(config, bytes, bytes);
      }
    }
  }
}

TEST(Codec, RoundTripsEveryCheckCountCaseAndLayout) {
  std::mt19937_64 rng(4);
  const CodecConfig base = make(Level::kNumeric, Mode::kSealed, 128);
  std::vector<CodecConfig> layouts = {
      base,
      with_chunk_none(base),
      with_chunk_fixed(base, 4),
      with_chunk_fixed(base, 0),
      with_chunk_fixed(base, 1000),
      with_chunk_pattern(base, {3, 4, 3}),
      with_chunk_pattern(base, {}),
      with_separator(base, "_").value(),
      with_separator(base, " ").value(),
      with_separator(base, "\xE2\x82\xAC").value(),      // € (3 bytes)
      with_separator(base, "\xF0\x9F\x98\x80").value(),  // an emoji (4 bytes)
      with_separator(base, std::string_view("\0", 1)).value(),
  };
  for (const CodecConfig& layout : layouts) {
    for (uint64_t checks = 1; checks <= 8; ++checks) {
      for (const char* letter_case : {"upper", "lower"}) {
        const CodecConfig config =
            with_case(with_check_syllables(layout, checks), letter_case).value();
        const std::vector<uint8_t> data = random_bytes(rng, 16);
        const std::string word = encode_text(config, data);
        for (char c : word) {
          if (config.letter_case == LetterCase::kLower) {
            EXPECT_FALSE(c >= 'A' && c <= 'Z') << word;
          } else {
            EXPECT_FALSE(c >= 'a' && c <= 'z') << word;
          }
        }
        expect_round_trips(config, data, kept_bits(data, 128));
      }
    }
  }
}

TEST(Codec, DefaultShape) {
  const CodecConfig config = make();
  std::mt19937_64 rng(5);
  for (int i = 0; i < 50; ++i) {
    const std::string word = encode_text(config, random_bytes(rng, 16));
    const std::vector<std::string> groups = split(word, '-');
    ASSERT_EQ(groups.size(), 6u) << word;
    std::string data;
    for (size_t g = 0; g < 5; ++g) {
      EXPECT_FALSE(groups[g].empty()) << word;
      data += groups[g];
    }
    for (char c : word) { EXPECT_TRUE(c == '-' || (c >= 'A' && c <= 'Z')) << word; }
    // The groups hold exactly 14 syllables, the last part exactly one.
    NormalizedInput parsed;
    EXPECT_TRUE(normalize(0, data, 28, 0, &parsed)) << word;
    EXPECT_FALSE(normalize(0, data, 30, 0, &parsed)) << word;
    EXPECT_TRUE(normalize(0, groups[5], 0, 2, &parsed)) << word;
    EXPECT_FALSE(normalize(0, groups[5], 0, 4, &parsed)) << word;
  }
}

TEST(Codec, InputBytesThatCount) {
  std::mt19937_64 rng(6);
  // Width 64: only the first eight bytes count.
  const CodecConfig w64 = make(Level::kUniversal, Mode::kSealed, 64);
  std::vector<uint8_t> a = random_bytes(rng, 16);
  std::vector<uint8_t> b = a;
  for (size_t i = 8; i < 16; ++i) { b[i] = static_cast<uint8_t>(~b[i]); }
  const std::string word = encode_text(w64, a);
  EXPECT_EQ(encode_text(w64, b), word);
  Bytes16 expected{};
  std::copy(a.begin(), a.begin() + 8, expected.begin() + 8);
  EXPECT_EQ(decode_text(w64, word).value(), expected);

  // Width 20: three bytes, the top four bits dropped.
  const CodecConfig w20 = make(Level::kUniversal, Mode::kSealed, 20);
  const std::vector<uint8_t> low = {0x0A, 0xBC, 0xDE};
  const std::vector<uint8_t> high = {0xFA, 0xBC, 0xDE, 0x77};
  EXPECT_EQ(encode_text(w20, high), encode_text(w20, low));
  EXPECT_EQ(decode_text(w20, encode_text(w20, high)).value(), be_bytes(U128::from_u64(0x0ABCDE)));

  // A modulus takes the tail of the input.
  const CodecConfig mod = with_modulus(make(), U128::from_u64(60000)).value();
  const std::vector<uint8_t> tail = {0x01, 0x02};
  const std::vector<uint8_t> longer = {0xFF, 0x01, 0x02};
  EXPECT_EQ(encode_text(mod, longer), encode_text(mod, tail));
  EXPECT_EQ(decode_text(mod, encode_text(mod, longer)).value(), be_bytes(U128::from_u64(0x0102)));

  // Empty input is the value 0, like one or sixteen zero bytes.
  const CodecConfig config = make();
  const std::vector<uint8_t> one_zero(1, 0);
  const std::vector<uint8_t> zeros(16, 0);
  const std::string zero_word = encode_text(config, {});
  EXPECT_EQ(encode_text(config, one_zero), zero_word);
  EXPECT_EQ(encode_text(config, zeros), zero_word);
  EXPECT_EQ(decode_text(config, zero_word).value(), Bytes16{});
}

TEST(Codec, TimePrefixInOpenModeOnly) {
  std::mt19937_64 rng(7);
  // Versions 7, 6 and 1 at 2023-11-24T06:24:09.216Z, with random other bytes.
  for (const std::string head : {"018C000000007000", "1EE8A92138146000", "138140008A9211EE"}) {
    std::vector<uint8_t> uuid = random_bytes(rng, 16);
    for (size_t i = 0; i < 8; ++i) {
      uuid[i] = static_cast<uint8_t>(std::stoul(head.substr(2 * i, 2), nullptr, 16));
    }
    const CodecConfig open = make(Level::kKo, Mode::kOpen);
    const std::string word = encode_text(open, uuid);
    ASSERT_EQ(word.substr(0, 6), "BA-DA-") << word;
    EXPECT_EQ(split(word, '-').size(), 8u) << word;
    const Result<Bytes16> with_prefix = decode_text(open, word);
    const Result<Bytes16> without_prefix = decode_text(open, word.substr(6));
    ASSERT_TRUE(with_prefix.ok());
    ASSERT_TRUE(without_prefix.ok());
    EXPECT_EQ(with_prefix.value(), without_prefix.value());
    EXPECT_EQ(with_prefix.value(), kept_bits(uuid, 128));

    const std::string day =
        encode_text(with_timestamp_config(open, kDefaultEpochMs, "day").value(), uuid);
    EXPECT_EQ(day.substr(0, 6), "BE-DU-") << day;
    const std::string lower = encode_text(with_case(open, "lower").value(), uuid);
    EXPECT_EQ(lower.substr(0, 6), "BA-DA-") << lower;
    for (size_t i = 6; i < lower.size(); ++i) { EXPECT_FALSE(lower[i] >= 'A' && lower[i] <= 'Z'); }
    EXPECT_EQ(decode_text(open, lower).value(), with_prefix.value());
    // The prefix keeps its own hyphen; the configured separator follows it.
    EXPECT_EQ(encode_text(with_separator(open, "_").value(), uuid).substr(0, 6), "BA-DA_");

    // No prefix in the other modes, nor where byte 6 is zero fill.
    EXPECT_EQ(split(encode_text(make(Level::kKo, Mode::kSealed), uuid), '-').size(), 6u);
    EXPECT_EQ(split(encode_text(make(Level::kKo, Mode::kPlain), uuid), '-').size(), 6u);
    EXPECT_EQ(split(encode_text(make(Level::kKo, Mode::kOpen, 64), uuid), '-').size(), 6u);
  }
  // Other version nibbles: no prefix.
  std::vector<uint8_t> v4 = random_bytes(rng, 16);
  v4[6] = 0x4A;
  EXPECT_EQ(split(encode_text(make(Level::kUniversal, Mode::kOpen), v4), '-').size(), 6u);
  // Width 80: byte 6 of the block is the first input byte; its time field is zero fill.
  const std::vector<uint8_t> early = {0x7C, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  EXPECT_EQ(encode_text(make(Level::kUniversal, Mode::kOpen, 80), early).substr(0, 6), "BA-DA-");
}

TEST(Codec, DecodeErrorsCarryFixedTexts) {
  EXPECT_EQ(kNormalizationFailed.message, "input normalization failed");
  EXPECT_EQ(kKeyRequired.message, "key required for this mode");
  EXPECT_EQ(kRecoveryNotSupported.message,
            "recovery not supported in plain mode");
  EXPECT_EQ(kCheckFailed.message, "check verification failed \xE2\x80\x94 input may be corrupted");
  EXPECT_EQ(kCheckFailed.message.size(), 52u);

  const CodecConfig config = make();
  const std::string word = encode_text(config, kKey);
  for (const char* bad : {"", "123-456 --", "aaaa", "MAMA"}) {
    EXPECT_EQ(decode_text(config, bad).error(), kNormalizationFailed) << bad;
  }
  // A different check syllable never verifies: there is one right one.
  std::string changed = word;
  const size_t check_at = word.rfind('-') + 1;
  changed.replace(check_at, std::string::npos, word.substr(check_at) == "MA" ? "KA" : "MA");
  EXPECT_EQ(decode_text(config, changed).error(), kCheckFailed) << changed;

  // A keyed record whose key went missing: normalization first, then the key.
  CodecConfig keyless = config;
  keyless.key.reset();
  keyless.check_key.reset();
  EXPECT_EQ(decode_text(keyless, word).error(), kKeyRequired);
  EXPECT_EQ(decode_text(keyless, "12").error(), kNormalizationFailed);
  EXPECT_FALSE(encode(keyless, kKey).ok());
  EXPECT_EQ(encode(keyless, kKey).error().code, ErrorCode::kInternal);
}

TEST(Codec, ModulusRefusesValuesNotBelowIt) {
  const CodecConfig m1000 = with_modulus(make(), U128::from_u64(1000)).value();
  const std::vector<uint8_t> v999 = {0x03, 0xE7};
  const std::vector<uint8_t> v1000 = {0x03, 0xE8};
  const std::vector<uint8_t> v1023 = {0xFF, 0x03, 0xFF};  // the leading byte is not read
  EXPECT_TRUE(encode(m1000, v999).ok());
  for (const auto& data : {v1000, v1023}) {
    const Result<EncodedText> r = encode(m1000, data);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().code, ErrorCode::kValue);
    EXPECT_EQ(r.error().message, "value must be below the modulus");
  }
  const U128 big(uint64_t{1} << 63, 1);  // 2^127 + 1
  const CodecConfig mbig = with_modulus(make(), big).value();
  EXPECT_FALSE(encode(mbig, be_bytes(big)).ok());
  EXPECT_FALSE(encode(mbig, std::vector<uint8_t>(16, 0xFF)).ok());
  EXPECT_TRUE(encode(mbig, be_bytes(big - U128::from_u64(1))).ok());
}

// The cipher keeps the top bit of an odd bit count, so in a modulus just above a power of two
// some values with that bit set cannot be walked back into the domain. encode refuses them
// instead of writing a word that decodes to other bytes; every other value round-trips.
TEST(Codec, ModulusRefusesValuesItCannotEncipher) {
  const CodecConfig config =
      with_modulus(make(Level::kEn, Mode::kPlain), U128::from_u64(0x1010)).value();
  int refused = 0;
  for (uint64_t v = 0x1000; v < 0x1010; ++v) {
    const Bytes16 data = be_bytes(U128::from_u64(v));
    const Result<EncodedText> r = encode(config, data);
    if (!r.ok()) {
      EXPECT_EQ(r.error().code, ErrorCode::kValue);
      EXPECT_EQ(r.error().message, "value cannot be enciphered within the modulus");
      ++refused;
      continue;
    }
    const Result<Bytes16> back = decode_text(config, r.value().view());
    ASSERT_TRUE(back.ok()) << v;
    ASSERT_EQ(back.value(), data) << v;
  }
  EXPECT_GT(refused, 0);
  EXPECT_LT(refused, 16);
}

TEST(Codec, WordsOutsideTheDomainFailTheCheck) {
  // Data syllables with correct check syllables, spelling a value the domain cannot hold.
  for (Mode mode : kModes) {
    const CodecConfig full = make(Level::kEu, mode);
    const std::vector<uint8_t> max_units = units_of(U128::max(), 14);
    ASSERT_TRUE(decode_text(full, spell_with_check(full, max_units)).ok());
    std::vector<uint8_t> top(28);
    for (size_t k = 0; k < 14; ++k) {
      top[2 * k] = 34;
      top[2 * k + 1] = 0x80 | 19;
    }
    EXPECT_EQ(decode_text(full, spell_with_check(full, top)).error(), kCheckFailed);
    // 2^128 exactly: the digits of 2^128 - 1 plus one.
    std::vector<uint8_t> over = max_units;
    over[0] = static_cast<uint8_t>(over[0] + 1);
    ASSERT_LT(over[0], kNumOnsets);
    U128 ignored;
    ASSERT_FALSE(units_to_value_checked(over, &ignored));
    EXPECT_EQ(decode_text(full, spell_with_check(full, over)).error(), kCheckFailed);

    // Width 16: two syllables hold up to 489999, the domain only up to 65535.
    const CodecConfig w16 = make(Level::kUniversal, mode, 16);
    for (uint64_t v : {uint64_t{0}, uint64_t{65535}}) {
      EXPECT_TRUE(decode_text(w16, spell_with_check(w16, units_of(U128::from_u64(v), 2))).ok());
    }
    for (uint64_t v : {uint64_t{65536}, uint64_t{100000}, uint64_t{489999}}) {
      const std::string word = spell_with_check(w16, units_of(U128::from_u64(v), 2));
      EXPECT_EQ(decode_text(w16, word).error(), kCheckFailed) << v;
    }
    // A modulus: m - 1 is the largest value.
    const CodecConfig m1000 =
        with_modulus(make(Level::kUniversal, mode), U128::from_u64(1000)).value();
    EXPECT_TRUE(decode_text(m1000, spell_with_check(m1000, units_of(U128::from_u64(999), 2))).ok());
    EXPECT_EQ(decode_text(m1000, spell_with_check(m1000, units_of(U128::from_u64(1000), 2))).error(),
              kCheckFailed);
  }
}

TEST(Codec, ChosenCipherFollowsDomainChanges) {
  std::mt19937_64 rng(8);
  const std::vector<uint8_t> cipher_key = {'o', 't', 'h', 'e', 'r'};
  const CodecConfig base = make(Level::kEn, Mode::kSealed);
  for (const char* kind : {"feistel", "shuffle"}) {
    const CodecConfig chosen = with_cipher(base, kind, cipher_key).value();
    for (uint32_t width : {16u, 20u, 33u, 64u, 100u, 127u}) {
      // Width after cipher gives the words of cipher after width.
      const CodecConfig later = with_bit_width(chosen, width);
      const CodecConfig earlier =
          with_cipher(with_bit_width(base, width), kind, cipher_key).value();
      EXPECT_TRUE(later.explicit_cipher);
      EXPECT_EQ(later.tweak[2], width);
      for (int i = 0; i < 20; ++i) {
        const std::vector<uint8_t> data = random_bytes(rng, 16);
        expect_round_trips(later, data, kept_bits(data, width));
        EXPECT_EQ(encode_text(later, data), encode_text(earlier, data));
      }
    }
    for (U128 m : {U128::from_u64(3), U128::from_u64(700), U128::from_u64(1000), U128(1, 0),
                   U128(uint64_t{1} << 63, 1)}) {
      const CodecConfig later = with_modulus(chosen, m).value();
      const CodecConfig earlier =
          with_cipher(with_modulus(base, m).value(), kind, cipher_key).value();
      const bool small = m.hi() == 0 && m.lo() <= 1000;
      const uint64_t count = small ? m.lo() : 30;
      for (uint64_t i = 0; i < count; ++i) {
        const Bytes16 bytes = be_bytes(small ? U128::from_u64(i) : random_below(rng, m));
        expect_round_trips(later, bytes, bytes);
        EXPECT_EQ(encode_text(later, bytes), encode_text(earlier, bytes));
      }
    }
  }
  // A chain of domain changes around a chosen cipher: every value of the last domain.
  const CodecConfig chain =
      with_modulus(with_bit_width(with_cipher(with_modulus(base, U128::from_u64(1000)).value(),
                                              "feistel", cipher_key)
                                      .value(),
                                  24),
                   U128::from_u64(700))
          .value();
  std::vector<std::string> words;
  for (uint64_t v = 0; v < 700; ++v) {
    const Bytes16 bytes = be_bytes(U128::from_u64(v));
    expect_round_trips(chain, bytes, bytes);
    words.push_back(encode_text(chain, bytes));
  }
  std::sort(words.begin(), words.end());
  EXPECT_EQ(std::unique(words.begin(), words.end()), words.end());
  // The chosen key matters: the words differ from those of the default cipher.
  const CodecConfig default_cipher = with_modulus(base, U128::from_u64(700)).value();
  size_t same = 0;
  for (uint64_t v = 0; v < 700; ++v) {
    const Bytes16 bytes = be_bytes(U128::from_u64(v));
    if (encode_text(default_cipher, bytes) == encode_text(chain, bytes)) { ++same; }
  }
  EXPECT_LT(same, 20u);
}

}  // namespace
}  // namespace tavik::core
