#include "fpe/sha256.h"

#include <cstring>

#include "fpe/backend.h"
#include "fpe/sha256_portable.h"

namespace tavik::fpe {

Sha256State sha256_initial_state() {
  Sha256State state{};
  std::memcpy(state.h, kSha256InitialValue, sizeof(state.h));
  return state;
}

void sha256_compress(uint32_t h[8], const uint8_t block[kSha256BlockLen]) {
  backend().compress(h, block);
}

void sha256_hmac_block(const uint32_t inner[8], const uint32_t outer[8],
                       const uint8_t block[kSha256BlockLen], uint32_t mac[8]) {
  backend().hmac_block(inner, outer, block, mac);
}

void sha256_hmac_outer(const uint32_t outer[8], const uint32_t inner_digest[8], uint32_t mac[8]) {
  backend().hmac_outer(outer, inner_digest, mac);
}

void sha256_digest(std::span<const uint8_t> message, uint8_t out[kSha256DigestLen]) {
  sha256_digest_portable(message, out, backend().compress);
}

}  // namespace tavik::fpe
