#ifndef TAVIK_CORE_AVX512_H_
#define TAVIK_CORE_AVX512_H_

// Internal to core/: the AVX-512 intrinsics, for the files compiled for them, and what those
// files share. GCC 12 takes the
// undefined vector that many of them start from for an uninitialised one, and warns in every
// file that includes them; the warnings are off for the rest of such a file.

#include <immintrin.h>

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

namespace tavik::core::avx512 {

// interleave_bytes is the index for _mm512_permutex2var_epi8(a, index, b) that gives a0 b0 a1
// b1 ... a31 b31. Internal linkage, as everything compiled for these instructions.
static inline __m512i interleave_bytes() {
  return _mm512_set_epi8(95, 31, 94, 30, 93, 29, 92, 28, 91, 27, 90, 26, 89, 25, 88, 24, 87, 23,
                         86, 22, 85, 21, 84, 20, 83, 19, 82, 18, 81, 17, 80, 16, 79, 15, 78, 14,
                         77, 13, 76, 12, 75, 11, 74, 10, 73, 9, 72, 8, 71, 7, 70, 6, 69, 5, 68, 4,
                         67, 3, 66, 2, 65, 1, 64, 0);
}

}  // namespace tavik::core::avx512

#endif  // TAVIK_CORE_AVX512_H_
