#ifndef TAVIK_CORE_CHUNK_BALANCED_LANES_H_
#define TAVIK_CORE_CHUNK_BALANCED_LANES_H_

// The separator masks of the Balanced layout that the builders make, with the syllables of a
// word in 16-bit lanes, written once over a set of vector operations V so that each
// instruction set compiles it in its own file: SSE2 in engine.cc (one word in a pair of
// 128-bit vectors), AVX2 in balanced_avx2.cc (two words side by side in 256-bit vectors, whose
// operations act on each 128-bit half alone), AVX-512BW in balanced_avx512.cc (four words in
// 512-bit vectors, one in each 128-bit quarter). Every template here takes V, and each V is a
// type of its file's own, so the copies built for different instruction sets never meet.
//
// V provides Vec, kWords (the words a vector holds, one per 128-bit part), set1, zero, add,
// sub, mullo, mulhi (unsigned), max, bit_and, bit_or, cmpgt, cmpeq, subs (unsigned), the byte
// shifts shl_bytes<k> and shr_bytes<k> and the lane shift shr16<k> of each part, shuffle32,
// shufflelo and shufflehi<imm>, unpackhi64, packs, movemask (16 bits per word), setr8 (eight
// lanes, the same in each part) and load_words (the eight digits at each word's pointer).

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "core/chunk/engine.h"
#include "core/render.h"
#include "core/types.h"

