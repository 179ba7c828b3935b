// The SHA-instruction lane kernels once more, compiled with -mavx512vl as well (see
// lanes_sha.cc): the same code with the extra registers xmm16-31 to hold four lanes. Called
// only where the processor has AVX-512VL and the operating system keeps its state. x86-64 only.

#if defined(__x86_64__)
#define TAVIK_LANES_SHA_SUFFIX sha_vl
#include "fpe/lanes_sha.cc"  // NOLINT(bugprone-suspicious-include): one source, two builds
#endif
