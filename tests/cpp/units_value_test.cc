// units_to_value_checked gathers digits in 64-bit chunks; it must agree with digit-by-digit
// 128-bit arithmetic, overflow included, for any units (out-of-range ones too) and lengths.

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "core/render.h"

namespace tavik::core {
namespace {

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

}  // namespace
}  // namespace tavik::core
