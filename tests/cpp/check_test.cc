#include "core/check.h"
#include "core/crc_clmul.h"
#include "core/render.h"
#include "fpe/cpu.h"

#include <gtest/gtest.h>
#include <openssl/hmac.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace tavik::core {
namespace {

using Units = std::vector<uint8_t>;

std::span<const uint8_t> bytes_of(std::string_view text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

Units plain(const Units& data, size_t count) {
  Units out(2 * count);
  EXPECT_EQ(plain_check_units(data, count, out.data()), out.size());
  return out;
}

TEST(Check, Crc32) {
  EXPECT_EQ(crc32(bytes_of("123456789")), 0xCBF43926u);
  EXPECT_EQ(crc32(bytes_of("ma")), 0xAB3F56DBu);
  EXPECT_EQ(crc32({}), 0u);
}

TEST(Check, PlainUnitsAreDigitsOfTheCrc) {
  // "ma": CRC 0xAB3F56DB, spelled two frar flar ha and then ma.
  const Units ma = {0x00, 0x80};
  EXPECT_EQ(plain(ma, 8), (Units{0x22, 0x83, 0x13, 0x87, 0x12, 0x87, 0x08, 0x80, 0x00, 0x80, 0x00,
                                 0x80, 0x00, 0x80, 0x00, 0x80}));
  EXPECT_EQ(plain(ma, 1), (Units{0x22, 0x83}));
  EXPECT_EQ(plain({}, 3), (Units{0x00, 0x80, 0x00, 0x80, 0x00, 0x80}));
  // Out-of-range units add nothing to the text.
  EXPECT_EQ(plain({0x00, 35, 0x80, 0x94, 0x7F}, 4), plain(ma, 4));
  EXPECT_EQ(plain(ma, 0), Units{});
  // Data units longer than one internal slice of text still give the CRC of the whole text.
  Units many;
  std::string many_text;
  for (int i = 0; i < 40; ++i) {
    many.insert(many.end(), {12, 0x8D, 13, 0x8A});
    many_text += "virzer";
  }
  const uint32_t crc = crc32(bytes_of(many_text));
  EXPECT_EQ(plain(many, 1),
            (Units{static_cast<uint8_t>(crc % 35), static_cast<uint8_t>(0x80 | (crc / 35 % 20))}));
}

TEST(Check, KeyedUnitsComeFromTheHmacOfTheText) {
  const Units key = {'s', 'e', 'c', 'r', 'e', 't'};
  const fpe::HmacKey hmac = fpe::HmacKey::derive(key);
  // The worked example: units 12 8D 13 8A 02 80 00 80 spell "virzerjama".
  const Units data = {12, 0x8D, 13, 0x8A, 2, 0x80, 0, 0x80};
  uint8_t digest[32];
  unsigned int len = 0;
  const std::string_view text = "virzerjama";
  HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
       reinterpret_cast<const uint8_t*>(text.data()), text.size(), digest, &len);
  Units expected;
  for (size_t k = 0; k < 8; ++k) {
    const uint8_t* d = digest + 4 * k;
    expected.push_back(static_cast<uint8_t>(((d[0] << 8) | d[1]) % 35));
    expected.push_back(static_cast<uint8_t>(0x80 | (((d[2] << 8) | d[3]) % 20)));
  }

  Units out(kMaxCheckUnits, 0xEE);
  EXPECT_EQ(keyed_check_units(hmac, data, 9, out.data()), 16u);  // capped at 8 syllables
  EXPECT_EQ(out, expected);
  Units one(2);
  EXPECT_EQ(compute_check_units(Mode::kOpen, &hmac, data, 1, one.data()), 2u);
  EXPECT_EQ(one, Units(expected.begin(), expected.begin() + 2));
  EXPECT_EQ(keyed_check_units(hmac, data, 0, out.data()), 0u);
}

// The bulk path's plain check digits, from words of digits four at a time (with a short last
// group), are those of the units; the carry-less CRC they use where the processor has it is the
// table CRC of its block, leading zeros included.
TEST(Check, PlainDigitsOfManyWordsFromDigits) {
  std::mt19937_64 rng(47);
  using Word = std::array<uint16_t, kMaxDataSyllables>;
  for (size_t n = 0; n <= kMaxDataSyllables; ++n) {
    std::vector<Word> words(1 + rng() % 9);
    for (size_t i = 0; i < words.size(); ++i) {
      for (uint16_t& d : words[i]) {
        d = static_cast<uint16_t>(i == 0 ? kSyllableBase - 1 : rng() % kSyllableBase);
      }
    }
    std::vector<std::array<uint16_t, kMaxCheckSyllables>> digits(words.size());
    plain_check_digits(words, n, kMaxCheckSyllables, digits.data());
    for (size_t i = 0; i < words.size(); ++i) {
      Units units(2 * n);
      digits_to_units({words[i].data(), n}, units.data());
      Units expected(kMaxCheckUnits);
      plain_check_units(units, kMaxCheckSyllables, expected.data());
      for (size_t k = 0; k < kMaxCheckSyllables; ++k) {
        ASSERT_EQ(digits[i][k], syllable_digit(expected[2 * k], expected[2 * k + 1]))
            << "n " << n << ", word " << i << " of " << words.size();
      }
    }
  }
#if defined(__x86_64__)
  if (!fpe::cpu_features().pclmul) { return; }
  for (int round = 0; round < 2000; ++round) {
    uint8_t block[64] = {};
    const size_t len = static_cast<size_t>(round) % 65;
    for (size_t i = 64 - len; i < 64; ++i) { block[i] = static_cast<uint8_t>(rng()); }
    // The register from 0: the CRC with the initial and final XOR undone, by linearity.
    const uint32_t from_zero = crc32({block, 64}) ^ crc32(Units(64, 0));
    ASSERT_EQ(crc32_register_clmul64(block), from_zero) << round;
  }
#endif
}

// Encode lays the check block out from the digits of the data syllables and runs the digest in
// steps around other work; block and check syllables must be those of the units.
TEST(Check, KeyedDigestInStepsFromDigits) {
  const fpe::HmacKey hmac = fpe::HmacKey::derive(Units{'k', 'e', 'y'});
  std::mt19937_64 rng(43);
  for (int round = 0; round < 2000; ++round) {
    const size_t n = round % 3 == 0 ? kMaxDataSyllables : 1 + rng() % kMaxDataSyllables;
    std::vector<uint16_t> digits(n);
    for (uint16_t& d : digits) { d = static_cast<uint16_t>(rng() % kSyllableBase); }
    if (round == 1) { std::fill(digits.begin(), digits.end(), kSyllableBase - 1); }  // widest
    Units units(2 * n);
    digits_to_units(digits, units.data());
    uint8_t from_units[fpe::kSha256BlockLen];
    uint8_t from_digits[fpe::kSha256BlockLen];
    const bool fits = layout_check_block(units, from_units);
    ASSERT_EQ(layout_digits_check_block(digits, from_digits), fits) << round;
    if (!fits) { continue; }  // 14 syllables of four letters: 56, one letter too many
    ASSERT_EQ(0, std::memcmp(from_units, from_digits, sizeof(from_units))) << round;
    KeyedCheckDigest digest(hmac);
    digest.start(from_digits);
    digest.outer();
    Units expected(kMaxCheckUnits);
    keyed_check_units(hmac, units, kMaxCheckSyllables, expected.data());
    for (size_t k = 0; k < kMaxCheckSyllables; ++k) {
      ASSERT_EQ(digest.syllable_digit(k), syllable_digit(expected[2 * k], expected[2 * k + 1]));
    }
  }
}

TEST(Check, Verify) {
  const Units key = {'k'};
  const fpe::HmacKey hmac = fpe::HmacKey::derive(key);
  const Units data = {3, 0x81, 20, 0x93};
  Units check(kMaxCheckUnits);
  ASSERT_EQ(keyed_check_units(hmac, data, 8, check.data()), 16u);

  for (Mode mode : {Mode::kSealed, Mode::kOpen}) {
    EXPECT_TRUE(verify_check(mode, &hmac, data, check));
    EXPECT_TRUE(verify_check(mode, &hmac, data, std::span(check).first(2)));
    EXPECT_TRUE(verify_check(mode, &hmac, data, {}));  // an empty run verifies
    EXPECT_FALSE(verify_check(mode, &hmac, data, std::span(check).first(3)));  // odd
    Units nine = check;
    nine.insert(nine.end(), {0x00, 0x80});
    EXPECT_FALSE(verify_check(mode, &hmac, data, nine));  // 9 syllables never verify
    Units wrong = check;
    wrong[15] ^= 1;
    EXPECT_FALSE(verify_check(mode, &hmac, data, wrong));
    EXPECT_FALSE(verify_check(mode, nullptr, data, std::span(check).first(2)));
  }

  // Plain mode: any received count, by syllable; a long run of "ma" tails stays cheap.
  const Units ma = {0x00, 0x80};
  Units received = plain(ma, 1000);
  EXPECT_TRUE(verify_check(Mode::kPlain, nullptr, ma, received));
  EXPECT_TRUE(verify_check(Mode::kPlain, &hmac, ma, std::span(received).first(2)));
  received[1999] = 0x81;
  EXPECT_FALSE(verify_check(Mode::kPlain, nullptr, ma, received));
  EXPECT_FALSE(verify_check(Mode::kPlain, nullptr, ma, std::span(received).first(7)));
}

}  // namespace
}  // namespace tavik::core
