#ifndef TAVIK_FPE_SHA256_SHANI_H_
#define TAVIK_FPE_SHA256_SHANI_H_

// SHA-256 with the x86 SHA instructions, as inline functions on register values, for the few
// files compiled with -msha -msse4.1 -mssse3 (see CMakeLists.txt). Callers reach that code
// only through the backend table (fpe/backend.h), where the processor has them. The ARMv8 form
// (fpe/sha256_armv8.h) offers the same functions under the same names; fpe/sha_ops.h picks. The files keep the legacy SSE encoding (no -mavx),
// so no transition between VEX and SSE code, and no AVX upper-state penalty, can arise
// around these calls.

#if !defined(__x86_64__) || !defined(__SHA__) || !defined(__SSE4_1__) || !defined(__SSSE3__)
#error "fpe/sha256_shani.h needs a file compiled with -msha -msse4.1 -mssse3"
#endif

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "fpe/sha256.h"

namespace tavik::fpe::shani {
// Everything here has internal linkage: each file that includes this header is compiled with
// its own instruction set (some add AVX-512VL), and an inline function with external linkage
// compiled there could become the one copy the whole program runs, on processors without it.
namespace {

// State is a chaining value in the order the instructions use: abef holds A, B, E, F in
// lanes 3 to 0, cdgh holds C, D, G, H likewise.
struct State {
  __m128i abef;
  __m128i cdgh;
};

// Block is one message block as sixteen 32-bit words, w[g] holding words 4g .. 4g + 3 in
// lanes 0 to 3 (host order: the big-endian bytes are already read).
struct Block {
  __m128i w[4];
};


// load_state reads h[0..7] (A .. H).
inline State load_state(const uint32_t h[8]) {
  const __m128i abcd = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h));
  const __m128i efgh = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h + 4));
  const __m128i cdab = _mm_shuffle_epi32(abcd, 0xB1);
  const __m128i hgfe = _mm_shuffle_epi32(efgh, 0x1B);
  return State{_mm_alignr_epi8(cdab, hgfe, 8), _mm_blend_epi16(hgfe, cdab, 0xF0)};
}

// digest_words gives A, B, C, D and E, F, G, H as two vectors of message words: the form in
// which a digest enters the next block without leaving registers.
inline void digest_words(State s, __m128i* abcd, __m128i* efgh) {
  const __m128i feba = _mm_shuffle_epi32(s.abef, 0x1B);
  const __m128i dchg = _mm_shuffle_epi32(s.cdgh, 0xB1);
  *abcd = _mm_blend_epi16(feba, dchg, 0xF0);
  *efgh = _mm_alignr_epi8(dchg, feba, 8);
}

// store_state writes h[0..7] (A .. H).
inline void store_state(State s, uint32_t h[8]) {
  __m128i abcd;
  __m128i efgh;
  digest_words(s, &abcd, &efgh);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(h), abcd);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(h + 4), efgh);
}

// head64 is the first 8 digest bytes read big-endian: A and B, lanes 3 and 2 of abef.
inline uint64_t head64(State s) { return static_cast<uint64_t>(_mm_extract_epi64(s.abef, 1)); }

// Half is a Feistel half kept in a vector register where the first 8 digest bytes lie in a
// state: its 64-bit value in lanes 2 and 3 (A and B of abef), lanes 0 and 1 zero. kHalfByte[j]
// is the byte of a Half that holds bits 8j to 8j + 7 of the value.
using Half = __m128i;
inline constexpr uint8_t kHalfByte[8] = {8, 9, 10, 11, 12, 13, 14, 15};
inline Half half_of(uint64_t value) { return _mm_set_epi64x(static_cast<long long>(value), 0); }
inline uint64_t value_of(Half half) { return static_cast<uint64_t>(_mm_extract_epi64(half, 1)); }
// head_half is the first 8 digest bytes of a state as a Half, masked by `mask` (a Half).
inline Half head_half(State s, Half mask) { return _mm_and_si128(s.abef, mask); }
inline Half xor_halves(Half a, Half b) { return _mm_xor_si128(a, b); }
// bytes_of picks bytes of v by index: byte i of the result is byte control[i] of v, or zero
// where control[i] is 0x80. load_control reads the sixteen indices.
using ByteControl = __m128i;
inline __m128i bytes_of(__m128i v, ByteControl control) { return _mm_shuffle_epi8(v, control); }
inline ByteControl load_control(const uint8_t control[16]) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(control));
}
inline __m128i xor_words(__m128i a, __m128i b) { return _mm_xor_si128(a, b); }
// word0 is a vector with `w` in lane 0 and zeros elsewhere.
inline __m128i word0(uint32_t w) { return _mm_cvtsi32_si128(static_cast<int>(w)); }

// load_block reads 64 bytes of message as big-endian words.
inline Block load_block(const uint8_t* bytes) {
  const __m128i byte_swap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
  Block b;
  for (int i = 0; i < 4; ++i) {
    b.w[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 16 * i)),
                              byte_swap);
  }
  return b;
}

// load_words reads sixteen message words given in host order.
inline Block load_words(const uint32_t words[16]) {
  Block b;
  for (int i = 0; i < 4; ++i) {
    b.w[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(words + 4 * i));
  }
  return b;
}

