// OpenSSL's SHA-256, the independent reference that the tests and benchmarks hold our own
// against. OpenSSL 3 deprecates SHA256_Transform, the only public way to run a single
// compression on a chaining value of our own; this file opts back into the 1.1.1 interface.
#define OPENSSL_API_COMPAT 0x10101000L

#include <openssl/crypto.h>
#include <openssl/sha.h>

#include <cstring>

#include "tests/support/openssl_sha256.h"

namespace tavik::openssl_reference {

using fpe::kHmacOuterBits;
using fpe::kSha256BlockLen;
using fpe::kSha256DigestLen;

void sha256_compress_openssl(uint32_t h[8], const uint8_t block[kSha256BlockLen]) {
  // SHA256_Transform reads and updates only ctx.h; the counters and buffer are untouched.
  SHA256_CTX ctx;
  std::memcpy(ctx.h, h, sizeof(ctx.h));
  SHA256_Transform(&ctx, block);
  std::memcpy(h, ctx.h, sizeof(ctx.h));
  OPENSSL_cleanse(ctx.h, sizeof(ctx.h));  // may be a keyed chaining value
}

void sha256_hmac_block_openssl(const uint32_t inner[8], const uint32_t outer[8],
                               const uint8_t block[kSha256BlockLen], uint32_t mac[8]) {
  SHA256_CTX ctx;
  std::memcpy(ctx.h, inner, sizeof(ctx.h));
  SHA256_Transform(&ctx, block);
  // The outer block: the inner digest, 0x80, zeros and the length of key block and digest.
  uint8_t outer_block[kSha256BlockLen] = {};
  for (size_t i = 0; i < 8; ++i) {
    outer_block[4 * i] = static_cast<uint8_t>(ctx.h[i] >> 24);
    outer_block[4 * i + 1] = static_cast<uint8_t>(ctx.h[i] >> 16);
    outer_block[4 * i + 2] = static_cast<uint8_t>(ctx.h[i] >> 8);
    outer_block[4 * i + 3] = static_cast<uint8_t>(ctx.h[i]);
  }
  outer_block[kSha256DigestLen] = 0x80;
  outer_block[kSha256BlockLen - 2] = static_cast<uint8_t>(kHmacOuterBits >> 8);
  outer_block[kSha256BlockLen - 1] = static_cast<uint8_t>(kHmacOuterBits);
  std::memcpy(ctx.h, outer, sizeof(ctx.h));
  SHA256_Transform(&ctx, outer_block);
  std::memcpy(mac, ctx.h, sizeof(ctx.h));
  OPENSSL_cleanse(ctx.h, sizeof(ctx.h));
  OPENSSL_cleanse(outer_block, sizeof(outer_block));
}

void sha256_digest(std::span<const uint8_t> message, uint8_t out[kSha256DigestLen]) {
  SHA256(message.data(), message.size(), out);
}

}  // namespace tavik::openssl_reference
