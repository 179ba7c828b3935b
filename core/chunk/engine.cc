#include "core/chunk/engine.h"

#include <algorithm>
#include <array>
#include <limits>
#include <utility>

#include "core/render.h"
#include "core/types.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tavik::core {

ChunkLayout ChunkLayout::balanced(uint32_t separator) {
  ChunkLayout layout;
  layout.kind = ChunkKind::kBalanced;
  layout.target_groups = kDefaultTargetGroups;
  layout.separator = separator;
  return layout;
}

ChunkLayout ChunkLayout::unchunked() {
  ChunkLayout layout;
  layout.kind = ChunkKind::kUnchunked;
  layout.target_groups = 0;
  layout.separator = 0;
  return layout;
}

ChunkLayout ChunkLayout::fixed(uint64_t char_size) {
  ChunkLayout layout;
  layout.kind = ChunkKind::kFixed;
  layout.fixed_size = char_size;
  layout.target_groups = 0;
  layout.separator = '-';
  return layout;
}

ChunkLayout ChunkLayout::with_pattern(std::vector<uint64_t> sizes) {
  ChunkLayout layout;
  layout.kind = ChunkKind::kPattern;
  layout.pattern = std::move(sizes);
  layout.target_groups = 0;
  layout.separator = '-';
  return layout;
}

uint32_t Boundaries::separator_mask(size_t num_syllables) const {
  // The mask has 32 bits; a code word never has more than 14 syllables.
  const uint64_t limit = std::min<uint64_t>(num_syllables, 32);
  uint32_t mask = 0;
  for (size_t k = 0; k < size_; ++k) {
    const uint64_t j = items_[k];
    if (j >= 1 && j < limit) { mask |= uint32_t{1} << j; }
  }
  return mask;
}

namespace {


// Group sizes can be as large as 2^64 - 1; a sum that would wrap stays at the maximum, so a
// huge size never brings a later sum back below n.
uint64_t add_saturated(uint64_t a, uint64_t b) {
  uint64_t sum = 0;
  return __builtin_add_overflow(a, b, &sum) ? std::numeric_limits<uint64_t>::max() : sum;
}

uint64_t distance(uint64_t a, uint64_t b) { return a > b ? a - b : b - a; }

// The view of the data units that the layouts work on: at most kMaxDataSyllables whole
// syllables (a trailing lone unit and anything past the fourteenth syllable are not read),
// with the width table W (W[j] = letters of syllables 0..j-1).
struct Syllables {
  explicit Syllables(std::span<const uint8_t> units)
      : n(std::min(units.size() / 2, kMaxDataSyllables)), data(units) {
    widths[0] = 0;
    for (size_t j = 0; j < n; ++j) {
      widths[j + 1] = widths[j] + syllable_width(onset(j), nucleus(j));
    }
  }
  uint8_t onset(size_t k) const { return data[2 * k]; }
  uint8_t nucleus(size_t k) const { return data[2 * k + 1]; }

