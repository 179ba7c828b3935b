#ifndef TAVIK_CORE_CRC_CLMUL_PIECES_H_
#define TAVIK_CORE_CRC_CLMUL_PIECES_H_

// Internal to core/: the CRC-32 of the check syllables (reflected 0xEDB88320) of 64 bytes held
// in four vector registers, by carry-less multiplication, for the files compiled with
// PCLMULQDQ and SSE4.1 (crc_clmul.cc, canonical_text_vbmi2.cc, which folds a text it has just
// spelled without storing it first, and crc_vpclmul.cc, which folds four blocks at once).
// Internal linkage, as everything compiled for these instructions.

#include <immintrin.h>

#include <cstdint>

namespace tavik::core {

// The operations of the folding on one block in a 128-bit register, and on four blocks in the
// 128-bit lanes of a 512-bit register (files compiled with AVX-512BW and VPCLMULQDQ as well).
struct ClmulXmm {
  using Vec = __m128i;
  template <int imm>
  static Vec clmul(Vec a, Vec b) { return _mm_clmulepi64_si128(a, b, imm); }
  static Vec bit_xor(Vec a, Vec b) { return _mm_xor_si128(a, b); }
  static Vec bit_and(Vec a, Vec b) { return _mm_and_si128(a, b); }
  template <int k>
  static Vec shr_bytes(Vec a) { return _mm_srli_si128(a, k); }
  static Vec constant(int64_t hi, int64_t lo) { return _mm_set_epi64x(hi, lo); }
};

#if defined(__VPCLMULQDQ__) && defined(__AVX512BW__)
struct ClmulZmm {
  using Vec = __m512i;
  template <int imm>
  static Vec clmul(Vec a, Vec b) { return _mm512_clmulepi64_epi128(a, b, imm); }
  static Vec bit_xor(Vec a, Vec b) { return _mm512_xor_si512(a, b); }
  static Vec bit_and(Vec a, Vec b) { return _mm512_and_si512(a, b); }
  template <int k>
  static Vec shr_bytes(Vec a) { return _mm512_bsrli_epi128(a, k); }
  static Vec constant(int64_t hi, int64_t lo) {
    return _mm512_broadcast_i32x4(_mm_set_epi64x(hi, lo));
  }
};
#endif

// crc32_registers_of_pieces gives, in the second 32-bit word of each 128-bit lane, the CRC
// register after the bytes of that lane of p0, p1, p2, p3 (in that order) from a register of 0,
// without the final XOR: what the byte tables give for the same bytes.
template <typename V>
static inline typename V::Vec crc32_registers_of_pieces(typename V::Vec p0, typename V::Vec p1,
                                                        typename V::Vec p2, typename V::Vec p3) {
  using Vec = typename V::Vec;
  // The constants are powers of x modulo the polynomial, bit-reflected: x^(128+32) and
  // x^(128-32) fold a 128-bit piece onto the next, x^64 takes 96 bits to 64, and the Barrett
  // reduction uses the polynomial with x^32 and floor(x^64 / polynomial).
  const Vec fold = V::constant(0x0ccaa009e, 0x1751997d0);
  const Vec to_64 = V::constant(0, 0x163cd6124);
  const Vec barrett = V::constant(0x1f7011641, 0x1db710641);
  const Vec low32 = V::constant(0, 0xFFFFFFFF);
  const Vec rest[3] = {p1, p2, p3};
  Vec x = p0;
  for (const Vec next : rest) {
    x = V::bit_xor(V::bit_xor(V::template clmul<0x00>(x, fold), V::template clmul<0x11>(x, fold)),
                   next);
  }
  x = V::bit_xor(V::template clmul<0x10>(x, fold), V::template shr_bytes<8>(x));
  x = V::bit_xor(V::template clmul<0x00>(V::bit_and(x, low32), to_64),
                 V::template shr_bytes<4>(x));
  Vec t = V::template clmul<0x10>(V::bit_and(x, low32), barrett);
  t = V::template clmul<0x00>(V::bit_and(t, low32), barrett);
  return V::bit_xor(x, t);
}

// crc32_register_of_pieces is the CRC register after the bytes of p0, p1, p2, p3 (in that
// order) from a register of 0, without the final XOR: what the byte tables give for the same
// bytes.
static inline uint32_t crc32_register_of_pieces(__m128i p0, __m128i p1, __m128i p2,
                                                __m128i p3) {
  return static_cast<uint32_t>(
      _mm_extract_epi32(crc32_registers_of_pieces<ClmulXmm>(p0, p1, p2, p3), 1));
}

}  // namespace tavik::core

#endif  // TAVIK_CORE_CRC_CLMUL_PIECES_H_
