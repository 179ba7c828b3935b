// SHA-256 compression with the x86 SHA extensions. This file alone is compiled with
// -msha -msse4.1 -mssse3; sha256_compress calls it only where the processor has them.

#include "fpe/sha256.h"

#if defined(__x86_64__)

#include <immintrin.h>

namespace tavik::fpe {
namespace {

alignas(16) constexpr uint32_t kRoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

}  // namespace

void sha256_compress_shani(uint32_t h[8], const uint8_t block[kSha256BlockLen]) {
  // The instructions keep the working variables as ABEF and CDGH; h[] holds ABCD and EFGH.
  const __m128i abcd = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h));
  const __m128i efgh = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h + 4));
  const __m128i cdab = _mm_shuffle_epi32(abcd, 0xB1);
  const __m128i hgfe = _mm_shuffle_epi32(efgh, 0x1B);
  __m128i state0 = _mm_alignr_epi8(cdab, hgfe, 8);     // ABEF
  __m128i state1 = _mm_blend_epi16(hgfe, cdab, 0xF0);  // CDGH
  const __m128i abef_start = state0;
  const __m128i cdgh_start = state1;

  // Message words are big-endian in the block.
  const __m128i byte_swap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
  __m128i w[4];
  for (int i = 0; i < 4; ++i) {
    w[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * i)),
                            byte_swap);
  }

  // Sixteen groups of four rounds; w[g % 4] holds the schedule words 4g .. 4g + 3, and the
  // words of later groups are completed two and three groups ahead.
#pragma GCC unroll 16
  for (int g = 0; g < 16; ++g) {
    const __m128i cur = w[g & 3];
    __m128i msg = _mm_add_epi32(
        cur, _mm_load_si128(reinterpret_cast<const __m128i*>(kRoundConstants + 4 * g)));
    state1 = _mm_sha256rnds2_epu32(state1, state0, msg);
    if (g >= 3 && g <= 14) {
      __m128i& next = w[(g + 1) & 3];
      next = _mm_add_epi32(next, _mm_alignr_epi8(cur, w[(g - 1) & 3], 4));
      next = _mm_sha256msg2_epu32(next, cur);
    }
    msg = _mm_shuffle_epi32(msg, 0x0E);
    state0 = _mm_sha256rnds2_epu32(state0, state1, msg);
    if (g >= 1 && g <= 12) {
      __m128i& prev = w[(g - 1) & 3];
      prev = _mm_sha256msg1_epu32(prev, cur);
    }
  }

  state0 = _mm_add_epi32(state0, abef_start);
  state1 = _mm_add_epi32(state1, cdgh_start);

  const __m128i feba = _mm_shuffle_epi32(state0, 0x1B);
  const __m128i dchg = _mm_shuffle_epi32(state1, 0xB1);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(h), _mm_blend_epi16(feba, dchg, 0xF0));   // ABCD
  _mm_storeu_si128(reinterpret_cast<__m128i*>(h + 4), _mm_alignr_epi8(dchg, feba, 8));  // EFGH
}

}  // namespace tavik::fpe

#else  // not x86-64: no SHA instructions to use; sha256_has_shani() is false.

namespace tavik::fpe {

void sha256_compress_shani(uint32_t h[8], const uint8_t block[kSha256BlockLen]) {
  sha256_compress_openssl(h, block);
}

}  // namespace tavik::fpe

#endif
