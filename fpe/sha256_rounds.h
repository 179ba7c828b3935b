#ifndef TAVIK_FPE_SHA256_ROUNDS_H_
#define TAVIK_FPE_SHA256_ROUNDS_H_

// Internal to fpe/: our own SHA-256 rounds, written once and compiled in two forms: the
// generic one for any processor (fpe/sha256_portable.cc), and the BMI2 one in a file compiled
// for BMI1, BMI2, SSSE3 and SSE4.1 (fpe/sha256_bmi2.cc). Everything here has internal
// linkage, so no copy compiled for an instruction set can stand in for another's.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

#include "base/secure_wipe.h"
#include "fpe/sha256.h"

namespace tavik::fpe {
namespace {


#define TAVIK_ALWAYS_INLINE [[gnu::always_inline]] inline

// The compiler turns this byte composition into one load and a byte swap.
TAVIK_ALWAYS_INLINE uint32_t load_be32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

TAVIK_ALWAYS_INLINE void store_be32(uint32_t v, uint8_t* out) {
  out[0] = static_cast<uint8_t>(v >> 24);
  out[1] = static_cast<uint8_t>(v >> 16);
  out[2] = static_cast<uint8_t>(v >> 8);
  out[3] = static_cast<uint8_t>(v);
}

// The Sigma and sigma functions in two forms. Three rotations of one word side by side are
// the shortest path, but where a rotation overwrites its operand (x86 without BMI2) each costs
// a copy first; nested, they need one copy in all, at a longer path.
template <bool kParallel>
TAVIK_ALWAYS_INLINE uint32_t big_sigma0(uint32_t x) {
  if constexpr (kParallel) {
    return std::rotr(x, 2) ^ std::rotr(x, 13) ^ std::rotr(x, 22);
  } else {
    return std::rotr(std::rotr(std::rotr(x, 9) ^ x, 11) ^ x, 2);
  }
}
template <bool kParallel>
TAVIK_ALWAYS_INLINE uint32_t big_sigma1(uint32_t x) {
  if constexpr (kParallel) {
    return std::rotr(x, 6) ^ std::rotr(x, 11) ^ std::rotr(x, 25);
  } else {
    return std::rotr(std::rotr(std::rotr(x, 14) ^ x, 5) ^ x, 6);
  }
}
template <bool kParallel>
TAVIK_ALWAYS_INLINE uint32_t small_sigma0(uint32_t x) {
  if constexpr (kParallel) {
    return std::rotr(x, 7) ^ std::rotr(x, 18) ^ (x >> 3);
  } else {
    return std::rotr(std::rotr(x, 11) ^ x, 7) ^ (x >> 3);
  }
}
template <bool kParallel>
TAVIK_ALWAYS_INLINE uint32_t small_sigma1(uint32_t x) {
  if constexpr (kParallel) {
    return std::rotr(x, 17) ^ std::rotr(x, 19) ^ (x >> 10);
  } else {
    return std::rotr(std::rotr(x, 2) ^ x, 17) ^ (x >> 10);
  }
}

// Form picks the code shape for the instructions at hand; see the code that reads it.
struct Form {
  bool parallel_sigma;   // the Sigma and sigma rotations side by side, else nested
  bool split_ch;         // Ch(e, f, g) as (~e & g) + (e & f), else ((f ^ g) & e) ^ g
  bool vector_schedule;  // the message schedule four words at a time, else one
};

// The generic form suits any processor with two-operand rotations; the BMI2 one, with rorx,
// andn and SSSE3 shuffles for the vectors, takes every shortcut.
constexpr Form kGenericForm = {
    .parallel_sigma = false, .split_ch = false, .vector_schedule = false};
constexpr Form kBmi2Form = {.parallel_sigma = true, .split_ch = true, .vector_schedule = true};

#if defined(__GNUC__)
// Four message words in a vector of the compiler's own (SSE registers on x86-64).
using V4 = uint32_t __attribute__((vector_size(16)));
#endif

// A block source gives the sixteen message words of a block in host order: word<I>() one at a
// time, group<N>() the words 4N .. 4N + 3 as a vector.

// BlockBytes reads a block of 64 bytes in memory.
class BlockBytes {
 public:
  explicit BlockBytes(const uint8_t* bytes) : bytes_(bytes) {}

  template <size_t I>
  TAVIK_ALWAYS_INLINE uint32_t word() const {
    return load_be32(bytes_ + 4 * I);
  }

#if defined(__GNUC__)
  template <size_t N>
  TAVIK_ALWAYS_INLINE V4 group() const {
    V4 x;
    std::memcpy(&x, bytes_ + 16 * N, sizeof(x));
    if constexpr (std::endian::native == std::endian::little) {
      x = (x << 24) | ((x & 0xff00) << 8) | ((x >> 8) & 0xff00) | (x >> 24);
    }
    return x;
  }
#endif

 private:
  const uint8_t* bytes_;
};

// DigestBlock is the last block of an HMAC, made from the inner digest's words without going
// through bytes: the digest, 0x80, zeros and the length of key block and digest.
class DigestBlock {
 public:
  explicit DigestBlock(const uint32_t (&digest)[8]) : digest_(digest) {}

