// The bulk cipher and bulk HMAC against the single chain, on every lane path this processor
// can run, and on the 16-lane vector code compiled here without AVX-512 (the compiler splits
// its vectors), so that its logic is checked on any processor.

// The 16-lane vectors are wider than this file's instruction set; the functions that pass them
// by value have internal linkage, so the calling convention they would change is nobody's.
#pragma GCC diagnostic ignored "-Wpsabi"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "fpe/lane_kernels.h"
#include "fpe/lanes.h"
#include "fpe/lanes_vector.h"
#include "fpe/cipher_key.h"
#include "fpe/feistel.h"
#include "fpe/hmac.h"

namespace tavik::fpe {
namespace {

const std::vector<uint8_t> kKey = {'l', 'a', 'n', 'e', ' ', 'k', 'e', 'y'};

// One way of running the lanes: a LanePath, or the driver with the portable 16-lane kernel.
struct Way {
  std::string name;
  std::function<void(bool, const CipherKeyState&, std::span<const uint8_t>, std::span<const U128>,
                     std::span<U128>)>
      cipher;
  std::function<void(const HmacKey&, const uint8_t (*)[kSha256BlockLen], size_t, uint32_t (*)[8])>
      blocks;
};

std::vector<Way> ways() {
  std::vector<Way> all;
  for (LanePath path : kAllLanePaths) {
    if (!lane_path_available(path)) { continue; }
    all.push_back(Way{std::string(lane_path_name(path)),
                      [path](bool encrypt, const CipherKeyState& state,
                             std::span<const uint8_t> tweak, std::span<const U128> in,
                             std::span<U128> out) {
                        if (encrypt) {
                          feistel_encrypt_many(state, tweak, in, out, path);
                        } else {
                          feistel_decrypt_many(state, tweak, in, out, path);
                        }
                      },
                      [path](const HmacKey& key, const uint8_t (*blocks)[kSha256BlockLen],
                             size_t n, uint32_t (*macs)[8]) {
                        hmac_blocks_many(key, blocks, n, macs, path);
                      }});
  }
  using Generic = lanes::VectorKernel<16>;
  static constexpr lanes::LaneKernel kGeneric16 = {16, 1, Generic::round_heads,
                                                   Generic::hmac_blocks};
  all.push_back(Way{"generic16",
                    [](bool encrypt, const CipherKeyState& state, std::span<const uint8_t> tweak,
                       std::span<const U128> in, std::span<U128> out) {
                      lanes::run_feistel_many(kGeneric16, encrypt, state, tweak, in, out);
                    },
                    [](const HmacKey& key, const uint8_t (*blocks)[kSha256BlockLen], size_t n,
                       uint32_t (*macs)[8]) {
                      lanes::run_hmac_blocks_many(kGeneric16, key, blocks, n, macs);
                    }});
  return all;
}

// The codec's tweak: level, mode, domain bit count, 0.
std::array<uint8_t, 4> codec_tweak(uint8_t level, uint8_t mode, const CipherDomain& domain) {
  return {level, mode, static_cast<uint8_t>(domain.bit_count()), 0};
}

U128 random_below(std::mt19937_64& rng, U128 max_value) {
  const U128 v(rng(), rng());
  const uint32_t bits = max_value.bit_length();
  U128 masked = v & U128::low_mask(bits);
  return masked > max_value ? masked - max_value - U128::from_u64(1) : masked;
}

struct Expected {
  std::vector<U128> encrypted;
  std::vector<U128> decrypted;
};

Expected single_chain(const CipherKeyState& state, std::span<const uint8_t> tweak,
                      const std::vector<U128>& values) {
  const Feistel8 cipher(state);
  Expected e;
  for (const U128& v : values) {
    e.encrypted.push_back(cipher.encrypt(v, tweak));
    e.decrypted.push_back(cipher.decrypt(v, tweak));
  }
  return e;
}

void expect_matches(const Way& way, const CipherKeyState& state, std::span<const uint8_t> tweak,
                    const std::vector<U128>& values, const Expected& expected,
                    const std::string& label) {
  std::vector<U128> out(values.size());
  way.cipher(true, state, tweak, values, out);
  ASSERT_EQ(out, expected.encrypted) << way.name << " encrypt " << label;
  way.cipher(false, state, tweak, values, out);
  ASSERT_EQ(out, expected.decrypted) << way.name << " decrypt " << label;
}

TEST(Lanes, EveryWayMatchesTheSingleChainInEveryDomain) {
  const U128 one = U128::from_u64(1);
  const CipherDomain domains[] = {
      CipherDomain::bits(16),  CipherDomain::bits(17),
      CipherDomain::bits(64),  CipherDomain::bits(127),
      CipherDomain::bits(128), CipherDomain::mod(U128::from_u64(2)),
      CipherDomain::mod(U128::from_u64(3)), CipherDomain::mod(U128::from_u64(1000)),
      CipherDomain::mod(U128::from_u64(1000000)), CipherDomain::mod(U128::max())};
  std::mt19937_64 rng(7);
  for (const CipherDomain& domain : domains) {
    const CipherKeyState state = derive_cipher_key(kKey, domain);
    // 0, 1 and max_value, then random values: 37 in all, so lanes end unevenly.
    std::vector<U128> values = {U128(), one, state.max_value};
    while (values.size() < 37) { values.push_back(random_below(rng, state.max_value)); }
    for (const auto& tweak : {codec_tweak(0, 0, domain), codec_tweak(4, 2, domain)}) {
      const Expected expected = single_chain(state, tweak, values);
      for (const Way& way : ways()) {
        expect_matches(way, state, tweak, values, expected, std::to_string(domain.bit_count()));
      }
    }
  }
}

// 2^20 + 4112 has an odd bit length, and the cipher keeps the wider half's top bit: a value
// at or above 2^20 walks among the 2^20 values with that bit set, of which 4112 lie inside, so
// walks are long and some do not come back within 256 further passes. Their lanes keep
// walking while the others move on; the stop must fall where the single chain's does.
TEST(Lanes, LongWalksStopWhereTheSingleChainStops) {
  const CipherDomain domain = CipherDomain::mod(U128::from_u64((uint64_t{1} << 20) + 4112));
  const CipherKeyState state = derive_cipher_key(kKey, domain);
  const auto tweak = codec_tweak(1, 0, domain);
  std::vector<U128> values;
  for (uint64_t v = uint64_t{1} << 20; values.size() < 24; v += 171) {
    values.push_back(U128::from_u64(v));
  }
  for (uint64_t v = 0; values.size() < 40; v += 26000) { values.push_back(U128::from_u64(v)); }
  const Expected expected = single_chain(state, tweak, values);
  size_t stopped_outside = 0;
  for (const U128& v : expected.encrypted) { if (v > state.max_value) { ++stopped_outside; } }
  ASSERT_GT(stopped_outside, 0u);
  ASSERT_LT(stopped_outside, 24u);
  for (const Way& way : ways()) { expect_matches(way, state, tweak, values, expected, "walks"); }
}

TEST(Lanes, BatchSizesAroundTheLaneWidths) {
  std::mt19937_64 rng(11);
  for (const CipherDomain& domain :
       {CipherDomain::bits(128), CipherDomain::mod(U128::from_u64(1000))}) {
    const CipherKeyState state = derive_cipher_key(kKey, domain);
    const auto tweak = codec_tweak(2, 1, domain);
    std::vector<U128> values(1025);
    for (U128& v : values) { v = random_below(rng, state.max_value); }
    const Expected expected = single_chain(state, tweak, values);
    for (const Way& way : ways()) {
      for (size_t n : {0u, 1u, 3u, 4u, 5u, 15u, 16u, 17u, 1023u, 1024u, 1025u}) {
        const std::span<const U128> in(values.data(), n);
        // One value more than asked for: it must stay as it was.
        std::vector<U128> out(n + 1, U128(0xdead, 0xbeef));
        way.cipher(true, state, tweak, in, std::span<U128>(out.data(), n));
        ASSERT_EQ(out[n], U128(0xdead, 0xbeef)) << way.name << " " << n;
        ASSERT_TRUE(std::equal(out.begin(), out.begin() + static_cast<ptrdiff_t>(n),
                               expected.encrypted.begin()))
            << way.name << " " << n;
        // In place: out is in.
        way.cipher(false, state, tweak, std::span<const U128>(out.data(), n),
                   std::span<U128>(out.data(), n));
        ASSERT_TRUE(
            std::equal(out.begin(), out.begin() + static_cast<ptrdiff_t>(n), values.begin()))
            << way.name << " in place " << n;
      }
    }
  }
}

// Every tweak length moves the half within the first 16 bytes of the block (7 bytes leave it
// in the low word alone); longer tweaks take the single chain.
TEST(Lanes, EveryTweakLength) {
  const CipherKeyState state = derive_cipher_key(kKey, CipherDomain::bits(64));
  std::mt19937_64 rng(5);
  std::vector<U128> values(9);
  for (U128& v : values) { v = U128::from_u64(rng()); }
  const std::array<uint8_t, 12> bytes = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5,
                                          0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xAB};
  for (size_t len = 0; len <= bytes.size(); ++len) {
    const std::span<const uint8_t> tweak(bytes.data(), len);
    const Expected expected = single_chain(state, tweak, values);
    for (const Way& way : ways()) {
      expect_matches(way, state, tweak, values, expected, "tweak " + std::to_string(len));
    }
  }
}

TEST(Lanes, HmacBlocksMatchTheSingleHmac) {
  std::mt19937 rng(3);
  for (size_t key_len : {0u, 32u, 100u}) {
    std::vector<uint8_t> key_bytes(key_len);
    for (uint8_t& b : key_bytes) { b = static_cast<uint8_t>(rng()); }
    const HmacKey key = HmacKey::derive(key_bytes);
    std::vector<std::array<uint8_t, kSha256BlockLen>> blocks(35);
    for (auto& block : blocks) {
      for (uint8_t& b : block) { b = static_cast<uint8_t>(rng()); }
    }
    std::vector<std::array<uint32_t, 8>> expected(blocks.size());
    for (size_t i = 0; i < blocks.size(); ++i) {
      sha256_hmac_block(key.inner_state().h, key.outer_state().h, blocks[i].data(),
                        expected[i].data());
    }
    const auto* in = reinterpret_cast<const uint8_t (*)[kSha256BlockLen]>(blocks.data());
    for (const Way& way : ways()) {
      for (size_t n : {0u, 1u, 2u, 3u, 4u, 5u, 8u, 9u, 15u, 16u, 17u, 35u}) {
        std::vector<std::array<uint32_t, 8>> macs(n + 1, {1, 2, 3, 4, 5, 6, 7, 8});
        way.blocks(key, in, n, reinterpret_cast<uint32_t (*)[8]>(macs.data()));
        ASSERT_TRUE(std::equal(macs.begin(), macs.begin() + static_cast<ptrdiff_t>(n),
                               expected.begin()))
            << way.name << " " << key_len << " " << n;
        ASSERT_EQ(macs[n], (std::array<uint32_t, 8>{1, 2, 3, 4, 5, 6, 7, 8}))
            << way.name << " " << n;
      }
    }
  }
}

TEST(LanePaths, TheChosenPathRunsHereAndTheOthersFallBackToIt) {
  EXPECT_TRUE(lane_path_available(lane_path()));
  EXPECT_TRUE(lane_path_available(LanePath::kSingle));
  // A path this processor lacks is replaced, not run.
  const CipherKeyState state = derive_cipher_key(kKey, CipherDomain::bits(128));
  const std::array<uint8_t, 4> tweak = {0, 0, 128, 0};
  const std::vector<U128> values = {U128(1, 2), U128(3, 4), U128(5, 6)};
  const Expected expected = single_chain(state, tweak, values);
  for (LanePath path : kAllLanePaths) {
    std::vector<U128> out(values.size());
    feistel_encrypt_many(state, tweak, values, out, path);
    EXPECT_EQ(out, expected.encrypted) << lane_path_name(path);
  }
}

}  // namespace
}  // namespace tavik::fpe
