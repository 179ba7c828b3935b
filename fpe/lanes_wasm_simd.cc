// The vector lane kernel on WebAssembly SIMD: 4 lanes of 32 bits, one lane per element of a
// 128-bit vector. WebAssembly has no SHA instructions, so the bulk forms of the WebAssembly
// build hash their values four at a time here instead of one after another. Compiled only
// where -msimd128 is on (js/CMakeLists.txt); elsewhere this file is empty.

#include "fpe/lane_kernels.h"

#if defined(__wasm_simd128__)

#include "fpe/lanes_vector.h"

namespace tavik::fpe::lanes {

void round_heads_wasm4(const RoundKey& key, const uint64_t* hi, const uint64_t* lo, size_t n,
                       uint64_t* heads) {
  VectorKernel<4>::round_heads(key, hi, lo, n, heads);
}

void hmac_blocks_wasm4(const uint32_t inner[8], const uint32_t outer[8],
                       const uint8_t (*blocks)[kSha256BlockLen], size_t n, uint32_t (*macs)[8]) {
  VectorKernel<4>::hmac_blocks(inner, outer, blocks, n, macs);
}

}  // namespace tavik::fpe::lanes

#endif  // __wasm_simd128__
