#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "core/chunk/balanced_lanes.h"
#include "core/chunk/engine.h"
#include "core/render.h"
#include "fpe/cpu.h"

namespace tavik::core {
namespace {

constexpr uint64_t kMaxSize = std::numeric_limits<uint64_t>::max();

// pron brol srir spor pel dul plin spel fru mo trar dan wo ma
const std::vector<uint8_t> kExample = {0x19, 0x8E, 0x10, 0x8F, 0x1B, 0x8D, 0x1E, 0x90, 0x03, 0x89,
                                       0x0A, 0x92, 0x18, 0x8B, 0x1E, 0x89, 0x13, 0x84, 0x00, 0x83,
                                       0x1C, 0x87, 0x0A, 0x85, 0x04, 0x83, 0x00, 0x80};
// ma ma ha ma blan blan
const std::vector<uint8_t> kSix = {0x00, 0x80, 0x00, 0x80, 0x08, 0x80,
                                   0x00, 0x80, 0x0F, 0x85, 0x0F, 0x85};

std::vector<uint64_t> cuts(std::span<const uint8_t> units, const ChunkLayout& layout) {
  const Boundaries b = ChunkEngine().boundaries(units, layout);
  return {b.items().begin(), b.items().end()};
}

std::vector<uint8_t> all_ma(size_t n) {
  std::vector<uint8_t> units;
  for (size_t k = 0; k < n; ++k) {
    units.push_back(0x00);
    units.push_back(kNucleusFlag);
  }
  return units;
}

std::vector<uint8_t> random_units(std::mt19937_64& rng, size_t n) {
  std::vector<uint8_t> units;
  for (size_t k = 0; k < n; ++k) {
    units.push_back(static_cast<uint8_t>(rng() % kNumOnsets));
    units.push_back(static_cast<uint8_t>(kNucleusFlag | (rng() % kNumNuclei)));
  }
  return units;
}

TEST(ChunkEngine, WorkedExample) {
  const std::vector<uint64_t> widths = {0, 4, 8, 12, 16, 19, 22, 26, 30, 33, 35, 39, 42, 44, 46};
  uint64_t w = 0;
  for (size_t k = 0; k < 14; ++k) {
    w += syllable_width(kExample[2 * k], kExample[2 * k + 1]);
    EXPECT_EQ(w, widths[k + 1]) << "syllable " << k;
  }
  const std::vector<uint32_t> scores = {70, 74, 8, 56, 29, 71, 19, 57, 73, 78, 31, 36, 51};
  for (size_t j = 1; j < 14; ++j) { EXPECT_EQ(cut_score(kExample, j), scores[j - 1]) << j; }
  EXPECT_EQ(cut_score(kExample, 0), 0u);
  EXPECT_EQ(cut_score(kExample, 14), 0u);

  EXPECT_EQ(cuts(kExample, ChunkLayout{}), (std::vector<uint64_t>{2, 4, 7, 10}));
  EXPECT_EQ(cuts(kExample, ChunkLayout::fixed(4)),
            (std::vector<uint64_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
  EXPECT_EQ(cuts(kExample, ChunkLayout::fixed(8)), (std::vector<uint64_t>{2, 4, 6, 8, 11}));
  EXPECT_EQ(cuts(kExample, ChunkLayout::fixed(100)), (std::vector<uint64_t>{14}));
  EXPECT_EQ(cuts(kExample, ChunkLayout::with_pattern({3, 4, 3})),
            (std::vector<uint64_t>{3, 7, 10}));
  EXPECT_TRUE(cuts(kExample, ChunkLayout::unchunked()).empty());

  const Boundaries b = ChunkEngine().boundaries(kExample, ChunkLayout{});
  EXPECT_EQ(b.separator_mask(14), (1u << 2) | (1u << 4) | (1u << 7) | (1u << 10));
}

TEST(ChunkEngine, BalancedFallsBackToNextSyllable) {
  EXPECT_EQ(cuts(all_ma(14), ChunkLayout{}), (std::vector<uint64_t>{1, 2, 3, 4}));

  const std::vector<uint32_t> scores = {0, 63, 13, 14, 60};
  for (size_t j = 1; j < 6; ++j) { EXPECT_EQ(cut_score(kSix, j), scores[j - 1]) << j; }
  // The last cut falls on n and places nothing: four groups.
  EXPECT_EQ(cuts(kSix, ChunkLayout{}), (std::vector<uint64_t>{2, 4, 5, 6}));
  EXPECT_EQ(ChunkEngine().boundaries(kSix, ChunkLayout{}).separator_mask(6),
            (1u << 2) | (1u << 4) | (1u << 5));
}

TEST(ChunkEngine, BalancedAlwaysMakesFiveGroupsFromSevenSyllables) {
  std::mt19937_64 rng(7);
  for (size_t n = 7; n <= 14; ++n) {
    for (int round = 0; round < 2000; ++round) {
      const std::vector<uint8_t> units = round == 0 ? all_ma(n) : random_units(rng, n);
      const std::vector<uint64_t> c = cuts(units, ChunkLayout{});
      ASSERT_EQ(c.size(), 4u) << "n " << n;
      uint64_t previous = 0;
      for (uint64_t j : c) {
        ASSERT_GT(j, previous) << "n " << n;
        previous = j;
      }
      ASSERT_LT(previous, n);
    }
  }
  for (size_t n = 0; n <= 5; ++n) {
    EXPECT_TRUE(cuts(random_units(rng, n), ChunkLayout{}).empty()) << "n " << n;
  }
}

TEST(ChunkEngine, FixedSmallSizesSplitEverySyllable) {
  for (uint64_t size : {0u, 1u, 2u, 3u}) {
    const Boundaries b = ChunkEngine().boundaries(kExample, ChunkLayout::fixed(size));
    EXPECT_EQ(b.separator_mask(14), 0x3FFEu) << "size " << size;
  }
  ChunkLayout absent = ChunkLayout::fixed(0);
  absent.fixed_size.reset();
  EXPECT_EQ(cuts(kExample, absent), cuts(kExample, ChunkLayout::fixed(5)));
}

TEST(ChunkEngine, PatternSumsOutsideTheWordPlaceNothing) {
  EXPECT_EQ(cuts(kExample, ChunkLayout::with_pattern({0, 2, 2, 0})),
            (std::vector<uint64_t>{0, 2, 4, 4}));
  EXPECT_EQ(ChunkEngine()
                .boundaries(kExample, ChunkLayout::with_pattern({0, 2, 2, 0}))
                .separator_mask(14),
            (1u << 2) | (1u << 4));
  EXPECT_TRUE(cuts(kExample, ChunkLayout::with_pattern({})).empty());
  EXPECT_EQ(cuts(kExample, ChunkLayout::with_pattern({10, 4, 1, 1})), (std::vector<uint64_t>{10}));

  // A long list keeps its distinct entries within the fixed storage.
  std::vector<uint64_t> many(1000, 0);
  many.insert(many.end(), {1, 0, 0, 1, 5});
  many.insert(many.end(), 500, 1);
  const Boundaries b = ChunkEngine().boundaries(kExample, ChunkLayout::with_pattern(many));
  EXPECT_LE(b.size(), Boundaries::kCapacity);
  EXPECT_EQ(b.separator_mask(14), (1u << 1) | (1u << 2) | (1u << 7) | 0x3F00u);
}

TEST(ChunkEngine, HugeSizesSaturateInsteadOfWrapping) {
  // Wrapping 2^64 - 1 plus a sum would land below n and place a separator.
  EXPECT_EQ(cuts(kExample, ChunkLayout::fixed(kMaxSize)), (std::vector<uint64_t>{14}));
  EXPECT_EQ(cuts(kExample, ChunkLayout::fixed(kMaxSize - 40)), (std::vector<uint64_t>{14}));
  EXPECT_EQ(cuts(kExample, ChunkLayout::with_pattern({3, kMaxSize, 4})),
            (std::vector<uint64_t>{3}));
  EXPECT_EQ(cuts(kExample, ChunkLayout::with_pattern({kMaxSize, 2, kMaxSize})),
            (std::vector<uint64_t>{}));
}

TEST(ChunkEngine, OddAndShortUnitCountsStayInBounds) {
  const std::vector<ChunkLayout> layouts = {
      ChunkLayout{}, ChunkLayout::fixed(1), ChunkLayout::fixed(5), ChunkLayout::unchunked(),
      ChunkLayout::with_pattern({1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1})};
  for (size_t len = 0; len <= kExample.size(); ++len) {
    const std::span<const uint8_t> units(kExample.data(), len);
    const uint64_t n = len / 2;  // a trailing lone unit is not a syllable
    for (const ChunkLayout& layout : layouts) {
      for (uint64_t j : cuts(units, layout)) { EXPECT_LE(j, n) << "len " << len; }
    }
    EXPECT_EQ(cuts(units, ChunkLayout::fixed(1)).size(), n + 1) << "len " << len;
  }
  // Syllables past the fourteenth are not read.
  const std::vector<uint8_t> long_units = all_ma(20);
  EXPECT_EQ(cuts(long_units, ChunkLayout::fixed(kMaxSize)), (std::vector<uint64_t>{14}));
}

TEST(ChunkEngine, HostileBalancedLayoutsStayInBounds) {
  std::vector<ChunkLayout> layouts;
  for (uint64_t groups : {0ull, 1ull, 2ull, 3ull, 6ull, 13ull, 14ull, 1000ull, ~0ull}) {
    for (uint64_t min_width : {0ull, 1ull, 3ull, 100ull, ~0ull}) {
      for (uint64_t max_width : {0ull, 1ull, 5ull, ~0ull}) {
        for (int bonus : {0, 1, 100, 255}) {
          ChunkLayout layout;
          layout.target_groups = groups;
          layout.min_width = min_width;
          layout.max_width = max_width;
          layout.bonus = static_cast<uint8_t>(bonus);
          layouts.push_back(layout);
        }
      }
    }
  }
  std::mt19937_64 rng(11);
  for (size_t n = 0; n <= 14; ++n) {
    const std::vector<uint8_t> samples[] = {all_ma(n), random_units(rng, n), random_units(rng, n)};
    for (const std::vector<uint8_t>& units : samples) {
      for (const ChunkLayout& layout : layouts) {
        uint64_t previous = 0;
        for (uint64_t j : cuts(units, layout)) {
          ASSERT_GT(j, previous);
          ASSERT_LE(j, n);
          previous = j;
        }
      }
    }
  }
  // No position fits the window: every cut is the fallback e + 1.
  ChunkLayout narrow;
  narrow.target_groups = 13;
  narrow.min_width = 100;
  EXPECT_EQ(cuts(all_ma(14), narrow),
            (std::vector<uint64_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
  // An open window lets the first cut take the only scoring pair, before the last syllable;
  // the fallback then reaches n and cutting stops there.
  std::vector<uint8_t> units = all_ma(14);
  units[26] = 1;  // ka
  ChunkLayout wide;
  wide.target_groups = 4;
  wide.min_width = 1;
  wide.max_width = kMaxSize;
  EXPECT_EQ(cuts(units, wide), (std::vector<uint64_t>{13, 14}));
  // A bonus lifts the ideal position above a zero score.
  ChunkLayout bonus;
  bonus.bonus = 1;
  EXPECT_EQ(cuts(all_ma(14), bonus), (std::vector<uint64_t>{2, 5, 8, 11}));
}

// separator_mask takes its own path for the builders' Balanced layout; it must place exactly
// the separators of the boundary list, for valid syllables, for words whose every syllable is
// as short or as long as can be (scores of 0, widest ranges), and for any bytes at all.
TEST(ChunkEngine, SeparatorMaskAgreesWithBoundaries) {
  const ChunkEngine engine;
  std::mt19937_64 rng(13);
  const auto expect_same = [&](const std::vector<uint8_t>& units, const ChunkLayout& layout) {
    const size_t n = std::min<size_t>(units.size() / 2, kMaxDataSyllables);
    ASSERT_EQ(engine.separator_mask(units, layout),
              engine.boundaries(units, layout).separator_mask(n))
        << "units " << ::testing::PrintToString(units);
  };
  std::vector<ChunkLayout> layouts = {ChunkLayout{}, ChunkLayout::balanced(' '),
                                      ChunkLayout::fixed(5), ChunkLayout::unchunked(),
                                      ChunkLayout::with_pattern({3, 4, 3})};
  ChunkLayout four_groups;
  four_groups.target_groups = 4;
  ChunkLayout bounded;
  bounded.max_width = 9;
  layouts.push_back(four_groups);
  layouts.push_back(bounded);
  for (size_t n = 0; n <= 16; ++n) {
    std::vector<uint8_t> widest;
    for (size_t k = 0; k < n; ++k) {
      widest.push_back(static_cast<uint8_t>(kNumOnsets - 1 - k % 3));
      widest.push_back(static_cast<uint8_t>(kNucleusFlag | (kNumNuclei - 1 - k % 2)));
    }
    for (const ChunkLayout& layout : layouts) {
      expect_same(all_ma(n), layout);
      expect_same(widest, layout);
    }
    for (int round = 0; round < 3000; ++round) {
      std::vector<uint8_t> units = random_units(rng, n);
      if (round % 3 == 1) {
        for (uint8_t& u : units) { u = static_cast<uint8_t>(rng()); }
      }
      if (round % 5 == 2) { units.push_back(static_cast<uint8_t>(rng())); }  // a lone unit
      expect_same(units, layouts[static_cast<size_t>(round) % layouts.size()]);
      expect_same(units, ChunkLayout{});
    }
  }
}

// digits_separator_mask reads the syllables as digits (onset d mod 35, nucleus d / 35); it must
// agree with the units of the same syllables for every count, the extreme digits included.
TEST(ChunkEngine, DigitsSeparatorMaskAgreesWithUnits) {
  const ChunkEngine engine;
  std::mt19937_64 rng(17);
  ChunkLayout bounded;
  bounded.max_width = 9;
  const ChunkLayout layouts[] = {ChunkLayout{}, ChunkLayout::fixed(5), bounded};
  for (size_t n = 0; n <= kMaxDataSyllables; ++n) {
    for (uint32_t round = 0; round < 3000; ++round) {
      std::vector<uint16_t> digits(n);
      for (uint16_t& d : digits) {
        d = static_cast<uint16_t>(round < 3 ? (round == 0 ? 0 : kSyllableBase - round)
                                            : rng() % kSyllableBase);
      }
      std::vector<uint8_t> units(2 * n);
      digits_to_units(digits, units.data());
      const ChunkLayout& layout = layouts[round % 3];
      ASSERT_EQ(engine.digits_separator_mask(digits, layout), engine.separator_mask(units, layout))
          << "digits " << ::testing::PrintToString(digits);
    }
  }
}

// The masks of many words agree with each word's own, by every instruction set the processor
// has, for every count and for batches that leave a short last group.
TEST(ChunkEngine, SeparatorMasksOfManyWordsAgreeWithEachWord) {
  const ChunkEngine engine;
  std::mt19937_64 rng(29);
  ChunkLayout bounded;
  bounded.max_width = 9;
  const ChunkLayout layouts[] = {ChunkLayout{}, ChunkLayout::fixed(5), bounded};
  using Word = std::array<uint16_t, kMaxDataSyllables>;
  std::vector<Word> words(203);
  for (size_t i = 0; i < words.size(); ++i) {
    for (uint16_t& d : words[i]) {
      d = static_cast<uint16_t>(i < 2 ? (i == 0 ? 0 : kSyllableBase - 1) : rng() % kSyllableBase);
    }
  }
  std::vector<uint32_t> masks(words.size());
  [[maybe_unused]] const auto expect_each = [&](size_t n, const ChunkLayout& layout,
                                                const char* path) {
    for (size_t i = 0; i < words.size(); ++i) {
      ASSERT_EQ(masks[i], engine.digits_separator_mask({words[i].data(), n}, layout))
          << path << ", n " << n << ", word " << i;
    }
  };
  for (size_t n = 0; n <= kMaxDataSyllables; ++n) {
    for (const ChunkLayout& layout : layouts) {
      for (size_t count : {words.size(), size_t{1}, size_t{7}}) {
        std::fill(masks.begin(), masks.end(), 0u);
        engine.digits_separator_masks({words.data(), count}, n, layout, masks.data());
        for (size_t i = 0; i < count; ++i) {
          ASSERT_EQ(masks[i], engine.digits_separator_mask({words[i].data(), n}, layout))
              << "n " << n << ", word " << i << " of " << count;
        }
      }
    }
#if defined(__SSE2__)
    if (n >= 8) {
      balanced::masks_sse2(words, n, masks.data());
      expect_each(n, ChunkLayout{}, "SSE2");
#if defined(__x86_64__)
      if (fpe::cpu_features().avx2) {
        balanced::masks_avx2(words, n, masks.data());
        expect_each(n, ChunkLayout{}, "AVX2");
      }
#endif
    }
#endif
  }
}

}  // namespace
}  // namespace tavik::core
