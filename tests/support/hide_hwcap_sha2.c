/* For runs under emulation on aarch64 Linux: a library to preload that hides the SHA-2 bit of
 * the kernel's hardware capabilities (AT_HWCAP), so that the program runs as on a processor
 * without the extension (qemu-user 7.2 offers no CPU model without it). Build it with the
 * cross compiler and preload it in the emulated program:
 *   aarch64-linux-gnu-gcc -shared -fPIC -O1 hide_hwcap_sha2.c -o hide_hwcap_sha2.so -ldl
 *   qemu-aarch64 -cpu max -E LD_PRELOAD=./hide_hwcap_sha2.so PROGRAM
 * The backend table then lists and chooses only our own SHA-256 ("generic/single"). */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <sys/auxv.h>

#define HWCAP_SHA2_BIT (1ul << 6)

unsigned long getauxval(unsigned long type) {
  static unsigned long (*real)(unsigned long);
  if (real == 0) { real = (unsigned long (*)(unsigned long))dlsym(RTLD_NEXT, "getauxval"); }
  const unsigned long value = real(type);
  return type == AT_HWCAP ? (value & ~HWCAP_SHA2_BIT) : value;
}
