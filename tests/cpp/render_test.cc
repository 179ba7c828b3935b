#include "core/render.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "fpe/cpu.h"

namespace tavik::core {
namespace {


std::string render(std::span<const uint8_t> units, Level level, LetterCase letter_case) {
  std::string out;
  for (uint8_t unit : units) {
    append_cased(out, render_unit(unit, static_cast<uint8_t>(level)), letter_case);
  }
  return out;
}

std::vector<uint8_t> units_of(U128 value, size_t num_syllables) {
  std::vector<uint8_t> units(2 * num_syllables);
  value_to_units(value, num_syllables, units.data());
  return units;
}

std::vector<uint8_t> repeated(uint8_t onset, uint8_t nucleus, size_t num_syllables) {
  std::vector<uint8_t> units;
  for (size_t k = 0; k < num_syllables; ++k) {
    units.push_back(onset);
    units.push_back(static_cast<uint8_t>(kNucleusFlag | nucleus));
  }
  return units;
}

NativeU128 power_of_700(size_t n) {
  NativeU128 p = 1;
  for (size_t k = 0; k < n; ++k) { p *= kSyllableBase; }
  return p;
}

TEST(Render, WorkedExampleAtEveryLevelAndCase) {
  const std::vector<uint8_t> units = units_of(U128::from_u64(1234567), 4);
  EXPECT_EQ(units, (std::vector<uint8_t>{12, 0x8D, 13, 0x8A, 2, 0x80, 0, 0x80}));

  const std::array<std::pair<Level, std::string>, 5> expected = {{
      {Level::kUniversal, "VIRZERJAMA"},
      {Level::kEu, "WIRDERFAMA"},
      {Level::kEn, "VIRZERFAMA"},
      {Level::kNumeric, "VIRZERTASA"},
      {Level::kKo, "YIRCERFABA"},
  }};
  for (const auto& [level, upper] : expected) {
    EXPECT_EQ(render(units, level, LetterCase::kUpper), upper);
    std::string lower = upper;
    for (char& c : lower) { c = static_cast<char>(c - 'A' + 'a'); }
    EXPECT_EQ(render(units, level, LetterCase::kLower), lower);
  }
  // The canonical text is the universal spelling in lower case, whatever the level.
  EXPECT_EQ(canonical_text(units), "virzerjama");
  char buffer[2 * 8];
  ASSERT_EQ(canonical_text(units, buffer), 10u);
  EXPECT_EQ(std::string(buffer, 10), "virzerjama");
  EXPECT_EQ(units_to_value(units), U128::from_u64(1234567));
}

TEST(Render, ExtremeDigits) {
  // Code value 0: the first onset and the first nucleus everywhere.
  const std::vector<uint8_t> zero = units_of(U128(), 3);
  EXPECT_EQ(zero, repeated(0, 0, 3));
  EXPECT_EQ(render(zero, Level::kUniversal, LetterCase::kUpper), "MAMAMA");
  EXPECT_EQ(render(zero, Level::kUniversal, LetterCase::kLower), "mamama");
  EXPECT_EQ(render(zero, Level::kNumeric, LetterCase::kUpper), "SASASA");
  EXPECT_EQ(render(zero, Level::kKo, LetterCase::kUpper), "BABABA");

  // Digit 699: onset 34, nucleus 19.
  const std::vector<uint8_t> top = units_of(U128::from_u64(699), 1);
  EXPECT_EQ(top, (std::vector<uint8_t>{34, 0x80 | 19}));
  EXPECT_EQ(render(top, Level::kUniversal, LetterCase::kUpper), "TWUR");
  EXPECT_EQ(render(top, Level::kEu, LetterCase::kUpper), "TWUR");
  EXPECT_EQ(render(top, Level::kKo, LetterCase::kUpper), "TWUR");
  EXPECT_EQ(render(top, Level::kEn, LetterCase::kUpper), "TRUR");
  EXPECT_EQ(render(top, Level::kNumeric, LetterCase::kUpper), "SRUR");
  EXPECT_EQ(canonical_text(top), "twur");

  // Out-of-range units and levels spell nothing, also in the canonical text.
  EXPECT_EQ(render_unit(35, 0), "");
  EXPECT_EQ(render_unit(0x80 | 20, 0), "");
  EXPECT_EQ(render_unit(0xFF, 0), "");
  EXPECT_EQ(render_unit(0, 5), "");
  const std::vector<uint8_t> mixed = {35, 0x80, 0, 0x94, 0, 0x80};
  EXPECT_EQ(canonical_text(mixed), "amma");
}

// Where the processor has AVX-512 VBMI2 the check block's text is spelled in vector registers:
// every unit byte, in range or not, at every count up to 32, as the letter-by-letter spelling.
TEST(Render, CanonicalTextInVectorsAsLetterByLetter) {
#if defined(__x86_64__)
  if (!fpe::cpu_features().avx512vbmi2) { GTEST_SKIP() << "no AVX-512 VBMI2"; }
  std::mt19937 rng(41);
  for (int round = 0; round < 2000; ++round) {
    const size_t num_units = static_cast<size_t>(round % 33);
    std::vector<uint8_t> units(num_units);
    for (uint8_t& unit : units) {
      // Mostly units of words, now and then any byte.
      unit = rng() % 8 == 0 ? static_cast<uint8_t>(rng())
             : rng() % 2 == 0 ? static_cast<uint8_t>(rng() % kNumOnsets)
                              : static_cast<uint8_t>(kNucleusFlag | (rng() % kNumNuclei));
    }
    alignas(64) uint8_t out[64];
    const size_t len = canonical_text_vbmi2(unit_letter_tables(), units.data(), num_units, out);
    const std::string want = canonical_text(units);
    ASSERT_EQ(std::string(reinterpret_cast<const char*>(out), len), want);
    for (size_t i = len; i < 64; ++i) { ASSERT_EQ(out[i], 0) << i; }
  }
#else
  GTEST_SKIP() << "x86-64 only";
#endif
}

// Where the processor has AVX-512 DQ, encode_many works out the digits of eight values at a
// time, dividing by 700^3 with quotients estimated in double precision and corrected: values
// whose steps of division land just beside a multiple of 700^3, where an estimate is off by
// one, or at the largest quotient a step can have, give the digits of the scalar code.
TEST(Render, DigitsOfEightValuesAtOnceAsOneByOne) {
#if defined(__x86_64__)
  if (!fpe::cpu_features().avx512dq) { GTEST_SKIP() << "no AVX-512 DQ"; }
  constexpr NativeU128 kDivisor = 343000000;  // 700^3
  std::mt19937_64 rng(43);
  std::vector<U128> values = {U128(), U128::max()};
  for (int i = 0; i < 4000; ++i) {
    // A multiple of 700^3 near the top of a piece's range, and just beside it, shifted to
    // every 32-bit step; and any value.
    const NativeU128 quotient = (NativeU128{rng() >> 32} << (32 * (i % 3))) | (rng() >> 32);
    const NativeU128 near = quotient * kDivisor + static_cast<NativeU128>(i % 5) - 2;
    values.push_back(U128::from_native(near << (32 * (i % 2))));
    values.push_back(U128(rng(), rng()));
  }
  for (NativeU128 j = 0; j < 64; ++j) {  // quotients of a step up to 2^32 - 1
    const NativeU128 below = (NativeU128{1} << 96) - 1 - j;
    values.push_back(U128::from_native(((kDivisor - 1 - j) << 96) | below));
  }
  std::vector<std::array<uint16_t, kMaxDataSyllables>> digits(values.size());
  values_to_digits_avx512(values.data(), values.size(), digits.data());
  for (size_t i = 0; i < values.size(); ++i) {
    std::array<uint16_t, kMaxDataSyllables> want{};
    value_to_digits(values[i], kMaxDataSyllables, want.data());
    ASSERT_EQ(digits[i], want) << "value " << i;
  }
#else
  GTEST_SKIP() << "x86-64 only";
#endif
}

TEST(SyllableCount, SmallestPowerOf700ThatHoldsTheWidth) {
  EXPECT_EQ(syllable_count(16), 2u);
  EXPECT_EQ(syllable_count(18), 2u);
  EXPECT_EQ(syllable_count(19), 3u);  // 700^2 = 490000 < 2^19
  EXPECT_EQ(syllable_count(32), 4u);
  EXPECT_EQ(syllable_count(64), 7u);
  EXPECT_EQ(syllable_count(127), 14u);
  EXPECT_EQ(syllable_count(128), 14u);
  EXPECT_EQ(syllable_count(0), 1u);
  EXPECT_EQ(syllable_count(129), 14u);
  EXPECT_EQ(syllable_count(UINT32_MAX), 14u);

  // Every boundary of the table: the last width of each count.
  const std::array<uint32_t, 14> last_width = {9,  18, 28, 37,  47,  56,  66,
                                               75, 85, 94, 103, 113, 122, 128};
  uint32_t first = 1;
  for (size_t n = 1; n <= last_width.size(); ++n) {
    for (uint32_t bits = first; bits <= last_width[n - 1]; ++bits) {
      ASSERT_EQ(syllable_count(bits), n) << "bits " << bits;
    }
    first = last_width[n - 1] + 1;
  }
  // Cross-check against the definition where 2^bits fits the native type.
  for (uint32_t bits = 1; bits < 128; ++bits) {
    const uint32_t n = syllable_count(bits);
    const NativeU128 limit = NativeU128{1} << bits;
    EXPECT_GE(power_of_700(n), limit) << bits;
    EXPECT_LT(power_of_700(n - 1), limit) << bits;
  }
}

TEST(UnitsToValue, RoundTripsEveryLength) {
  std::mt19937_64 rng(7);
  for (size_t n = 1; n <= 14; ++n) {
    // 700^14 exceeds 2^128, so at 14 syllables every 128-bit value is below the bound.
    const NativeU128 bound = n < 14 ? power_of_700(n) : 0;
    std::vector<NativeU128> values = {0};
    if (bound != 0) { values.push_back(bound - 1); }
    for (int i = 0; i < 300; ++i) {
      const NativeU128 r = (NativeU128{rng()} << 64) | rng();
      values.push_back(bound != 0 ? r % bound : r);
    }
    for (NativeU128 v : values) {
      const std::vector<uint8_t> units = units_of(U128::from_native(v), n);
      for (size_t k = 0; k < n; ++k) {
        ASSERT_LT(units[2 * k], kNumOnsets);
        ASSERT_EQ(units[2 * k + 1] & kNucleusFlag, kNucleusFlag);
        ASSERT_LT(units[2 * k + 1] & 0x7F, kNumNuclei);
      }
      ASSERT_EQ(units_to_value(units).native(), v) << "n " << n;
      U128 checked;
      ASSERT_TRUE(units_to_value_checked(units, &checked));
      ASSERT_EQ(checked.native(), v);
    }
  }
  // Digits above the n-th are dropped.
  EXPECT_EQ(units_to_value(units_of(U128::from_u64(700 * 700 + 5), 2)), U128::from_u64(5));
}

TEST(UnitsToValue, CheckedRefusesValuesOf2To128) {
  // Fourteen syllables of digit 699 spell 700^14 - 1, far above 2^128.
  const std::vector<uint8_t> top = repeated(34, 19, 14);
  U128 out(1, 2);
  EXPECT_FALSE(units_to_value_checked(top, &out));
  EXPECT_EQ(out, U128(1, 2));  // left alone on failure
  EXPECT_EQ(units_to_value(top).native(), static_cast<NativeU128>(power_of_700(13) * 700 - 1));

  // 2^128 - 1 is the largest value that passes; adding one in base 700 gives 2^128.
  std::vector<uint8_t> units = units_of(U128::max(), 14);
  ASSERT_TRUE(units_to_value_checked(units, &out));
  EXPECT_EQ(out, U128::max());
  for (size_t k = 0; k < 14; ++k) {
    const size_t digit = units[2 * k] + kNumOnsets * (units[2 * k + 1] & 0x7Fu);
    const size_t next = digit == 699 ? 0 : digit + 1;
    units[2 * k] = static_cast<uint8_t>(next % kNumOnsets);
    units[2 * k + 1] = static_cast<uint8_t>(kNucleusFlag | (next / kNumOnsets));
    if (next != 0) { break; }  // no carry left
  }
  EXPECT_FALSE(units_to_value_checked(units, &out));
  EXPECT_EQ(units_to_value(units), U128());  // wraps to 0

  // A single high digit is enough to overflow.
  std::vector<uint8_t> high = repeated(0, 0, 14);
  high[26] = 34;
  high[27] = 0x80 | 19;
  EXPECT_FALSE(units_to_value_checked(high, &out));
}

TEST(AppendCased, ChangesOnlyAsciiLetters) {
  // Every byte value in one long piece (longer than the string form's staging buffer), after
  // text already in the output: only a-z or A-Z change.
  std::string all;
  for (int c = 1; c < 256; ++c) { all.push_back(static_cast<char>(c)); }
  std::string up = "x";
  std::string down = "X";
  append_cased(up, all, LetterCase::kUpper);
  append_cased(down, all, LetterCase::kLower);
  char buffer[256];
  char* end = append_cased(buffer, all, LetterCase::kUpper);
  EXPECT_EQ(std::string(buffer, end), up.substr(1));
  ASSERT_EQ(up.size(), all.size() + 1);
  ASSERT_EQ(down.size(), all.size() + 1);
  for (size_t i = 0; i < all.size(); ++i) {
    const char c = all[i];
    EXPECT_EQ(up[i + 1], (c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c) << i;
    EXPECT_EQ(down[i + 1], (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c) << i;
  }
}

// units_to_value_checked gathers digits in 64-bit chunks; it must agree with digit-by-digit
// 128-bit arithmetic, overflow included, for any units (out-of-range ones too) and lengths.
bool reference_value(const std::vector<uint8_t>& units, NativeU128* out) {
  NativeU128 value = 0;
  const size_t n = (units.size() + 1) / 2;
  for (size_t k = n; k-- > 0;) {
    const uint64_t onset = units[2 * k];
    const uint64_t nucleus = 2 * k + 1 < units.size() ? (units[2 * k + 1] & 0x7Fu) : 0;
    if (__builtin_mul_overflow(value, NativeU128{700}, &value) ||
        __builtin_add_overflow(value, NativeU128{onset + 35 * nucleus}, &value)) {
      return false;
    }
  }
  *out = value;
  return true;
}

TEST(UnitsToValue, ChunkedAgreesWithDigitByDigit) {
  std::mt19937 rng(23);
  size_t num_overflows = 0;
  for (size_t len = 0; len <= 40; ++len) {
    for (int i = 0; i < 300; ++i) {
      std::vector<uint8_t> units(len);
      const bool wild = i % 3 == 0;  // any byte, not only valid units
      for (size_t k = 0; k < len; ++k) {
        const uint32_t r = static_cast<uint32_t>(rng());
        units[k] = wild         ? static_cast<uint8_t>(r)
                   : k % 2 == 0 ? static_cast<uint8_t>(r % 35)
                                : static_cast<uint8_t>(0x80 | (r % 20));
      }
      NativeU128 expected = 0;
      const bool fits = reference_value(units, &expected);
      U128 got;
      ASSERT_EQ(units_to_value_checked(units, &got), fits) << len;
      if (fits) {
        ASSERT_EQ(got.native(), expected) << len;
      } else {
        ++num_overflows;
      }
    }
  }
  EXPECT_GT(num_overflows, 0u);
  // The largest value: 2^128 - 1 fits, one more does not.
  uint8_t units[28];
  value_to_units(U128::max(), 14, units);
  U128 got;
  ASSERT_TRUE(units_to_value_checked(units, &got));
  EXPECT_EQ(got, U128::max());
  units[0] = static_cast<uint8_t>(units[0] + 1);  // the low onset of 2^128 - 1 is below 34
  EXPECT_FALSE(units_to_value_checked(units, &got));
}

// Fourteen syllables, the width of every 128-bit word, are read in three chunks whose sum is
// checked on 64-bit words; values around 2^128, and raw digits that carry, must come out as
// digit-by-digit arithmetic says.
TEST(UnitsToValue, FourteenSyllablesAroundTwoTo128) {
  std::mt19937_64 rng(31);
  for (int i = 0; i < 20000; ++i) {
    const U128 below_max = U128::max() - U128(i % 2 == 0 ? 0 : rng() >> 20, rng() % 4096);
    std::vector<uint8_t> units(2 * kMaxDataSyllables);
    value_to_units(i % 4 == 3 ? U128(rng(), rng()) : below_max, kMaxDataSyllables, units.data());
    // Raise a low digit by up to 4,000 with an out-of-range onset or nucleus: the sum carries.
    const size_t k = static_cast<size_t>(rng() % 3);
    units[2 * k] = static_cast<uint8_t>(units[2 * k] + rng() % 120);
    units[2 * k + 1] = static_cast<uint8_t>(units[2 * k + 1] | (rng() % 2 == 0 ? 0 : 0x60));
    NativeU128 expected = 0;
    const bool fits = reference_value(units, &expected);
    U128 got;
    ASSERT_EQ(units_to_value_checked(units, &got), fits) << i;
    if (fits) { ASSERT_EQ(got.native(), expected) << i; }
  }
}

}  // namespace
}  // namespace tavik::core