  size_t n;
  std::span<const uint8_t> data;
  // Entries 0..n are written; the rest are never read, so they are left as they are.
  std::array<uint64_t, kMaxDataSyllables + 1> widths;
};

void pattern_boundaries(const Syllables& s, const std::vector<uint64_t>& pattern, Boundaries* out) {
  uint64_t sum = 0;
  for (uint64_t size : pattern) {
    sum = add_saturated(sum, size);
    // Sums never decrease, so once one reaches n none of the rest can place anything.
    if (sum >= s.n) { break; }
    out->push(sum);
  }
}

void fixed_boundaries(const Syllables& s, uint64_t size, Boundaries* out) {
  const auto& w = s.widths;
  std::array<bool, kMaxDataSyllables + 1> chosen = {};
  uint64_t target = size;
  for (;;) {
    size_t best = s.n + 1;  // none yet
    for (size_t j = 0; j <= s.n; ++j) {
      if (chosen[j]) { continue; }
      if (best > s.n || distance(w[j], target) < distance(w[best], target)) { best = j; }
    }
    if (best > s.n) { break; }  // every position is taken
    chosen[best] = true;
    target = add_saturated(w[best], size);
    if (target >= w[s.n]) { break; }
  }
  // The chosen positions in ascending order, each once.
  for (size_t j = 0; j <= s.n; ++j) {
    if (chosen[j]) { out->push(j); }
  }
}

// The score of a cut before syllable j, for 1 <= j < n (see cut_score).
inline uint32_t score_at(const uint8_t* units, size_t j) {
  const uint32_t a = 20u * units[2 * j - 2] + (units[2 * j - 1] & 0x7Fu);
  const uint32_t b = 20u * units[2 * j] + (units[2 * j + 1] & 0x7Fu);
  return (31u * a + b) % 97u;
}

// A cut can only reach n at the fallback e + 1 with e = n - 1. Layouts with other group
// counts, bounds or a bonus can get there before their last cut; cutting stops at that cut,
// since every later one would lie beyond the width table and place nothing.
void balanced_boundaries(const Syllables& s, const ChunkLayout& layout, Boundaries* out) {
  const uint64_t groups = layout.target_groups;
  if (s.n <= groups || groups < 2) { return; }  // also keeps groups below 15 from here on
  const size_t n = s.n;
  const auto& w = s.widths;
  const uint64_t total = w[n];
  size_t e = 0;
  for (uint64_t i = 1; i < groups && e < n; ++i) {
    // Both operands are small (at most 56 letters, 14 groups): a 32-bit division is quicker.
    const uint64_t remaining = groups + 1 - i;
    const uint64_t ideal = static_cast<uint32_t>(total - w[e]) / static_cast<uint32_t>(remaining);
    const uint64_t slack = std::max<uint64_t>(ideal / 3, 1);
    const uint64_t lo =
        layout.min_width != 0 ? layout.min_width : (ideal < slack ? 0 : ideal - slack);
    const uint64_t hi = layout.max_width != 0 ? layout.max_width : ideal + slack;

    // Widths grow strictly with j (every syllable has at least two letters), so both scans
    // stop as soon as no later position can win; only a bonus needs the ideal position.
    size_t ideal_pos = e + 1;
    if (layout.bonus != 0) {
      for (size_t j = e + 2; j < n; ++j) {
        const uint64_t d = distance(w[j] - w[e], ideal);
        const uint64_t best = distance(w[ideal_pos] - w[e], ideal);
        if (d < best) {
          ideal_pos = j;
        } else if (w[j] - w[e] > ideal) {
          break;
        }
      }
    }

    size_t cut = e + 1;
    uint32_t best_value = 0;  // only a value above 0 counts
    for (size_t j = e + 1; j < n; ++j) {
      const uint64_t width = w[j] - w[e];
      if (width > hi) { break; }
      if (width < lo) { continue; }
      uint32_t value = score_at(s.data.data(), j);
      if (j == ideal_pos) {
        value += layout.bonus;
      } else if (j + 1 == ideal_pos || j == ideal_pos + 1) {
        value += layout.bonus / 2u;
      }
      if (value > best_value) {
        best_value = value;
        cut = j;
      }
    }
    out->push(cut);
    e = cut;
  }
}

#if defined(__SSE2__)

bool is_builders_balanced(const ChunkLayout& layout) {
  return layout.kind == ChunkKind::kBalanced && layout.target_groups == kDefaultTargetGroups &&
         layout.min_width == 0 && layout.max_width == 0 && layout.bonus == 0;
}


// Syllables in 16-bit lanes: lane j of the low vectors and lane j - 8 of the high ones stand
// for syllable j; lanes past the last syllable hold zeros. The score of a cut needs a syllable's
// digit 20 * onset + nucleus only modulo 97: `digit` holds a number below 700 congruent to it.
struct SyllableLanes {
  __m128i onset_lo;
  __m128i nucleus_lo;  // nucleus indices, without the flag
  __m128i digit_lo;
  __m128i onset_hi;
  __m128i nucleus_hi;
  __m128i digit_hi;
};

// mod97 is x mod 97 for 16-bit lanes below 57,456, where x / 97 is (x * 43241) >> 22.
inline __m128i mod97(__m128i x) {
  const __m128i q = _mm_srli_epi16(_mm_mulhi_epu16(x, _mm_set1_epi16(-22295)), 6);  // 43241
  return _mm_sub_epi16(x, _mm_mullo_epi16(q, _mm_set1_epi16(97)));
}

// The lanes of N syllables (8 <= N <= 14) given as units: syllables 0-7, and syllables 8 .. N-1
// read as syllables N-8 .. N-1 and moved down, so that nothing past the units is read. Units
// may be any bytes: a digit is then below 5,228.
template <size_t N>
SyllableLanes lanes_of_units(const uint8_t* units) {
  const __m128i raw_lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units));
  const __m128i raw_hi = _mm_srli_si128(
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + 2 * N - 16)), 2 * (16 - N));
  const __m128i byte_mask = _mm_set1_epi16(0xFF);
  const __m128i nucleus_mask = _mm_set1_epi16(0x7F);
  SyllableLanes s;
  s.onset_lo = _mm_and_si128(raw_lo, byte_mask);
  s.onset_hi = _mm_and_si128(raw_hi, byte_mask);
  s.nucleus_lo = _mm_and_si128(_mm_srli_epi16(raw_lo, 8), nucleus_mask);
  s.nucleus_hi = _mm_and_si128(_mm_srli_epi16(raw_hi, 8), nucleus_mask);
  const __m128i twenty = _mm_set1_epi16(20);
  s.digit_lo = mod97(_mm_add_epi16(_mm_mullo_epi16(s.onset_lo, twenty), s.nucleus_lo));
  s.digit_hi = mod97(_mm_add_epi16(_mm_mullo_epi16(s.onset_hi, twenty), s.nucleus_hi));
  return s;
}

