#include <gtest/gtest.h>
#include <openssl/hmac.h>

#include <array>
#include <cstring>
#include <random>
#include <set>
#include <string_view>
#include <vector>

#include "fpe/backend.h"
#include "fpe/cipher.h"
#include "fpe/feistel.h"
#include "fpe/hmac.h"
#include "tests/support/backend_swap.h"
#include "tests/support/openssl_sha256.h"

namespace tavik::fpe {
namespace {

using openssl_reference::sha256_compress_openssl;
using openssl_reference::sha256_hmac_block_openssl;

using Bytes = std::vector<uint8_t>;

const Bytes kKey = {'t', 'e', 's', 't', ' ', 'k', 'e', 'y'};
const std::array<uint8_t, 4> kTweak = {0, 0, 128, 0};

U128 pow2(uint32_t n) { return U128::from_u64(1) << n; }

TEST(Feistel, DomainParameters) {
  struct Row {
    CipherDomain domain;
    uint32_t half_bits;
    uint64_t half_mask;
    U128 max_value;
    uint32_t bit_count;
  };
  const uint64_t kAll = ~uint64_t{0};
  const Row rows[] = {
      {CipherDomain::bits(16), 8, 0xFF, pow2(16) - U128::from_u64(1), 16},
      {CipherDomain::bits(17), 8, 0xFF, pow2(17) - U128::from_u64(1), 17},
      {CipherDomain::bits(127), 63, kAll >> 1, U128(kAll >> 1, kAll), 127},
      {CipherDomain::bits(128), 64, kAll, U128::max(), 128},
      {CipherDomain::bits(200), 64, kAll, U128::max(), 128},
      {CipherDomain::mod(U128::from_u64(2)), 1, 1, U128::from_u64(1), 2},
      {CipherDomain::mod(U128::from_u64(1000)), 5, 31, U128::from_u64(999), 10},
      {CipherDomain::mod(pow2(127)), 64, kAll, pow2(127) - U128::from_u64(1), 128},
      {CipherDomain::mod(U128::max()), 64, kAll, U128(kAll, kAll - 1), 128},
  };
  for (const Row& row : rows) {
    const CipherKeyState state = derive_cipher_key(kKey, row.domain);
    EXPECT_EQ(row.domain.bit_count(), row.bit_count);
    EXPECT_EQ(state.half_bits, row.half_bits) << row.bit_count;
    EXPECT_EQ(state.half_mask, row.half_mask) << row.bit_count;
    EXPECT_EQ(state.max_value, row.max_value) << row.bit_count;
    EXPECT_EQ(state.rounds, 8);
  }
}

// An independent model of the cipher on native 128-bit integers and OpenSSL's HMAC, so that
// byte order, the split and the walk are checked against something other than themselves.
NativeU128 model_encrypt(const Bytes& key, uint32_t bits, NativeU128 max_value,
                         std::span<const uint8_t> tweak, NativeU128 v) {
  const uint32_t h = std::max<uint32_t>(bits / 2, 1);
  const uint64_t mask = h >= 64 ? ~uint64_t{0} : (uint64_t{1} << h) - 1;
  auto round = [&](uint8_t i, uint64_t x) {
    Bytes message = {i};
    message.insert(message.end(), tweak.begin(), tweak.end());
    for (int s = 56; s >= 0; s -= 8) { message.push_back(static_cast<uint8_t>(x >> s)); }
    uint8_t mac[32];
    unsigned int len = 0;
    HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()), message.data(), message.size(),
         mac, &len);
    uint64_t head = 0;
    for (int k = 0; k < 8; ++k) { head = (head << 8) | mac[k]; }
    return head & mask;
  };
  auto pass = [&](NativeU128 x) {
    uint64_t left = static_cast<uint64_t>(x >> h);
    uint64_t right = static_cast<uint64_t>(x) & mask;
    for (uint8_t i = 0; i < 8; ++i) {
      const uint64_t next = left ^ round(i, right);
      left = right;
      right = next;
    }
    return (NativeU128{left} << h) + right;
  };
  NativeU128 result = pass(v);
  for (int n = 0; n < 256 && result > max_value; ++n) { result = pass(result); }
  return result;
}

std::vector<CipherDomain> test_domains() {
  return {CipherDomain::bits(16),
          CipherDomain::bits(17),
          CipherDomain::bits(64),
          CipherDomain::bits(127),
          CipherDomain::bits(128),
          CipherDomain::mod(U128::from_u64(2)),
          CipherDomain::mod(U128::from_u64(3)),
          CipherDomain::mod(U128::from_u64(1000)),
          CipherDomain::mod(U128::from_u64(1024)),
          CipherDomain::mod(pow2(127) + U128::from_u64(1))};
}

