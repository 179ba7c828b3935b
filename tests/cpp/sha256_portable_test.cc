// Every form of our SHA-256 against published known answers and against OpenSSL, the independent
// reference, whose single-block interface this file alone asks for.
#define OPENSSL_API_COMPAT 0x10101000L

#include "fpe/sha256_portable.h"

#include <gtest/gtest.h>

#include "fpe/backend.h"
#include "tests/cpp/test_util.h"
#include "tests/support/backend_swap.h"
#include "tests/support/openssl_sha256.h"
#include <openssl/sha.h>

#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace tavik::fpe {
namespace {

using openssl_reference::sha256_compress_openssl;
using openssl_reference::sha256_hmac_block_openssl;

// Every form of the block functions this processor runs, each on its own.
class Sha256Forms : public ::testing::TestWithParam<Backend> {};

using testing::hex;

std::span<const uint8_t> bytes_of(std::string_view text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

TEST_P(Sha256Forms, DigestKnownAnswers) {
  struct KnownAnswer {
    std::string message;
    const char* digest;
  };
  const KnownAnswer answers[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlm"
       "nopqrsmnopqrstnopqrstu",
       "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const KnownAnswer& answer : answers) {
    uint8_t out[kSha256DigestLen];
    sha256_digest_portable(bytes_of(answer.message), out, GetParam().compress);
    EXPECT_EQ(hex(out, sizeof(out)), answer.digest) << answer.message.size() << " bytes";
  }
}

// Every length up to a few blocks covers each place the padding and the length can fall,
// the tails of 55 and 56 bytes (the last that fits one block, the first that needs two) among
// them; the longer ones run many blocks through the loop.
TEST_P(Sha256Forms, DigestMatchesOpensslAtEveryLength) {
  std::mt19937 rng(11);
  std::vector<uint8_t> message(70000);
  for (uint8_t& b : message) { b = static_cast<uint8_t>(rng()); }
  std::vector<size_t> lengths;
  for (size_t len = 0; len <= 200; ++len) { lengths.push_back(len); }
  for (size_t len : {1000u, 4095u, 4096u, 4097u, 65536u + 55u, 70000u}) { lengths.push_back(len); }
  for (size_t len : lengths) {
    uint8_t ours[kSha256DigestLen];
    uint8_t reference[kSha256DigestLen];
    sha256_digest_portable({message.data(), len}, ours, GetParam().compress);
    SHA256(message.data(), len, reference);
    ASSERT_EQ(hex(ours, sizeof(ours)), hex(reference, sizeof(reference))) << len << " bytes";
  }
}

// Any chaining value, not only those reachable from the initial one, and blocks at every
// alignment: the cipher compresses keyed states and blocks laid out in its own buffers.
TEST_P(Sha256Forms, CompressionMatchesOpensslTransform) {
  std::mt19937 rng(5);
  uint8_t buffer[kSha256BlockLen + 16];
  for (int i = 0; i < 5000; ++i) {
    SHA256_CTX ctx;
    for (uint32_t& w : ctx.h) { w = static_cast<uint32_t>(rng()); }
    for (uint8_t& b : buffer) { b = static_cast<uint8_t>(rng()); }
    const uint8_t* block = buffer + i % 16;
    uint32_t ours[8];
    std::memcpy(ours, ctx.h, sizeof(ours));
    GetParam().compress(ours, block);
    SHA256_Transform(&ctx, block);
    ASSERT_EQ(0, std::memcmp(ours, ctx.h, sizeof(ours))) << "pair " << i;
  }
}

// The inner block at every alignment, and states that need not come from a key.
TEST_P(Sha256Forms, HmacBlockMatchesOpensslFinish) {
  std::mt19937 rng(3);
  uint8_t buffer[kSha256BlockLen + 16];
  for (int i = 0; i < 1000; ++i) {
    uint32_t inner[8];
    uint32_t outer[8];
    for (uint32_t& w : inner) { w = static_cast<uint32_t>(rng()); }
    for (uint32_t& w : outer) { w = static_cast<uint32_t>(rng()); }
    for (uint8_t& b : buffer) { b = static_cast<uint8_t>(rng()); }
    const uint8_t* block = buffer + i % 16;
    uint32_t ours[8];
    uint32_t reference[8];
    GetParam().hmac_block(inner, outer, block, ours);
    sha256_hmac_block_openssl(inner, outer, block, reference);
    ASSERT_EQ(0, std::memcmp(ours, reference, sizeof(ours))) << "case " << i;
  }
}

// The outer half alone, from a digest given as words.
TEST_P(Sha256Forms, HmacOuterMatchesOpensslFinish) {
  std::mt19937 rng(13);
  for (int i = 0; i < 300; ++i) {
    uint32_t inner[8];
    uint32_t outer[8];
    uint8_t block[kSha256BlockLen];
    for (uint32_t& w : inner) { w = static_cast<uint32_t>(rng()); }
    for (uint32_t& w : outer) { w = static_cast<uint32_t>(rng()); }
    for (uint8_t& b : block) { b = static_cast<uint8_t>(rng()); }
    uint32_t digest[8];
    std::memcpy(digest, inner, sizeof(digest));
    GetParam().compress(digest, block);
    uint32_t ours[8];
    uint32_t reference[8];
    GetParam().hmac_outer(outer, digest, ours);
    sha256_hmac_block_openssl(inner, outer, block, reference);
    ASSERT_EQ(0, std::memcmp(ours, reference, sizeof(ours))) << "case " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Forms, Sha256Forms, ::testing::ValuesIn(testing::block_forms()),
                         [](const auto& param_info) { return testing::form_name(param_info.param); });

}  // namespace
}  // namespace tavik::fpe
