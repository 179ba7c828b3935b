#ifndef TAVIK_FPE_SHA256_PORTABLE_H_
#define TAVIK_FPE_SHA256_PORTABLE_H_

// SHA-256 of our own in plain C++, with no library behind it: the block functions for
// processors without the SHA instructions, and whole-message hashing for keys longer than one
// block. (A faster form of the same rounds for x86 with BMI2 is in fpe/sha256_kernels.h.)

#include <cstddef>
#include <cstdint>
#include <span>

#include "fpe/sha256.h"

namespace tavik::fpe {

// The generic block functions: sha256_compress, sha256_hmac_block and sha256_hmac_outer of
// fpe/sha256.h for any processor. Like the other block functions they wipe nothing: what the
// compiler spills of h and the block stays on its stack.
void sha256_compress_generic(uint32_t h[8], const uint8_t block[kSha256BlockLen]);
void sha256_hmac_block_generic(const uint32_t inner[8], const uint32_t outer[8],
                               const uint8_t block[kSha256BlockLen], uint32_t mac[8]);
void sha256_hmac_outer_generic(const uint32_t outer[8], const uint32_t inner_digest[8],
                               uint32_t mac[8]);

// sha256_digest_portable hashes a whole message of any length into out with the block
// function `compress`. The padded tail and the chaining value are wiped before it returns,
// since the message may be a key.
void sha256_digest_portable(std::span<const uint8_t> message, uint8_t out[kSha256DigestLen],
                            Sha256BlockFn compress);

}  // namespace tavik::fpe

#endif  // TAVIK_FPE_SHA256_PORTABLE_H_
