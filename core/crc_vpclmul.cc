// The CRC registers of four 64-byte blocks at once, each block's four pieces in the 128-bit
// lanes of four 512-bit registers (compiled with -mavx512f -mavx512bw -mvpclmulqdq -mpclmul
// -msse4.1; called only where the processor has them).

#include "core/crc_clmul.h"

#if defined(__x86_64__)

#include "core/avx512.h"
#include "core/crc_clmul_pieces.h"

namespace tavik::core {

void crc32_registers_vpclmul64(const uint8_t* const blocks[4], uint32_t registers[4]) {
  // Piece k of every block in register k: the four blocks transposed as a 4 x 4 matrix of
  // 128-bit lanes.
  const __m512i a = _mm512_loadu_si512(blocks[0]);
  const __m512i b = _mm512_loadu_si512(blocks[1]);
  const __m512i c = _mm512_loadu_si512(blocks[2]);
  const __m512i d = _mm512_loadu_si512(blocks[3]);
  const __m512i ab_low = _mm512_shuffle_i64x2(a, b, 0x44);   // a0 a1 b0 b1
  const __m512i ab_high = _mm512_shuffle_i64x2(a, b, 0xEE);  // a2 a3 b2 b3
  const __m512i cd_low = _mm512_shuffle_i64x2(c, d, 0x44);
  const __m512i cd_high = _mm512_shuffle_i64x2(c, d, 0xEE);
  const __m512i folded = crc32_registers_of_pieces<ClmulZmm>(
      _mm512_shuffle_i64x2(ab_low, cd_low, 0x88), _mm512_shuffle_i64x2(ab_low, cd_low, 0xDD),
      _mm512_shuffle_i64x2(ab_high, cd_high, 0x88),
      _mm512_shuffle_i64x2(ab_high, cd_high, 0xDD));
  // The second 32-bit word of each lane.
  _mm_storeu_si128(reinterpret_cast<__m128i*>(registers),
                   _mm512_castsi512_si128(_mm512_permutexvar_epi32(
                       _mm512_setr_epi32(1, 5, 9, 13, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0),
                       folded)));
}

}  // namespace tavik::core

#endif
