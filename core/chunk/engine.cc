#include "core/chunk/engine.h"

#include <algorithm>
#include <array>
#include <limits>
#include <utility>

#include "core/render.h"
#include "core/types.h"

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

}  // namespace tavik::core
