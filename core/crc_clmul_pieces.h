#ifndef TAVIK_CORE_CRC_CLMUL_PIECES_H_
#define TAVIK_CORE_CRC_CLMUL_PIECES_H_

// Internal to core/: the CRC-32 of the check syllables (reflected 0xEDB88320) of 64 bytes held
// in four vector registers, by carry-less multiplication, for the files compiled with
// PCLMULQDQ and SSE4.1 (crc_clmul.cc, and canonical_text_vbmi2.cc, which folds a text it has
// just spelled without storing it first). Internal linkage, as everything compiled for these
// instructions.

#include <immintrin.h>

#include <cstdint>

namespace tavik::core {

// crc32_register_of_pieces is the CRC register after the bytes of p0, p1, p2, p3 (in that
// order) from a register of 0, without the final XOR: what the byte tables give for the same
// bytes.
static inline uint32_t crc32_register_of_pieces(__m128i p0, __m128i p1, __m128i p2,
                                                __m128i p3) {
  // The constants are powers of x modulo the polynomial, bit-reflected: x^(128+32) and
  // x^(128-32) fold a 128-bit piece onto the next, x^64 takes 96 bits to 64, and the Barrett
  // reduction uses the polynomial with x^32 and floor(x^64 / polynomial).
  const __m128i fold = _mm_set_epi64x(0x0ccaa009e, 0x1751997d0);
  const __m128i to_64 = _mm_set_epi64x(0, 0x163cd6124);
  const __m128i barrett = _mm_set_epi64x(0x1f7011641, 0x1db710641);
  const __m128i low32 = _mm_set_epi32(0, 0, 0, -1);
  const __m128i rest[3] = {p1, p2, p3};
  __m128i x = p0;
  for (const __m128i next : rest) {
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

#endif  // TAVIK_CORE_CRC_CLMUL_PIECES_H_
