#include "fpe/lanes.h"

#include <algorithm>
#if !defined(__wasm__)
#include <chrono>
#endif
#include <iterator>
#include <cstring>

#include "base/big_endian.h"
#include "base/secure_wipe.h"
#include "fpe/backend.h"
#include "fpe/cpu.h"
#include "fpe/feistel.h"
#include "fpe/feistel_pass.h"
#include "fpe/hmac.h"
#include "fpe/lane_kernels.h"


namespace tavik::fpe {
namespace {

// ---- The single chain, as a kernel of one lane at a time ----

void round_heads_single(const lanes::RoundKey& key, const uint64_t* hi, const uint64_t* lo,
                        size_t n, uint64_t* heads) {
  uint8_t block[kSha256BlockLen];
  for (size_t i = 0; i < 16; ++i) { store_be32(key.block[i], block + 4 * i); }
  uint32_t mac[8];
  for (size_t j = 0; j < n; ++j) {
    const uint32_t first[4] = {static_cast<uint32_t>(hi[j] >> 32), static_cast<uint32_t>(hi[j]),
                               static_cast<uint32_t>(lo[j] >> 32), static_cast<uint32_t>(lo[j])};
    for (size_t i = 0; i < 4; ++i) { store_be32(key.block[i] ^ first[i], block + 4 * i); }
    sha256_hmac_block(key.inner, key.outer, block, mac);
    heads[j] = (uint64_t{mac[0]} << 32) | mac[1];
  }
  secure_wipe(block, sizeof(block));
  secure_wipe(mac, sizeof(mac));
}

void hmac_blocks_single(const uint32_t inner[8], const uint32_t outer[8],
                        const uint8_t (*blocks)[kSha256BlockLen], size_t n, uint32_t (*macs)[8]) {
  for (size_t j = 0; j < n; ++j) { sha256_hmac_block(inner, outer, blocks[j], macs[j]); }
}

constexpr lanes::LaneKernel kSingleKernel = {1, 1, round_heads_single, hmac_blocks_single};

// ---- The kernels of each path ----

// The vector paths leave to the single chain the values that would fill too few lanes: with
// fewer than min_lanes of them, running them one by one costs less than one vector pass. On
// Zen 3 one 8-lane AVX2 HMAC call costs as much as 3 to 3.5 HMACs of OpenSSL without the SHA
// instructions, hence 4; the 16-lane AVX-512 call (not measured: no AVX-512 at hand) is taken
// to cost about 5.
const lanes::LaneKernel* kernel_of(LanePath path) {
#if defined(__x86_64__) || defined(__aarch64__)
  using namespace lanes;  // NOLINT(build/namespaces): the entry points of lane_kernels.h
  static constexpr LaneKernel kSha[4] = {{1, 1, round_heads_sha, hmac_blocks_sha},
                                         {2, 1, round_heads_sha, hmac_blocks_sha},
                                         {3, 1, round_heads_sha, hmac_blocks_sha},
                                         {4, 1, round_heads_sha, hmac_blocks_sha}};
#if defined(__x86_64__)
  static constexpr LaneKernel kShaVl = {4, 1, round_heads_sha_vl, hmac_blocks_sha_vl};
  static constexpr LaneKernel kAvx2 = {8, 4, round_heads_avx2, hmac_blocks_avx2};
  static constexpr LaneKernel kAvx512 = {16, 5, round_heads_avx512, hmac_blocks_avx512};
  switch (path) {
    case LanePath::kSingle: return nullptr;
    case LanePath::kSha1: return &kSha[0];
    case LanePath::kSha2: return &kSha[1];
    case LanePath::kSha3: return &kSha[2];
    case LanePath::kSha4: return &kSha[3];
    case LanePath::kSha4Vl: return &kShaVl;
    case LanePath::kAvx2x8: return &kAvx2;
    case LanePath::kAvx512x16: return &kAvx512;
    case LanePath::kWasm4: return nullptr;
  }
#elif defined(__wasm_simd128__)
  // One 4-lane call costs about 2.3 HMACs of the single chain (Node 20 on a Xeon, 208 ns a lane
  // against 358 ns a chain, bench/js_bench.mjs): from three values on, the lanes are cheaper.
  static constexpr lanes::LaneKernel kWasm4 = {4, 3, lanes::round_heads_wasm4,
                                               lanes::hmac_blocks_wasm4};
  if (path == LanePath::kWasm4) { return &kWasm4; }
#else
  switch (path) {
    case LanePath::kSingle: return nullptr;
    case LanePath::kSha1: return &kSha[0];
    case LanePath::kSha2: return &kSha[1];
    case LanePath::kSha3: return &kSha[2];
    case LanePath::kSha4: return &kSha[3];
    default: return nullptr;
  }
#endif
#elif defined(__wasm_simd128__)
  // One 4-lane call costs about 2.3 HMACs of the single chain (Node 20 on a Xeon, 208 ns a lane
  // against 358 ns a chain, bench/js_bench.mjs): from three values on, the lanes are cheaper.
  static constexpr lanes::LaneKernel kWasm4 = {4, 3, lanes::round_heads_wasm4,
                                               lanes::hmac_blocks_wasm4};
  if (path == LanePath::kWasm4) { return &kWasm4; }
#else
  (void)path;
#endif
  return nullptr;
}

LanePath usable(LanePath path) { return lane_path_available(path) ? path : lane_path(); }

// The SHA instructions have only the legacy SSE encoding; a processor that meets them while
// the upper halves of the vector registers are dirty from AVX code may stall. Compiled code
// clears them after itself, so this once per call is a guard against callers that do not.
void clear_upper_state() {
#if defined(__x86_64__)
  if (cpu_features().avx) { __asm__ volatile("vzeroupper" ::: "memory"); }
#endif
}

// ---- The lanes ----

// Lanes holds the driver's lanes, one array per field, lane j at index j; the active lanes are
// 0 .. active - 1. It holds intermediate values of the cipher and is wiped after use.
struct Lanes {
  uint64_t left[lanes::kMaxLanes];
  uint64_t right[lanes::kMaxLanes];
  uint64_t hi[lanes::kMaxLanes];  // the round's first 16 block bytes, for the kernel
  uint64_t lo[lanes::kMaxLanes];
  uint64_t heads[lanes::kMaxLanes];
  size_t job[lanes::kMaxLanes];       // index of the value in in and out
  uint32_t further[lanes::kMaxLanes];  // further passes of the walk so far
  uint8_t round[lanes::kMaxLanes];     // rounds done in this pass