namespace tavik::core::balanced {

// The masks of words[i][0, n) (8 <= n <= kMaxDataSyllables) for every word, by instruction set;
// the digits of each word are read eight at a time, so they must have been stored well before.
void masks_sse2(std::span<const std::array<uint16_t, kMaxDataSyllables>> words, size_t n,
                uint32_t* masks);
void masks_avx2(std::span<const std::array<uint16_t, kMaxDataSyllables>> words, size_t n,
                uint32_t* masks);
void masks_avx512(std::span<const std::array<uint16_t, kMaxDataSyllables>> words, size_t n,
                  uint32_t* masks);

// Syllables in 16-bit lanes: lane j of the low vectors and lane j - 8 of the high ones stand
// for syllable j; lanes past the last syllable hold zeros. The score of a cut needs a syllable's
// digit 20 * onset + nucleus only modulo 97: `digit` holds a number below 700 congruent to it.
template <typename V>
struct SyllableLanes {
  typename V::Vec onset_lo;
  typename V::Vec nucleus_lo;  // nucleus indices, without the flag
  typename V::Vec digit_lo;
  typename V::Vec onset_hi;
  typename V::Vec nucleus_hi;
  typename V::Vec digit_hi;
};

// mod97 is x mod 97 for 16-bit lanes below 57,456, where x / 97 is (x * 43241) >> 22.
template <typename V>
typename V::Vec mod97(typename V::Vec x) {
  const typename V::Vec q = V::template shr16<6>(V::mulhi(x, V::set1(-22295)));  // 43241
  return V::sub(x, V::mullo(q, V::set1(97)));
}

// For a digit d below 700, d / 35 is (d * 1873) >> 16.
constexpr bool divides_by_35(uint32_t multiplier) {
  for (uint32_t d = 0; d < kSyllableBase; ++d) {
    if ((d * multiplier) >> 16 != d / kNumOnsets) { return false; }
  }
  return true;
}
static_assert(divides_by_35(1873));

// The lanes of N syllables given as digits (onset d mod 35, nucleus d / 35), from their low and
// high vectors.
template <typename V>
SyllableLanes<V> lanes_of_digit_vectors(typename V::Vec digits_lo, typename V::Vec digits_hi) {
  using Vec = typename V::Vec;
  const Vec multiplier = V::set1(1873);
  const Vec num_onsets = V::set1(kNumOnsets);
  const Vec twenty = V::set1(20);
  SyllableLanes<V> s;
  s.nucleus_lo = V::mulhi(digits_lo, multiplier);
  s.nucleus_hi = V::mulhi(digits_hi, multiplier);
  s.onset_lo = V::sub(digits_lo, V::mullo(s.nucleus_lo, num_onsets));
  s.onset_hi = V::sub(digits_hi, V::mullo(s.nucleus_hi, num_onsets));
  s.digit_lo = V::add(V::mullo(s.onset_lo, twenty), s.nucleus_lo);
  s.digit_hi = V::add(V::mullo(s.onset_hi, twenty), s.nucleus_hi);
  return s;
}

// The lanes of N syllables (8 <= N <= 14) of V::kWords words of digits stored well before:
// digits 0-7, and digits 8 .. N-1 read as digits N-8 .. N-1 and moved down, so that nothing past
// the digits is read.
template <typename V, size_t N>
SyllableLanes<V> lanes_of_settled_digits(const uint16_t* const* words) {
  const uint16_t* starts[V::kWords];
  for (size_t w = 0; w < V::kWords; ++w) { starts[w] = words[w] + N - 8; }
  return lanes_of_digit_vectors<V>(
      V::load_words(words), V::template shr_bytes<2 * (16 - N)>(V::load_words(starts)));
}

// The builders' Balanced layout over N syllables (8 <= N <= 14) with the widths and scores of
// all positions in lanes, and each cut found without leaving them: the cuts follow one another,
// so their chain of steps is what the computation waits for, and W vectors of words go through
// every step side by side, so that the chains of several fill the time one of them waits. A
// position j has the key 64 * score + 63 - W[j] (W[j]: the letters before syllable j), so that
// the largest key has the best score and, among equal scores, the fewest letters before it: the
// earliest position. Positions after the last cut that lie outside the window, and those
// scoring 0, count with the key 63 - W[j], which no position scoring above 0 in the window
// reaches and which is largest at the next position: the fallback e + 1. The winning key gives
// the width of the cut, the start of the next. After a cut reaches n every later one falls
// beyond it, and only bits 1 .. N - 1 are kept: the rules of the layout's general code. Writes
// W * V::kWords masks, those of the words of lanes[0], then of lanes[1], ...
template <typename V, size_t N, size_t W>
void builders_balanced_masks(const SyllableLanes<V>* lanes, uint32_t* masks) {
  static_assert(N >= 8 && N <= kMaxDataSyllables);
  using Vec = typename V::Vec;
  constexpr uint32_t kGroups = kDefaultTargetGroups;
#define TAVIK_EACH_VECTOR _Pragma("GCC unroll 4") for (size_t w = 0; w < W; ++w)

  // Widths (2 letters, one more for a cluster, one more for a vowel with an ending) and their
  // sums before each syllable, W[j] (strictly increasing, at most 56 + 2 * 2 in all lanes).
  const auto width_of = [](Vec onset, Vec nucleus) {
    const Vec cluster = V::cmpgt(onset, V::set1(kNumSingleOnsets - 1));
    const Vec ending = V::cmpgt(nucleus, V::set1(4));
    return V::sub(V::sub(V::set1(2), cluster), ending);
  };
  const auto inclusive_sums = [](Vec x) {
    x = V::add(x, V::template shl_bytes<2>(x));
    x = V::add(x, V::template shl_bytes<4>(x));
    return V::add(x, V::template shl_bytes<8>(x));
  };
  const auto scale = [](size_t j) { return static_cast<int16_t>(j >= 1 && j < N ? 64 : 0); };
  const Vec sixty_three = V::set1(63);
  Vec before_lo[W], before_hi[W], total[W], keys_lo[W], keys_hi[W], fallback_lo[W],
      fallback_hi[W];
  TAVIK_EACH_VECTOR {
    const SyllableLanes<V>& s = lanes[w];
    const Vec width_lo = width_of(s.onset_lo, s.nucleus_lo);
    const Vec width_hi = width_of(s.onset_hi, s.nucleus_hi);
    const Vec sums_lo = inclusive_sums(width_lo);
    const Vec sums_hi = inclusive_sums(width_hi);
    const Vec carry = V::template shufflehi<0xFF>(sums_lo);
    before_lo[w] = V::sub(sums_lo, width_lo);
    before_hi[w] = V::add(V::sub(sums_hi, width_hi), V::unpackhi64(carry, carry));
    // W[N], the letters of the word, in every lane.
    constexpr int kTotalLane = N - 8;
    total[w] = V::template shuffle32<0>(
        V::template shufflelo<0>(V::template shr_bytes<2 * kTotalLane>(before_hi[w])));

    // Scores (31 * a + b) mod 97 of the cut before j, with a and b the digits (mod 97) of
    // syllables j - 1 and j, and the keys; positions 1 .. N - 1 only carry a score.
    const Vec before_digit_lo = V::template shl_bytes<2>(s.digit_lo);
    const Vec before_digit_hi = V::bit_or(V::template shl_bytes<2>(s.digit_hi),
                                          V::template shr_bytes<14>(s.digit_lo));
    const Vec thirty_one = V::set1(31);
    const Vec score_lo = mod97<V>(V::add(V::mullo(before_digit_lo, thirty_one), s.digit_lo));
    const Vec score_hi = mod97<V>(V::add(V::mullo(before_digit_hi, thirty_one), s.digit_hi));
    fallback_lo[w] = V::sub(sixty_three, before_lo[w]);
    fallback_hi[w] = V::sub(sixty_three, before_hi[w]);
    keys_lo[w] = V::add(V::mullo(score_lo, V::setr8(scale(0), scale(1), scale(2), scale(3),
                                                    scale(4), scale(5), scale(6), scale(7))),
                        fallback_lo[w]);
    keys_hi[w] = V::add(V::mullo(score_hi, V::setr8(scale(8), scale(9), scale(10), scale(11),
                                                    scale(12), scale(13), scale(14), scale(15))),
                        fallback_hi[w]);
  }

  // Reciprocals for the ideal width (the rest over 5, 4, 3 and 2 groups) and its third, as
  // (x * m) >> 16, exact for the widths a word has.
  constexpr int16_t kOver[5] = {0, 13108, 16384, 21846, -32768};  // 65536 / k, rounded up
  const Vec zero = V::zero();
  const Vec one = V::set1(1);
  Vec start[W];  // W[e] in every lane
  Vec cuts_lo[W];
  Vec cuts_hi[W];
  TAVIK_EACH_VECTOR {
    start[w] = zero;
    cuts_lo[w] = zero;
    cuts_hi[w] = zero;
  }
#pragma GCC unroll 4
  for (uint32_t i = 1; i < kGroups; ++i) {
    TAVIK_EACH_VECTOR {
      const Vec ideal = V::mulhi(V::sub(total[w], start[w]), V::set1(kOver[i]));
      const Vec slack = V::max(V::mulhi(ideal, V::set1(21846)), one);
      // A position after e lies at least one letter on: the window is lo .. hi letters on,
      // and W[j] lies in it when W[j] - (W[e] + lo), taken unsigned, is at most hi - lo.
      const Vec lo = V::max(V::sub(ideal, slack), one);
      const Vec hi = V::add(ideal, slack);
      const Vec base = V::add(start[w], lo);
      const Vec span = V::sub(hi, lo);
      const auto candidates = [&](Vec before, Vec keys, Vec fallback) {
        const Vec in_window = V::cmpeq(V::subs(V::sub(before, base), span), zero);
        const Vec after = V::cmpgt(before, start[w]);
        return V::bit_and(V::max(V::bit_and(keys, in_window), fallback), after);
      };
      Vec best = V::max(candidates(before_lo[w], keys_lo[w], fallback_lo[w]),
                        candidates(before_hi[w], keys_hi[w], fallback_hi[w]));
      best = V::max(best, V::template shuffle32<0x4E>(best));
      best = V::max(best, V::template shuffle32<0xB1>(best));
      best = V::max(best, V::template shufflehi<0xB1>(V::template shufflelo<0xB1>(best)));
      start[w] = V::sub(sixty_three, V::bit_and(best, sixty_three));
      cuts_lo[w] = V::bit_or(cuts_lo[w], V::cmpeq(before_lo[w], start[w]));
      cuts_hi[w] = V::bit_or(cuts_hi[w], V::cmpeq(before_hi[w], start[w]));
    }
  }
  TAVIK_EACH_VECTOR {
    const uint64_t cuts = V::movemask(V::packs(cuts_lo[w], cuts_hi[w]));
    for (size_t k = 0; k < V::kWords; ++k) {
      masks[w * V::kWords + k] =
          static_cast<uint32_t>(cuts >> (16 * k)) & ((uint32_t{1} << N) - 2);
    }
  }
#undef TAVIK_EACH_VECTOR
}

// with_syllable_count calls mask.template operator()<N>() for n = N, 8 <= n <= 14.
template <typename Mask>
auto with_syllable_count(size_t n, Mask mask) {
  switch (n) {
    case 8: return mask.template operator()<8>();
    case 9: return mask.template operator()<9>();
    case 10: return mask.template operator()<10>();
    case 11: return mask.template operator()<11>();
    case 12: return mask.template operator()<12>();
    case 13: return mask.template operator()<13>();
    default: return mask.template operator()<14>();
  }
}

// The masks of many words of n digits (8 <= n <= kMaxDataSyllables) stored well before,
// kVectors vectors of words at a time; the last group, when short, repeats its last word.
template <typename V, size_t kVectors>
void masks_of_words(std::span<const std::array<uint16_t, kMaxDataSyllables>> words, size_t n,
                    uint32_t* masks) {
  constexpr size_t kGroup = kVectors * V::kWords;
  with_syllable_count(n, [&]<size_t N>() {
    for (size_t first = 0; first < words.size(); first += kGroup) {
      const size_t count = std::min(kGroup, words.size() - first);
      SyllableLanes<V> lanes[kVectors];
      for (size_t v = 0; v < kVectors; ++v) {
        const uint16_t* pointers[V::kWords];
        for (size_t k = 0; k < V::kWords; ++k) {
          pointers[k] = words[first + std::min(v * V::kWords + k, count - 1)].data();
        }
        lanes[v] = lanes_of_settled_digits<V, N>(pointers);
      }
      if (count == kGroup) {
        builders_balanced_masks<V, N, kVectors>(lanes, masks + first);
      } else {
        uint32_t group[kGroup];
        builders_balanced_masks<V, N, kVectors>(lanes, group);
        std::copy(group, group + count, masks + first);
      }
    }
    return 0;
  });
}

}  // namespace tavik::core::balanced

#endif  // TAVIK_CORE_CHUNK_BALANCED_LANES_H_
