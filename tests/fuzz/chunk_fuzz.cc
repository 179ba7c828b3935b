// Fuzz target: the chunk engine on any layout (every kind, every field, sizes up to 2^64 - 1,
// layouts no builder makes) and any unit sequence (odd lengths, more than 14 syllables, unit
// values out of range). The units sit in a buffer of exactly their size, so AddressSanitizer
// sees any read past them.
//
// Properties: the list fits its capacity; separator_mask places the separators of the list;
// Pattern places separators exactly at the running sums below n, and the short list
// PatternSizes keeps places the same ones as the whole pattern for every n; Fixed and Balanced
// cuts ascend and stay within n; Unchunked places none.

#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "core/chunk/engine.h"
#include "core/types.h"
#include "tests/fuzz/fuzz_config.h"

namespace tavik::fuzz {
namespace {

using core::Boundaries;
using core::ChunkKind;
using core::ChunkLayout;

uint64_t consume_size(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0: return 0;
    case 1: return in.ConsumeIntegralInRange<uint64_t>(1, 16);
    case 2:
      return std::numeric_limits<uint64_t>::max() - in.ConsumeIntegralInRange<uint64_t>(0, 16);
    default: return in.ConsumeIntegral<uint64_t>();
  }
}

ChunkLayout consume_layout(FuzzedDataProvider& in) {
  ChunkLayout layout;
  layout.kind = static_cast<ChunkKind>(in.ConsumeIntegralInRange(0, 3));
  if (in.ConsumeBool()) { layout.fixed_size = consume_size(in); }
  layout.pattern.resize(in.ConsumeIntegralInRange<size_t>(0, 120));
  for (uint64_t& size : layout.pattern) { size = consume_size(in); }
  layout.target_groups = in.ConsumeBool() ? in.ConsumeIntegralInRange<uint64_t>(0, 16)
                                          : in.ConsumeIntegral<uint64_t>();
  layout.min_width = in.ConsumeBool() ? 0 : consume_size(in);
  layout.max_width = in.ConsumeBool() ? 0 : consume_size(in);
  layout.bonus = in.ConsumeIntegral<uint8_t>();
  layout.separator = in.ConsumeIntegral<uint32_t>();
  return layout;
}

uint32_t pattern_mask(const std::vector<uint64_t>& pattern, size_t n) {
  uint64_t sum = 0;
  uint32_t mask = 0;
  for (uint64_t size : pattern) {
    sum = sum > std::numeric_limits<uint64_t>::max() - size ? std::numeric_limits<uint64_t>::max()
                                                            : sum + size;
    if (sum >= 1 && sum < n) { mask |= uint32_t{1} << sum; }
  }
  return mask;
}

void require_ascending_within(const Boundaries& b, size_t n) {
  uint64_t previous = 0;
  for (size_t k = 0; k < b.size(); ++k) {
    const uint64_t j = b.items()[k];
    TAVIK_REQUIRE(j <= n && (k == 0 || j > previous));
    previous = j;
  }
}

}  // namespace
}  // namespace tavik::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tavik::fuzz;
  namespace core = tavik::core;
  FuzzedDataProvider in(data, size);
  const ChunkLayout layout = consume_layout(in);
  const size_t probe = in.ConsumeIntegral<size_t>();
  const std::vector<uint8_t> rest = in.ConsumeRemainingBytes<uint8_t>();
  // An allocation of exactly the units' size (none for an empty sequence).
  std::unique_ptr<uint8_t[]> owned(rest.empty() ? nullptr : new uint8_t[rest.size()]);
  if (!rest.empty()) { std::memcpy(owned.get(), rest.data(), rest.size()); }
  const std::span<const uint8_t> units(owned.get(), rest.size());

  const core::ChunkEngine engine;
  const core::Boundaries b = engine.boundaries(units, layout);
  const size_t n = std::min(units.size() / 2, core::kMaxDataSyllables);
  TAVIK_REQUIRE(b.size() <= core::Boundaries::kCapacity);
  TAVIK_REQUIRE((b.separator_mask(n) & ~((uint32_t{1} << n) - 2)) == 0 || n == 0);
  TAVIK_REQUIRE(engine.separator_mask(units, layout) == b.separator_mask(n));
  TAVIK_REQUIRE(core::cut_score(units, probe) < 97);

  switch (layout.kind) {
    case ChunkKind::kUnchunked: TAVIK_REQUIRE(b.size() == 0); break;
    case ChunkKind::kFixed: require_ascending_within(b, n); break;
    case ChunkKind::kBalanced:
      require_ascending_within(b, n);
      TAVIK_REQUIRE(b.size() < std::max<uint64_t>(layout.target_groups, 1));
      break;
    case ChunkKind::kPattern: {
      TAVIK_REQUIRE(b.separator_mask(n) == pattern_mask(layout.pattern, n));
      core::PatternSizes kept;
      for (uint64_t size_item : layout.pattern) { kept.add(size_item); }
      const ChunkLayout short_layout = ChunkLayout::with_pattern(kept.take());
      TAVIK_REQUIRE(short_layout.pattern.size() <=
                    core::PatternSizes::kKeptAsGiven + core::kMaxDataSyllables);
      for (size_t m = 0; m <= n; ++m) {
        const std::span<const uint8_t> head = units.first(2 * m);
        TAVIK_REQUIRE(engine.boundaries(head, short_layout).separator_mask(m) ==
                      engine.boundaries(head, layout).separator_mask(m));
      }
      break;
    }
  }
  return 0;
}