// For a digit d below 700, d / 35 is (d * 1873) >> 16.
constexpr bool divides_by_35(uint32_t multiplier) {
  for (uint32_t d = 0; d < kSyllableBase; ++d) {
    if ((d * multiplier) >> 16 != d / kNumOnsets) { return false; }
  }
  return true;
}
static_assert(divides_by_35(1873));

// The lanes of N syllables given as digits d (onset d mod 35, nucleus d / 35). The digits are
// read one at a time (the volatile reads keep the compiler from merging them): a writer has
// just stored them so, and a wide load of narrow stores still in flight waits until they have
// reached the cache.
// Digits stored well before (kSettled) are read eight at a time instead, as lanes_of_units
// reads units.
template <size_t N, bool kSettled = false>
SyllableLanes lanes_of_digits(const uint16_t* digits) {
  __m128i digits_lo;
  __m128i digits_hi;
  if constexpr (kSettled) {
    digits_lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(digits));
    digits_hi = _mm_srli_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(digits + N - 8)),
                               2 * (16 - N));
  } else {
    const volatile uint16_t* one_at_a_time = digits;
    const auto at = [&](size_t k) { return static_cast<int16_t>(k < N ? one_at_a_time[k] : 0); };
    digits_lo = _mm_setr_epi16(at(0), at(1), at(2), at(3), at(4), at(5), at(6), at(7));
    digits_hi = _mm_setr_epi16(at(8), at(9), at(10), at(11), at(12), at(13), at(14), at(15));
  }
  const __m128i multiplier = _mm_set1_epi16(1873);
  const __m128i num_onsets = _mm_set1_epi16(kNumOnsets);
  const __m128i twenty = _mm_set1_epi16(20);
  SyllableLanes s;
  s.nucleus_lo = _mm_mulhi_epu16(digits_lo, multiplier);
  s.nucleus_hi = _mm_mulhi_epu16(digits_hi, multiplier);
  s.onset_lo = _mm_sub_epi16(digits_lo, _mm_mullo_epi16(s.nucleus_lo, num_onsets));
  s.onset_hi = _mm_sub_epi16(digits_hi, _mm_mullo_epi16(s.nucleus_hi, num_onsets));
  s.digit_lo = _mm_add_epi16(_mm_mullo_epi16(s.onset_lo, twenty), s.nucleus_lo);
  s.digit_hi = _mm_add_epi16(_mm_mullo_epi16(s.onset_hi, twenty), s.nucleus_hi);
  return s;
}