TEST(Feistel, MatchesModel) {
  std::mt19937_64 rng(3);
  const Bytes long_tweak(60, 0xA5);  // too long for the one-block round
  for (const CipherDomain& domain : test_domains()) {
    const Feistel8 cipher(derive_cipher_key(kKey, domain));
    const U128 max_value = domain.max_value();
    for (int i = 0; i < 20; ++i) {
      const U128 v = U128(rng(), rng()) & U128::low_mask(domain.bit_count());
      if (v > max_value) { continue; }
      for (std::span<const uint8_t> tweak :
           {std::span<const uint8_t>(kTweak), std::span<const uint8_t>(long_tweak)}) {
        const NativeU128 expected =
            model_encrypt(kKey, domain.bit_count(), max_value.native(), tweak, v.native());
        ASSERT_EQ(cipher.encrypt(v, tweak).native(), expected) << domain.bit_count();
      }
    }
  }
}

// Where the processor has the SHA instructions, encrypt and decrypt keep each round in
// registers; they must compute the permutation of the round function laid out in memory, for
// every tweak length that the register form serves and for the cycle walks of moduli.
TEST(Feistel, RegisterAndMemoryRoundsAgree) {
  std::mt19937_64 rng(17);
  Bytes tweak;
  for (size_t tweak_len = 0; tweak_len <= 8; ++tweak_len) {
    tweak.assign(tweak_len, static_cast<uint8_t>(0x30 + tweak_len));
    for (const CipherDomain& domain : test_domains()) {
      const Feistel8 cipher(derive_cipher_key(kKey, domain));
      for (int i = 0; i < 16; ++i) {
        const U128 v = U128(rng(), rng()) & domain.max_value();
        const U128 e = cipher.encrypt(v, tweak);
        ASSERT_EQ(e, cipher.encrypt_portable(v, tweak)) << tweak_len << " " << domain.bit_count();
        ASSERT_EQ(cipher.decrypt(v, tweak), cipher.decrypt_portable(v, tweak)) << tweak_len;
        ASSERT_EQ(cipher.decrypt(e, tweak), v);
      }
    }
  }
}

struct WalkOn final : MacFilter {
  bool operator()(const uint32_t*) const override { return true; }
};
const WalkOn kWalkOn;

// decrypt_with_mac is decrypt plus one independent HMAC, whichever way it is computed: in
// registers beside the second round, or one after the other (long tweaks, Shuffle forwarding).
TEST(Feistel, DecryptWithMacIsDecryptAndMac) {
  std::mt19937_64 rng(29);
  const HmacKey other = HmacKey::derive(Bytes{'c', 'h', 'e', 'c', 'k'});
  uint8_t block[kSha256BlockLen] = {'t', 'e', 'x', 't', 0x80};
  block[kSha256BlockLen - 2] = (64 + 4) * 8 / 256;
  block[kSha256BlockLen - 1] = (64 + 4) * 8 % 256;
  uint32_t expected_mac[8];
  sha256_hmac_block_openssl(other.inner_state().h, other.outer_state().h, block, expected_mac);
  const Bytes long_tweak(20, 3);
  for (const Backend& form : testing::block_forms()) {
  const testing::ScopedBackend scoped(form);
  SCOPED_TRACE(form.name);
  for (const CipherDomain& domain : test_domains()) {
    const Feistel8 feistel(derive_cipher_key(kKey, domain));
    const Shuffle shuffle(domain);
    for (const FpeCipher* cipher :
         {static_cast<const FpeCipher*>(&feistel), static_cast<const FpeCipher*>(&shuffle)}) {
      for (std::span<const uint8_t> tweak :
           {std::span<const uint8_t>(kTweak), std::span<const uint8_t>(long_tweak)}) {
        const U128 v = U128(rng(), rng()) & domain.max_value();
        uint32_t mac[8] = {};
        ASSERT_EQ(cipher->decrypt_with_mac(v, tweak, other, BlockCopy(block), mac, kWalkOn),
                  cipher->decrypt(v, tweak));
        ASSERT_EQ(0, std::memcmp(mac, expected_mac, sizeof(mac))) << domain.bit_count();
      }
    }
  }
  }
}

