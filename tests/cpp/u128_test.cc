#include "base/u128.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace tavik::fpe {
namespace {

// Random words mixed with the edge words where carries, borrows and shifts go wrong.
std::vector<U128> sample_values() {
  const uint64_t edges[] = {
      0, 1, 2, 0x7fffffffffffffff, 0x8000000000000000, ~uint64_t{0}, ~uint64_t{0} - 1};
  std::vector<U128> values;
  for (uint64_t hi : edges) {
    for (uint64_t lo : edges) { values.emplace_back(hi, lo); }
  }
  std::mt19937_64 rng(12345);
  for (int i = 0; i < 200; ++i) { values.emplace_back(rng(), rng()); }
  for (int i = 0; i < 50; ++i) { values.emplace_back(0, rng() >> (rng() % 64)); }
  return values;
}

TEST(U128, ArithmeticMatchesNativeInt128) {
  const std::vector<U128> values = sample_values();
  for (const U128 a : values) {
    const NativeU128 na = a.native();
    EXPECT_EQ(U128::from_native(na), a);
    uint32_t bits = 0;
    for (NativeU128 x = na; x != 0; x >>= 1) { ++bits; }
    EXPECT_EQ(a.bit_length(), bits);
    for (uint32_t n = 0; n <= 130; ++n) {
      const NativeU128 left = n >= 128 ? 0 : na << n;
      const NativeU128 right = n >= 128 ? 0 : na >> n;
      ASSERT_EQ((a << n).native(), left) << n;
      ASSERT_EQ((a >> n).native(), right) << n;
    }
    for (size_t j = 0; j < values.size(); j += 7) {
      const U128 b = values[j];
      const NativeU128 nb = b.native();
      EXPECT_EQ((a + b).native(), static_cast<NativeU128>(na + nb));
      EXPECT_EQ((a - b).native(), static_cast<NativeU128>(na - nb));
      EXPECT_EQ((a * b).native(), static_cast<NativeU128>(na * nb));
      EXPECT_EQ((a ^ b).native(), na ^ nb);
      EXPECT_EQ(a < b, na < nb);
      EXPECT_EQ(a == b, na == nb);
      if (b.lo() != 0) {
        uint64_t rem = 0;
        const U128 q = a.divmod_u64(b.lo(), &rem);
        EXPECT_EQ(q.native(), na / b.lo());
        EXPECT_EQ(rem, static_cast<uint64_t>(na % b.lo()));
      }
    }
  }
}

TEST(U128, ByteOrderAndMasks) {
  uint8_t bytes[16];
  for (uint8_t i = 0; i < 16; ++i) { bytes[i] = i; }
  const U128 v = U128::from_be_bytes(bytes);
  EXPECT_EQ(v, U128(0x0001020304050607, 0x08090a0b0c0d0e0f));
  uint8_t back[16];
  v.to_be_bytes(back);
  EXPECT_EQ(std::vector<uint8_t>(back, back + 16), std::vector<uint8_t>(bytes, bytes + 16));

  for (uint32_t n = 0; n <= 130; ++n) {
    const NativeU128 expected = n >= 128 ? ~NativeU128{0} : (NativeU128{1} << n) - 1;
    EXPECT_EQ(U128::low_mask(n).native(), expected) << n;
  }
  // The constant-evaluated division path agrees with the run-time one.
  static constexpr uint64_t kDivisor = 700;
  static constexpr U128 kValue(0x0123456789abcdef, 0xfedcba9876543210);
  constexpr uint64_t kRem = [] {
    uint64_t r = 0;
    (void)kValue.divmod_u64(kDivisor, &r);
    return r;
  }();
  uint64_t rem = 0;
  kValue.divmod_u64(kDivisor, &rem);
  EXPECT_EQ(rem, kRem);
}

}  // namespace
}  // namespace tavik::fpe
