// The SHA-instruction lane kernels: one to four HMAC finishes whose compressions run
// interleaved, round group by round group. One compression is bound by the latency of its
// chain of rounds, not by the SHA unit's throughput, so the other chains fill the unit's idle
// cycles. This file is compiled with -msha -msse4.1 -mssse3, and a second time, through
// lanes_sha_vl.cc, with -mavx512vl added: four lanes need more than the 16 vector registers
// of SSE, and AVX-512VL's xmm16-31 keep them out of memory. The second build names its entry
// points with TAVIK_LANES_SHA_SUFFIX.
//
// The helpers below repeat a few of fpe/sha256_shani.h's on purpose: those are inline
// functions with external linkage, and the copy compiled here with AVX-512VL could become the
// one the whole program runs. Everything here but the entry points has internal linkage.

#include "fpe/lane_kernels.h"

#if defined(__x86_64__)

#if !defined(__SHA__) || !defined(__SSE4_1__) || !defined(__SSSE3__)
#error "fpe/lanes_sha.cc needs -msha -msse4.1 -mssse3"
#endif

#include <immintrin.h>

#ifndef TAVIK_LANES_SHA_SUFFIX
#define TAVIK_LANES_SHA_SUFFIX sha
#endif
#define TAVIK_LANES_SHA_NAME2(name, suffix) name##_##suffix
#define TAVIK_LANES_SHA_NAME1(name, suffix) TAVIK_LANES_SHA_NAME2(name, suffix)
#define TAVIK_LANES_SHA_NAME(name) TAVIK_LANES_SHA_NAME1(name, TAVIK_LANES_SHA_SUFFIX)

namespace tavik::fpe::lanes {
namespace {

constexpr size_t kMaxShaLanes = 4;

alignas(16) constexpr uint32_t kRoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

// A chaining value in the instructions' order (abef: A, B, E, F in lanes 3 .. 0; cdgh alike)
// and a block as four vectors of message words (w[g]: words 4g .. 4g + 3 in lanes 0 .. 3).
struct State {
  __m128i abef;
  __m128i cdgh;
};
struct Block {
  __m128i w[4];
};

// Entered through the upper halves' clean state: the SHA instructions have only the legacy
// SSE encoding, and processors that mix it with dirty AVX upper halves stall.
inline void clear_upper_state() {
#if defined(__AVX__)
  _mm256_zeroupper();
#endif
}

inline State load_state(const uint32_t h[8]) {
  const __m128i abcd = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h));
  const __m128i efgh = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h + 4));
  const __m128i cdab = _mm_shuffle_epi32(abcd, 0xB1);
  const __m128i hgfe = _mm_shuffle_epi32(efgh, 0x1B);
  return State{_mm_alignr_epi8(cdab, hgfe, 8), _mm_blend_epi16(hgfe, cdab, 0xF0)};
}

// digest_words gives A .. D and E .. H as message words, so that a digest enters the outer
// block in registers.
inline void digest_words(State s, __m128i* abcd, __m128i* efgh) {
  const __m128i feba = _mm_shuffle_epi32(s.abef, 0x1B);
  const __m128i dchg = _mm_shuffle_epi32(s.cdgh, 0xB1);
  *abcd = _mm_blend_epi16(feba, dchg, 0xF0);
  *efgh = _mm_alignr_epi8(dchg, feba, 8);
}

inline Block load_block(const uint8_t* bytes) {
  const __m128i byte_swap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
  Block b;
  for (int i = 0; i < 4; ++i) {
    b.w[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 16 * i)),
                              byte_swap);
  }
  return b;
}

inline Block load_words(const uint32_t words[16]) {
  Block b;
  for (int i = 0; i < 4; ++i) {
    b.w[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(words + 4 * i));
  }
  return b;
}

// The four message words of 16 bytes given as the big-endian number (hi, lo).
inline __m128i words_from_be128(uint64_t hi, uint64_t lo) {
  const uint64_t w01 = (hi << 32) | (hi >> 32);
  const uint64_t w23 = (lo << 32) | (lo >> 32);
  return _mm_set_epi64x(static_cast<long long>(w23), static_cast<long long>(w01));
}

