#include "core/recover.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "core/builders.h"
#include "core/check.h"
#include "core/encode.h"
#include "core/normalize.h"
#include "core/render.h"

namespace tavik::core {
namespace {

const std::vector<uint8_t> kKey = {'r', 'e', 'c', 'o', 'v', 'e', 'r'};

CodecConfig make(uint32_t bit_width = 128, std::string_view mode = "sealed") {
  return construct_config(kKey, "universal", mode, bit_width).value();
}

std::string spell(std::span<const uint8_t> units) {
  std::string out;
  for (uint8_t unit : units) { append_cased(out, render_unit(unit, 0), LetterCase::kLower); }
  return out;
}

std::vector<uint8_t> check_units_of(const CodecConfig& config, std::span<const uint8_t> data) {
  std::vector<uint8_t> check(kMaxCheckUnits);
  check.resize(compute_check_units(config.mode, config.check_key.get(), data,
                                   config.check_syllables, check.data()));
  return check;
}

// A code word as data and check units, written back as text.
struct Word {
  std::vector<uint8_t> data;
  std::vector<uint8_t> check;
  std::string text() const { return spell(data) + spell(check); }
};

Word encoded_word(const CodecConfig& config, std::span<const uint8_t> bytes) {
  const Result<EncodedText> text = encode(config, bytes);
  EXPECT_TRUE(text.ok());
  NormalizedInput units;
  EXPECT_TRUE(normalize(0, text.value().view(), 2 * data_syllable_count(config),
                        2 * config.check_syllables, &units));
  return {{units.data().begin(), units.data().end()}, {units.check().begin(), units.check().end()}};
}

std::vector<uint8_t> random_bytes(std::mt19937_64& rng) {
  std::vector<uint8_t> out(16);
  for (uint8_t& b : out) { b = static_cast<uint8_t>(rng()); }
  return out;
}

std::string error_of(const Result<Bytes16>& r) { return std::string(r.ok() ? "(ok)" : r.error().message); }

// Every single substitution along the graph that passes the check and stays in the domain.
size_t count_candidates(const CodecConfig& config, const Word& word) {
  const ConfusionGraph& graph = ConfusionGraph::instance();
  // Held as strings: GCC 12 at -O3 reports a false overread in the ordering of byte vectors.
  std::set<std::string> found;
  for (size_t p = 0; p < word.data.size(); ++p) {
    for (uint8_t x : graph.neighbours(word.data[p])) {
      std::vector<uint8_t> data = word.data;
      data[p] = x;
      if (verify_check(config.mode, config.check_key.get(), data, word.check) &&
          units_in_domain(config, data)) {
        found.emplace(data.begin(), data.end());
      }
    }
  }
  for (size_t p = 0; p < word.check.size(); ++p) {
    for (uint8_t x : graph.neighbours(word.check[p])) {
      std::vector<uint8_t> check = word.check;
      check[p] = x;
      if (verify_check(config.mode, config.check_key.get(), word.data, check) &&
          units_in_domain(config, word.data)) {
        found.emplace(word.data.begin(), word.data.end());
      }
    }
  }
  return found.size();
}

TEST(ConfusionGraph, EdgesInTheOrderAdded) {
  const ConfusionGraph& graph = ConfusionGraph::instance();
  const auto neighbours = [&](uint8_t unit) {
    const std::span<const uint8_t> n = graph.neighbours(unit);
    return std::vector<uint8_t>(n.begin(), n.end());
  };
  const std::vector<std::pair<uint8_t, uint8_t>> onset_edges = {
      {4, 5},   {0, 6},   {1, 7},   {9, 10},  {2, 3},  {15, 16},
      {18, 19}, {20, 21}, {22, 23}, {24, 25}, {26, 27}};
  std::set<uint8_t> joined;
  for (const auto& [a, b] : onset_edges) {
    EXPECT_EQ(neighbours(a), std::vector<uint8_t>{b}) << int{a};
    EXPECT_EQ(neighbours(b), std::vector<uint8_t>{a}) << int{b};
    joined.insert(a);
    joined.insert(b);
  }
  for (uint8_t onset = 0; onset < kNumOnsets; ++onset) {
    if (!joined.contains(onset)) { EXPECT_TRUE(neighbours(onset).empty()) << int{onset}; }
  }
  for (uint8_t vowel = 0; vowel < 5; ++vowel) {
    EXPECT_TRUE(neighbours(kNucleusFlag | vowel).empty());
    const auto n = static_cast<uint8_t>(kNucleusFlag | (5 + 3 * vowel));
    const auto l = static_cast<uint8_t>(n + 1);
    const auto r = static_cast<uint8_t>(n + 2);
    EXPECT_EQ(neighbours(n), std::vector<uint8_t>{l});
    EXPECT_EQ(neighbours(l), (std::vector<uint8_t>{n, r}));  // n-l was added before l-r
    EXPECT_EQ(neighbours(r), std::vector<uint8_t>{l});
  }
  for (uint8_t unit : {uint8_t{35}, uint8_t{0x7F}, uint8_t{0x80 | 20}, uint8_t{0xFF}}) {
    EXPECT_TRUE(neighbours(unit).empty()) << int{unit};
  }
}

TEST(Recover, CorrectWordDecodesAsIs) {
  std::mt19937_64 rng(1);
  for (uint32_t width : {16u, 64u, 128u}) {
    const CodecConfig config = with_check_syllables(make(width), 2);
    for (int i = 0; i < 20; ++i) {
      const std::vector<uint8_t> bytes = random_bytes(rng);
      const std::string text(encode(config, bytes).value().view());
      const Result<Bytes16> recovered = recover_text(config, text);
      ASSERT_TRUE(recovered.ok()) << error_of(recovered);
      EXPECT_EQ(recovered.value(), decode_text(config, text).value());
    }
  }
}

TEST(Recover, OneConfusedUnitComesBackOrIsAmbiguous) {
  // Changing a unit along an edge keeps the true word among the candidates (the graph is
  // undirected), so recovery returns the original bytes, or reports ambiguity: never other
  // bytes, and never that nothing was found. (Unless the typo itself passes the check.)
  std::mt19937_64 rng(2);
  const CodecConfig config = make();
  size_t data_nucleus_fixed = 0;
  size_t data_onset_fixed = 0;
  size_t check_fixed = 0;
  size_t ambiguous = 0;
  for (int i = 0; i < 40; ++i) {
    const std::vector<uint8_t> bytes = random_bytes(rng);
    const Bytes16 original = decode_text(config, encoded_word(config, bytes).text()).value();
    const Word word = encoded_word(config, bytes);
    for (size_t p = 0; p < word.data.size() + word.check.size(); ++p) {
      const bool in_data = p < word.data.size();
      const uint8_t unit = in_data ? word.data[p] : word.check[p - word.data.size()];
      for (uint8_t x : ConfusionGraph::instance().neighbours(unit)) {
        Word typo = word;
        (in_data ? typo.data[p] : typo.check[p - word.data.size()]) = x;
        const Result<Bytes16> r = recover_text(config, typo.text());
        const Result<Bytes16> as_typed = decode_text(config, typo.text());
        if (as_typed.ok()) {  // the typo passes the check by chance: taken as it is
          ASSERT_TRUE(r.ok());
          EXPECT_EQ(r.value(), as_typed.value());
        } else if (r.ok()) {
          ASSERT_EQ(r.value(), original) << typo.text();
          if (!in_data) {
            ++check_fixed;
          } else if ((x & kNucleusFlag) != 0) {
            ++data_nucleus_fixed;
          } else {
            ++data_onset_fixed;
          }
        } else {
          ASSERT_EQ(error_of(r).rfind("ambiguous: ", 0), 0u) << error_of(r);
          ++ambiguous;
        }
      }
    }
  }
  EXPECT_GT(data_nucleus_fixed, 0u);
  EXPECT_GT(data_onset_fixed, 0u);
  EXPECT_GT(check_fixed, 0u);
  EXPECT_GT(data_nucleus_fixed + data_onset_fixed + check_fixed, 10 * ambiguous);
}

// expect_outcome checks recovery against an independent count of the candidates.
void expect_outcome(const CodecConfig& config, const Word& typo, const Result<Bytes16>& r) {
  const size_t expected = count_candidates(config, typo);
  if (expected == 0) {
    EXPECT_EQ(error_of(r), "reject: unrecoverable") << typo.text();
  } else if (expected == 1) {
    EXPECT_TRUE(r.ok()) << typo.text() << ": " << error_of(r);
  } else {
    EXPECT_EQ(error_of(r), "ambiguous: " + std::to_string(expected) + " candidates");
  }
}

TEST(Recover, UnreachableTypoIsRejected) {
  // A unit with no edge to its true value cannot be undone by one substitution: an onset
  // without edges changed to any other onset, or "an" typed for "ar" (not joined directly).
  std::mt19937_64 rng(3);
  const CodecConfig config = make();
  size_t tried = 0;
  size_t rejected = 0;
  for (int i = 0; i < 30; ++i) {
    const Word word = encoded_word(config, random_bytes(rng));
    const Bytes16 original = decode_text(config, word.text()).value();
    for (size_t p = 0; p < word.data.size(); ++p) {
      Word typo = word;
      const uint8_t unit = word.data[p];
      if (p % 2 == 0 && ConfusionGraph::instance().neighbours(unit).empty()) {
        typo.data[p] = static_cast<uint8_t>((unit + 1 + rng() % 34) % kNumOnsets);
      } else if (p % 2 == 1 && (unit & 0x7F) >= 5 && (unit & 0x7F) % 3 == 1) {  // ending r
        typo.data[p] = static_cast<uint8_t>(unit - 2);                          // ending n
      } else {
        continue;
      }
      if (decode_text(config, typo.text()).ok()) { continue; }  // passes the check by chance
      ++tried;
      const Result<Bytes16> r = recover_text(config, typo.text());
      if (r.ok()) { EXPECT_NE(r.value(), original); }
      if (error_of(r) == "reject: unrecoverable") { ++rejected; }
      expect_outcome(config, typo, r);
    }
  }
  EXPECT_GT(tried, 50u);
  EXPECT_GT(rejected * 10, tried * 8);
}

TEST(Recover, AmbiguityCountsDistinctCandidates) {
  // A typo along an edge keeps the true word as one candidate; with one check syllable
  // another substitution passes by chance often enough to find a few.
  std::mt19937_64 rng(4);
  const CodecConfig config = make();
  const ConfusionGraph& graph = ConfusionGraph::instance();
  size_t seen = 0;
  for (int i = 0; i < 400 && seen < 3; ++i) {
    const Word word = encoded_word(config, random_bytes(rng));
    const size_t p = rng() % word.data.size();
    const std::span<const uint8_t> options = graph.neighbours(word.data[p]);
    if (options.empty()) { continue; }
    Word typo = word;
    typo.data[p] = options[rng() % options.size()];
    if (decode_text(config, typo.text()).ok()) { continue; }
    const Result<Bytes16> r = recover_text(config, typo.text());
    expect_outcome(config, typo, r);
    if (error_of(r).starts_with("ambiguous: ")) { ++seen; }
  }
  EXPECT_GT(seen, 0u);
}

TEST(Recover, RefusalsComeBeforeTheSearch) {
  const std::vector<uint8_t> bytes(16, 0x42);
  const CodecConfig plain = make(128, "plain");
  const std::string plain_word(encode(plain, bytes).value().view());
  EXPECT_EQ(error_of(recover_text(plain, plain_word)), "recovery not supported in plain mode");
  EXPECT_EQ(error_of(recover_text(plain, "")), "recovery not supported in plain mode");

  const CodecConfig sealed = make();
  const std::string word(encode(sealed, bytes).value().view());
  CodecConfig keyless = sealed;
  keyless.key.reset();
  keyless.check_key.reset();
  for (const std::string& text : {word, std::string("#!"), std::string()}) {
    EXPECT_EQ(error_of(recover_text(keyless, text)), "key required for this mode");
  }
  for (const char* text : {"", "1234", "aaaa-mama", "mamamama"}) {
    const Result<Bytes16> r = recover_text(sealed, text);
    EXPECT_EQ(error_of(r), "input normalization failed") << text;
    EXPECT_EQ(r.error().code, ErrorCode::kValue);
  }
  // An extra leading syllable and case do not matter.
  EXPECT_EQ(recover_text(sealed, "ka-" + word).value(), decode_text(sealed, word).value());
}

TEST(Recover, CandidatesOutsideTheDomainNeverCount) {
  // Width 16: two syllables spell up to 489999, the domain holds up to 65535 = 93 * 700 + 435.
  // Take in-domain data whose neighbour along an edge lies above 65535, and give it the
  // check syllable of that neighbour. The neighbour passes the check but is no code word.
  const CodecConfig config = make(16);
  const ConfusionGraph& graph = ConfusionGraph::instance();
  size_t cases = 0;
  size_t rejected = 0;
  for (uint64_t value = 0; value <= 65535; ++value) {
    if (value < 60000 && value % 97 != 0) { continue; }
    std::vector<uint8_t> data(4);
    value_to_units(U128::from_u64(value), 2, data.data());
    for (size_t p = 0; p < data.size(); ++p) {
      for (uint8_t x : graph.neighbours(data[p])) {
        std::vector<uint8_t> outside = data;
        outside[p] = x;
        if (units_in_domain(config, outside)) { continue; }
        ++cases;
        const Word typo{data, check_units_of(config, outside)};
        ASSERT_TRUE(verify_check(config.mode, config.check_key.get(), outside, typo.check));
        const Result<Bytes16> r = recover_text(config, typo.text());
        if (r.ok()) {
          EXPECT_NE(r.value(), finish_value(config, units_to_value(outside))) << typo.text();
        } else if (error_of(r) == "reject: unrecoverable") {
          ++rejected;
        }
        // The word outside the domain with one check unit off: not a candidate either.
        Word off{outside, typo.check};
        for (size_t q = 0; q < off.check.size(); ++q) {
          for (uint8_t y : graph.neighbours(typo.check[q])) {
            off.check = typo.check;
            off.check[q] = y;
            const Result<Bytes16> s = recover_text(config, off.text());
            if (s.ok()) { EXPECT_NE(s.value(), finish_value(config, units_to_value(outside))); }
          }
        }
      }
    }
  }
  EXPECT_GT(cases, 5u);
  EXPECT_GT(rejected * 10, cases * 9);
}

}  // namespace
}  // namespace tavik::core
