#include "fpe/sha256_portable.h"

#include "fpe/sha256_rounds.h"

namespace tavik::fpe {

void sha256_compress_generic(uint32_t h[8], const uint8_t block[kSha256BlockLen]) {
  compress_body<kGenericForm>(h, BlockBytes(block));
}

void sha256_hmac_block_generic(const uint32_t inner[8], const uint32_t outer[8],
                               const uint8_t block[kSha256BlockLen], uint32_t mac[8]) {
  hmac_body<kGenericForm>(inner, outer, block, mac);
}

void sha256_hmac_outer_generic(const uint32_t outer[8], const uint32_t inner_digest[8],
                               uint32_t mac[8]) {
  hmac_outer_body<kGenericForm>(outer, inner_digest, mac);
}

void sha256_digest_portable(std::span<const uint8_t> message, uint8_t out[kSha256DigestLen],
                            Sha256BlockFn compress) {
  uint32_t h[8];
  std::memcpy(h, kSha256InitialValue, sizeof(h));
  const uint8_t* p = message.data();
  size_t rest = message.size();
  for (; rest >= kSha256BlockLen; rest -= kSha256BlockLen, p += kSha256BlockLen) {
    compress(h, p);
  }
  // The tail, 0x80, zeros and the length in bits (modulo 2^64) in the last eight bytes; a
  // tail of 56 bytes or more leaves no room for the length, which then takes a block of its own.
  uint8_t tail[kSha256BlockLen] = {};
  if (rest != 0) { std::memcpy(tail, p, rest); }
  tail[rest] = 0x80;
  if (rest >= kSha256BlockLen - 8) {
    compress(h, tail);
    std::memset(tail, 0, sizeof(tail));
  }
  const uint64_t bits = static_cast<uint64_t>(message.size()) * 8;
  store_be32(static_cast<uint32_t>(bits >> 32), tail + kSha256BlockLen - 8);
  store_be32(static_cast<uint32_t>(bits), tail + kSha256BlockLen - 4);
  compress(h, tail);
  for (size_t i = 0; i < 8; ++i) { store_be32(h[i], out + 4 * i); }
  secure_wipe(tail, sizeof(tail));
  secure_wipe(h, sizeof(h));
}

}  // namespace tavik::fpe
