#ifndef TAVIK_FPE_CPU_H_
#define TAVIK_FPE_CPU_H_

// What the processor offers, read once per process. The backend table (fpe/backend.cc)
// decides the SHA-256 code from it; the core decides by it whether normalization reads letters
// sixteen or sixty-four at a time, and its vector paths of the chunk layout and of the plain
// check.

namespace tavik::fpe {

struct CpuFeatures {
  // x86-64
  bool ssse3 = false;      // SSSE3 (normalization reads sixteen letters at once with it)
  bool sha = false;       // the SHA instructions, with SSE4.1 and SSSE3
  bool bmi2 = false;      // BMI1 and BMI2, with SSSE3 and SSE4.1
  bool pclmul = false;    // PCLMULQDQ, with SSE4.1
  bool avx = false;       // AVX, with the operating system keeping the ymm state
  bool avx2 = false;      // AVX2 as well
  bool avx512f = false;   // AVX-512F, with the operating system keeping the zmm and mask state
  bool avx512vl = false;  // AVX-512VL as well
  bool avx512bw = false;  // AVX-512BW as well (the chunk layout, four words at once)
  bool avx512dq = false;  // AVX-512DQ, BW and VL as well (digits of eight values at once)
  bool avx512vbmi = false;  // AVX-512BW and AVX-512VBMI as well (normalization, 64 letters)
  bool avx512vbmi2 = false;  // AVX-512VBMI2 as well (the canonical text of a check block)
  bool vpclmulqdq = false;   // AVX-512BW, PCLMULQDQ and VPCLMULQDQ (four plain checks at once)
  // aarch64
  bool arm_sha2 = false;  // the ARMv8 SHA-2 instructions (sha256h, sha256h2, sha256su0/1)
};

// cpu_features is decided on first use (all false where nothing is known).
const CpuFeatures& cpu_features();

// linux_hwcap_sha2 reads the ARMv8 SHA-2 bit of the kernel's hardware capabilities
// (fpe/cpu_linux.cc; only on Linux on aarch64).
bool linux_hwcap_sha2();

}  // namespace tavik::fpe

#endif  // TAVIK_FPE_CPU_H_
