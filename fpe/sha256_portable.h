#ifndef TAVIK_FPE_SHA256_PORTABLE_H_
#define TAVIK_FPE_SHA256_PORTABLE_H_

// SHA-256 in plain C++, with no library behind it: the block function for processors without
// the SHA instructions, and whole-message hashing for keys longer than one block.

#include <cstddef>
#include <cstdint>
#include <span>

#include "fpe/sha256.h"

namespace tavik::fpe {

// sha256_compress_portable runs one compression of `block` on the chaining value h[0..7]
// (A .. H). It takes the BMI2 form where the processor has BMI1 and BMI2 (decided once per
// process), else the generic one; both give the same result. Like the other block functions
// it leaves no copy of h in memory it owns, beyond what the compiler spills to its stack.
void sha256_compress_portable(uint32_t h[8], const uint8_t block[kSha256BlockLen]);

// sha256_compress_generic is the block function in plain C++ for any processor.
void sha256_compress_generic(uint32_t h[8], const uint8_t block[kSha256BlockLen]);

// sha256_compress_bmi2 is the same code compiled for BMI1 and BMI2 (rotations by rorx, which
// leaves its source intact, and andn). Call it only when sha256_has_bmi2() is true.
void sha256_compress_bmi2(uint32_t h[8], const uint8_t block[kSha256BlockLen]);

// sha256_has_bmi2 tells whether this processor has the BMI1 and BMI2 instructions.
bool sha256_has_bmi2();

// sha256_hmac_block_portable is sha256_hmac_block (see fpe/sha256.h) on
// sha256_compress_portable.
void sha256_hmac_block_portable(const uint32_t inner[8], const uint32_t outer[8],
                                const uint8_t block[kSha256BlockLen], uint32_t mac[8]);

// Sha256BlockFn is a block function: one compression of a block on a chaining value.
using Sha256BlockFn = void (*)(uint32_t h[8], const uint8_t block[kSha256BlockLen]);

// sha256_digest_portable hashes a whole message of any length into out with the block
// function `compress`. The padded tail and the chaining value are wiped before it returns,
// since the message may be a key.
void sha256_digest_portable(std::span<const uint8_t> message, uint8_t out[kSha256DigestLen],
                            Sha256BlockFn compress = sha256_compress_portable);

}  // namespace tavik::fpe

#endif  // TAVIK_FPE_SHA256_PORTABLE_H_
