// The 8-lane vector kernel, compiled with -mavx2: one ymm register holds a word of each lane.
// For processors with neither the SHA instructions nor AVX-512.

#include "fpe/lane_kernels.h"

#if defined(__x86_64__)

#if !defined(__AVX2__)
#error "fpe/lanes_avx2.cc needs -mavx2"
#endif

#include "fpe/lanes_vector.h"

namespace tavik::fpe::lanes {

void round_heads_avx2(const RoundKey& key, const uint64_t* hi, const uint64_t* lo, size_t n,
                      uint64_t* heads) {
  VectorKernel<8>::round_heads(key, hi, lo, n, heads);
}

void hmac_blocks_avx2(const uint32_t inner[8], const uint32_t outer[8],
                      const uint8_t (*blocks)[kSha256BlockLen], size_t n, uint32_t (*macs)[8]) {
  VectorKernel<8>::hmac_blocks(inner, outer, blocks, n, macs);
}

}  // namespace tavik::fpe::lanes

#endif  // __x86_64__
