#ifndef TAVIK_CORE_AVX512_H_
#define TAVIK_CORE_AVX512_H_

// Internal to core/: the AVX-512 intrinsics, for the files compiled for them. GCC 12 takes the
// undefined vector that many of them start from for an uninitialised one, and warns in every
// file that includes them; the warnings are off for the rest of such a file.

#include <immintrin.h>

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

#endif  // TAVIK_CORE_AVX512_H_
