#ifndef TAVIK_CORE_CHUNK_ENGINE_H_
#define TAVIK_CORE_CHUNK_ENGINE_H_

// The chunk engine decides after which data syllables a separator goes. Decoding never needs
// it: normalization drops every non-letter.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "core/types.h"

namespace tavik::core {

enum class ChunkKind : uint8_t { kBalanced = 0, kFixed = 1, kUnchunked = 2, kPattern = 3 };

// The groups of the Balanced layout that the builders make, and the characters per group of a
// Fixed layout without a size.
inline constexpr uint64_t kDefaultTargetGroups = 5;
inline constexpr uint64_t kDefaultFixedSize = 5;

// ChunkLayout is the grouping rule and the separator code point (0 = no separator). The
// builders replace it whole.
struct ChunkLayout {
  ChunkKind kind = ChunkKind::kBalanced;
  std::optional<uint64_t> fixed_size;  // characters per group for kFixed; 5 when absent
  std::vector<uint64_t> pattern;       // syllables per group for kPattern
  uint64_t target_groups = kDefaultTargetGroups;  // groups for kBalanced
  uint64_t min_width = 0;              // 0: derived by the engine
  uint64_t max_width = 0;              // 0: derived by the engine
  uint32_t separator = '-';
  uint8_t bonus = 0;

  static ChunkLayout balanced(uint32_t separator);
  static ChunkLayout unchunked();
  static ChunkLayout fixed(uint64_t char_size);
  static ChunkLayout with_pattern(std::vector<uint64_t> sizes);
  bool operator==(const ChunkLayout&) const = default;
};

// PatternSizes gathers the sizes of a Pattern layout one at a time and keeps a list that
// places the same separators as the whole pattern in a code word of any length. The first
// kKeptAsGiven sizes are kept as given (a description of the layout shows them); after them a
// size is kept only while it can still place a separator: when it is not 0 and the running sum
// is below kMaxDataSyllables. So the list stays short however long the pattern is. complete()
// tells that no later size can be kept.
class PatternSizes {
 public:
  static constexpr size_t kKeptAsGiven = 32;
  void add(uint64_t size);
  bool complete() const;
  std::vector<uint64_t> take() { return std::move(sizes_); }

 private:
  std::vector<uint64_t> sizes_;
  uint64_t sum_ = 0;  // saturating
};

// Boundaries is a short list of syllable indices j: a separator goes between data syllable
// j - 1 and j. Entries equal to 0, at or beyond n, or repeated place nothing. The list is kept
// whole up to kFullEntries entries; after that an entry equal to the last one is not stored
// again (it would place nothing), which bounds the list for any layout since the entries of
// a long list (a Pattern) never decrease.
class Boundaries {
 public:
  static constexpr size_t kFullEntries = 64;
  static constexpr size_t kCapacity = 96;
  void push(uint64_t j) {
    if (size_ >= kFullEntries && items_[size_ - 1] == j) { return; }
    if (size_ < kCapacity) { items_[size_++] = j; }
  }
  std::span<const uint64_t> items() const { return {items_, size_}; }
  size_t size() const { return size_; }
  // separator_mask tells where separators go: bit j is set for every boundary j in 1..n-1
  // (n = num_syllables; boundaries from 32 up are left out).
  uint32_t separator_mask(size_t num_syllables) const;

 private:
  // Only the first size_ entries are ever read, so the rest is left uninitialised.
  uint64_t items_[kCapacity];
  size_t size_ = 0;
};

// cut_score is the Balanced layout's score for a cut before syllable j: with a and b equal to
// 20 * onset + nucleus of the syllables before and after the cut, (31 * a + b) mod 97. It
// returns 0 when j is not an inner position (1 <= j < n) of the units.
uint32_t cut_score(std::span<const uint8_t> data_units, size_t j);

// ChunkEngine is stateless; one instance is shared by every configuration.
class ChunkEngine {
 public:
  // boundaries returns the boundary list of the data units (2n units, n <= 14) for a
  // layout. It refuses nothing and never reads outside the units or its width table: a
  // trailing lone unit and syllables past the fourteenth are not read, sums of Fixed and
  // Pattern sizes saturate at 2^64 - 1, and a Balanced layout that no builder makes stops
  // cutting once a cut reaches n. It does not allocate.
  Boundaries boundaries(std::span<const uint8_t> data_units, const ChunkLayout& layout) const;

  // separator_mask is boundaries(data_units, layout).separator_mask(n) for the n whole
  // syllables of the units (at most 14): bit j is set where a separator goes before syllable
  // j. The Balanced layout that the builders make takes a path that scores every position at
  // once, with the same result.
  uint32_t separator_mask(std::span<const uint8_t> data_units, const ChunkLayout& layout) const;

  // digits_separator_mask is separator_mask for the syllables of base-700 digits (each below
  // 700; syllable d has onset d mod 35 and nucleus d / 35), for a writer that has the digits
  // at hand rather than the units.
  uint32_t digits_separator_mask(std::span<const uint16_t> digits,
                                 const ChunkLayout& layout) const;

  // digits_separator_masks is digits_separator_mask for many words of n digits each (n at
  // most kMaxDataSyllables): masks[i] for the digits words[i][0, n). The Balanced layout that
  // the builders make takes several words at a time.
  void digits_separator_masks(std::span<const std::array<uint16_t, kMaxDataSyllables>> words,
                              size_t n, const ChunkLayout& layout, uint32_t* masks) const;
};

}  // namespace tavik::core

#endif  // TAVIK_CORE_CHUNK_ENGINE_H_
