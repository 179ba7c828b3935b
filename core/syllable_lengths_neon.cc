// The syllable lengths of a text sixteen letters at a time with Advanced SIMD, which every
// aarch64 processor has.

#include "core/syllable_lengths.h"

#if defined(__aarch64__)

#include <arm_neon.h>

#include "core/syllable_lengths_impl.h"

namespace tavik::core {

namespace {

struct NeonOps : ByteMasks<NeonOps> {
  using V = uint8x16_t;
  using M = V;
  static constexpr size_t kWidth = 16;
  static V load(const uint8_t* p) { return vld1q_u8(p); }
  static void store(uint8_t* p, V v) { vst1q_u8(p, v); }
  static V splat(uint8_t b) { return vdupq_n_u8(b); }
  static V zero() { return vdupq_n_u8(0); }
  static V lookup(const uint8_t table[32], V v) {
    const uint8x16x2_t t = {{vld1q_u8(table), vld1q_u8(table + 16)}};
    return vqtbl2q_u8(t, v);
  }
  template <int k>
  static V next(V v, V after) { return vextq_u8(v, after, k); }
  static V and_(V a, V b) { return vandq_u8(a, b); }
  static V or_(V a, V b) { return vorrq_u8(a, b); }
  static V andnot(V a, V b) { return vbicq_u8(a, b); }
  static V add(V a, V b) { return vaddq_u8(a, b); }
  static V eq(V a, V b) { return vceqq_u8(a, b); }
};

}  // namespace

void syllable_lengths_neon(const SyllableClassTables& tables, const uint8_t* letters,
                           size_t num_letters, uint8_t* lengths) {
  SyllableLengths<NeonOps>::run(tables, letters, num_letters, lengths);
}

}  // namespace tavik::core

#endif
