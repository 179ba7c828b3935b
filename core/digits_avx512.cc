// The fourteen base-700 digits of many 128-bit values with AVX-512 (F, DQ, BW and VL; compiled
// with those flags, called only where the processor has them): eight values in the 64-bit
// lanes of a vector, divided by 700^3 by long division over 32-bit pieces, with the quotient of
// each step estimated in double precision and corrected. value_to_digits does the same for one
// value with scalar multiplications; here the steps of eight values are one instruction each.

#include "core/render.h"

#if defined(__x86_64__)

#if !defined(__AVX512DQ__) || !defined(__AVX512BW__) || !defined(__AVX512VL__)
#error "core/digits_avx512.cc needs -mavx512dq, -mavx512bw and -mavx512vl"
#endif

#include <array>
#include <bit>
#include <type_traits>

#include "core/avx512.h"

namespace tavik::core {

namespace {

// The values are read in place, two 64-bit words each, the high one first.
static_assert(sizeof(U128) == 16 && std::is_trivially_copyable_v<U128>);
static_assert(std::bit_cast<std::array<uint64_t, 2>>(U128(1, 2)) == std::array<uint64_t, 2>{1, 2});

constexpr uint64_t kDivisor = 343000000;  // 700^3, below 2^29

// DivisionStep divides (r * 2^32 + piece) by 700^3 in every lane, r being the remainder of the
// step before (below 700^3): the quotient, below 2^32, and the new remainder. The dividend is
// below 2^61; its quotient in double precision lies within 2^-19 of the true one, so the
// truncated estimate is off by at most one either way, which one comparison each way mends.
struct DivisionStep {
  __m512i quotient;
  __m512i remainder;
};

inline DivisionStep divide_step(__m512i remainder, __m512i piece) {
  const __m512i divisor = _mm512_set1_epi64(kDivisor);
  const __m512i x = _mm512_or_si512(_mm512_slli_epi64(remainder, 32), piece);
  const __m512d estimate =
      _mm512_mul_pd(_mm512_cvtepu64_pd(x), _mm512_set1_pd(1.0 / static_cast<double>(kDivisor)));
  __m512i q = _mm512_cvttpd_epu64(estimate);
  // The estimate may reach 2^32: the full 64-bit product.
  __m512i r = _mm512_sub_epi64(x, _mm512_mullo_epi64(q, divisor));
  const __mmask8 under = _mm512_cmplt_epi64_mask(r, _mm512_setzero_si512());
  q = _mm512_mask_sub_epi64(q, under, q, _mm512_set1_epi64(1));
  r = _mm512_mask_add_epi64(r, under, r, divisor);
  const __mmask8 over = _mm512_cmpge_epi64_mask(r, divisor);
  q = _mm512_mask_add_epi64(q, over, q, _mm512_set1_epi64(1));
  r = _mm512_mask_sub_epi64(r, over, r, divisor);
  return {q, r};
}

// The three digits of a part below 700^3, least significant first: p / 700 is
// (p * 785365449) >> 39 for p below 2^29 (the multiplier is 2^39 / 700 rounded up: too large
// by under one, it adds less than 2^29 / 2^39, under 1 / 700, to a quotient whose fraction is
// at most 699 / 700).
inline void part_digits(__m512i part, __m512i* digits) {
  const __m512i multiplier = _mm512_set1_epi64(785365449);
  const __m512i base = _mm512_set1_epi64(kSyllableBase);
  const __m512i q1 = _mm512_srli_epi64(_mm512_mul_epu32(part, multiplier), 39);
  const __m512i q2 = _mm512_srli_epi64(_mm512_mul_epu32(q1, multiplier), 39);
  digits[0] = _mm512_sub_epi64(part, _mm512_mul_epu32(q1, base));
  digits[1] = _mm512_sub_epi64(q1, _mm512_mul_epu32(q2, base));
  digits[2] = q2;
}

// The digits of kGroups groups of eight values, digit k of every value of group g in
// digits[g][k] (k < 16; 14 and 15 are 0). The division of a group is one chain of steps, each
// waiting for the one before: the groups go through them side by side.
template <size_t kGroups>
void digits_of_groups(const U128* values, __m512i (*digits)[16]) {
  const __m512i low32 = _mm512_set1_epi64(0xFFFFFFFF);
  // Each value as four pieces of 32 bits, the most significant first.
  __m512i pieces[kGroups][4];
  for (size_t g = 0; g < kGroups; ++g) {
    // Lanes 2i and 2i + 1 of the two loads hold value i's high and low words.
    const __m512i first = _mm512_loadu_si512(values + 8 * g);
    const __m512i second = _mm512_loadu_si512(values + 8 * g + 4);
    const __m512i hi = _mm512_permutex2var_epi64(
        first, _mm512_setr_epi64(0, 2, 4, 6, 8, 10, 12, 14), second);
    const __m512i lo = _mm512_permutex2var_epi64(
        first, _mm512_setr_epi64(1, 3, 5, 7, 9, 11, 13, 15), second);
    pieces[g][0] = _mm512_srli_epi64(hi, 32);
    pieces[g][1] = _mm512_and_si512(hi, low32);
    pieces[g][2] = _mm512_srli_epi64(lo, 32);
    pieces[g][3] = _mm512_and_si512(lo, low32);
  }
  // Divided by 700^3 four times over: each division leaves three digits as its remainder, and
  // its quotient is divided next. The quotient after k divisions is below 2^(128 - 28.35 k):
  // 4, 4, 3 and 2 pieces to divide.
  constexpr size_t kFirstPiece[4] = {0, 0, 1, 2};
  for (size_t round = 0; round < 4; ++round) {
    __m512i remainder[kGroups];
    for (size_t g = 0; g < kGroups; ++g) { remainder[g] = _mm512_setzero_si512(); }
    for (size_t p = kFirstPiece[round]; p < 4; ++p) {
      for (size_t g = 0; g < kGroups; ++g) {
        const DivisionStep step = divide_step(remainder[g], pieces[g][p]);
        pieces[g][p] = step.quotient;
        remainder[g] = step.remainder;
      }
    }
    for (size_t g = 0; g < kGroups; ++g) { part_digits(remainder[g], digits[g] + 3 * round); }
  }
  // What remains is below 2^14.6, under 700^2: digits 12 and 13.
  for (size_t g = 0; g < kGroups; ++g) {
    __m512i last[3];
    part_digits(pieces[g][3], last);
    digits[g][12] = last[0];
    digits[g][13] = last[1];
    digits[g][14] = _mm512_setzero_si512();
    digits[g][15] = _mm512_setzero_si512();
  }
}

// store_words stores the digits of eight values, digit k of every value in digits[k], as the
// values' rows of fourteen digits. Stage one gathers digits 0-7 and 8-15 of four values each;
// stage two pairs them into two values of sixteen digits a vector, of which the first fourteen
// are stored.
void store_words(const __m512i digits[16], std::array<uint16_t, kMaxDataSyllables>* out) {
  alignas(64) static constexpr uint16_t kLowHalves[2][32] = {
      {0,  8,  16, 24, 32, 40, 48, 56, 1,  9,  17, 25, 33, 41, 49, 57,
       2,  10, 18, 26, 34, 42, 50, 58, 3,  11, 19, 27, 35, 43, 51, 59},
      {4,  12, 20, 28, 36, 44, 52, 60, 5,  13, 21, 29, 37, 45, 53, 61,
       6,  14, 22, 30, 38, 46, 54, 62, 7,  15, 23, 31, 39, 47, 55, 63}};
  alignas(64) static constexpr uint16_t kPairs[2][32] = {
      {0,  1,  2,  3,  4,  5,  6,  7,  32, 33, 34, 35, 36, 37, 38, 39,
       8,  9,  10, 11, 12, 13, 14, 15, 40, 41, 42, 43, 44, 45, 46, 47},
      {16, 17, 18, 19, 20, 21, 22, 23, 48, 49, 50, 51, 52, 53, 54, 55,
       24, 25, 26, 27, 28, 29, 30, 31, 56, 57, 58, 59, 60, 61, 62, 63}};
  // Four vectors of four digits each: digit k of the eight values in 128-bit part k % 4 of
  // vector k / 4.
  __m512i by_digit[4];
  for (size_t v = 0; v < 4; ++v) {
    const __m256i low = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm512_cvtepi64_epi16(digits[4 * v])),
        _mm512_cvtepi64_epi16(digits[4 * v + 1]), 1);
    const __m256i high = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm512_cvtepi64_epi16(digits[4 * v + 2])),
        _mm512_cvtepi64_epi16(digits[4 * v + 3]), 1);
    by_digit[v] = _mm512_inserti64x4(_mm512_castsi256_si512(low), high, 1);
  }
  for (size_t half = 0; half < 2; ++half) {  // values 4 * half .. 4 * half + 3
    const __m512i index = _mm512_load_si512(kLowHalves[half]);
    // Digits 0-7 of four values, eight each, and digits 8-15.
    const __m512i low = _mm512_permutex2var_epi16(by_digit[0], index, by_digit[1]);
    const __m512i high = _mm512_permutex2var_epi16(by_digit[2], index, by_digit[3]);
    for (size_t pair = 0; pair < 2; ++pair) {
      const __m512i words = _mm512_permutex2var_epi16(low, _mm512_load_si512(kPairs[pair]), high);
      std::array<uint16_t, kMaxDataSyllables>* at = out + 4 * half + 2 * pair;
      _mm256_mask_storeu_epi16(at[0].data(), 0x3FFF, _mm512_castsi512_si256(words));
      _mm256_mask_storeu_epi16(at[1].data(), 0x3FFF, _mm512_extracti64x4_epi64(words, 1));
    }
  }
}

}  // namespace

void values_to_digits_avx512(const U128* values, size_t n,
                             std::array<uint16_t, kMaxDataSyllables>* out) {
  static_assert(kMaxDataSyllables == 14);
  // Four groups side by side: on an AMD EPYC of family 26, 9.9 ns a value with one, 7.2 with
  // two, 5.7 with four (the scalar code takes 14.5).
  size_t i = 0;
  for (; i + 32 <= n; i += 32) {
    __m512i digits[4][16];
    digits_of_groups<4>(values + i, digits);
    for (size_t g = 0; g < 4; ++g) { store_words(digits[g], out + i + 8 * g); }
  }
  for (; i + 8 <= n; i += 8) {
    __m512i digits[1][16];
    digits_of_groups<1>(values + i, digits);
    store_words(digits[0], out + i);
  }
  for (; i < n; ++i) { value_to_digits(values[i], kMaxDataSyllables, out[i].data()); }
}

}  // namespace tavik::core

#endif