// compress_lanes runs N independent compressions, s[j] with b[j], as one interleaved stream:
// each group of four rounds issues its instructions for every lane before the next group.
template <size_t N>
inline void compress_lanes(State* s, const Block* b) {
  __m128i x0[N];
  __m128i x1[N];
  __m128i w[N][4];
#pragma GCC unroll 4
  for (size_t j = 0; j < N; ++j) {
    x0[j] = s[j].abef;
    x1[j] = s[j].cdgh;
    for (int i = 0; i < 4; ++i) { w[j][i] = b[j].w[i]; }
  }
#pragma GCC unroll 16
  for (int g = 0; g < 16; ++g) {
    const __m128i k = _mm_load_si128(reinterpret_cast<const __m128i*>(kRoundConstants + 4 * g));
    __m128i msg[N];
    __m128i cur[N];
#pragma GCC unroll 4
    for (size_t j = 0; j < N; ++j) {
      cur[j] = w[j][g & 3];
      msg[j] = _mm_add_epi32(cur[j], k);
      x1[j] = _mm_sha256rnds2_epu32(x1[j], x0[j], msg[j]);
    }
    if (g >= 3 && g <= 14) {
#pragma GCC unroll 4
      for (size_t j = 0; j < N; ++j) {
        __m128i& next = w[j][(g + 1) & 3];
        next = _mm_add_epi32(next, _mm_alignr_epi8(cur[j], w[j][(g - 1) & 3], 4));
        next = _mm_sha256msg2_epu32(next, cur[j]);
      }
    }
#pragma GCC unroll 4
    for (size_t j = 0; j < N; ++j) {
      msg[j] = _mm_shuffle_epi32(msg[j], 0x0E);
      x0[j] = _mm_sha256rnds2_epu32(x0[j], x1[j], msg[j]);
    }
    if (g >= 1 && g <= 12) {
#pragma GCC unroll 4
      for (size_t j = 0; j < N; ++j) {
        __m128i& prev = w[j][(g - 1) & 3];
        prev = _mm_sha256msg1_epu32(prev, cur[j]);
      }
    }
  }
#pragma GCC unroll 4
  for (size_t j = 0; j < N; ++j) {
    s[j] = State{_mm_add_epi32(x0[j], s[j].abef), _mm_add_epi32(x1[j], s[j].cdgh)};
  }
}

// hmac_lanes finishes N HMACs under one key: inner blocks b[j], MACs into mac[j].
template <size_t N>
inline void hmac_lanes(State inner, State outer, const Block* b, State* mac) {
  State s[N];
  for (size_t j = 0; j < N; ++j) { s[j] = inner; }
  compress_lanes<N>(s, b);
  Block outer_blocks[N];
  const __m128i pad = _mm_set_epi32(0, 0, 0, static_cast<int>(0x80000000u));
  const __m128i length = _mm_set_epi32(768, 0, 0, 0);
  for (size_t j = 0; j < N; ++j) {
    digest_words(s[j], &outer_blocks[j].w[0], &outer_blocks[j].w[1]);
    outer_blocks[j].w[2] = pad;
    outer_blocks[j].w[3] = length;
    mac[j] = outer;
  }
  compress_lanes<N>(mac, outer_blocks);
}

template <size_t N>
void round_heads_n(const RoundKey& key, const uint64_t* hi, const uint64_t* lo,
                   uint64_t* heads) {
  const Block tmpl = load_words(key.block);
  Block blocks[N];
  for (size_t j = 0; j < N; ++j) {
    blocks[j] = tmpl;
    blocks[j].w[0] = _mm_xor_si128(tmpl.w[0], words_from_be128(hi[j], lo[j]));
  }
  State mac[N];
  hmac_lanes<N>(load_state(key.inner), load_state(key.outer), blocks, mac);
  // The first 8 bytes of a MAC are A and B, lanes 3 and 2 of abef.
  for (size_t j = 0; j < N; ++j) {
    heads[j] = static_cast<uint64_t>(_mm_extract_epi64(mac[j].abef, 1));
  }
}

template <size_t N>
void hmac_blocks_n(const uint32_t inner[8], const uint32_t outer[8],
                   const uint8_t (*blocks)[kSha256BlockLen], uint32_t (*macs)[8]) {
  Block b[N];
  for (size_t j = 0; j < N; ++j) { b[j] = load_block(blocks[j]); }
  State mac[N];
  hmac_lanes<N>(load_state(inner), load_state(outer), b, mac);
  for (size_t j = 0; j < N; ++j) {
    __m128i abcd;
    __m128i efgh;
    digest_words(mac[j], &abcd, &efgh);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(macs[j]), abcd);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(macs[j] + 4), efgh);
  }
}

}  // namespace

void TAVIK_LANES_SHA_NAME(round_heads)(const RoundKey& key, const uint64_t* hi,
                                       const uint64_t* lo, size_t n, uint64_t* heads) {
  clear_upper_state();
  switch (n) {
    case 1: round_heads_n<1>(key, hi, lo, heads); break;
    case 2: round_heads_n<2>(key, hi, lo, heads); break;
    case 3: round_heads_n<3>(key, hi, lo, heads); break;
    case kMaxShaLanes: round_heads_n<kMaxShaLanes>(key, hi, lo, heads); break;
    default: break;  // the driver never asks for more lanes than the kernel has
  }
}

void TAVIK_LANES_SHA_NAME(hmac_blocks)(const uint32_t inner[8], const uint32_t outer[8],
                                       const uint8_t (*blocks)[kSha256BlockLen], size_t n,
                                       uint32_t (*macs)[8]) {
  clear_upper_state();
  switch (n) {
    case 1: hmac_blocks_n<1>(inner, outer, blocks, macs); break;
    case 2: hmac_blocks_n<2>(inner, outer, blocks, macs); break;
    case 3: hmac_blocks_n<3>(inner, outer, blocks, macs); break;
    case kMaxShaLanes: hmac_blocks_n<kMaxShaLanes>(inner, outer, blocks, macs); break;
    default: break;
  }
}

}  // namespace tavik::fpe::lanes

#endif  // __x86_64__
