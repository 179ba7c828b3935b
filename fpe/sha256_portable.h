#ifndef TAVIK_FPE_SHA256_PORTABLE_H_
#define TAVIK_FPE_SHA256_PORTABLE_H_

// SHA-256 of our own, with no library behind it: the block function for processors without
// the SHA instructions, the HMAC finish on it, and whole-message hashing for keys longer than
// one block. The generic form is plain C++; the x86-64 form adds the compiler's vector types
// and a target attribute, no intrinsics.

#include <cstddef>
#include <cstdint>
#include <span>

#include "fpe/sha256.h"

namespace tavik::fpe {

// sha256_compress_portable runs one compression of `block` (any alignment) on the chaining
// value h[0..7] (A .. H). It takes the BMI2 form where sha256_has_bmi2() is true, else the
// generic one; both give the same result. Like the other block functions it wipes nothing:
// what the compiler spills of h and the block stays on its stack.
void sha256_compress_portable(uint32_t h[8], const uint8_t block[kSha256BlockLen]);

// sha256_compress_generic is the block function in plain C++ for any processor.
void sha256_compress_generic(uint32_t h[8], const uint8_t block[kSha256BlockLen]);

// sha256_compress_bmi2 is the same rounds compiled for BMI1 and BMI2 (rotations by rorx,
// which leaves its source intact, and andn), with the message schedule computed four words
// at a time in SSE registers (SSSE3, SSE4.1). Call it only when sha256_has_bmi2() is true.
void sha256_compress_bmi2(uint32_t h[8], const uint8_t block[kSha256BlockLen]);

// sha256_has_bmi2 tells whether this processor has BMI1, BMI2, SSSE3 and SSE4.1 (decided
// once per process); always false off x86-64.
bool sha256_has_bmi2();

// sha256_hmac_block_portable is sha256_hmac_block (see fpe/sha256.h) in the form that
// sha256_compress_portable takes; the inner digest enters the outer block as words, not
// bytes. The _generic and _bmi2 forms are the same with the choice made; call the BMI2 one
// only when sha256_has_bmi2() is true.
void sha256_hmac_block_portable(const uint32_t inner[8], const uint32_t outer[8],
                                const uint8_t block[kSha256BlockLen], uint32_t mac[8]);
void sha256_hmac_block_generic(const uint32_t inner[8], const uint32_t outer[8],
                               const uint8_t block[kSha256BlockLen], uint32_t mac[8]);
void sha256_hmac_block_bmi2(const uint32_t inner[8], const uint32_t outer[8],
                            const uint8_t block[kSha256BlockLen], uint32_t mac[8]);

// sha256_hmac_outer_portable is sha256_hmac_outer (see fpe/sha256.h) in the form that
// sha256_compress_portable takes.
void sha256_hmac_outer_portable(const uint32_t outer[8], const uint32_t inner_digest[8],
                                uint32_t mac[8]);

// Sha256BlockFn is a block function: one compression of a block on a chaining value.
using Sha256BlockFn = void (*)(uint32_t h[8], const uint8_t block[kSha256BlockLen]);

// sha256_digest_portable hashes a whole message of any length into out with the block
// function `compress`. The padded tail and the chaining value are wiped before it returns,
// since the message may be a key.
void sha256_digest_portable(std::span<const uint8_t> message, uint8_t out[kSha256DigestLen],
                            Sha256BlockFn compress = sha256_compress_portable);

}  // namespace tavik::fpe

#endif  // TAVIK_FPE_SHA256_PORTABLE_H_
