#ifndef TAVIK_FPE_SHA_OPS_H_
#define TAVIK_FPE_SHA_OPS_H_

// Internal to fpe/: the SHA-instruction functions of this architecture as `sha_ops`, for the
// files written once for both (fpe/sha256_sha.cc, fpe/feistel_sha.cc, fpe/lanes_sha.cc), each
// compiled with its architecture's flags (see CMakeLists.txt). TAVIK_SHA_OPS is defined
// where such instructions exist.

#if defined(__x86_64__)
#include "fpe/sha256_shani.h"
#define TAVIK_SHA_OPS 1
namespace tavik::fpe {
namespace sha_ops = shani;
}
#elif defined(__aarch64__)
#include "fpe/sha256_armv8.h"
#define TAVIK_SHA_OPS 1
namespace tavik::fpe {
namespace sha_ops = armv8;
}
#endif

#endif  // TAVIK_FPE_SHA_OPS_H_
