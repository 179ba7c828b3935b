// The SHA-instruction lane kernels: one to four HMAC finishes whose compressions run
// interleaved, round group by round group. One compression is bound by the latency of its
// chain of rounds, not by the SHA unit's throughput, so the other chains fill the unit's idle
// cycles. Written once for the x86 SHA extensions and the ARMv8 SHA-2 instructions
// (fpe/sha_ops.h). On x86 this file is compiled with -msha -msse4.1 -mssse3, and a second
// time, through lanes_sha_vl.cc, with -mavx512vl added: four lanes need more than the 16 vector registers
// of SSE, and AVX-512VL's xmm16-31 keep them out of memory. The second build names its entry
// points with TAVIK_LANES_SHA_SUFFIX.
// On aarch64 it is compiled with -march=armv8-a+crypto.
// Everything here but the entry points has internal linkage (the headers' too).

#include "fpe/lane_kernels.h"
#include "fpe/sha_ops.h"

#if defined(TAVIK_SHA_OPS)

#ifndef TAVIK_LANES_SHA_SUFFIX
#define TAVIK_LANES_SHA_SUFFIX sha
#endif
#define TAVIK_LANES_SHA_NAME2(name, suffix) name##_##suffix
#define TAVIK_LANES_SHA_NAME1(name, suffix) TAVIK_LANES_SHA_NAME2(name, suffix)
#define TAVIK_LANES_SHA_NAME(name) TAVIK_LANES_SHA_NAME1(name, TAVIK_LANES_SHA_SUFFIX)

namespace tavik::fpe::lanes {
namespace {

constexpr size_t kMaxShaLanes = 4;

using sha_ops::Block;
using sha_ops::State;

// sha_hmac_lanes under one key: inner blocks b[j], MACs into mac[j].
template <size_t N>
inline void hmac_one_key(State inner, State outer, const Block (&b)[N], State (&mac)[N]) {
  State inners[N];
  State outers[N];
  for (size_t j = 0; j < N; ++j) {
    inners[j] = inner;
    outers[j] = outer;
  }
  sha_hmac_lanes<N>(inners, outers, b, mac);
}

template <size_t N>
void round_heads_n(const RoundKey& key, const uint64_t* hi, const uint64_t* lo,
                   uint64_t* heads) {
  const Block tmpl = sha_ops::load_words(key.block);
  Block blocks[N];
  for (size_t j = 0; j < N; ++j) {
    blocks[j] = sha_ops::with_head(tmpl, hi[j], lo[j]);
  }
  State mac[N];
  hmac_one_key<N>(sha_ops::load_state(key.inner), sha_ops::load_state(key.outer), blocks, mac);
  for (size_t j = 0; j < N; ++j) { heads[j] = sha_ops::head64(mac[j]); }
}

template <size_t N>
void hmac_blocks_n(const uint32_t inner[8], const uint32_t outer[8],
                   const uint8_t (*blocks)[kSha256BlockLen], uint32_t (*macs)[8]) {
  Block b[N];
  for (size_t j = 0; j < N; ++j) { b[j] = sha_ops::load_block(blocks[j]); }
  State mac[N];
  hmac_one_key<N>(sha_ops::load_state(inner), sha_ops::load_state(outer), b, mac);
  for (size_t j = 0; j < N; ++j) { sha_ops::store_state(mac[j], macs[j]); }
}

// with_lanes runs run.template operator()<n>() for n of 1 to kMaxShaLanes; the driver never
// asks for more lanes than the kernel has.
template <typename Run>
void with_lanes(size_t n, Run run) {
  switch (n) {
    case 1: run.template operator()<1>(); break;
    case 2: run.template operator()<2>(); break;
    case 3: run.template operator()<3>(); break;
    case kMaxShaLanes: run.template operator()<kMaxShaLanes>(); break;
    default: break;
  }
}

}  // namespace

void TAVIK_LANES_SHA_NAME(round_heads)(const RoundKey& key, const uint64_t* hi,
                                       const uint64_t* lo, size_t n, uint64_t* heads) {
  sha_ops::clear_upper_state();
  with_lanes(n, [&]<size_t N>() { round_heads_n<N>(key, hi, lo, heads); });
}

void TAVIK_LANES_SHA_NAME(hmac_blocks)(const uint32_t inner[8], const uint32_t outer[8],
                                       const uint8_t (*blocks)[kSha256BlockLen], size_t n,
                                       uint32_t (*macs)[8]) {
  sha_ops::clear_upper_state();
  with_lanes(n, [&]<size_t N>() { hmac_blocks_n<N>(inner, outer, blocks, macs); });
}

}  // namespace tavik::fpe::lanes

#endif  // TAVIK_SHA_OPS