// A MAC that the filter refuses ends the walk after its first pass: a forged word in a
// domain with long walks costs one pass, not hundreds. The MAC is still the right one.
TEST(Feistel, RefusedMacStopsTheWalk) {
  struct Refuse final : MacFilter {
    mutable int calls = 0;
    bool operator()(const uint32_t*) const override {
      ++calls;
      return false;
    }
  };
  const HmacKey other = HmacKey::derive(Bytes{'k'});
  uint8_t block[kSha256BlockLen] = {0x80};
  block[kSha256BlockLen - 2] = 2;  // 512 bits: the key block alone
  uint32_t expected_mac[8];
  sha256_hmac_block_openssl(other.inner_state().h, other.outer_state().h, block, expected_mac);
  const CipherDomain domain = CipherDomain::mod(U128::from_u64((1u << 20) + 4112));
  const Feistel8 cipher(derive_cipher_key(kKey, domain));
  // Every form of the cipher ends a refused walk at the same place.
  std::vector<U128> first_results;
  for (const Backend& form : testing::block_forms()) {
    const testing::ScopedBackend scoped(form);
    SCOPED_TRACE(form.name);
    std::vector<U128> results;
    int stopped = 0;
    for (uint64_t v = 0; v < 4096; v += 7) {
      const U128 value = U128::from_u64((1u << 20) + v % 4112);
      Refuse refuse;
      uint32_t mac[8] = {};
      const U128 result =
          cipher.decrypt_with_mac(value, kTweak, other, BlockCopy(block), mac, refuse);
      ASSERT_EQ(0, std::memcmp(mac, expected_mac, sizeof(mac)));
      ASSERT_LE(refuse.calls, 1);
      if (result > domain.max_value()) {
        ++stopped;
      } else {
        ASSERT_EQ(result, cipher.decrypt(value, kTweak));  // no further pass was needed
      }
      results.push_back(result);
    }
    EXPECT_GT(stopped, 100);
    if (first_results.empty()) {
      first_results = results;
    } else {
      EXPECT_EQ(results, first_results);
    }
  }
}

TEST(Feistel, RoundTripsEveryDomain) {
  std::mt19937_64 rng(11);
  for (const CipherDomain& domain : test_domains()) {
    const Feistel8 cipher(derive_cipher_key(kKey, domain));
    const U128 max_value = domain.max_value();
    std::vector<U128> values = {U128(), U128::from_u64(1), max_value};
    for (int i = 0; i < 200; ++i) {
      const U128 v = U128(rng(), rng()) & U128::low_mask(domain.bit_count());
      if (v <= max_value) { values.push_back(v); }
    }
    for (const U128 v : values) {
      const U128 e = cipher.encrypt(v, kTweak);
      EXPECT_LE(e, max_value);
      EXPECT_EQ(cipher.decrypt(e, kTweak), v) << domain.bit_count();
    }
  }
}

TEST(Feistel, PermutesSmallDomains) {
  const Feistel8 bits16(derive_cipher_key(kKey, CipherDomain::bits(16)));
  std::vector<bool> seen(65536, false);
  for (uint64_t v = 0; v < 65536; ++v) {
    const U128 e = bits16.encrypt(U128::from_u64(v), kTweak);
    ASSERT_LT(e, U128::from_u64(65536));
    ASSERT_FALSE(seen[e.lo()]) << v;
    seen[e.lo()] = true;
  }
  for (uint64_t m : {2u, 3u, 1000u}) {
    const Feistel8 cipher(derive_cipher_key(kKey, CipherDomain::mod(U128::from_u64(m))));
    std::set<uint64_t> images;
    for (uint64_t v = 0; v < m; ++v) {
      const U128 e = cipher.encrypt(U128::from_u64(v), kTweak);
      ASSERT_LT(e, U128::from_u64(m));
      images.insert(e.lo());
    }
    EXPECT_EQ(images.size(), m);
  }
}

