#ifndef TAVIK_FPE_SHA256_ARMV8_H_
#define TAVIK_FPE_SHA256_ARMV8_H_

// SHA-256 with the ARMv8 SHA-2 instructions (sha256h, sha256h2, sha256su0, sha256su1), as
// inline functions on register values, for the few files compiled with
// -march=armv8-a+crypto (see CMakeLists.txt). Callers reach that code only through the
// backend table (fpe/backend.h), where the processor has them. The functions and their names
// are those of the x86 form (fpe/sha256_shani.h); fpe/sha_ops.h picks one.

#if !defined(__aarch64__) || !defined(__ARM_FEATURE_SHA2)
#error "fpe/sha256_armv8.h needs a file compiled with -march=armv8-a+crypto"
#endif
#if defined(__AARCH64EB__)
#error "fpe/sha256_armv8.h assumes little-endian lanes"
#endif

#include <arm_neon.h>

#include <cstddef>
#include <cstdint>

#include "fpe/sha256.h"

namespace tavik::fpe::armv8 {
// Internal linkage throughout, as in the x86 form: no copy compiled for these instructions
// may become the one the whole program runs.
namespace {

// State is a chaining value: abcd holds A .. D in lanes 0 to 3, efgh holds E .. H.
struct State {
  uint32x4_t abcd;
  uint32x4_t efgh;
};

// Block is one message block as sixteen 32-bit words, w[g] holding words 4g .. 4g + 3 in lanes
// 0 to 3 (host order).
struct Block {
  uint32x4_t w[4];
};

inline State load_state(const uint32_t h[8]) { return State{vld1q_u32(h), vld1q_u32(h + 4)}; }

inline void store_state(State s, uint32_t h[8]) {
  vst1q_u32(h, s.abcd);
  vst1q_u32(h + 4, s.efgh);
}

// head64 is the first 8 digest bytes read big-endian: A and B.
inline uint64_t head64(State s) {
  const uint64_t ab = vgetq_lane_u64(vreinterpretq_u64_u32(s.abcd), 0);  // B:A
  return (ab << 32) | (ab >> 32);
}

// Half is a Feistel half kept in a vector register where the first 8 digest bytes lie in a
// state: the top 32 bits of its value in lane 0 (A of abcd), the low 32 in lane 1 (B), lanes 2
// and 3 zero. kHalfByte[j] is the byte of a Half that holds bits 8j to 8j + 7 of the value.
using Half = uint32x4_t;
inline constexpr uint8_t kHalfByte[8] = {4, 5, 6, 7, 0, 1, 2, 3};
inline Half half_of(uint64_t value) {
  return vreinterpretq_u32_u64(
      vcombine_u64(vcreate_u64((value << 32) | (value >> 32)), vcreate_u64(0)));
}
inline uint64_t value_of(Half half) {
  const uint64_t ba = vgetq_lane_u64(vreinterpretq_u64_u32(half), 0);
  return (ba << 32) | (ba >> 32);
}
// head_half is the first 8 digest bytes of a state as a Half, masked by `mask` (a Half).
inline Half head_half(State s, Half mask) { return vandq_u32(s.abcd, mask); }
inline Half xor_halves(Half a, Half b) { return veorq_u32(a, b); }
// bytes_of picks bytes of v by index: byte i of the result is byte control[i] of v, or zero
// where control[i] is 0x80. load_control reads the sixteen indices.
using ByteControl = uint8x16_t;
inline uint32x4_t bytes_of(uint32x4_t v, ByteControl control) {
  return vreinterpretq_u32_u8(vqtbl1q_u8(vreinterpretq_u8_u32(v), control));
}
inline ByteControl load_control(const uint8_t control[16]) { return vld1q_u8(control); }
inline uint32x4_t xor_words(uint32x4_t a, uint32x4_t b) { return veorq_u32(a, b); }
// word0 is a vector with `w` in lane 0 and zeros elsewhere.
inline uint32x4_t word0(uint32_t w) { return vsetq_lane_u32(w, vdupq_n_u32(0), 0); }

inline Block load_block(const uint8_t* bytes) {
  Block b;
  for (int i = 0; i < 4; ++i) {
    b.w[i] = vreinterpretq_u32_u8(vrev32q_u8(vld1q_u8(bytes + 16 * i)));
  }
  return b;
}

inline Block load_words(const uint32_t words[16]) {
  Block b;
  for (int i = 0; i < 4; ++i) { b.w[i] = vld1q_u32(words + 4 * i); }
  return b;
}

inline uint32x4_t words4(uint32_t w0, uint32_t w1, uint32_t w2, uint32_t w3) {
  const uint64x2_t pair = vcombine_u64(vcreate_u64((uint64_t{w1} << 32) | w0),
                                       vcreate_u64((uint64_t{w3} << 32) | w2));
  return vreinterpretq_u32_u64(pair);
}

inline Block block_of(const uint32_t (&w)[16]) {
  Block b;
  for (int i = 0; i < 4; ++i) {
    b.w[i] = words4(w[4 * i], w[4 * i + 1], w[4 * i + 2], w[4 * i + 3]);
  }
  return b;
}

// No upper vector state to clear on ARM.
inline void clear_upper_state() {}

// words_from_be128 turns 16 bytes given as a big-endian 128-bit number (hi, lo) into four
// message words: word 0 is the top 32 bits of hi.
inline uint32x4_t words_from_be128(uint64_t hi, uint64_t lo) {
  return vreinterpretq_u32_u64(
      vcombine_u64(vcreate_u64((hi << 32) | (hi >> 32)), vcreate_u64((lo << 32) | (lo >> 32))));
}

inline Block with_head(Block tmpl, uint64_t hi, uint64_t lo) {
  tmpl.w[0] = veorq_u32(tmpl.w[0], words_from_be128(hi, lo));
  return tmpl;
}

// compress_lanes runs N independent compressions side by side, each of its own block on its
// own state, four rounds of each lane in turn, so the lanes fill each other's latency.
template <size_t N>
inline void compress_lanes(State (&s)[N], const Block (&b)[N]) {
  uint32x4_t abcd[N];
  uint32x4_t efgh[N];
  uint32x4_t w[N][4];
#pragma GCC unroll 8
  for (size_t l = 0; l < N; ++l) {
    abcd[l] = s[l].abcd;
    efgh[l] = s[l].efgh;
    for (size_t i = 0; i < 4; ++i) { w[l][i] = b[l].w[i]; }
  }
#pragma GCC unroll 16
  for (size_t g = 0; g < 16; ++g) {
    const uint32x4_t k = vld1q_u32(kSha256RoundConstants + 4 * g);
#pragma GCC unroll 8
    for (size_t l = 0; l < N; ++l) {
      if (g >= 4) {
        // Words 4g .. 4g + 3 from those of the four groups before: w[g % 4] held group g - 4.
        w[l][g & 3] = vsha256su1q_u32(vsha256su0q_u32(w[l][g & 3], w[l][(g + 1) & 3]),
                                      w[l][(g + 2) & 3], w[l][(g + 3) & 3]);
      }
      const uint32x4_t wk = vaddq_u32(w[l][g & 3], k);
      const uint32x4_t abcd_before = abcd[l];
      abcd[l] = vsha256hq_u32(abcd[l], efgh[l], wk);
      efgh[l] = vsha256h2q_u32(efgh[l], abcd_before, wk);
    }
  }
#pragma GCC unroll 8
  for (size_t l = 0; l < N; ++l) {
    s[l] = State{vaddq_u32(abcd[l], s[l].abcd), vaddq_u32(efgh[l], s[l].efgh)};
  }
}

inline State compress(State s, Block b) {
  State states[1] = {s};
  const Block blocks[1] = {b};
  compress_lanes<1>(states, blocks);
  return states[0];
}

// outer_block is the outer block of HMAC-SHA-256 in registers: the inner digest, 0x80, zeros
// and the length of the key block and the digest.
inline Block outer_block(State inner_digest) {
  Block block;
  block.w[0] = inner_digest.abcd;
  block.w[1] = inner_digest.efgh;
  block.w[2] = words4(0x80000000u, 0, 0, 0);
  block.w[3] = words4(0, 0, 0, kHmacOuterBits);
  return block;
}

inline Block outer_block(const uint32_t inner_digest[8]) {
  return outer_block(load_state(inner_digest));
}

}  // namespace
}  // namespace tavik::fpe::armv8

#endif  // TAVIK_FPE_SHA256_ARMV8_H_
