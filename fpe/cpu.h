#ifndef TAVIK_FPE_CPU_H_
#define TAVIK_FPE_CPU_H_

// What the processor offers the SHA-256 code, read from CPUID once per process.

namespace tavik::fpe {

struct CpuFeatures {
  bool amd = false;       // AMD (or Hygon): a SHA unit that two chains keep busy
  bool sha = false;       // the SHA instructions, with SSE4.1 and SSSE3
  bool bmi2 = false;      // BMI1 and BMI2, with SSSE3 and SSE4.1
  bool avx = false;       // AVX, with the operating system keeping the ymm state
  bool avx2 = false;      // AVX2 as well
  bool avx512f = false;   // AVX-512F, with the operating system keeping the zmm and mask state
  bool avx512vl = false;  // AVX-512VL as well
};

// cpu_features is decided on first use (all false off x86-64).
const CpuFeatures& cpu_features();

// ScopedCpuFeatures makes cpu_features() report `narrowed` while it lives, so that a test
// runs the paths for processors with less than this one: a feature the processor lacks must
// stay false. Only for tests, and not while another thread hashes.
class ScopedCpuFeatures {
 public:
  explicit ScopedCpuFeatures(const CpuFeatures& narrowed);
  ScopedCpuFeatures(const ScopedCpuFeatures&) = delete;
  ScopedCpuFeatures& operator=(const ScopedCpuFeatures&) = delete;
  ~ScopedCpuFeatures();

 private:
  CpuFeatures saved_;
};

}  // namespace tavik::fpe

#endif  // TAVIK_FPE_CPU_H_
