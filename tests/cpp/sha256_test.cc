#include "fpe/sha256.h"

#include <gtest/gtest.h>

#include "fpe/backend.h"
#include "tests/cpp/test_util.h"
#include "tests/support/backend_swap.h"
#include "tests/support/openssl_sha256.h"

#include <cstring>
#include <random>
#include <string>
#include <string_view>

namespace tavik::fpe {
namespace {

using openssl_reference::sha256_compress_openssl;
using openssl_reference::sha256_hmac_block_openssl;

using testing::hex;

std::string digest_hex(std::string_view text) {
  uint8_t out[kSha256DigestLen];
  sha256_digest({reinterpret_cast<const uint8_t*>(text.data()), text.size()}, out);
  return hex(out, sizeof(out));
}

TEST(Sha256, DigestKnownAnswers) {
  EXPECT_EQ(digest_hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(digest_hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(digest_hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

// One padded block of "abc" from the initial state gives the digest of "abc".
void expect_abc(void (*compress)(uint32_t*, const uint8_t*)) {
  uint8_t block[kSha256BlockLen] = {'a', 'b', 'c', 0x80};
  block[63] = 24;  // length in bits
  Sha256State state = sha256_initial_state();
  EXPECT_EQ(state.num_blocks, 0u);
  compress(state.h, block);
  EXPECT_EQ(state.h[0], 0xba7816bfu);
  EXPECT_EQ(state.h[7], 0xf20015adu);
}

TEST(Sha256, CompressionPathsAgree) {
  expect_abc(sha256_compress_openssl);
  expect_abc(sha256_compress);
  for (const Backend& form : testing::block_forms()) {
    SCOPED_TRACE(form.name);
    expect_abc(form.compress);
    std::mt19937 rng(7);
    for (int i = 0; i < 1000; ++i) {
      uint32_t a[8];
      uint8_t block[kSha256BlockLen];
      for (uint32_t& w : a) { w = static_cast<uint32_t>(rng()); }
      for (uint8_t& b : block) { b = static_cast<uint8_t>(rng()); }
      uint32_t b[8];
      std::memcpy(b, a, sizeof(a));
      sha256_compress_openssl(a, block);
      form.compress(b, block);
      ASSERT_EQ(0, std::memcmp(a, b, sizeof(a))) << "iteration " << i;
    }
  }
}

}  // namespace
}  // namespace tavik::fpe
