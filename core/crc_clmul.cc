#include "core/crc_clmul.h"

#if defined(__x86_64__)

#if !defined(__PCLMUL__) || !defined(__SSE4_1__)
#error "core/crc_clmul.cc needs -mpclmul and -msse4.1"
#endif

#include <immintrin.h>

namespace tavik::core {

uint32_t crc32_register_clmul64(const uint8_t block[64]) {
  // The constants are powers of x modulo the polynomial, bit-reflected: x^(128+32) and
  // x^(128-32) fold a 128-bit piece onto the next, x^64 takes 96 bits to 64, and the Barrett
  // reduction uses the polynomial with x^32 and floor(x^64 / polynomial).
  const __m128i fold = _mm_set_epi64x(0x0ccaa009e, 0x1751997d0);
  const __m128i to_64 = _mm_set_epi64x(0, 0x163cd6124);
  const __m128i barrett = _mm_set_epi64x(0x1f7011641, 0x1db710641);
  const __m128i low32 = _mm_set_epi32(0, 0, 0, -1);
  __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block));
  for (int piece = 1; piece < 4; ++piece) {
    const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * piece));
    x = _mm_xor_si128(
        _mm_xor_si128(_mm_clmulepi64_si128(x, fold, 0x00), _mm_clmulepi64_si128(x, fold, 0x11)),
        next);
  }
  x = _mm_xor_si128(_mm_clmulepi64_si128(x, fold, 0x10), _mm_srli_si128(x, 8));
  x = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x, low32), to_64, 0x00),
                    _mm_srli_si128(x, 4));
  __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x, low32), barrett, 0x10);
  t = _mm_clmulepi64_si128(_mm_and_si128(t, low32), barrett, 0x00);
  return static_cast<uint32_t>(_mm_extract_epi32(_mm_xor_si128(x, t), 1));
}

}  // namespace tavik::core

#endif