// The builders' Balanced layout over N syllables (8 <= N <= 14) with the widths and scores of
// all positions in lanes, and each cut found without leaving them: the cuts follow one another,
// so their chain of steps is what the computation waits for. A position j has the key
// 64 * score + 63 - W[j] (W[j]: the letters before syllable j), so that the largest key has
// the best score and, among equal scores, the fewest letters before it: the earliest position.
// Positions after the last cut that lie outside the window, and those scoring 0, count with
// the key 63 - W[j], which no position scoring above 0 in the window reaches and which is
// largest at the next position: the fallback e + 1. The winning key gives the width of the
// cut, the start of the next. After a cut reaches n every later one falls beyond it, and only
// bits 1 .. N - 1 are kept: the rules of balanced_boundaries.
template <size_t N, size_t W>
void builders_balanced_masks(const SyllableLanes* lanes, uint32_t* masks) {
  static_assert(N >= 8 && N <= kMaxDataSyllables);
  constexpr uint32_t kGroups = kDefaultTargetGroups;
  // W words go through every step side by side: each word's cuts are one chain of dependent
  // steps, and the chains of several words fill the time one of them spends waiting.
#define TAVIK_EACH_WORD _Pragma("GCC unroll 4") for (size_t w = 0; w < W; ++w)

  // Widths (2 letters, one more for a cluster, one more for a vowel with an ending) and their
  // sums before each syllable, W[j] (strictly increasing, at most 56 + 2 * 2 in all lanes).
  const auto width_of = [](__m128i onset, __m128i nucleus) {
    const __m128i cluster = _mm_cmpgt_epi16(onset, _mm_set1_epi16(kNumSingleOnsets - 1));
    const __m128i ending = _mm_cmpgt_epi16(nucleus, _mm_set1_epi16(4));
    return _mm_sub_epi16(_mm_sub_epi16(_mm_set1_epi16(2), cluster), ending);
  };
  const auto inclusive_sums = [](__m128i x) {
    x = _mm_add_epi16(x, _mm_slli_si128(x, 2));
    x = _mm_add_epi16(x, _mm_slli_si128(x, 4));
    return _mm_add_epi16(x, _mm_slli_si128(x, 8));
  };
  const auto scale = [](size_t j) { return static_cast<int16_t>(j >= 1 && j < N ? 64 : 0); };
  const __m128i sixty_three = _mm_set1_epi16(63);
  __m128i before_lo[W], before_hi[W], total[W], keys_lo[W], keys_hi[W], fallback_lo[W],
      fallback_hi[W];
  TAVIK_EACH_WORD {
    const SyllableLanes& s = lanes[w];
    const __m128i width_lo = width_of(s.onset_lo, s.nucleus_lo);
    const __m128i width_hi = width_of(s.onset_hi, s.nucleus_hi);
    const __m128i sums_lo = inclusive_sums(width_lo);
    const __m128i sums_hi = inclusive_sums(width_hi);
    const __m128i carry = _mm_shufflehi_epi16(sums_lo, 0xFF);
    before_lo[w] = _mm_sub_epi16(sums_lo, width_lo);
    before_hi[w] =
        _mm_add_epi16(_mm_sub_epi16(sums_hi, width_hi), _mm_unpackhi_epi64(carry, carry));
    // W[N], the letters of the word, in every lane.
    constexpr int kTotalLane = N - 8;
    total[w] = _mm_shuffle_epi32(
        _mm_shufflelo_epi16(_mm_srli_si128(before_hi[w], 2 * kTotalLane), 0), 0);

    // Scores (31 * a + b) mod 97 of the cut before j, with a and b the digits (mod 97) of
    // syllables j - 1 and j, and the keys; positions 1 .. N - 1 only carry a score.
    const __m128i before_digit_lo = _mm_slli_si128(s.digit_lo, 2);
    const __m128i before_digit_hi =
        _mm_or_si128(_mm_slli_si128(s.digit_hi, 2), _mm_srli_si128(s.digit_lo, 14));
    const __m128i thirty_one = _mm_set1_epi16(31);
    const __m128i score_lo =
        mod97(_mm_add_epi16(_mm_mullo_epi16(before_digit_lo, thirty_one), s.digit_lo));
    const __m128i score_hi =
        mod97(_mm_add_epi16(_mm_mullo_epi16(before_digit_hi, thirty_one), s.digit_hi));
    fallback_lo[w] = _mm_sub_epi16(sixty_three, before_lo[w]);
    fallback_hi[w] = _mm_sub_epi16(sixty_three, before_hi[w]);
    keys_lo[w] = _mm_add_epi16(
        _mm_mullo_epi16(score_lo, _mm_setr_epi16(scale(0), scale(1), scale(2), scale(3), scale(4),
                                                 scale(5), scale(6), scale(7))),
        fallback_lo[w]);
    keys_hi[w] = _mm_add_epi16(
        _mm_mullo_epi16(score_hi, _mm_setr_epi16(scale(8), scale(9), scale(10), scale(11),
                                                 scale(12), scale(13), scale(14), scale(15))),
        fallback_hi[w]);
  }

  // Reciprocals for the ideal width (the rest over 5, 4, 3 and 2 groups) and its third, as
  // (x * m) >> 16, exact for the widths a word has.
  constexpr int16_t kOver[5] = {0, 13108, 16384, 21846, -32768};  // 65536 / k, rounded up
  const __m128i zero = _mm_setzero_si128();
  const __m128i one = _mm_set1_epi16(1);
  __m128i start[W];  // W[e] in every lane
  __m128i cuts_lo[W];
  __m128i cuts_hi[W];
  TAVIK_EACH_WORD {
    start[w] = zero;
    cuts_lo[w] = zero;
    cuts_hi[w] = zero;
  }
#pragma GCC unroll 4
  for (uint32_t i = 1; i < kGroups; ++i) {
    TAVIK_EACH_WORD {
      const __m128i ideal =
          _mm_mulhi_epu16(_mm_sub_epi16(total[w], start[w]), _mm_set1_epi16(kOver[i]));
      const __m128i slack = _mm_max_epi16(_mm_mulhi_epu16(ideal, _mm_set1_epi16(21846)), one);
      // A position after e lies at least one letter on: the window is lo .. hi letters on,
      // and W[j] lies in it when W[j] - (W[e] + lo), taken unsigned, is at most hi - lo.
      const __m128i lo = _mm_max_epi16(_mm_sub_epi16(ideal, slack), one);
      const __m128i hi = _mm_add_epi16(ideal, slack);
      const __m128i base = _mm_add_epi16(start[w], lo);
      const __m128i span = _mm_sub_epi16(hi, lo);
      const auto candidates = [&](__m128i before, __m128i keys, __m128i fallback) {
        const __m128i in_window = _mm_cmpeq_epi16(
            _mm_subs_epu16(_mm_sub_epi16(before, base), span), zero);
        const __m128i after = _mm_cmpgt_epi16(before, start[w]);
        return _mm_and_si128(_mm_max_epi16(_mm_and_si128(keys, in_window), fallback), after);
      };
      __m128i best = _mm_max_epi16(candidates(before_lo[w], keys_lo[w], fallback_lo[w]),
                                   candidates(before_hi[w], keys_hi[w], fallback_hi[w]));
      best = _mm_max_epi16(best, _mm_shuffle_epi32(best, 0x4E));
      best = _mm_max_epi16(best, _mm_shuffle_epi32(best, 0xB1));
      best = _mm_max_epi16(best, _mm_shufflehi_epi16(_mm_shufflelo_epi16(best, 0xB1), 0xB1));
      start[w] = _mm_sub_epi16(sixty_three, _mm_and_si128(best, sixty_three));
      cuts_lo[w] = _mm_or_si128(cuts_lo[w], _mm_cmpeq_epi16(before_lo[w], start[w]));
      cuts_hi[w] = _mm_or_si128(cuts_hi[w], _mm_cmpeq_epi16(before_hi[w], start[w]));
    }
  }
  TAVIK_EACH_WORD {
    const uint32_t cuts =
        static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(cuts_lo[w], cuts_hi[w])));
    masks[w] = cuts & ((uint32_t{1} << N) - 2);
  }
