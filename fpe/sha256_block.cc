// OpenSSL 3 deprecates SHA256_Transform, the only public way to run a single compression on a
// chaining value of our own; this file alone opts back into the 1.1.1 interface.
#define OPENSSL_API_COMPAT 0x10101000L

#include <openssl/crypto.h>
#include <openssl/sha.h>

#include <cstring>

#include "fpe/sha256.h"

namespace tavik::fpe {

Sha256State sha256_initial_state() {
  return Sha256State{{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c,
                      0x1f83d9ab, 0x5be0cd19},
                     0};
}

void sha256_compress_openssl(uint32_t h[8], const uint8_t block[kSha256BlockLen]) {
  // SHA256_Transform reads and updates only ctx.h; the counters and buffer are untouched.
  SHA256_CTX ctx;
  std::memcpy(ctx.h, h, sizeof(ctx.h));
  SHA256_Transform(&ctx, block);
  std::memcpy(h, ctx.h, sizeof(ctx.h));
  OPENSSL_cleanse(ctx.h, sizeof(ctx.h));  // may be a keyed chaining value
}

void sha256_digest(std::span<const uint8_t> message, uint8_t out[kSha256DigestLen]) {
  SHA256(message.data(), message.size(), out);
}

}  // namespace tavik::fpe