  template <size_t I>
  TAVIK_ALWAYS_INLINE uint32_t word() const {
    if constexpr (I < 8) {
      return digest_[I];
    } else if constexpr (I == 8) {
      return 0x80000000;
    } else if constexpr (I == 15) {
      return kHmacOuterBits;
    } else {
      return 0;
    }
  }

#if defined(__GNUC__)
  template <size_t N>
  TAVIK_ALWAYS_INLINE V4 group() const {
    return V4{word<4 * N>(), word<4 * N + 1>(), word<4 * N + 2>(), word<4 * N + 3>()};
  }
#endif

 private:
  const uint32_t (&digest_)[8];
};

// ScalarSchedule yields the message words W[i] + K[i] one by one, from sixteen in a ring.
template <Form kForm, typename Source>
class ScalarSchedule {
 public:
  explicit ScalarSchedule(const Source& source) : source_(source) {}

  template <size_t I>
  TAVIK_ALWAYS_INLINE uint32_t next() {
    if constexpr (I < 16) {
      w_[I] = source_.template word<I>();
    } else {
      w_[I % 16] += small_sigma1<kForm.parallel_sigma>(w_[(I - 2) % 16]) + w_[(I - 7) % 16] +
                    small_sigma0<kForm.parallel_sigma>(w_[(I - 15) % 16]);
    }
    return w_[I % 16] + kSha256RoundConstants[I];
  }

 private:
  const Source& source_;
  uint32_t w_[16];
};

#if defined(__GNUC__)
// VectorSchedule computes the message words four at a time in vector registers, which frees
// the general registers and their ALUs for the rounds. Group n, the words 4n .. 4n + 3, sits
// in x_[n % 4]. Rounds 0 to 15 take their words from the block itself; from group 4 on, the
// sums W[i] + K[i] go to a ring of sixteen words that the rounds read. Group n is made at
// round 4n - 12, once the rounds of group n - 4, whose places it takes, are done, and is used
// twelve rounds later.
template <typename Source>
class VectorSchedule {
 public:
  explicit VectorSchedule(const Source& source) : source_(source) {
    start<0>();
    start<1>();
    start<2>();
    start<3>();
  }

  template <size_t I>
  TAVIK_ALWAYS_INLINE uint32_t next() {
    if constexpr (I % 4 == 0 && I >= 4 && I <= 48) { extend<I / 4 + 3>(); }
    // The first sixteen words come straight from the block: when it was just written (the
    // outer block of an HMAC), the first round need not wait for the vectors.
    if constexpr (I < 16) {
      return source_.template word<I>() + kSha256RoundConstants[I];
    } else {
      return kw_[I % 16];
    }
  }

 private:
  TAVIK_ALWAYS_INLINE static V4 rotr(V4 x, int n) { return (x >> n) | (x << (32 - n)); }

  // shuffle picks lanes I0 .. I3 of a (0 to 3) and b (4 to 7). GCC before 12 knows only its own
  // builtin, clang only the other.
  template <int I0, int I1, int I2, int I3>
  TAVIK_ALWAYS_INLINE static V4 shuffle(V4 a, V4 b) {
#if defined(__clang__)
    return __builtin_shufflevector(a, b, I0, I1, I2, I3);
#else
    return __builtin_shuffle(a, b, V4{I0, I1, I2, I3});
#endif
  }

  // sigma1_pair takes two words, each twice ({u, u, v, v}), and gives sigma1(u) and sigma1(v)
  // in lanes 0 and 2: a 64-bit lane holding a word twice shifts into a rotation of it.
  TAVIK_ALWAYS_INLINE static V4 sigma1_pair(V4 doubled) {
    using V2 = uint64_t __attribute__((vector_size(16)));
    const V2 wide = reinterpret_cast<V2>(doubled);
    return reinterpret_cast<V4>((wide >> 17) ^ (wide >> 19)) ^ (doubled >> 10);
  }

  template <size_t N>
  TAVIK_ALWAYS_INLINE void start() {
    x_[N] = source_.template group<N>();
  }

  template <size_t N>
  TAVIK_ALWAYS_INLINE void extend() {
    const V4 w16 = x_[N % 4];
    const V4 w12 = x_[(N + 1) % 4];
    const V4 w8 = x_[(N + 2) % 4];
    const V4 w4 = x_[(N + 3) % 4];
    // W[t - 15] and W[t - 7] for the four words t of group N straddle two groups each.
    const V4 w15 = shuffle<1, 2, 3, 4>(w16, w12);
    const V4 w7 = shuffle<1, 2, 3, 4>(w8, w4);
    const V4 partial = w16 + w7 + (rotr(w15, 7) ^ rotr(w15, 18) ^ (w15 >> 3));
    // W[t - 2] is in the previous group for the first two words, in this one for the last two.
    const V4 sigma_low = sigma1_pair(shuffle<2, 2, 3, 3>(w4, w4));
    const V4 low = partial + shuffle<0, 2, 0, 2>(sigma_low, sigma_low);
    const V4 sigma_high = sigma1_pair(shuffle<0, 0, 1, 1>(low, low));
    const V4 high = partial + shuffle<0, 0, 0, 2>(sigma_high, sigma_high);
    const V4 x = shuffle<0, 1, 6, 7>(low, high);
    x_[N % 4] = x;
    store_sum(N, x);
  }

