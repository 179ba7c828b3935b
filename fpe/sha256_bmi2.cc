// Our own SHA-256 rounds compiled for BMI1, BMI2, SSSE3 and SSE4.1 (see CMakeLists.txt):
// rotations by rorx, which leaves its source intact, andn, and the message schedule four words
// at a time in SSE registers. The backend table calls it only where the processor has them.

#include "fpe/sha256_kernels.h"

#if defined(__x86_64__)

#if !defined(__BMI__) || !defined(__BMI2__) || !defined(__SSSE3__) || !defined(__SSE4_1__)
#error "fpe/sha256_bmi2.cc needs -mbmi -mbmi2 -mssse3 -msse4.1"
#endif

#include "fpe/sha256_rounds.h"

namespace tavik::fpe {

void sha256_compress_bmi2(uint32_t h[8], const uint8_t block[kSha256BlockLen]) {
  compress_body<kBmi2Form>(h, BlockBytes(block));
}

void sha256_hmac_block_bmi2(const uint32_t inner[8], const uint32_t outer[8],
                            const uint8_t block[kSha256BlockLen], uint32_t mac[8]) {
  hmac_body<kBmi2Form>(inner, outer, block, mac);
}

void sha256_hmac_outer_bmi2(const uint32_t outer[8], const uint32_t inner_digest[8],
                            uint32_t mac[8]) {
  hmac_outer_body<kBmi2Form>(outer, inner_digest, mac);
}

}  // namespace tavik::fpe

#endif  // __x86_64__
