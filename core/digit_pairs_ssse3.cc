// The raw digits of fourteen syllables, alone or in pairs, with SSSE3 (compiled with -mssse3;
// called only where the processor has it).

#include "core/render.h"

#if defined(__x86_64__)

#include <tmmintrin.h>

namespace tavik::core {

namespace {

// eight_digits is the raw digits of the sixteen units at p, by one multiply-add of bytes (onset
// + 35 nucleus, the nucleus without its flag) per unit pair.
__m128i eight_digits(const uint8_t* p) {
  const __m128i onset_and_nucleus = _mm_set1_epi16(0x7FFF);
  const __m128i by_onsets = _mm_set1_epi16(static_cast<int16_t>(1 | (kNumOnsets << 8)));
  const __m128i u = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)),
                                  onset_and_nucleus);
  return _mm_maddubs_epi16(u, by_onsets);
}

}  // namespace

// Units 0-15 and 12-27 in two registers; the two overlap by two syllables.
void fourteen_digit_pairs_ssse3(const uint8_t* units, uint32_t pairs[8]) {
  const __m128i by_syllables = _mm_set1_epi32(1 | (int{kSyllableBase} << 16));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(pairs),
                   _mm_madd_epi16(eight_digits(units), by_syllables));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(pairs + 3),
                   _mm_madd_epi16(eight_digits(units + 12), by_syllables));
}

void fourteen_digits_ssse3(const uint8_t* units, uint16_t digits[14]) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(digits), eight_digits(units));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(digits + 6), eight_digits(units + 12));
}

}  // namespace tavik::core

#endif
