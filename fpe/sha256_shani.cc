// SHA-256 compression and the HMAC finish with the x86 SHA extensions. This file is compiled
// with -msha -msse4.1 -mssse3; the dispatchers of sha256.cc call it only where the processor
// has them.

#include "fpe/sha256.h"
#include "fpe/sha256_portable.h"

#if defined(__x86_64__)

#include "fpe/sha256_shani.h"

namespace tavik::fpe {

void sha256_compress_shani(uint32_t h[8], const uint8_t block[kSha256BlockLen]) {
  shani::store_state(shani::compress(shani::load_state(h), shani::load_block(block)), h);
}

void sha256_hmac_block_shani(const uint32_t inner[8], const uint32_t outer[8],
                             const uint8_t block[kSha256BlockLen], uint32_t mac[8]) {
  shani::store_state(
      shani::hmac(shani::load_state(inner), shani::load_state(outer), shani::load_block(block)),
      mac);
}

void sha256_hmac_outer_shani(const uint32_t outer[8], const uint32_t inner_digest[8],
                             uint32_t mac[8]) {
  const shani::Block block =
      shani::outer_block(_mm_loadu_si128(reinterpret_cast<const __m128i*>(inner_digest)),
                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(inner_digest + 4)));
  shani::store_state(shani::compress(shani::load_state(outer), block), mac);
}

}  // namespace tavik::fpe

#else  // not x86-64: no SHA instructions to use; sha256_has_shani() is false.

namespace tavik::fpe {

void sha256_compress_shani(uint32_t h[8], const uint8_t block[kSha256BlockLen]) {
  sha256_compress_portable(h, block);
}

void sha256_hmac_block_shani(const uint32_t inner[8], const uint32_t outer[8],
                             const uint8_t block[kSha256BlockLen], uint32_t mac[8]) {
  sha256_hmac_block_portable(inner, outer, block, mac);
}

void sha256_hmac_outer_shani(const uint32_t outer[8], const uint32_t inner_digest[8],
                             uint32_t mac[8]) {
  sha256_hmac_outer_portable(outer, inner_digest, mac);
}

}  // namespace tavik::fpe

#endif
