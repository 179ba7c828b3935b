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

void sha256_hmac_block_pair_shani(const uint32_t inner0[8], const uint32_t outer0[8],
                                  const uint8_t block0[kSha256BlockLen], uint32_t mac0[8],
                                  const uint32_t inner1[8], const uint32_t outer1[8],
                                  const uint8_t block1[kSha256BlockLen], uint32_t mac1[8]) {
  const shani::State inner[2] = {shani::load_state(inner0), shani::load_state(inner1)};
  const shani::State outer[2] = {shani::load_state(outer0), shani::load_state(outer1)};
  const shani::Block blocks[2] = {shani::load_block(block0), shani::load_block(block1)};
  shani::State mac[2];
  shani::hmac_lanes<2>(inner, outer, blocks, mac);
  shani::store_state(mac[0], mac0);
  shani::store_state(mac[1], mac1);
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

void sha256_hmac_block_pair_shani(const uint32_t inner0[8], const uint32_t outer0[8],
                                  const uint8_t block0[kSha256BlockLen], uint32_t mac0[8],
                                  const uint32_t inner1[8], const uint32_t outer1[8],
                                  const uint8_t block1[kSha256BlockLen], uint32_t mac1[8]) {
  sha256_hmac_block_portable(inner0, outer0, block0, mac0);
  sha256_hmac_block_portable(inner1, outer1, block1, mac1);
}

}  // namespace tavik::fpe

#endif