#undef TAVIK_EACH_WORD
}

template <size_t N>
uint32_t builders_balanced_mask(const SyllableLanes& s) {
  uint32_t mask = 0;
  builders_balanced_masks<N, 1>(&s, &mask);
  return mask;
}

// with_syllable_count calls mask.template operator()<N>() for n = N, 8 <= n <= 14.
template <typename Mask>
uint32_t with_syllable_count(size_t n, Mask mask) {
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

#endif

}  // namespace

void PatternSizes::add(uint64_t size) {
  if (sizes_.size() < kKeptAsGiven || (size != 0 && sum_ < kMaxDataSyllables)) {
    sizes_.push_back(size);
  }
  sum_ = add_saturated(sum_, size);
}

bool PatternSizes::complete() const {
  return sizes_.size() >= kKeptAsGiven && sum_ >= kMaxDataSyllables;
}

uint32_t cut_score(std::span<const uint8_t> data_units, size_t j) {
  if (j == 0 || j >= data_units.size() / 2) { return 0; }
  return score_at(data_units.data(), j);
}

Boundaries ChunkEngine::boundaries(std::span<const uint8_t> data_units,
                                   const ChunkLayout& layout) const {
  Boundaries out;
  const Syllables s(data_units);
  switch (layout.kind) {
    case ChunkKind::kUnchunked: break;
    case ChunkKind::kPattern: pattern_boundaries(s, layout.pattern, &out); break;
    case ChunkKind::kFixed:
      fixed_boundaries(s, layout.fixed_size.value_or(kDefaultFixedSize), &out);
      break;
    case ChunkKind::kBalanced: balanced_boundaries(s, layout, &out); break;
  }
  return out;
}

