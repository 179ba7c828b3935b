#ifndef TAVIK_FPE_SHA256_KERNELS_H_
#define TAVIK_FPE_SHA256_KERNELS_H_

// Internal to fpe/: the block functions compiled for one instruction set each, which the
// backend table (fpe/backend.h) offers only where the processor has it. Each behaves as
// sha256_compress, sha256_hmac_block and sha256_hmac_outer of fpe/sha256.h.
//   _sha   the processor's SHA instructions (fpe/sha256_sha.cc: x86 SHA with SSSE3 and
//          SSE4.1, or ARMv8 SHA-2); defined on x86-64 and aarch64.
//   _bmi2  our own rounds with rorx and andn and the message schedule in SSE registers
//          (fpe/sha256_bmi2.cc: BMI1, BMI2, SSSE3, SSE4.1); defined on x86-64.
// The generic forms, for any processor, are in fpe/sha256_portable.h.

#include <cstdint>

#include "fpe/sha256.h"

namespace tavik::fpe {

#if defined(__x86_64__) || defined(__aarch64__)
void sha256_compress_sha(uint32_t h[8], const uint8_t block[kSha256BlockLen]);
void sha256_hmac_block_sha(const uint32_t inner[8], const uint32_t outer[8],
                           const uint8_t block[kSha256BlockLen], uint32_t mac[8]);
void sha256_hmac_outer_sha(const uint32_t outer[8], const uint32_t inner_digest[8],
                           uint32_t mac[8]);
#endif

#if defined(__x86_64__)
void sha256_compress_bmi2(uint32_t h[8], const uint8_t block[kSha256BlockLen]);
void sha256_hmac_block_bmi2(const uint32_t inner[8], const uint32_t outer[8],
                            const uint8_t block[kSha256BlockLen], uint32_t mac[8]);
void sha256_hmac_outer_bmi2(const uint32_t outer[8], const uint32_t inner_digest[8],
                            uint32_t mac[8]);
#endif

}  // namespace tavik::fpe

#endif  // TAVIK_FPE_SHA256_KERNELS_H_
