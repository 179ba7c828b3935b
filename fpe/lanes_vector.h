#ifndef TAVIK_FPE_LANES_VECTOR_H_
#define TAVIK_FPE_LANES_VECTOR_H_

// Internal to fpe/: SHA-256 in L lanes on the compiler's portable vectors (GCC vector
// extensions), one 32-bit word of each lane per vector element. Included by the files that
// compile it for one instruction set (lanes_vector.cc: 8 lanes with AVX2, lanes_vector_avx512.cc:
// 16 lanes with AVX-512F), and by the tests, which compile the 16 lanes without AVX-512 (the
// compiler then splits each vector into narrower ones) to check the logic on any processor.
// Everything here has internal linkage, so no build's copy of a function can stand in for
// another's.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fpe/lane_kernels.h"

// Vectors wider than the instruction set passed by value would change the calling convention
// of a function with external linkage; these have none.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"

namespace tavik::fpe::lanes {
namespace {

template <size_t L>
struct VectorOf {
  typedef uint32_t Type __attribute__((vector_size(4 * L)));
};

// VectorKernel<L> holds the kernel functions for L lanes.
template <size_t L>
struct VectorKernel {
  using V = typename VectorOf<L>::Type;


  static V splat(uint32_t x) { return V{} + x; }
  static V load(const uint32_t* p) {
    V v;
    std::memcpy(&v, p, sizeof(v));
    return v;
  }
  static void store(V v, uint32_t* p) { std::memcpy(p, &v, sizeof(v)); }

  template <int kBits>
  static V rotr(V x) {
    return (x >> kBits) | (x << (32 - kBits));
  }

  // compress runs one compression per lane: s[0..7] are the lanes' chaining values A .. H,
  // w[0..15] the lanes' message words; w is used up as the schedule. Its 64 rounds unrolled
  // take 13 KB of code with 16 lanes; kept out of line, the kernels hold one copy instead of
  // four (58 KB with 16 lanes, more than the level-1 instruction cache of 32 KB).
  __attribute__((noinline)) static void compress(V* s, V* w) {
    V a = s[0], b = s[1], c = s[2], d = s[3], e = s[4], f = s[5], g = s[6], h = s[7];
#pragma GCC unroll 64
    for (int t = 0; t < 64; ++t) {
      if (t >= 16) {
        const V w2 = w[(t - 2) & 15];
        const V w15 = w[(t - 15) & 15];
        const V s1 = rotr<17>(w2) ^ rotr<19>(w2) ^ (w2 >> 10);
        const V s0 = rotr<7>(w15) ^ rotr<18>(w15) ^ (w15 >> 3);
        w[t & 15] += s1 + w[(t - 7) & 15] + s0;
      }
      const V t1 = h + (rotr<6>(e) ^ rotr<11>(e) ^ rotr<25>(e)) + (g ^ (e & (f ^ g))) +
                   kSha256RoundConstants[t] + w[t & 15];
      const V t2 = (rotr<2>(a) ^ rotr<13>(a) ^ rotr<22>(a)) + ((a & b) | (c & (a | b)));
      h = g;
      g = f;
      f = e;
      e = d + t1;
      d = c;
      c = b;
      b = a;
      a = t1 + t2;
    }
    s[0] += a;
    s[1] += b;
    s[2] += c;
    s[3] += d;
    s[4] += e;
    s[5] += f;
    s[6] += g;
    s[7] += h;
  }

  // hmac finishes the lanes' HMACs from the inner block words w; mac receives A .. H.
  static void hmac(const uint32_t inner[8], const uint32_t outer[8], V* w, V* mac) {
    V s[8];
    for (int i = 0; i < 8; ++i) { s[i] = splat(inner[i]); }
    compress(s, w);
    V outer_block[16];
    for (int i = 0; i < 8; ++i) {
      outer_block[i] = s[i];
      mac[i] = splat(outer[i]);
    }
    outer_block[8] = splat(0x80000000u);
    for (int i = 9; i < 15; ++i) { outer_block[i] = V{}; }
    outer_block[15] = splat(768);  // bits of key block and inner digest
    compress(mac, outer_block);
  }

  static void round_heads(const RoundKey& key, const uint64_t* hi, const uint64_t* lo, size_t n,
                          uint64_t* heads) {
    // The lanes' first four words, one array per word; lanes beyond n hash zeros.
    uint32_t first[4][L] = {};
    for (size_t j = 0; j < n; ++j) {
      first[0][j] = static_cast<uint32_t>(hi[j] >> 32);
      first[1][j] = static_cast<uint32_t>(hi[j]);
      first[2][j] = static_cast<uint32_t>(lo[j] >> 32);
      first[3][j] = static_cast<uint32_t>(lo[j]);
    }
    V w[16];
    for (int i = 0; i < 16; ++i) { w[i] = splat(key.block[i]); }
    for (int i = 0; i < 4; ++i) { w[i] ^= load(first[i]); }
    V mac[8];
    hmac(key.inner, key.outer, w, mac);
    uint32_t a[L];
    uint32_t b[L];
    store(mac[0], a);
    store(mac[1], b);
    for (size_t j = 0; j < n; ++j) { heads[j] = (uint64_t{a[j]} << 32) | b[j]; }
  }

  static void hmac_blocks(const uint32_t inner[8], const uint32_t outer[8],
                          const uint8_t (*blocks)[kSha256BlockLen], size_t n,
                          uint32_t (*macs)[8]) {
    uint32_t words[16][L] = {};
    for (size_t j = 0; j < n; ++j) {
      for (size_t i = 0; i < 16; ++i) {
        const uint8_t* p = blocks[j] + 4 * i;
        words[i][j] =
            (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
      }
    }
    V w[16];
    for (int i = 0; i < 16; ++i) { w[i] = load(words[i]); }
    V mac[8];
    hmac(inner, outer, w, mac);
    uint32_t out[8][L];
    for (int i = 0; i < 8; ++i) { store(mac[i], out[i]); }
    for (size_t j = 0; j < n; ++j) {
      for (size_t i = 0; i < 8; ++i) { macs[j][i] = out[i][j]; }
    }
  }
};

}  // namespace
}  // namespace tavik::fpe::lanes

#pragma GCC diagnostic pop

#endif  // TAVIK_FPE_LANES_VECTOR_H_