uint32_t ChunkEngine::separator_mask(std::span<const uint8_t> data_units,
                                     const ChunkLayout& layout) const {
  const size_t n = std::min(data_units.size() / 2, kMaxDataSyllables);
#if defined(__SSE2__)
  if (is_builders_balanced(layout) && n >= 8) {
    return with_syllable_count(n, [&]<size_t N>() {
      return builders_balanced_mask<N>(lanes_of_units<N>(data_units.data()));
    });
  }
#endif
  return boundaries(data_units, layout).separator_mask(n);
}

uint32_t ChunkEngine::digits_separator_mask(std::span<const uint16_t> digits,
                                            const ChunkLayout& layout) const {
  const size_t n = std::min(digits.size(), kMaxDataSyllables);
#if defined(__SSE2__)
  if (is_builders_balanced(layout) && n >= 8) {
    return with_syllable_count(n, [&]<size_t N>() {
      return builders_balanced_mask<N>(lanes_of_digits<N>(digits.data()));
    });
  }
#endif
  uint8_t units[kMaxDataUnits];
  for (size_t k = 0; k < n; ++k) {
    units[2 * k] = digit_onset(digits[k]);
    units[2 * k + 1] = digit_nucleus(digits[k]);
  }
  return boundaries({units, 2 * n}, layout).separator_mask(n);
}

void ChunkEngine::digits_separator_masks(
    std::span<const std::array<uint16_t, kMaxDataSyllables>> words, size_t n,
    const ChunkLayout& layout, uint32_t* masks) const {
  size_t i = 0;
#if defined(__SSE2__)
  if (is_builders_balanced(layout) && n >= 8) {
    constexpr size_t kWords = 4;
    with_syllable_count(n, [&]<size_t N>() {
      for (; i + kWords <= words.size(); i += kWords) {
        SyllableLanes lanes[kWords];
        for (size_t w = 0; w < kWords; ++w) {
          lanes[w] = lanes_of_digits<N, true>(words[i + w].data());
        }
        builders_balanced_masks<N, kWords>(lanes, masks + i);
      }
      return 0u;
    });
  }
#endif
  for (; i < words.size(); ++i) { masks[i] = digits_separator_mask({words[i].data(), n}, layout); }
}

}  // namespace tavik::core