// block_of makes a block of sixteen message words given as values: the compiler puts
// constants and registers together in vector registers, with no round trip through memory.
inline Block block_of(const uint32_t (&w)[16]) {
  Block b;
  for (int i = 0; i < 4; ++i) {
    b.w[i] = _mm_set_epi32(static_cast<int>(w[4 * i + 3]), static_cast<int>(w[4 * i + 2]),
                           static_cast<int>(w[4 * i + 1]), static_cast<int>(w[4 * i]));
  }
  return b;
}

// clear_upper_state is called before SHA code in a file built with AVX: the SHA instructions
// have only the legacy SSE encoding, and processors that mix it with dirty upper halves of
// the vector registers stall.
inline void clear_upper_state() {
#if defined(__AVX__)
  _mm256_zeroupper();
#endif
}

// words_from_be128 turns 16 bytes given as a big-endian 128-bit number (hi, lo) into four
// message words: word 0 is the top 32 bits of hi.
inline __m128i words_from_be128(uint64_t hi, uint64_t lo) {
  const uint64_t w01 = (hi << 32) | (hi >> 32);
  const uint64_t w23 = (lo << 32) | (lo >> 32);
  return _mm_set_epi64x(static_cast<long long>(w23), static_cast<long long>(w01));
}

// with_head is `tmpl` with its first 16 bytes XORed with the big-endian 128-bit number
// (hi, lo): the round byte and the half of a Feistel round.
inline Block with_head(Block tmpl, uint64_t hi, uint64_t lo) {
  tmpl.w[0] = _mm_xor_si128(tmpl.w[0], words_from_be128(hi, lo));
  return tmpl;
}

// compress_lanes runs N independent compressions side by side, each of its own block on its
// own state. One compression is bound by the latency of its chain of rounds, not by the SHA
// unit's throughput, so every further lane costs little extra time.
template <size_t N>
inline void compress_lanes(State (&s)[N], const Block (&b)[N]) {
  __m128i state0[N];
  __m128i state1[N];
  __m128i w[N][4];
#pragma GCC unroll 8
  for (size_t l = 0; l < N; ++l) {
    state0[l] = s[l].abef;
    state1[l] = s[l].cdgh;
    for (size_t i = 0; i < 4; ++i) { w[l][i] = b[l].w[i]; }
  }
  // Sixteen groups of four rounds; w[l][g % 4] holds the schedule words 4g .. 4g + 3 of lane
  // l, and the words of later groups are completed two and three groups ahead.
#pragma GCC unroll 16
  for (size_t g = 0; g < 16; ++g) {
    const __m128i k = _mm_load_si128(reinterpret_cast<const __m128i*>(kSha256RoundConstants + 4 * g));
    __m128i msg[N];
#pragma GCC unroll 8
    for (size_t l = 0; l < N; ++l) {
      msg[l] = _mm_add_epi32(w[l][g & 3], k);
      state1[l] = _mm_sha256rnds2_epu32(state1[l], state0[l], msg[l]);
    }
    if (g >= 3 && g <= 14) {
#pragma GCC unroll 8
      for (size_t l = 0; l < N; ++l) {
        __m128i& next = w[l][(g + 1) & 3];
        next = _mm_add_epi32(next, _mm_alignr_epi8(w[l][g & 3], w[l][(g - 1) & 3], 4));
        next = _mm_sha256msg2_epu32(next, w[l][g & 3]);
      }
    }
#pragma GCC unroll 8
    for (size_t l = 0; l < N; ++l) {
      msg[l] = _mm_shuffle_epi32(msg[l], 0x0E);
      state0[l] = _mm_sha256rnds2_epu32(state0[l], state1[l], msg[l]);
    }
    if (g >= 1 && g <= 12) {
#pragma GCC unroll 8
      for (size_t l = 0; l < N; ++l) {
        __m128i& prev = w[l][(g - 1) & 3];
        prev = _mm_sha256msg1_epu32(prev, w[l][g & 3]);
      }
    }
  }
#pragma GCC unroll 8
  for (size_t l = 0; l < N; ++l) {
    s[l] = State{_mm_add_epi32(state0[l], s[l].abef), _mm_add_epi32(state1[l], s[l].cdgh)};
  }
}

// compress runs one SHA-256 compression of `b` on `s` and returns the new chaining value.
inline State compress(State s, Block b) {
  State states[1] = {s};
  const Block blocks[1] = {b};
  compress_lanes<1>(states, blocks);
  return states[0];
}

// outer_block is the outer block of HMAC-SHA-256 in registers: the inner digest (A .. D and
// E .. H as message words), 0x80, zeros and the length of the key block and the digest.
inline Block outer_block(__m128i abcd, __m128i efgh) {
  Block block;
  block.w[0] = abcd;
  block.w[1] = efgh;
  block.w[2] = _mm_set_epi32(0, 0, 0, static_cast<int>(0x80000000u));
  block.w[3] = _mm_set_epi32(static_cast<int>(kHmacOuterBits), 0, 0, 0);
  return block;
}

inline Block outer_block(const uint32_t inner_digest[8]) {
  return outer_block(_mm_loadu_si128(reinterpret_cast<const __m128i*>(inner_digest)),
                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(inner_digest + 4)));
}

inline Block outer_block(State inner_digest) {
  __m128i abcd;
  __m128i efgh;
  digest_words(inner_digest, &abcd, &efgh);
  return outer_block(abcd, efgh);
}

}  // namespace
}  // namespace tavik::fpe::shani

#endif  // TAVIK_FPE_SHA256_SHANI_H_
