// The 16-lane vector kernel, compiled with -mavx512f: one zmm register holds a word of each
// lane. For processors with AVX-512F but without the SHA instructions.

#include "fpe/lane_kernels.h"

#if defined(__x86_64__)

#if !defined(__AVX512F__)
#error "fpe/lanes_avx512.cc needs -mavx512f"
#endif

#include "fpe/lanes_vector.h"

namespace tavik::fpe::lanes {

void round_heads_avx512(const RoundKey& key, const uint64_t* hi, const uint64_t* lo, size_t n,
                        uint64_t* heads) {
  VectorKernel<16>::round_heads(key, hi, lo, n, heads);
}

void hmac_blocks_avx512(const uint32_t inner[8], const uint32_t outer[8],
                        const uint8_t (*blocks)[kSha256BlockLen], size_t n,
                        uint32_t (*macs)[8]) {
  VectorKernel<16>::hmac_blocks(inner, outer, blocks, n, macs);
}

}  // namespace tavik::fpe::lanes

#endif  // __x86_64__