  // store_sum puts W + K of group n (its words in x) in the ring.
  TAVIK_ALWAYS_INLINE void store_sum(size_t n, V4 x) {
    V4 k;
    std::memcpy(&k, kSha256RoundConstants + 4 * n, sizeof(k));
    const V4 sum = x + k;
    std::memcpy(kw_ + 4 * (n % 4), &sum, sizeof(sum));
  }

  const Source& source_;
  V4 x_[4];
  alignas(16) uint32_t kw_[16];
};
#endif

// Working variables of the rounds. Rather than moving eight words after every round, round i
// finds A in v[(8 - i % 8) % 8] and the others after it, cyclically; with every index a
// constant the compiler keeps them in registers. bc carries B xor C into the next round, where
// it is A xor B of this one.
struct Working {
  uint32_t v[8];
  uint32_t bc;
};

template <Form kForm, size_t I, typename Schedule>
TAVIK_ALWAYS_INLINE void round(Working& s, Schedule& schedule) {
  constexpr size_t kA = (64 - I) % 8;
  const uint32_t a = s.v[kA];
  const uint32_t b = s.v[(kA + 1) % 8];
  uint32_t& d = s.v[(kA + 3) % 8];
  const uint32_t e = s.v[(kA + 4) % 8];
  const uint32_t f = s.v[(kA + 5) % 8];
  const uint32_t g = s.v[(kA + 6) % 8];
  uint32_t& h = s.v[(kA + 7) % 8];
  const uint32_t wk = schedule.template next<I>();
  // Split, Ch(e, f, g) is a sum of two parts with no bit in common, each one step from e (with
  // andn), so they run beside Sigma1(e) rather than after one another.
  uint32_t ch;
  if constexpr (kForm.split_ch) {
    ch = (~e & g) + (e & f);
  } else {
    ch = ((f ^ g) & e) ^ g;
  }
  const uint32_t t1 = h + wk + ch + big_sigma1<kForm.parallel_sigma>(e);
  const uint32_t ab = a ^ b;
  const uint32_t maj = (ab & s.bc) ^ b;
  s.bc = ab;
  d += t1;
  h = t1 + big_sigma0<kForm.parallel_sigma>(a) + maj;
}

template <Form kForm, typename Schedule, size_t... I>
TAVIK_ALWAYS_INLINE void rounds(Working& s, Schedule& schedule, std::index_sequence<I...>) {
  (round<kForm, I>(s, schedule), ...);
}

template <Form kForm, typename Source>
TAVIK_ALWAYS_INLINE void compress_body(uint32_t h[8], const Source& source) {
  Working s;
  for (size_t i = 0; i < 8; ++i) { s.v[i] = h[i]; }
  s.bc = h[1] ^ h[2];
#if defined(__GNUC__)
  if constexpr (kForm.vector_schedule) {
    VectorSchedule<Source> schedule(source);
    rounds<kForm>(s, schedule, std::make_index_sequence<64>{});
  } else
#endif
  {
    ScalarSchedule<kForm, Source> schedule(source);
    rounds<kForm>(s, schedule, std::make_index_sequence<64>{});
  }
  // After 64 rounds, a multiple of eight, every word is back in its own slot.
  for (size_t i = 0; i < 8; ++i) { h[i] += s.v[i]; }
}

// hmac_body is sha256_hmac_block; the inner digest enters the outer block as words.
template <Form kForm>
TAVIK_ALWAYS_INLINE void hmac_body(const uint32_t inner[8], const uint32_t outer[8],
                                   const uint8_t block[kSha256BlockLen], uint32_t mac[8]) {
  uint32_t digest[8];
  std::memcpy(digest, inner, sizeof(digest));
  compress_body<kForm>(digest, BlockBytes(block));
  std::memcpy(mac, outer, sizeof(digest));
  compress_body<kForm>(mac, DigestBlock(digest));
  secure_wipe(digest, sizeof(digest));
}


// hmac_outer_body is sha256_hmac_outer: a copy of `outer` compresses the inner digest, given
// as words, with its padding.
template <Form kForm>
TAVIK_ALWAYS_INLINE void hmac_outer_body(const uint32_t outer[8], const uint32_t inner_digest[8],
                                         uint32_t mac[8]) {
  uint32_t digest[8];
  std::memcpy(digest, inner_digest, sizeof(digest));
  std::memcpy(mac, outer, sizeof(digest));
  compress_body<kForm>(mac, DigestBlock(digest));
  secure_wipe(digest, sizeof(digest));
}

}  // namespace
}  // namespace tavik::fpe

#endif  // TAVIK_FPE_SHA256_ROUNDS_H_
