// The raw digits of fourteen syllables in pairs, with SSSE3 (compiled with -mssse3; called
// only where the processor has it).

#include "core/render.h"

#if defined(__x86_64__)

#include <tmmintrin.h>

namespace tavik::core {

void fourteen_digit_pairs_ssse3(const uint8_t* units, uint32_t pairs[8]) {
  // Units 0-15 and 12-27 in two registers: the digit of each unit pair by one multiply-add of
  // bytes (onset + 35 nucleus, the nucleus without its flag), then each digit pair by one of
  // 16-bit words.
  const __m128i onset_and_nucleus = _mm_set1_epi16(0x7FFF);
  const __m128i by_onsets = _mm_set1_epi16(static_cast<int16_t>(1 | (kNumOnsets << 8)));
  const __m128i by_syllables = _mm_set1_epi32(1 | (int{kSyllableBase} << 16));
  const auto four_pairs = [&](const uint8_t* p) {
    const __m128i u = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)),
                                    onset_and_nucleus);
    return _mm_madd_epi16(_mm_maddubs_epi16(u, by_onsets), by_syllables);
  };
  _mm_storeu_si128(reinterpret_cast<__m128i*>(pairs), four_pairs(units));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(pairs + 3), four_pairs(units + 12));
}

}  // namespace tavik::core

#endif
