#include "fpe/cpu.h"

#include <cstdint>

#if defined(__x86_64__)
#include <cpuid.h>
#endif

namespace tavik::fpe {
namespace {

CpuFeatures detect_features() {
  CpuFeatures f;
#if defined(__x86_64__)
  unsigned int eax = 0;
  unsigned int ebx = 0;
  unsigned int ecx = 0;
  unsigned int edx = 0;
  if (__get_cpuid(0, &eax, &ebx, &ecx, &edx) == 0) { return f; }
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) { return f; }
  const bool sse = (ecx & (1u << 19)) != 0 && (ecx & (1u << 9)) != 0;  // SSE4.1, SSSE3
  f.ssse3 = (ecx & (1u << 9)) != 0;
  f.pclmul = (ecx & (1u << 19)) != 0 && (ecx & (1u << 1)) != 0;  // SSE4.1, PCLMULQDQ
  const bool osxsave = (ecx & (1u << 27)) != 0;
  const bool avx = (ecx & (1u << 28)) != 0;
  uint64_t xcr0 = 0;
  if (osxsave) {
    uint32_t lo = 0;
    uint32_t hi = 0;
    __asm__("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    xcr0 = (uint64_t{hi} << 32) | lo;
  }
  // XCR0: bits 1 and 2 are the SSE and AVX state; bits 5 to 7 the mask registers and the
  // upper halves of zmm0-15 and zmm16-31. Without them the operating system would not save
  // the registers across a switch, and the instructions fault.
  const bool os_avx = (xcr0 & 0x6) == 0x6;
  const bool os_avx512 = (xcr0 & 0xE6) == 0xE6;
  if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0) { return f; }
  f.sha = sse && (ebx & (1u << 29)) != 0;
  f.bmi2 = sse && (ebx & (1u << 3)) != 0 && (ebx & (1u << 8)) != 0;
  f.avx = avx && os_avx;
  f.avx2 = f.avx && (ebx & (1u << 5)) != 0;
  f.avx512f = f.avx2 && os_avx512 && (ebx & (1u << 16)) != 0;
  f.avx512vl = f.avx512f && (ebx & (1u << 31)) != 0;
  f.avx512bw = f.avx512f && (ebx & (1u << 30)) != 0;
  f.avx512dq = f.avx512bw && f.avx512vl && (ebx & (1u << 17)) != 0;
  f.avx512vbmi = f.avx512f && (ebx & (1u << 30)) != 0 && (ecx & (1u << 1)) != 0;
  f.avx512vbmi2 = f.avx512vbmi && (ecx & (1u << 6)) != 0;
  f.vpclmulqdq = f.avx512bw && f.pclmul && (ecx & (1u << 10)) != 0;
#elif defined(__aarch64__) && defined(__APPLE__)
  f.arm_sha2 = true;  // every Apple processor has them
#elif defined(__aarch64__) && defined(__linux__)
  f.arm_sha2 = linux_hwcap_sha2();
#endif
  return f;
}

}  // namespace

const CpuFeatures& cpu_features() {
  static const CpuFeatures features = detect_features();
  return features;
}

}  // namespace tavik::fpe