  void move(size_t from, size_t to) {
    left[to] = left[from];
    right[to] = right[from];
    job[to] = job[from];
    further[to] = further[from];
    round[to] = round[from];
  }
};

void fill_round_key(const CipherKeyState& state, std::span<const uint8_t> tweak,
                    lanes::RoundKey* key) {
  std::memcpy(key->inner, state.hmac.inner_state().h, sizeof(key->inner));
  std::memcpy(key->outer, state.hmac.outer_state().h, sizeof(key->outer));
  // Round byte (zero here), tweak, half (zero here), and the padding.
  uint8_t block[kSha256BlockLen] = {};
  if (!tweak.empty()) { std::memcpy(block + 1, tweak.data(), tweak.size()); }
  pad_hmac_block(block, 1 + tweak.size() + 8);
  for (size_t i = 0; i < 16; ++i) { key->block[i] = load_be32(block + 4 * i); }
}

constexpr auto kMaxFurtherPasses = static_cast<uint32_t>(feistel::kMaxFurtherPasses);

template <bool kEncrypt>
void walk_many(const lanes::LaneKernel& kernel, const CipherKeyState& state,
               std::span<const uint8_t> tweak, std::span<const U128> in, std::span<U128> out) {
  const size_t n = std::min(in.size(), out.size());
  if (n == 0) { return; }
  lanes::RoundKey key;
  fill_round_key(state, tweak, &key);
  // The half starts at byte 1 + tweak length; as part of the big-endian number of bytes 0-15
  // it is shifted left by this many bits.
  const auto half_shift = static_cast<uint32_t>(56 - 8 * tweak.size());
  const uint32_t half_bits = state.half_bits;
  const uint64_t half_mask = state.half_mask;
  const uint8_t rounds = state.rounds;
  const size_t width = std::min(kernel.num_lanes, lanes::kMaxLanes);

  Lanes lane;
  size_t active = 0;
  size_t next = 0;  // the next value to take
  auto split = [&](size_t j, U128 v) {
    lane.left[j] = (v >> half_bits).lo();
    lane.right[j] = v.lo() & half_mask;
    lane.round[j] = 0;
  };
  auto take_next = [&](size_t j) {
    split(j, in[next]);
    lane.job[j] = next;
    lane.further[j] = 0;
    ++next;
  };
  while (active < width && next < n) { take_next(active++); }

  while (active > 0) {
    for (size_t j = 0; j < active; ++j) {
      const auto round =
          static_cast<uint8_t>(kEncrypt ? lane.round[j] : rounds - 1 - lane.round[j]);
      const uint64_t half = kEncrypt ? lane.right[j] : lane.left[j];
      lane.hi[j] = uint64_t{round} << 56;
      lane.lo[j] = half;
      if (half_shift != 0) {
        lane.hi[j] |= half >> (64 - half_shift);
        lane.lo[j] = half << half_shift;
      }
    }
    const lanes::LaneKernel& k = active >= kernel.min_lanes ? kernel : kSingleKernel;
    k.round_heads(key, lane.hi, lane.lo, active, lane.heads);
    // Downwards, so that a lane that ends can take the place of the last active one, which has
    // had its round already.
    for (size_t j = active; j-- > 0;) {
      const uint64_t f = lane.heads[j] & half_mask;
      if (kEncrypt) {
        const uint64_t next_right = lane.left[j] ^ f;
        lane.left[j] = lane.right[j];
        lane.right[j] = next_right;
      } else {
        const uint64_t next_left = lane.right[j] ^ f;
        lane.right[j] = lane.left[j];
        lane.left[j] = next_left;
      }
      if (++lane.round[j] < rounds) { continue; }
      // The pass is done. After an even number of rounds `right` has at most half_bits bits,
      // so OR is addition.
      const U128 v = (U128::from_u64(lane.left[j]) << half_bits) | U128::from_u64(lane.right[j]);
      if (v > state.max_value && lane.further[j] < kMaxFurtherPasses) {
        ++lane.further[j];
        split(j, v);
        continue;
      }
      out[lane.job[j]] = v;
      if (next < n) {
        take_next(j);
      } else {
        lane.move(--active, j);
      }
    }
  }
  secure_wipe(&key, sizeof(key));
  secure_wipe(&lane, sizeof(lane));
}

template <bool kEncrypt>
void single_chain_many(const CipherKeyState& state, std::span<const uint8_t> tweak,
                       std::span<const U128> in, std::span<U128> out) {
  const Feistel8 cipher(state);
  const size_t n = std::min(in.size(), out.size());
  for (size_t i = 0; i < n; ++i) {
    out[i] = kEncrypt ? cipher.encrypt(in[i], tweak) : cipher.decrypt(in[i], tweak);
  }
}

template <bool kEncrypt>
void feistel_many(const CipherKeyState& state, std::span<const uint8_t> tweak,
                  std::span<const U128> in, std::span<U128> out, LanePath path) {
  const lanes::LaneKernel* kernel = kernel_of(usable(path));
  if (kernel == nullptr) {
    single_chain_many<kEncrypt>(state, tweak, in, out);
  } else {
    lanes::run_feistel_many(*kernel, kEncrypt, state, tweak, in, out);
  }
}

}  // namespace

// ---- Paths ----

LanePath lane_path() { return backend().lanes; }

LanePath fastest_lanes(HmacBlockFn single, LaneTiming* timings, size_t* num_timings) {
#if defined(__wasm__)
  // A WebAssembly module has no clock of its own: it imports nothing, and the timers of
  // browsers are rounded too coarsely to time a fraction of a millisecond. Its only lane path,
  // four lanes of WebAssembly SIMD, costs 0.58 of the single chain per HMAC in Node (measured
  // beside the native figures in bench/js_bench.sh), so it is taken wherever it is built.
  (void)single;
  if (num_timings != nullptr) { *num_timings = 0; }
  (void)timings;
  return lane_path_available(LanePath::kWasm4) ? LanePath::kWasm4 : LanePath::kSingle;
#else
  // In order of preference among near equals: fewer lanes first.
  constexpr LanePath kCandidates[] = {LanePath::kSingle, LanePath::kSha1,   LanePath::kSha2,
                                      LanePath::kSha3,   LanePath::kSha4,   LanePath::kSha4Vl,
                                      LanePath::kWasm4,  LanePath::kAvx2x8, LanePath::kAvx512x16};
  constexpr size_t kNumCandidates = std::size(kCandidates);
  constexpr size_t kBlocks = 48;  // a multiple of every lane count: no lane runs short
  constexpr int kRounds = 9;
  if (num_timings != nullptr) { *num_timings = 0; }
  // Blocks and key states of no meaning; nothing here is secret. This runs while the backend
  // table is being chosen, so it calls the kernels directly, never through the table.
  const uint32_t* inner = kSha256InitialValue;
  const uint32_t* outer = kSha256RoundConstants;
  uint8_t blocks[kBlocks][kSha256BlockLen] = {};
  for (size_t i = 0; i < kBlocks; ++i) {
    blocks[i][0] = static_cast<uint8_t>(i);
    pad_hmac_block(blocks[i], 16);
  }
  uint32_t macs[kBlocks][8];
  clear_upper_state();
  double best[kNumCandidates];
  for (double& b : best) { b = 1e300; }
  // Each round times every path once, so that a change of clock speed or a neighbour's load
  // touches all of them alike; the least of the rounds is each path's figure. The first
  // round warms the code and the caches and is not counted.
  for (int round = 0; round <= kRounds; ++round) {
    for (size_t c = 0; c < kNumCandidates; ++c) {
      if (!lane_path_available(kCandidates[c])) { continue; }
      const lanes::LaneKernel* kernel = kernel_of(kCandidates[c]);
      const auto start = std::chrono::steady_clock::now();
      if (kernel == nullptr) {
        for (size_t i = 0; i < kBlocks; ++i) { single(inner, outer, blocks[i], macs[i]); }
      } else {
        for (size_t i = 0; i < kBlocks; i += kernel->num_lanes) {
          kernel->hmac_blocks(inner, outer, blocks + i, kernel->num_lanes, macs + i);
        }
      }
      const auto stop = std::chrono::steady_clock::now();
      const double t = std::chrono::duration<double>(stop - start).count();
      if (round > 0 && t < best[c]) { best[c] = t; }
    }
  }
  secure_wipe(macs, sizeof(macs));
  // The fewest lanes within 5 % of the fastest: near equals are not worth the registers, and
  // the choice then stays the same from run to run (the figures of one path vary by about 1 %
  // between measurements on a quiet machine, 3 % on a busy one).
  double fastest = 1e300;
  for (size_t c = 1; c < kNumCandidates; ++c) { fastest = std::min(fastest, best[c]); }
  LanePath chosen = LanePath::kSingle;
  for (size_t c = 1; c < kNumCandidates; ++c) {
    if (best[c] <= fastest * 1.05 && best[c] < best[0]) {
      chosen = kCandidates[c];
      break;
    }
  }
  if (timings != nullptr && num_timings != nullptr) {
    for (size_t c = 0; c < kNumCandidates; ++c) {
      if (!lane_path_available(kCandidates[c])) { continue; }
      timings[(*num_timings)++] = LaneTiming{kCandidates[c], best[c] / best[0]};
    }
  }
  return chosen;
#endif
}

// ---- The bulk functions ----

void lanes::run_feistel_many(const LaneKernel& kernel, bool encrypt, const CipherKeyState& state,
                             std::span<const uint8_t> tweak, std::span<const U128> in,
                             std::span<U128> out) {
  if (tweak.size() > feistel::kShaMaxTweakLen) {  // the half would not lie in bytes 0-15
    if (encrypt) {
      single_chain_many<true>(state, tweak, in, out);
    } else {
      single_chain_many<false>(state, tweak, in, out);
    }
    return;
  }
  clear_upper_state();
  if (encrypt) {
    walk_many<true>(kernel, state, tweak, in, out);
  } else {
    walk_many<false>(kernel, state, tweak, in, out);
  }
}

void lanes::run_hmac_blocks_many(const LaneKernel& kernel, const HmacKey& key,
                                 const uint8_t (*blocks)[kSha256BlockLen], size_t n,
                                 uint32_t (*macs)[8]) {
  clear_upper_state();
  const size_t width = std::min(kernel.num_lanes, kMaxLanes);
  for (size_t i = 0; i < n;) {
    const size_t count = std::min(width, n - i);
    const LaneKernel& k = count >= kernel.min_lanes ? kernel : kSingleKernel;
    k.hmac_blocks(key.inner_state().h, key.outer_state().h, blocks + i, count, macs + i);
    i += count;
  }
}

void feistel_encrypt_many(const CipherKeyState& state, std::span<const uint8_t> tweak,
                          std::span<const U128> in, std::span<U128> out, LanePath path) {
  feistel_many<true>(state, tweak, in, out, path);
}

void feistel_decrypt_many(const CipherKeyState& state, std::span<const uint8_t> tweak,
                          std::span<const U128> in, std::span<U128> out, LanePath path) {
  feistel_many<false>(state, tweak, in, out, path);
}

void hmac_blocks_many(const HmacKey& key, const uint8_t (*blocks)[kSha256BlockLen], size_t n,
                      uint32_t (*macs)[8], LanePath path) {
  const lanes::LaneKernel* kernel = kernel_of(usable(path));
  lanes::run_hmac_blocks_many(kernel != nullptr ? *kernel : kSingleKernel, key, blocks, n, macs);
}

}  // namespace tavik::fpe
