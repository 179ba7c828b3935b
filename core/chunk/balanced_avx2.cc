// The separator masks of the builders' Balanced layout with AVX2: two words side by side in
// 256-bit vectors, each in its own 128-bit half, so that every step of the SSE2 code serves
// both at once. Compiled with -mavx2; engine.cc calls it only where the processor has AVX2.

#include "core/chunk/balanced_lanes.h"

#if defined(__x86_64__)

#if !defined(__AVX2__)
#error "core/chunk/balanced_avx2.cc needs -mavx2"
#endif

#include <immintrin.h>

namespace tavik::core::balanced {
namespace {

struct Avx2 {
  using Vec = __m256i;
  static constexpr size_t kWords = 2;
  template <typename T>
  static Vec set1(T v) { return _mm256_set1_epi16(static_cast<int16_t>(v)); }
  static Vec zero() { return _mm256_setzero_si256(); }
  static Vec add(Vec a, Vec b) { return _mm256_add_epi16(a, b); }
  static Vec sub(Vec a, Vec b) { return _mm256_sub_epi16(a, b); }
  static Vec mullo(Vec a, Vec b) { return _mm256_mullo_epi16(a, b); }
  static Vec mulhi(Vec a, Vec b) { return _mm256_mulhi_epu16(a, b); }
  static Vec max(Vec a, Vec b) { return _mm256_max_epi16(a, b); }
  static Vec bit_and(Vec a, Vec b) { return _mm256_and_si256(a, b); }
  static Vec bit_or(Vec a, Vec b) { return _mm256_or_si256(a, b); }
  static Vec cmpgt(Vec a, Vec b) { return _mm256_cmpgt_epi16(a, b); }
  static Vec cmpeq(Vec a, Vec b) { return _mm256_cmpeq_epi16(a, b); }
  static Vec subs(Vec a, Vec b) { return _mm256_subs_epu16(a, b); }
  template <int k>
  static Vec shl_bytes(Vec a) { return _mm256_bslli_epi128(a, k); }
  template <int k>
  static Vec shr_bytes(Vec a) { return _mm256_bsrli_epi128(a, k); }
  template <int k>
  static Vec shr16(Vec a) { return _mm256_srli_epi16(a, k); }
  template <int imm>
  static Vec shuffle32(Vec a) { return _mm256_shuffle_epi32(a, imm); }
  template <int imm>
  static Vec shufflelo(Vec a) { return _mm256_shufflelo_epi16(a, imm); }
  template <int imm>
  static Vec shufflehi(Vec a) { return _mm256_shufflehi_epi16(a, imm); }
  static Vec unpackhi64(Vec a, Vec b) { return _mm256_unpackhi_epi64(a, b); }
  static Vec packs(Vec a, Vec b) { return _mm256_packs_epi16(a, b); }
  static uint32_t movemask(Vec a) { return static_cast<uint32_t>(_mm256_movemask_epi8(a)); }
  static Vec setr8(int16_t a, int16_t b, int16_t c, int16_t d, int16_t e, int16_t f, int16_t g,
                   int16_t h) {
    return _mm256_setr_epi16(a, b, c, d, e, f, g, h, a, b, c, d, e, f, g, h);
  }
  static Vec load_words(const uint16_t* const* words) {
    const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(words[0]));
    const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(words[1]));
    return _mm256_inserti128_si256(_mm256_castsi128_si256(first), second, 1);
  }
};

}  // namespace

void masks_avx2(std::span<const std::array<uint16_t, kMaxDataSyllables>> words, size_t n,
                uint32_t* masks) {
  masks_of_words<Avx2, 4>(words, n, masks);
}

}  // namespace tavik::core::balanced

#endif
