#include <gtest/gtest.h>
#include <openssl/hmac.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "fpe/cipher.h"
#include "fpe/feistel.h"
#include "fpe/hmac.h"
#include "fpe/backend.h"
#include "tests/support/backend_swap.h"
#include "tests/support/openssl_sha256.h"

namespace tavik::fpe {
namespace {

using openssl_reference::sha256_compress_openssl;
using openssl_reference::sha256_hmac_block_openssl;

using Bytes = std::vector<uint8_t>;

Bytes from_hex(const std::string& text) {
  Bytes out;
  for (size_t i = 0; i + 1 < text.size(); i += 2) {
    out.push_back(static_cast<uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
  }
  return out;
}

struct Vector {
  Bytes key, input, output;
};

// Reads `key =` / `input =` / `output =` blocks; a block ends with its output line.
std::vector<Vector> read_vectors(const std::string& name) {
  std::ifstream file(std::string(TAVIK_VECTORS_DIR) + "/" + name);
  std::vector<Vector> vectors;
  Vector current;
  std::string line;
  while (std::getline(file, line)) {
    const size_t eq = line.find(" = ");
    if (line.empty() || line[0] == '#' || eq == std::string::npos) { continue; }
    const std::string field = line.substr(0, eq);
    const Bytes value = from_hex(line.substr(eq + 3));
    if (field == "key") { current.key = value; }
    if (field == "input") { current.input = value; }
    if (field == "output") {
      current.output = value;
      vectors.push_back(current);
      current = Vector{};
    }
  }
  return vectors;
}

Bytes openssl_mac(const Bytes& key, const Bytes& message) {
  Bytes out(kSha256DigestLen);
  unsigned int len = 0;
  static const uint8_t kNoKey = 0;  // OpenSSL refuses a null key pointer, even of length 0
  HMAC(EVP_sha256(), key.empty() ? &kNoKey : key.data(), static_cast<int>(key.size()),
       message.data(), message.size(), out.data(), &len);
  return out;
}

Bytes random_bytes(std::mt19937& rng, size_t len) {
  Bytes out(len);
  for (uint8_t& b : out) { b = static_cast<uint8_t>(rng()); }
  return out;
}

TEST(Hmac, KnownAnswers) {
  const std::vector<Vector> vectors = read_vectors("hmac_sha256.txt");
  ASSERT_EQ(vectors.size(), 6u);
  for (const Vector& v : vectors) {
    Bytes out(kSha256DigestLen);
    HmacKey::derive(v.key).mac(v.input, out.data());
    EXPECT_EQ(out, v.output);
  }
}

// Every key length around the block size and every message length around the one- and
// two-block padding limits, through mac, mac_short and pieces of a stream.
TEST(Hmac, AllPathsMatchOpenSsl) {
  std::mt19937 rng(99);
  for (size_t key_len : {0u, 1u, 32u, 63u, 64u, 65u, 100u, 200u}) {
    const Bytes key = random_bytes(rng, key_len);
    const HmacKey hmac = HmacKey::derive(key);
    EXPECT_EQ(hmac.inner_state().num_blocks, 1u);
    EXPECT_EQ(hmac.outer_state().num_blocks, 1u);
    for (size_t len = 0; len <= 200; ++len) {
      const Bytes message = random_bytes(rng, len);
      const Bytes expected = openssl_mac(key, message);
      Bytes out(kSha256DigestLen);
      hmac.mac(message, out.data());
      ASSERT_EQ(out, expected) << key_len << " " << len;
      HmacStream stream(hmac);
      for (size_t pos = 0; pos < len;) {
        const size_t piece = std::min<size_t>(len - pos, rng() % 70);
        stream.update(std::span<const uint8_t>(message).subspan(pos, piece));
        pos += piece;
      }
      stream.finish(out.data());
      ASSERT_EQ(out, expected) << key_len << " " << len;
    }
  }
}

// The padded one-block message of an HMAC finished from the absorbed states: the message,
// 0x80, zeros and the length in bits counting the key block.
std::array<uint8_t, kSha256BlockLen> padded_block(const Bytes& message) {
  std::array<uint8_t, kSha256BlockLen> block{};
  std::copy(message.begin(), message.end(), block.begin());
  block[message.size()] = 0x80;
  const size_t bits = (kSha256BlockLen + message.size()) * 8;
  block[kSha256BlockLen - 2] = static_cast<uint8_t>(bits >> 8);
  block[kSha256BlockLen - 1] = static_cast<uint8_t>(bits);
  return block;
}

Bytes mac_bytes(const uint32_t mac[8]) {
  Bytes out;
  for (size_t i = 0; i < 8; ++i) {
    for (int shift = 24; shift >= 0; shift -= 8) {
      out.push_back(static_cast<uint8_t>(mac[i] >> shift));
    }
  }
  return out;
}

// The one-block HMAC finish on OpenSSL's block function, with the SHA instructions (inner
// digest kept in registers) and in two steps on each path: the RFC 4231 answers whose message fits one block, and random
// keys and messages of every length that fits, against OpenSSL's HMAC.
TEST(Hmac, BlockFinishOnBothPaths) {
  using Finish = void (*)(const uint32_t*, const uint32_t*, const uint8_t*, uint32_t*);
  // The finish in two calls, as a caller with work between them makes it: the inner
  // compression on a copy of the inner state, then the outer one.
  const Finish in_steps = [](const uint32_t* inner, const uint32_t* outer, const uint8_t* block,
                             uint32_t* mac) {
    uint32_t h[8];
    std::memcpy(h, inner, sizeof(h));
    sha256_compress(h, block);
    sha256_hmac_outer(outer, h, mac);
  };
  std::vector<Finish> paths = {sha256_hmac_block_openssl, sha256_hmac_block, in_steps};
  // Every form this processor runs, whole and in two steps.
  const std::vector<Backend> forms = testing::block_forms();
  for (const Backend& form : forms) { paths.push_back(form.hmac_block); }
  auto check_steps = [&](const Bytes& key, const Bytes& message, const Bytes& expected) {
    const HmacKey hmac = HmacKey::derive(key);
    const auto block = padded_block(message);
    for (const Backend& form : forms) {
      uint32_t h[8];
      std::memcpy(h, hmac.inner_state().h, sizeof(h));
      form.compress(h, block.data());
      uint32_t mac[8];
      form.hmac_outer(hmac.outer_state().h, h, mac);
      ASSERT_EQ(mac_bytes(mac), expected) << form.name << " " << key.size() << " " << message.size();
    }
  };
  auto check = [&](const Bytes& key, const Bytes& message, const Bytes& expected) {
    const HmacKey hmac = HmacKey::derive(key);
    const auto block = padded_block(message);
    for (Finish finish : paths) {
      uint32_t mac[8];
      finish(hmac.inner_state().h, hmac.outer_state().h, block.data(), mac);
      ASSERT_EQ(mac_bytes(mac), expected) << key.size() << " " << message.size();
    }
    check_steps(key, message, expected);
  };
  size_t num_vectors = 0;
  for (const Vector& v : read_vectors("hmac_sha256.txt")) {
    if (v.input.size() > kHmacShortMessageLen) { continue; }
    check(v.key, v.input, v.output);
    ++num_vectors;
  }
  EXPECT_EQ(num_vectors, 5u);  // all but case 7
  std::mt19937 rng(41);
  for (int i = 0; i < 400; ++i) {
    const Bytes key = random_bytes(rng, rng() % 100);
    const Bytes message = random_bytes(rng, rng() % (kHmacShortMessageLen + 1));
    check(key, message, openssl_mac(key, message));
  }
}

// A key longer than a block acts as its SHA-256 digest (a 64-byte key is checked unhashed
// against OpenSSL above).
TEST(Hmac, LongKeyIsHashed) {
  std::mt19937 rng(5);
  const Bytes key = random_bytes(rng, 65);
  uint8_t digest[kSha256DigestLen];
  sha256_digest(key, digest);
  const HmacKey long_key = HmacKey::derive(key);
  const HmacKey digest_key = HmacKey::derive(digest);
  EXPECT_EQ(0, std::memcmp(long_key.inner_state().h, digest_key.inner_state().h, 32));
  EXPECT_EQ(0, std::memcmp(long_key.outer_state().h, digest_key.outer_state().h, 32));
}

}  // namespace
}  // namespace tavik::fpe
