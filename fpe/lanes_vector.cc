// The vector lane kernels: one vector register holds a word of each lane. Built twice: here
// with -mavx2 as 8 lanes, for processors with neither the SHA instructions nor AVX-512, and
// through lanes_vector_avx512.cc with -mavx512f as 16 lanes, for processors with AVX-512F but
// without the SHA instructions.

#include "fpe/lane_kernels.h"

#if defined(__x86_64__)

#ifndef TAVIK_VECTOR_LANES
#define TAVIK_VECTOR_LANES 8
#define TAVIK_VECTOR_SUFFIX avx2
#if !defined(__AVX2__)
#error "fpe/lanes_vector.cc needs -mavx2"
#endif
#endif
#define TAVIK_VECTOR_NAME2(name, suffix) name##_##suffix
#define TAVIK_VECTOR_NAME1(name, suffix) TAVIK_VECTOR_NAME2(name, suffix)
#define TAVIK_VECTOR_NAME(name) TAVIK_VECTOR_NAME1(name, TAVIK_VECTOR_SUFFIX)

#include "fpe/lanes_vector.h"

namespace tavik::fpe::lanes {

void TAVIK_VECTOR_NAME(round_heads)(const RoundKey& key, const uint64_t* hi, const uint64_t* lo,
                                    size_t n, uint64_t* heads) {
  VectorKernel<TAVIK_VECTOR_LANES>::round_heads(key, hi, lo, n, heads);
}

void TAVIK_VECTOR_NAME(hmac_blocks)(const uint32_t inner[8], const uint32_t outer[8],
                                    const uint8_t (*blocks)[kSha256BlockLen], size_t n,
                                    uint32_t (*macs)[8]) {
  VectorKernel<TAVIK_VECTOR_LANES>::hmac_blocks(inner, outer, blocks, n, macs);
}

}  // namespace tavik::fpe::lanes

#endif  // __x86_64__
