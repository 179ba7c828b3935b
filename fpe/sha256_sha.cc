// SHA-256 compression and the HMAC finishes with the processor's SHA instructions: the x86
// SHA extensions or the ARMv8 SHA-2 ones (fpe/sha_ops.h). This file is compiled for them
// (see CMakeLists.txt); the backend table calls it only where the processor has them.

#include "fpe/sha256_kernels.h"
#include "fpe/sha_ops.h"

#if defined(TAVIK_SHA_OPS)

namespace tavik::fpe {

void sha256_compress_sha(uint32_t h[8], const uint8_t block[kSha256BlockLen]) {
  sha_ops::store_state(sha_ops::compress(sha_ops::load_state(h), sha_ops::load_block(block)), h);
}

void sha256_hmac_block_sha(const uint32_t inner[8], const uint32_t outer[8],
                           const uint8_t block[kSha256BlockLen], uint32_t mac[8]) {
  sha_ops::store_state(sha_hmac(sha_ops::load_state(inner), sha_ops::load_state(outer),
                                     sha_ops::load_block(block)),
                       mac);
}

void sha256_hmac_outer_sha(const uint32_t outer[8], const uint32_t inner_digest[8],
                           uint32_t mac[8]) {
  sha_ops::store_state(
      sha_ops::compress(sha_ops::load_state(outer), sha_ops::outer_block(inner_digest)), mac);
}

}  // namespace tavik::fpe

#endif  // TAVIK_SHA_OPS
