#ifndef TAVIK_FPE_LANE_KERNELS_H_
#define TAVIK_FPE_LANE_KERNELS_H_

// Internal to fpe/: the lane kernels behind feistel_encrypt_many, feistel_decrypt_many and
// hmac_blocks_many (fpe/lanes.h), and the driver that feeds them.
//
// A kernel finishes several one-block HMAC-SHA-256 computations under one key at once, one
// per lane, in the way sha256_hmac_block does for one: a copy of the inner state compresses
// the lane's padded block, and a copy of the outer state compresses the inner digest with its
// padding (0x80, zeros, the length 768 bits of key block and digest). Every kernel:
//   - serves 1 .. num_lanes lanes per call (n below); lanes at or beyond n are neither read
//     nor written;
//   - never allocates, and keeps no state between calls;
//   - runs only on a processor with the instructions its file is compiled for: the caller
//     checks (the backend table decides, once per process).
//
// Each kernel file is compiled for its own instruction set (see CMakeLists.txt) and gives
// every function it defines, other than its entry points, internal linkage: an inline
// function with external linkage compiled there could be the copy the linker keeps for the
// whole program, and so run on a processor without those instructions.

#include <cstddef>
#include <cstdint>
#include <span>

#include "base/u128.h"
#include "fpe/cipher_key.h"
#include "fpe/hmac.h"

namespace tavik::fpe::lanes {

inline constexpr size_t kMaxLanes = 16;

// RoundKey is what every round of one bulk cipher call shares: the key's absorbed inner and
// outer chaining values, and the words (host order, big-endian bytes already read) of the
// round's padded inner block with the round byte and the half zero: tweak, 0x80, zeros and
// the message length counted from the key block. A lane's block is this template with its
// first 16 bytes XORed with the big-endian 128-bit number (hi, lo) the lane gives, which
// holds the round byte and the half. It is key material; whoever fills one wipes it.
struct RoundKey {
  uint32_t inner[8];
  uint32_t outer[8];
  uint32_t block[16];
};

// RoundHeadsFn computes, for each lane j < n, the first 8 bytes of the HMAC (read big-endian)
// of the template block of `key` with (hi[j], lo[j]) XORed into its first 16 bytes, into
// heads[j].
using RoundHeadsFn = void (*)(const RoundKey& key, const uint64_t* hi, const uint64_t* lo,
                              size_t n, uint64_t* heads);

// HmacBlocksFn computes, for each lane j < n, sha256_hmac_block(inner, outer, blocks[j]) into
// macs[j] (eight words, A .. H). macs may not overlap blocks.
using HmacBlocksFn = void (*)(const uint32_t inner[8], const uint32_t outer[8],
                              const uint8_t (*blocks)[kSha256BlockLen], size_t n,
                              uint32_t (*macs)[8]);

// LaneKernel is one way to run lanes. With fewer than min_lanes jobs left the driver runs
// them one by one on the single chain instead (sha256_hmac_block), where a wide vector with
// mostly empty lanes would cost more than they do.
struct LaneKernel {
  size_t num_lanes;  // 1 .. kMaxLanes
  size_t min_lanes;  // 1 .. num_lanes
  RoundHeadsFn round_heads;
  HmacBlocksFn hmac_blocks;
};

// The kernels' entry points (x86-64 and aarch64; elsewhere only the single chain exists):
// - round_heads_sha, hmac_blocks_sha (fpe/lanes_sha.cc): n of 1 to 4, run as that many
//   interleaved chains, so no empty lane is ever computed. Needs SHA, SSE4.1 and SSSE3 on
//   x86-64, the ARMv8 SHA-2 instructions on aarch64.
// - round_heads_sha_vl, hmac_blocks_sha_vl (fpe/lanes_sha_vl.cc): the same source compiled with
//   AVX-512VL as well, for the registers xmm16-31. Needs SHA, SSE4.1, SSSE3, AVX-512F and
//   AVX-512VL, with the operating system keeping the AVX-512 state. Clears the upper vector
//   state on entry, as its SHA instructions have only the legacy SSE encoding.
// - round_heads_avx2, hmac_blocks_avx2 (fpe/lanes_vector.cc): n of 1 to 8; always computes all 8
//   lanes (unused ones hash zeros) and reads and writes only n. Needs AVX2 and the operating
//   system's AVX state.
// - round_heads_avx512, hmac_blocks_avx512 (fpe/lanes_vector_avx512.cc): n of 1 to 16, likewise with
//   16 lanes. Needs AVX-512F and the operating system's AVX-512 state.
#if defined(__x86_64__) || defined(__aarch64__)
void round_heads_sha(const RoundKey& key, const uint64_t* hi, const uint64_t* lo, size_t n,
                     uint64_t* heads);
void hmac_blocks_sha(const uint32_t inner[8], const uint32_t outer[8],
                     const uint8_t (*blocks)[kSha256BlockLen], size_t n, uint32_t (*macs)[8]);
#endif
#if defined(__x86_64__)
void round_heads_sha_vl(const RoundKey& key, const uint64_t* hi, const uint64_t* lo, size_t n,
                        uint64_t* heads);
void hmac_blocks_sha_vl(const uint32_t inner[8], const uint32_t outer[8],
                        const uint8_t (*blocks)[kSha256BlockLen], size_t n, uint32_t (*macs)[8]);
void round_heads_avx2(const RoundKey& key, const uint64_t* hi, const uint64_t* lo, size_t n,
                      uint64_t* heads);
void hmac_blocks_avx2(const uint32_t inner[8], const uint32_t outer[8],
                      const uint8_t (*blocks)[kSha256BlockLen], size_t n, uint32_t (*macs)[8]);
void round_heads_avx512(const RoundKey& key, const uint64_t* hi, const uint64_t* lo, size_t n,
                        uint64_t* heads);
void hmac_blocks_avx512(const uint32_t inner[8], const uint32_t outer[8],
                        const uint8_t (*blocks)[kSha256BlockLen], size_t n, uint32_t (*macs)[8]);
#endif
// - round_heads_wasm4, hmac_blocks_wasm4 (fpe/lanes_wasm_simd.cc): n of 1 to 4 on WebAssembly
//   SIMD; always computes all 4 lanes. Only in a build with -msimd128.
#if defined(__wasm_simd128__)
void round_heads_wasm4(const RoundKey& key, const uint64_t* hi, const uint64_t* lo, size_t n,
                       uint64_t* heads);
void hmac_blocks_wasm4(const uint32_t inner[8], const uint32_t outer[8],
                       const uint8_t (*blocks)[kSha256BlockLen], size_t n, uint32_t (*macs)[8]);
#endif

// The driver, for any kernel (the public functions of fpe/lanes.h pick the kernel; tests may
// hand in their own). Results and preconditions are those of feistel_encrypt_many and
// feistel_decrypt_many, and of hmac_blocks_many. The lanes serve tweaks of up to
// feistel::kShaMaxTweakLen bytes, for which round byte, tweak and half lie in the first 16
// bytes of the block; longer ones take the single chain.
void run_feistel_many(const LaneKernel& kernel, bool encrypt, const CipherKeyState& state,
                      std::span<const uint8_t> tweak, std::span<const U128> in,
                      std::span<U128> out);
void run_hmac_blocks_many(const LaneKernel& kernel, const HmacKey& key,
                          const uint8_t (*blocks)[kSha256BlockLen], size_t n,
                          uint32_t (*macs)[8]);

}  // namespace tavik::fpe::lanes

#endif  // TAVIK_FPE_LANE_KERNELS_H_