// An odd bit count: the top bit of the wider half is hashed into the rounds but never changed,
// so every value keeps it. In a Bits domain that costs nothing; in a Modulus domain just above a
// power of two the walk of a value with the top bit set stays among the few values that share
// it, and may end outside the domain after its 256 passes (modulus 2^12 + 16 with the tweak of
// mode plain, level en, for one: 16 of 4096 such values inside). Values without the top bit
// never walk.
TEST(Feistel, KeepsTheTopBitOfOddBitCounts) {
  const Feistel8 bits17(derive_cipher_key(kKey, CipherDomain::bits(17)));
  for (uint64_t v = 0; v < (uint64_t{1} << 17); v += 7) {
    ASSERT_EQ(bits17.encrypt(U128::from_u64(v), kTweak).lo() >> 16, v >> 16) << v;
  }

  const U128 m = U128::from_u64(0x1010);
  const Feistel8 cipher(derive_cipher_key(FIXED_PLAIN_KEY, CipherDomain::mod(m)));
  const std::array<uint8_t, 4> tweak = {2, 2, 21, 0};
  int left_domain = 0;
  for (uint64_t v = 0x1000; v < 0x1010; ++v) {  // every value with the top bit set
    const U128 e = cipher.encrypt(U128::from_u64(v), tweak);
    ASSERT_EQ(e.lo() >> 12, 1u) << v;
    if (e < m) {
      ASSERT_EQ(cipher.decrypt(e, tweak), U128::from_u64(v));
    } else {
      ++left_domain;
    }
  }
  EXPECT_GT(left_domain, 0);
  EXPECT_LT(left_domain, 16);
  for (uint64_t v = 0; v < 0x1000; v += 3) {
    const U128 e = cipher.encrypt(U128::from_u64(v), tweak);
    ASSERT_LT(e, U128::from_u64(0x1000)) << v;
    ASSERT_EQ(cipher.decrypt(e, tweak), U128::from_u64(v));
  }
}

TEST(Feistel, TweakAndOutOfDomainValues) {
  const Feistel8 cipher(derive_cipher_key(kKey, CipherDomain::bits(128)));
  const U128 v(0x0123456789abcdef, 0x0fedcba987654321);
  const U128 base = cipher.encrypt(v, kTweak);
  for (size_t i = 0; i < kTweak.size(); ++i) {
    std::array<uint8_t, 4> other = kTweak;
    other[i] ^= 1;
    EXPECT_NE(cipher.encrypt(v, other), base) << i;
  }
  EXPECT_NE(cipher.encrypt(v, {}), base);

  // Values above the modulus walk into the domain and so cannot come back.
  const Feistel8 mod1000(derive_cipher_key(kKey, CipherDomain::mod(U128::from_u64(1000))));
  for (uint64_t v2 = 1000; v2 < 1024; ++v2) {
    const U128 e = mod1000.encrypt(U128::from_u64(v2), kTweak);
    EXPECT_NE(mod1000.decrypt(e, kTweak), U128::from_u64(v2));
  }
}

std::vector<U128> images(const CipherHandle& cipher) {
  std::vector<U128> out;
  for (uint64_t v = 0; v < 500; ++v) { out.push_back(cipher->encrypt(U128::from_u64(v), kTweak)); }
  return out;
}

TEST(Feistel, CipherKinds) {
  const CipherDomain domain = CipherDomain::mod(U128::from_u64(1000));
  const Bytes other_key = {1, 2, 3};
  auto make = [&](std::string_view kind, std::optional<std::span<const uint8_t>> key) {
    Result<CipherHandle> result = make_cipher(kind, key, domain);
    EXPECT_TRUE(result.ok()) << kind;
    return images(result.value());
  };
  const std::vector<U128> plain =
      images(std::make_shared<Feistel8>(derive_cipher_key(FIXED_PLAIN_KEY, domain)));
  EXPECT_EQ(make("shuffle", std::nullopt), plain);
  EXPECT_EQ(make("shuffle4", std::nullopt), plain);
  EXPECT_EQ(make("shuffle", other_key), plain);
  EXPECT_EQ(make("feistel", std::nullopt), plain);
  EXPECT_EQ(make("feistel8", std::nullopt), plain);
  EXPECT_EQ(make("feistel", other_key), make("feistel8", other_key));
  EXPECT_NE(make("feistel", other_key), plain);
  // Rebuilt for another domain, a cipher keeps its kind: as if made for that domain.
  const CipherDomain wider = CipherDomain::bits(20);
  for (std::string_view kind : {"feistel", "shuffle"}) {
    const CipherHandle made = make_cipher(kind, other_key, domain).value();
    EXPECT_EQ(images(rebuild_cipher(*made, other_key, wider)),
              images(make_cipher(kind, other_key, wider).value()))
        << kind;
  }

  for (std::string_view kind : {"FEISTEL", " feistel", "feistel ", "Shuffle", "", "aes"}) {
    Result<CipherHandle> result = make_cipher(kind, std::nullopt, domain);
    ASSERT_FALSE(result.ok()) << kind;
    EXPECT_EQ(result.error().code, ErrorCode::kValue);
    EXPECT_EQ(result.error().message, "unknown cipher: use 'feistel' or 'shuffle'");
  }
}

}  // namespace
}  // namespace tavik::fpe
