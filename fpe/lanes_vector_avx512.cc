// The vector lane kernels once more (see lanes_vector.cc), compiled with -mavx512f as 16
// lanes. Called only where the processor has AVX-512F and the operating system keeps its state.

#if defined(__x86_64__) && !defined(__AVX512F__)
#error "fpe/lanes_vector_avx512.cc needs -mavx512f"
#endif
#define TAVIK_VECTOR_LANES 16
#define TAVIK_VECTOR_SUFFIX avx512
#include "fpe/lanes_vector.cc"  // NOLINT(bugprone-suspicious-include): one source, two builds
