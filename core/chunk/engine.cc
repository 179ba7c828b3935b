#include "core/chunk/engine.h"

#include <algorithm>
#include <array>
#include <limits>
#include <utility>

#include "core/chunk/balanced_lanes.h"
#include "core/render.h"
#include "core/types.h"
#include "fpe/cpu.h"

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


// The SSE2 operations of the layout's lanes (see balanced_lanes.h): one word in a pair of
// 128-bit vectors.
struct Sse2 {
  using Vec = __m128i;
  static constexpr size_t kWords = 1;
  template <typename T>
  static Vec set1(T v) { return _mm_set1_epi16(static_cast<int16_t>(v)); }
  static Vec zero() { return _mm_setzero_si128(); }
  static Vec add(Vec a, Vec b) { return _mm_add_epi16(a, b); }
  static Vec sub(Vec a, Vec b) { return _mm_sub_epi16(a, b); }
  static Vec mullo(Vec a, Vec b) { return _mm_mullo_epi16(a, b); }
  static Vec mulhi(Vec a, Vec b) { return _mm_mulhi_epu16(a, b); }
  static Vec max(Vec a, Vec b) { return _mm_max_epi16(a, b); }
  static Vec bit_and(Vec a, Vec b) { return _mm_and_si128(a, b); }
  static Vec bit_or(Vec a, Vec b) { return _mm_or_si128(a, b); }
  static Vec cmpgt(Vec a, Vec b) { return _mm_cmpgt_epi16(a, b); }
  static Vec cmpeq(Vec a, Vec b) { return _mm_cmpeq_epi16(a, b); }
  static Vec subs(Vec a, Vec b) { return _mm_subs_epu16(a, b); }
  template <int k>
  static Vec shl_bytes(Vec a) { return _mm_slli_si128(a, k); }
  template <int k>
  static Vec shr_bytes(Vec a) { return _mm_srli_si128(a, k); }
  template <int k>
  static Vec shr16(Vec a) { return _mm_srli_epi16(a, k); }
  template <int imm>
  static Vec shuffle32(Vec a) { return _mm_shuffle_epi32(a, imm); }
  template <int imm>
  static Vec shufflelo(Vec a) { return _mm_shufflelo_epi16(a, imm); }
  template <int imm>
  static Vec shufflehi(Vec a) { return _mm_shufflehi_epi16(a, imm); }
  static Vec unpackhi64(Vec a, Vec b) { return _mm_unpackhi_epi64(a, b); }
  static Vec packs(Vec a, Vec b) { return _mm_packs_epi16(a, b); }
  static uint32_t movemask(Vec a) { return static_cast<uint32_t>(_mm_movemask_epi8(a)); }
  static Vec setr8(int16_t a, int16_t b, int16_t c, int16_t d, int16_t e, int16_t f, int16_t g,
                   int16_t h) {
    return _mm_setr_epi16(a, b, c, d, e, f, g, h);
  }
  static Vec load_words(const uint16_t* const* words) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(words[0]));
  }
};
using SyllableLanes = balanced::SyllableLanes<Sse2>;

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
  s.digit_lo =
      balanced::mod97<Sse2>(_mm_add_epi16(_mm_mullo_epi16(s.onset_lo, twenty), s.nucleus_lo));
  s.digit_hi =
      balanced::mod97<Sse2>(_mm_add_epi16(_mm_mullo_epi16(s.onset_hi, twenty), s.nucleus_hi));
  return s;
}

// The lanes of N syllables given as digits that a writer has just stored, one at a time: the
// volatile reads keep the compiler from merging them, since a wide load of narrow stores still
// in flight waits until they have reached the cache.
template <size_t N>
SyllableLanes lanes_of_digits(const uint16_t* digits) {
  const volatile uint16_t* one_at_a_time = digits;
  const auto at = [&](size_t k) { return static_cast<int16_t>(k < N ? one_at_a_time[k] : 0); };
  return balanced::lanes_of_digit_vectors<Sse2>(
      _mm_setr_epi16(at(0), at(1), at(2), at(3), at(4), at(5), at(6), at(7)),
      _mm_setr_epi16(at(8), at(9), at(10), at(11), at(12), at(13), at(14), at(15)));
}

template <size_t N>
uint32_t builders_balanced_mask(const SyllableLanes& s) {
  uint32_t mask = 0;
  balanced::builders_balanced_masks<Sse2, N, 1>(&s, &mask);
  return mask;
}

using balanced::with_syllable_count;

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
#if defined(__SSE2__)
  if (is_builders_balanced(layout) && n >= 8) {
#if defined(__x86_64__)
    static const bool avx512bw = fpe::cpu_features().avx512bw;
    if (avx512bw) {
      balanced::masks_avx512(words, n, masks);
      return;
    }
    static const bool avx2 = fpe::cpu_features().avx2;
    if (avx2) {
      balanced::masks_avx2(words, n, masks);
      return;
    }
#endif
    balanced::masks_sse2(words, n, masks);
    return;
  }
#endif
  for (size_t i = 0; i < words.size(); ++i) {
    masks[i] = digits_separator_mask({words[i].data(), n}, layout);
  }
}

#if defined(__SSE2__)
namespace balanced {

void masks_sse2(std::span<const std::array<uint16_t, kMaxDataSyllables>> words, size_t n,
                uint32_t* masks) {
  masks_of_words<Sse2, 4>(words, n, masks);
}

}  // namespace balanced
#endif

}  // namespace tavik::core
