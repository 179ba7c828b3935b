#ifndef TAVIK_FPE_SHA_OPS_H_
#define TAVIK_FPE_SHA_OPS_H_

// Internal to fpe/: the SHA-instruction functions of this architecture as `sha_ops`, for the
// files written once for both (fpe/sha256_sha.cc, fpe/feistel_sha.cc, fpe/lanes_sha.cc), each
// compiled with its architecture's flags (see CMakeLists.txt). TAVIK_SHA_OPS is defined
// where such instructions exist. The HMAC finishes on top of them (sha_hmac_lanes, sha_hmac) are
// written once for both.

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

#if defined(TAVIK_SHA_OPS)
#include <cstddef>

namespace tavik::fpe {
namespace {

// sha_hmac_lanes finishes N independent HMAC-SHA-256s side by side, each from its own
// absorbed key states when the padded rest of its message is the one block given: the inner
// digests become the outer blocks in registers. mac[l] receives lane l's MAC as a state.
template <size_t N>
inline void sha_hmac_lanes(const sha_ops::State (&inner)[N], const sha_ops::State (&outer)[N],
                           const sha_ops::Block (&blocks)[N], sha_ops::State (&mac)[N]) {
  sha_ops::State digest[N];
  sha_ops::Block outer_blocks[N];
#pragma GCC unroll 8
  for (size_t l = 0; l < N; ++l) { digest[l] = inner[l]; }
  sha_ops::compress_lanes<N>(digest, blocks);
#pragma GCC unroll 8
  for (size_t l = 0; l < N; ++l) {
    outer_blocks[l] = sha_ops::outer_block(digest[l]);
    mac[l] = outer[l];
  }
  sha_ops::compress_lanes<N>(mac, outer_blocks);
}

// sha_hmac is sha_hmac_lanes for one message. Returns the MAC as a state.
inline sha_ops::State sha_hmac(sha_ops::State inner, sha_ops::State outer,
                               sha_ops::Block inner_block) {
  const sha_ops::State inners[1] = {inner};
  const sha_ops::State outers[1] = {outer};
  const sha_ops::Block blocks[1] = {inner_block};
  sha_ops::State mac[1];
  sha_hmac_lanes<1>(inners, outers, blocks, mac);
  return mac[0];
}

}  // namespace
}  // namespace tavik::fpe
#endif

#endif  // TAVIK_FPE_SHA_OPS_H_
