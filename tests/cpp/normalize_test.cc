#include "core/normalize.h"
#include "core/render.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace tavik::core {
namespace {

constexpr uint8_t kUniversal = 0;
constexpr uint8_t kKo = 4;

// The data units followed by the check units, or nothing when normalization fails.
std::optional<std::vector<uint8_t>> units(std::string_view text, size_t num_data, size_t num_check,
                                          uint8_t level = kUniversal) {
  NormalizedInput out;
  if (!normalize(level, text, num_data, num_check, &out)) { return std::nullopt; }
  EXPECT_EQ(out.data().size(), num_data);
  EXPECT_EQ(out.check().size(), num_check);
  std::vector<uint8_t> all(out.data().begin(), out.data().end());
  all.insert(all.end(), out.check().begin(), out.check().end());
  return all;
}

using Units = std::vector<uint8_t>;
const Units kKatumi = {0x01, 0x80, 0x05, 0x84, 0x00, 0x82};

TEST(Normalize, CaseAndNonLettersAreIgnored) {
  for (std::string_view text :
       {"katumi", "KATUMI", "Ka-Tu Mi", "k-a-t-u-m-i", " ka.tu_mi\n", "ka1tu2mi3",
        "k\xc3\xa4\xc3\xa4"
        "atumi" /* ä twice */,
        "ka\xef\xbd\x8btumi" /* a full-width k */}) {
    EXPECT_EQ(units(text, 4, 2), kKatumi) << text;
  }
  NormalizedInput out;
  ASSERT_TRUE(normalize(kUniversal, "katumi", 4, 2, &out));
  EXPECT_EQ(Units(out.data().begin(), out.data().end()), Units({0x01, 0x80, 0x05, 0x84}));
  EXPECT_EQ(Units(out.check().begin(), out.check().end()), Units({0x00, 0x82}));
  // A letter used as a separator is read as part of the word.
  EXPECT_EQ(units("kaxtumi", 4, 2), std::nullopt);
}

TEST(Normalize, OnsetsFollowTheLevel) {
  EXPECT_EQ(units("yaca", 4, 0, kKo), Units({12, 0x80, 13, 0x80}));
  EXPECT_EQ(units("yaca", 4, 0, kUniversal), std::nullopt);
  EXPECT_EQ(units("vaqa", 4, 0, kUniversal), Units({12, 0x80, 14, 0x80}));
  EXPECT_EQ(units("vaqa", 4, 0, kKo), std::nullopt);
  EXPECT_EQ(units("ma", 2, 0, 3), Units({4, 0x80}));  // numeric puts m fifth
  // Clusters come before single letters: "st" is the cluster, not s and then t.
  EXPECT_EQ(units("stu", 2, 0), Units({29, 0x84}));
  EXPECT_EQ(units("stu", 2, 0, 2), Units({15, 0x84}));
  EXPECT_EQ(units("xa", 2, 0), std::nullopt);   // no onset
  EXPECT_EQ(units("kta", 2, 0), std::nullopt);  // no vowel
}

TEST(Normalize, EndingNeedsTheEndOrASingleOnsetAfterIt) {
  EXPECT_EQ(units("kan", 2, 0), Units({0x01, 0x85}));
  EXPECT_EQ(units("kanta", 4, 0), Units({0x01, 0x85, 0x05, 0x80}));
  EXPECT_EQ(units("KAN-STU", 4, 0), Units({0x01, 0x85, 29, 0x84}));  // cluster after an ending
  EXPECT_EQ(units("burkal", 4, 0), Units({7, 0x80 | 19, 1, 0x80 | 6}));
  EXPECT_EQ(units("kana", 2, 0), std::nullopt);  // n before a vowel is no ending
  EXPECT_EQ(units("karra", 4, 0), std::nullopt);
  EXPECT_EQ(units("kanra", 4, 0), std::nullopt);  // r is no single onset
}

TEST(Normalize, WindowKeepsTheLastUnits) {
  EXPECT_EQ(units("mopa-katumi", 4, 2), kKatumi);
  EXPECT_EQ(units("BA-DE-KA-TU-MI", 4, 2), kKatumi);  // a time prefix
  EXPECT_EQ(units("katumi", 0, 6), kKatumi);
  // A trailing lone onset is accepted; the window is then shifted by one unit.
  EXPECT_EQ(units("katumik", 4, 2), Units({0x80, 0x05, 0x84, 0x00, 0x82, 0x01}));
  EXPECT_EQ(units("katu", 4, 2), std::nullopt);
  EXPECT_EQ(units("", 0, 0), std::nullopt);
  EXPECT_EQ(units("12 - 34 \xc3\xa4", 0, 0), std::nullopt);
}

TEST(Normalize, RefusesBadArgumentsAndLeavesNoPartialResult) {
  NormalizedInput out;
  out.num_data_units = 7;
  out.num_check_units = 9;
  EXPECT_FALSE(normalize(kUniversal, "katumi", kMaxDataUnits + 1, 0, &out));
  EXPECT_FALSE(normalize(kUniversal, "katumi", 0, kMaxCheckUnits + 1, &out));
  EXPECT_FALSE(normalize(5, "katumi", 4, 2, &out));
  EXPECT_FALSE(normalize(kUniversal, "katumi", 4, 2, nullptr));
  EXPECT_FALSE(normalize(kUniversal, "katumixa", 4, 2, &out));
  EXPECT_FALSE(normalize(kUniversal, "katumi", 6, 2, &out));
  EXPECT_EQ(out.num_data_units, 7u);
  EXPECT_EQ(out.num_check_units, 9u);
}

TEST(Normalize, LongInputKeepsTheLargestWindow) {
  // 22 syllables fill the largest window exactly; a few megabytes of other syllables precede.
  std::string text;
  for (int k = 0; k < 500000; ++k) { text += "Blan-sko "; }
  Units expected;
  for (int k = 0; k < 22; ++k) {
    text += "twur-";
    expected.insert(expected.end(), {34, 0x80 | 19});
  }
  text += "\xe2\x80\x94";  // a trailing em dash
  EXPECT_EQ(units(text, kMaxDataUnits, kMaxCheckUnits), expected);
}

// Texts of up to 256 bytes are parsed from a gathered letter buffer, longer ones letter by
// letter; non-letters never change the parse, so padding a text past 256 bytes must give the
// same result, for every level, window and kind of text (code-word-like, random letters,
// letters that cannot stand where they stand).
TEST(Normalize, ShortAndLongTextsParseAlike) {
  uint32_t x = 12345;
  auto next = [&] {
    x = x * 1103515245u + 12345u;
    return x >> 8;
  };
  const std::string pieces[] = {"bl", "st", "tw", "q",  "k",  "m", "s", "y", "c",
                                "x",  "-",  "BR", " ",  "a",  "e", "i", "o", "u",
                                "an", "El", "ir", "or", "ul", "n", "l", "r", "Al"};
  constexpr size_t kFirstNucleus = 13;
  size_t num_parsed = 0;
  for (int i = 0; i < 3000; ++i) {
    std::string text;
    const size_t num_pieces = next() % 60;
    for (size_t k = 0; k < num_pieces; ++k) {
      // Half the texts are onsets and nuclei in turn, so that many of them parse.
      const size_t n = std::size(pieces);
      text += pieces[i % 2 == 0   ? next() % n
                     : k % 2 == 0 ? next() % 7
                                  : kFirstNucleus + next() % 10];
    }
    const uint8_t level = static_cast<uint8_t>(next() % kNumLevels);
    const size_t num_data = 2 * (next() % 8);
    const size_t num_check = next() % 4;
    const auto short_form = units(text, num_data, num_check, level);
    const auto long_form = units(std::string(300, '-') + text, num_data, num_check, level);
    ASSERT_EQ(short_form, long_form) << text;
    if (short_form) { ++num_parsed; }
  }
  EXPECT_GT(num_parsed, 300u);
}

// A text of up to 256 bytes has its letters gathered first (sixteen bytes at a time, or eight
// where at most two of them are no letter; in registers for up to 64 bytes with AVX-512 VBMI2)
// and, where the processor allows, its syllables found sixteen letters at a time, or all at
// once for up to 63 letters (AVX-512 VBMI); a longer text is read a letter at a time. Spaces
// past 256 bytes send a text down the second path, which must agree on the units, or on
// failing, for near-words at every level: syllables of the level and of others, stray letters,
// capitals, separators and bytes of other characters in every place and number.
TEST(Normalize, GatheredLettersParseAsTheLetterWalk) {
  std::mt19937_64 rng(29);
  const std::string_view noise[] = {"n", "l", "r", "a", "e", "x", "y", "c", "q", "-", " ", "st",
                                    "K", "AN", "--", "_", "\xc3\xa9", "@[`{"};
  const std::pair<size_t, size_t> windows[] = {{0, 0}, {2, 0}, {4, 2}, {6, 1}, {28, 2}};
  const std::string padding(300, ' ');
  size_t num_parsed = 0;
  for (int round = 0; round < 40000; ++round) {
    const uint8_t level = static_cast<uint8_t>(rng() % kNumLevels);
    const uint8_t spelled_level = rng() % 4 == 0 ? static_cast<uint8_t>(rng() % kNumLevels) : level;
    std::string text;
    const size_t num_pieces = rng() % 24;
    for (size_t k = 0; k < num_pieces; ++k) {
      if (rng() % 8 == 0) {
        text += noise[rng() % std::size(noise)];
        continue;
      }
      text += render_unit(static_cast<uint8_t>(rng() % kNumOnsets), spelled_level);
      if (rng() % 16 != 0) {
        text += render_unit(static_cast<uint8_t>(kNucleusFlag | (rng() % kNumNuclei)), 0);
      }
      if (rng() % 4 == 0) { text += '-'; }
    }
    for (const auto& [num_data, num_check] : windows) {
      NormalizedInput fast;
      NormalizedInput walked;
      NormalizedInput by_letter;
      NormalizedInput sixteen;
      const bool fast_ok = normalize(level, text, num_data, num_check, &fast);
      ASSERT_EQ(fast_ok, normalize(level, text + padding, num_data, num_check, &walked))
          << text << " level " << int{level};
      // The letters read one at a time (the form of processors without the sixteen-letter
      // steps) give the same result.
      ASSERT_EQ(fast_ok, normalize_letter_by_letter(level, text, num_data, num_check, &by_letter))
          << text << " level " << int{level};
      ASSERT_EQ(fast_ok, normalize_sixteen_at_once(level, text, num_data, num_check, &sixteen))
          << text << " level " << int{level};
      // The diagnosis of a failure reads the text as normalize does.
      const NormalizeFailure failure = diagnose_normalize(level, text, num_data, num_check);
      ASSERT_EQ(fast_ok, failure.kind == NormalizeFailure::Kind::kNone) << text;
      if (failure.kind == NormalizeFailure::Kind::kLetter) {
        ASSERT_EQ(text[failure.index], failure.letter) << text;
      }
      if (!fast_ok) { continue; }
      ++num_parsed;
      for (const NormalizedInput* other : {&walked, &by_letter, &sixteen}) {
        ASSERT_EQ(Units(fast.data().begin(), fast.data().end()),
                  Units(other->data().begin(), other->data().end()))
            << text;
        ASSERT_EQ(Units(fast.check().begin(), fast.check().end()),
                  Units(other->check().begin(), other->check().end()))
            << text;
      }
    }
  }
  EXPECT_GT(num_parsed, 20000u);  // most texts are words
}

TEST(Normalize, DiagnosisNamesTheLetterOrTheCount) {
  using Kind = NormalizeFailure::Kind;
  EXPECT_EQ(diagnose_normalize(kUniversal, "- 42 -", 2, 2).kind, Kind::kNoLetter);
  const NormalizeFailure onset = diagnose_normalize(kUniversal, "KA-AT", 2, 2);
  EXPECT_EQ(onset.kind, Kind::kLetter);
  EXPECT_EQ(onset.index, 3u);
  EXPECT_TRUE(onset.onset_expected);
  const NormalizeFailure vowel = diagnose_normalize(kUniversal, "\xc3\xa9" "KA-KK", 2, 2);
  EXPECT_EQ(vowel.kind, Kind::kLetter);
  EXPECT_EQ(vowel.index, 6u);  // in bytes of UTF-8
  EXPECT_EQ(vowel.letter, 'K');
  EXPECT_FALSE(vowel.onset_expected);
  const NormalizeFailure short_word = diagnose_normalize(kUniversal, "KATUK", 4, 2);
  EXPECT_EQ(short_word.kind, Kind::kTooShort);
  EXPECT_EQ(short_word.num_units, 5u);
  EXPECT_EQ(short_word.expected_units, 6u);
}

}  // namespace
}  // namespace tavik::core
