#include "core/normalize.h"

#include <array>

#include "core/render.h"

namespace tavik::core {

namespace {

constexpr int8_t kNone = -1;
constexpr size_t kNumLetters = 26;
constexpr size_t kMaxWindowUnits = kMaxDataUnits + kMaxCheckUnits;

// Letter classes of every level, indexed by letter - 'a', built once from the render tables
// so each letter costs one look-up instead of a scan of 15 single onsets and 20 clusters.
struct LetterTables {
  std::array<std::array<int8_t, kNumLetters>, kNumLevels> single_onset;
  // cluster[level][first][second]: onset index 15-34, or kNone.
  std::array<std::array<std::array<int8_t, kNumLetters>, kNumLetters>, kNumLevels> cluster;
  std::array<int8_t, kNumLetters> vowel;
  std::array<int8_t, kNumLetters> ending;
};

bool is_lower_letter(char c) { return c >= 'a' && c <= 'z'; }
size_t letter_index(char c) { return static_cast<size_t>(c - 'a'); }

LetterTables build_letter_tables() {
  LetterTables t;
  for (auto& level : t.single_onset) { level.fill(kNone); }
  for (auto& level : t.cluster) {
    for (auto& row : level) { row.fill(kNone); }
  }
  t.vowel.fill(kNone);
  t.ending.fill(kNone);
  for (size_t level = 0; level < kNumLevels; ++level) {
    for (size_t k = 0; k < kNumSingleOnsets; ++k) {
      const char c = kSingleOnsetLetters[level][k];
      if (is_lower_letter(c)) { t.single_onset[level][letter_index(c)] = static_cast<int8_t>(k); }
    }
    // Walk the clusters backwards so that the first entry spelling a pair is the one kept.
    for (size_t k = kNumOnsets; k-- > kNumSingleOnsets;) {
      const std::string_view onset = kOnsets[level][k];
      if (onset.size() != 2 || !is_lower_letter(onset[0]) || !is_lower_letter(onset[1])) {
        continue;
      }
      t.cluster[level][letter_index(onset[0])][letter_index(onset[1])] = static_cast<int8_t>(k);
    }
  }
  for (size_t v = 0; v < kVowelLetters.size(); ++v) {
    t.vowel[letter_index(kVowelLetters[v])] = static_cast<int8_t>(v);
  }
  for (size_t e = 0; e < kEndingLetters.size(); ++e) {
    t.ending[letter_index(kEndingLetters[e])] = static_cast<int8_t>(e);
  }
  return t;
}

const LetterTables& letter_tables() {
  static const LetterTables tables = build_letter_tables();
  return tables;
}

// LetterReader yields the ASCII letters of UTF-8 text, lower-cased, with a look-ahead of up
// to three letters. Bytes of multi-byte sequences are all >= 0x80, so skipping every byte
// that is not an ASCII letter drops exactly the non-letter code points.
class LetterReader {
 public:
  explicit LetterReader(std::string_view text) : text_(text) {}

  // peek returns letter k ahead as 0-25, or kNone past the end.
  int peek(size_t k) {
    while (num_ahead_ <= k && pos_ < text_.size()) {
      const char c = text_[pos_++];
      if (c >= 'a' && c <= 'z') {
        ahead_[(first_ + num_ahead_++) % kAhead] = static_cast<uint8_t>(c - 'a');
      } else if (c >= 'A' && c <= 'Z') {
        ahead_[(first_ + num_ahead_++) % kAhead] = static_cast<uint8_t>(c - 'A');
      }
    }
    return k < num_ahead_ ? ahead_[(first_ + k) % kAhead] : kNone;
  }

  // skip drops `count` letters that peek has already returned.
  void skip(size_t count) {
    first_ = (first_ + count) % kAhead;
    num_ahead_ -= count;
  }

 private:
  static constexpr size_t kAhead = 3;
  std::string_view text_;
  size_t pos_ = 0;
  uint8_t ahead_[kAhead] = {};
  size_t first_ = 0;
  size_t num_ahead_ = 0;
};

}  // namespace

bool normalize(uint8_t level, std::string_view text, size_t data_unit_count,
               size_t check_unit_count, NormalizedInput* out) {
  if (out == nullptr || level >= kNumLevels || data_unit_count > kMaxDataUnits ||
      check_unit_count > kMaxCheckUnits) {
    return false;
  }
  const LetterTables& t = letter_tables();
  const auto& single_onset = t.single_onset[level];
  const auto& cluster = t.cluster[level];
  const size_t window = data_unit_count + check_unit_count;

  // Only the last `window` units are ever used, so they are kept in a ring; `num_units`
  // counts all units parsed and its parity says whether an onset or a nucleus comes next.
  uint8_t ring[kMaxWindowUnits];
  size_t next = 0;  // slot of the next unit in the ring
  size_t num_units = 0;
  auto append = [&](int unit) {
    if (window != 0) {
      ring[next] = static_cast<uint8_t>(unit);
      next = next + 1 == window ? 0 : next + 1;
    }
    ++num_units;
  };

  LetterReader reader(text);
  if (reader.peek(0) == kNone) { return false; }
  for (int letter = reader.peek(0); letter != kNone; letter = reader.peek(0)) {
    const size_t l = static_cast<size_t>(letter);
    const int second = reader.peek(1);
    if (num_units % 2 == 0) {
      // Onset: a cluster first, then a single letter.
      if (second != kNone && cluster[l][static_cast<size_t>(second)] != kNone) {
        append(cluster[l][static_cast<size_t>(second)]);
        reader.skip(2);
      } else if (single_onset[l] != kNone) {
        append(single_onset[l]);
        reader.skip(1);
      } else {
        return false;
      }
      continue;
    }
    // Nucleus: a vowel, with an ending when the text ends after it or a single onset follows.
    const int vowel = t.vowel[l];
    if (vowel == kNone) { return false; }
    if (second != kNone && t.ending[static_cast<size_t>(second)] != kNone) {
      const int third = reader.peek(2);
      if (third == kNone || single_onset[static_cast<size_t>(third)] != kNone) {
        append(kNucleusFlag | (5 + 3 * vowel + t.ending[static_cast<size_t>(second)]));
        reader.skip(2);
        continue;
      }
    }
    append(kNucleusFlag | vowel);
    reader.skip(1);
  }

  if (num_units < window) { return false; }
  // After the walk the ring's oldest unit sits at `next`.
  for (size_t k = 0; k < window; ++k) {
    const uint8_t unit = ring[(next + k) % window];
    if (k < data_unit_count) {
      out->data_units[k] = unit;
    } else {
      out->check_units[k - data_unit_count] = unit;
    }
  }
  out->num_data_units = data_unit_count;
  out->num_check_units = check_unit_count;
  return true;
}

}  // namespace tavik::core
