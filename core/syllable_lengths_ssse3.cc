// The syllable lengths of a text sixteen letters at a time with SSSE3 (compiled with -mssse3;
// called only where the processor has it).

#include "core/syllable_lengths.h"

#if defined(__x86_64__)

#include <tmmintrin.h>

#include "core/syllable_lengths_impl.h"

namespace tavik::core {

namespace {

struct Ssse3Ops {
  using V = __m128i;
  static V load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const V*>(p)); }
  static void store(uint8_t* p, V v) { _mm_storeu_si128(reinterpret_cast<V*>(p), v); }
  static V splat(uint8_t b) { return _mm_set1_epi8(static_cast<char>(b)); }
  static V zero() { return _mm_setzero_si128(); }
  static V lookup(const uint8_t table[32], V v) {
    const V low = _mm_shuffle_epi8(_mm_load_si128(reinterpret_cast<const V*>(table)), v);
    const V high = _mm_shuffle_epi8(_mm_load_si128(reinterpret_cast<const V*>(table + 16)), v);
    const V upper = _mm_cmpgt_epi8(v, _mm_set1_epi8(15));
    return _mm_or_si128(_mm_and_si128(upper, high), _mm_andnot_si128(upper, low));
  }
  template <int k>
  static V next(V v, V after) { return _mm_alignr_epi8(after, v, k); }
  static V and_(V a, V b) { return _mm_and_si128(a, b); }
  static V or_(V a, V b) { return _mm_or_si128(a, b); }
  static V andnot(V a, V b) { return _mm_andnot_si128(b, a); }
  static V add(V a, V b) { return _mm_add_epi8(a, b); }
  static V eq(V a, V b) { return _mm_cmpeq_epi8(a, b); }
};

}  // namespace

void syllable_lengths_ssse3(const SyllableClassTables& tables, const uint8_t* letters,
                            size_t num_letters, uint8_t* lengths) {
  SyllableLengths<Ssse3Ops>::run(tables, letters, num_letters, lengths);
}

}  // namespace tavik::core

#endif
