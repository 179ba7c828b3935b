#include "base/secure_wipe.h"

#include <cstring>

namespace tavik {

void secure_wipe(void* p, size_t len) {
  if (len == 0) { return; }
  std::memset(p, 0, len);
#if defined(__GNUC__)
  // The empty statement may read all memory through p, so the stores above must happen; it
  // holds under link-time optimisation too, where a call to another file proves nothing.
  asm volatile("" : : "r"(p) : "memory");
#else
  volatile unsigned char* v = static_cast<volatile unsigned char*>(p);
  for (size_t i = 0; i < len; ++i) { v[i] = 0; }
#endif
}

}  // namespace tavik
