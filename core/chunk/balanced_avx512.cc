// The separator masks of the builders' Balanced layout with AVX-512BW: four words side by side
// in 512-bit vectors, each in its own 128-bit quarter, as balanced_avx2.cc holds two. Compiled
// with -mavx512f -mavx512bw; engine.cc calls it only where the processor has AVX-512BW.

#include "core/chunk/balanced_lanes.h"

#if defined(__x86_64__)

#if !defined(__AVX512BW__)
#error "core/chunk/balanced_avx512.cc needs -mavx512bw"
#endif

#include "core/avx512.h"

namespace tavik::core::balanced {
namespace {

struct Avx512 {
  using Vec = __m512i;
  static constexpr size_t kWords = 4;
  template <typename T>
  static Vec set1(T v) { return _mm512_set1_epi16(static_cast<int16_t>(v)); }
  static Vec zero() { return _mm512_setzero_si512(); }
  static Vec add(Vec a, Vec b) { return _mm512_add_epi16(a, b); }
  static Vec sub(Vec a, Vec b) { return _mm512_sub_epi16(a, b); }
  static Vec mullo(Vec a, Vec b) { return _mm512_mullo_epi16(a, b); }
  static Vec mulhi(Vec a, Vec b) { return _mm512_mulhi_epu16(a, b); }
  static Vec max(Vec a, Vec b) { return _mm512_max_epi16(a, b); }
  static Vec bit_and(Vec a, Vec b) { return _mm512_and_si512(a, b); }
  static Vec bit_or(Vec a, Vec b) { return _mm512_or_si512(a, b); }
  // The comparisons give masks; the layout's code wants lanes of all ones or zeros.
  static Vec cmpgt(Vec a, Vec b) { return _mm512_movm_epi16(_mm512_cmpgt_epi16_mask(a, b)); }
  static Vec cmpeq(Vec a, Vec b) { return _mm512_movm_epi16(_mm512_cmpeq_epi16_mask(a, b)); }
  static Vec subs(Vec a, Vec b) { return _mm512_subs_epu16(a, b); }
  template <int k>
  static Vec shl_bytes(Vec a) { return _mm512_bslli_epi128(a, k); }
  template <int k>
  static Vec shr_bytes(Vec a) { return _mm512_bsrli_epi128(a, k); }
  template <int k>
  static Vec shr16(Vec a) { return _mm512_srli_epi16(a, k); }
  template <int imm>
  static Vec shuffle32(Vec a) { return _mm512_shuffle_epi32(a, static_cast<_MM_PERM_ENUM>(imm)); }
  template <int imm>
  static Vec shufflelo(Vec a) { return _mm512_shufflelo_epi16(a, imm); }
  template <int imm>
  static Vec shufflehi(Vec a) { return _mm512_shufflehi_epi16(a, imm); }
  static Vec unpackhi64(Vec a, Vec b) { return _mm512_unpackhi_epi64(a, b); }
  static Vec packs(Vec a, Vec b) { return _mm512_packs_epi16(a, b); }
  static uint64_t movemask(Vec a) { return _mm512_movepi8_mask(a); }
  static Vec setr8(int16_t a, int16_t b, int16_t c, int16_t d, int16_t e, int16_t f, int16_t g,
                   int16_t h) {
    return _mm512_broadcast_i32x4(_mm_setr_epi16(a, b, c, d, e, f, g, h));
  }
  static Vec load_words(const uint16_t* const* words) {
    const auto load = [&](size_t w) {
      return _mm_loadu_si128(reinterpret_cast<const __m128i*>(words[w]));
    };
    const __m256i low = _mm256_inserti128_si256(_mm256_castsi128_si256(load(0)), load(1), 1);
    const __m256i high = _mm256_inserti128_si256(_mm256_castsi128_si256(load(2)), load(3), 1);
    return _mm512_inserti64x4(_mm512_castsi256_si512(low), high, 1);
  }
};

}  // namespace

// Four vectors, sixteen words, a pass: the cuts of a word are a chain of dependent steps, and
// fewer vectors leave its waits uncovered, more spill (on an AMD EPYC of family 26, 10.3 ns a
// word with two, 7.4 with four, 9.5 with six or eight; the AVX2 code takes 12.4).
void masks_avx512(std::span<const std::array<uint16_t, kMaxDataSyllables>> words, size_t n,
                  uint32_t* masks) {
  masks_of_words<Avx512, 4>(words, n, masks);
}

}  // namespace tavik::core::balanced

#endif
