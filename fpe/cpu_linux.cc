// Linux only: the processor's ARMv8 SHA-2 instructions, as the kernel reports them.

#include "fpe/cpu.h"

#if defined(__linux__) && defined(__aarch64__)

#include <sys/auxv.h>

#ifndef HWCAP_SHA2
#define HWCAP_SHA2 (1 << 6)
#endif

namespace tavik::fpe {

bool linux_hwcap_sha2() { return (getauxval(AT_HWCAP) & HWCAP_SHA2) != 0; }

}  // namespace tavik::fpe

#endif
