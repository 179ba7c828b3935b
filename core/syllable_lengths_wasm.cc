// The syllable lengths of a text sixteen letters at a time with WebAssembly SIMD (in a
// WebAssembly build with -msimd128).

#include "core/syllable_lengths.h"

#if defined(__wasm_simd128__)

#include <wasm_simd128.h>

#include "core/syllable_lengths_impl.h"

namespace tavik::core {

namespace {

struct WasmOps : ByteMasks<WasmOps> {
  using V = v128_t;
  using M = V;
  static constexpr size_t kWidth = 16;
  static V load(const uint8_t* p) { return wasm_v128_load(p); }
  static void store(uint8_t* p, V v) { wasm_v128_store(p, v); }
  static V splat(uint8_t b) { return wasm_u8x16_splat(b); }
  static V zero() { return wasm_u8x16_splat(0); }
  // A swizzle gives zero for an index of 16 or more: each half of the table answers for its
  // own indices.
  static V lookup(const uint8_t table[32], V v) {
    return wasm_v128_or(wasm_i8x16_swizzle(wasm_v128_load(table), v),
                        wasm_i8x16_swizzle(wasm_v128_load(table + 16),
                                           wasm_i8x16_sub(v, wasm_u8x16_splat(16))));
  }
  template <int k>
  static V next(V v, V after) {
    return wasm_i8x16_shuffle(v, after, k, k + 1, k + 2, k + 3, k + 4, k + 5, k + 6, k + 7,
                              k + 8, k + 9, k + 10, k + 11, k + 12, k + 13, k + 14, k + 15);
  }
  static V and_(V a, V b) { return wasm_v128_and(a, b); }
  static V or_(V a, V b) { return wasm_v128_or(a, b); }
  static V andnot(V a, V b) { return wasm_v128_andnot(a, b); }
  static V add(V a, V b) { return wasm_i8x16_add(a, b); }
  static V eq(V a, V b) { return wasm_i8x16_eq(a, b); }
};

}  // namespace

void syllable_lengths_wasm(const SyllableClassTables& tables, const uint8_t* letters,
                           size_t num_letters, uint8_t* lengths) {
  SyllableLengths<WasmOps>::run(tables, letters, num_letters, lengths);
}

}  // namespace tavik::core

#endif
