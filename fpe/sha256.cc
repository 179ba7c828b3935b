#include "fpe/sha256.h"

#if defined(__x86_64__)
#include <cpuid.h>
#endif

namespace tavik::fpe {

bool sha256_has_shani() {
#if defined(__x86_64__)
  // CPUID leaf 7 EBX bit 29 is SHA; leaf 1 ECX bits 19 and 9 are SSE4.1 and SSSE3. Asked
  // directly, since not every compiler's __builtin_cpu_supports knows "sha".
  static const bool has = [] {
    unsigned int eax = 0;
    unsigned int ebx = 0;
    unsigned int ecx = 0;
    unsigned int edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) { return false; }
    const bool sse = (ecx & (1u << 19)) != 0 && (ecx & (1u << 9)) != 0;
    if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0) { return false; }
    return sse && (ebx & (1u << 29)) != 0;
  }();
  return has;
#else
  return false;
#endif
}

void sha256_compress(uint32_t h[8], const uint8_t block[kSha256BlockLen]) {
  if (sha256_has_shani()) {
    sha256_compress_shani(h, block);
  } else {
    sha256_compress_openssl(h, block);
  }
}

void sha256_hmac_block(const uint32_t inner[8], const uint32_t outer[8],
                       const uint8_t block[kSha256BlockLen], uint32_t mac[8]) {
  if (sha256_has_shani()) {
    sha256_hmac_block_shani(inner, outer, block, mac);
  } else {
    sha256_hmac_block_openssl(inner, outer, block, mac);
  }
}

void sha256_hmac_block_pair(const uint32_t inner0[8], const uint32_t outer0[8],
                            const uint8_t block0[kSha256BlockLen], uint32_t mac0[8],
                            const uint32_t inner1[8], const uint32_t outer1[8],
                            const uint8_t block1[kSha256BlockLen], uint32_t mac1[8]) {
  if (sha256_has_shani()) {
    sha256_hmac_block_pair_shani(inner0, outer0, block0, mac0, inner1, outer1, block1, mac1);
  } else {
    sha256_hmac_block_openssl(inner0, outer0, block0, mac0);
    sha256_hmac_block_openssl(inner1, outer1, block1, mac1);
  }
}

}  // namespace tavik::fpe
