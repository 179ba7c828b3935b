#include "core/normalize.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <vector>

#include "core/render.h"
#include "core/syllable_lengths.h"
#include "fpe/cpu.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tavik::core {

namespace {

constexpr int8_t kNone = -1;

// The widest steps a reading may take: a letter at a time, sixteen letters, or one step of 64
// for a word of up to 63 letters; each only where the processor allows.
enum class Steps { kLetters, kSixteen, kSixtyFour };
constexpr size_t kNumLetters = 26;
constexpr size_t kMaxWindowUnits = kMaxDataUnits + kMaxCheckUnits;

// An entry of LetterTables::onset_unit: the onset's index, and a bit for a cluster.
constexpr uint8_t kOnsetIndexMask = 0x3F;
constexpr unsigned kClusterShift = 7;

// kEndOfText stands for "no letter" in the tables below: every class of it is kNone.
constexpr size_t kEndOfText = kNumLetters;
constexpr size_t kTableLetters = kNumLetters + 1;

// Letter classes of every level, indexed by letter - 'a' (or kEndOfText), built once from the
// render tables so each letter costs one look-up instead of a scan of 15 single onsets and 20
// clusters.
struct LetterTables {
  std::array<std::array<int8_t, kTableLetters>, kNumLevels> single_onset;
  // cluster[level][first][second]: onset index 15-34, or kNone.
  std::array<std::array<std::array<int8_t, kTableLetters>, kTableLetters>, kNumLevels> cluster;
  std::array<int8_t, kTableLetters> vowel;
  std::array<int8_t, kTableLetters> ending;
  // The same classes as tables of sixteen-letter steps (core/syllable_lengths.h), and
  // onset_unit[level][first * kTableLetters + second]: the onset that starts with these two
  // letters, the cluster where they spell one, else the single onset of the first.
  std::array<SyllableClassTables, kNumLevels> classes;
  std::array<SyllableUnitTables, kNumLevels> unit_tables;
  // (kOnsetIndexMask, with the bit at kClusterShift set for a cluster).
  std::array<std::array<uint8_t, kTableLetters * kTableLetters>, kNumLevels> onset_unit;
  // Whether the steps of sixteen letters can stand in for the walk: the processor can run them,
  // and no level has more than eight letters that end clusters; and whether a word of up to
  // 63 letters can take one step of 64 (AVX-512 VBMI and VBMI2), its walk done in registers.
  bool sixteen_at_once = false;
  bool sixty_four_at_once = false;
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
  bool classes_fit = true;
  for (size_t level = 0; level < kNumLevels; ++level) {
    SyllableClassTables& c = t.classes[level];
    c = SyllableClassTables{};
    size_t num_seconds = 0;
    for (size_t first = 0; first < kTableLetters; ++first) {
      const bool single = t.single_onset[level][first] != kNone;
      c.letter_class[first] = static_cast<uint8_t>(
          (t.vowel[first] != kNone ? kClassVowel : 0) |
          (t.ending[first] != kNone ? kClassEnding : 0) | (single ? kClassOnset : 0) |
          (single || first == kEndOfText ? kClassOnsetOrEnd : 0) |
          (first == kEndOfText ? kClassEnd : 0));
      for (size_t second = 0; second < kTableLetters; ++second) {
        const int cluster = t.cluster[level][first][second];
        t.onset_unit[level][first * kTableLetters + second] = static_cast<uint8_t>(
            cluster != kNone ? cluster | (1 << kClusterShift)
                             : single ? t.single_onset[level][first] : 0);
        if (cluster == kNone) { continue; }
        if (c.second_bit[second] == 0) {
          if (num_seconds == 8) {
            classes_fit = false;
            continue;
          }
          c.second_bit[second] = static_cast<uint8_t>(1u << num_seconds++);
        }
        c.first_of[first] = static_cast<uint8_t>(c.first_of[first] | c.second_bit[second]);
      }
    }
  }
  static_assert(kEndOfText == kLetterSentinel);
  // The tables of the step of 64: at most sixteen letters may begin clusters, each with a code
  // of its own.
  bool units_fit = classes_fit;
  for (size_t level = 0; level < kNumLevels; ++level) {
    const SyllableClassTables& c = t.classes[level];
    SyllableUnitTables& u = t.unit_tables[level];
    u = SyllableUnitTables{};
    size_t num_firsts = 0;
    for (size_t l = 0; l < kTableLetters; ++l) {
      u.single_onset[l] = static_cast<uint8_t>(std::max<int>(t.single_onset[level][l], 0));
      u.vowel[l] = static_cast<uint8_t>(std::max<int>(t.vowel[l], 0));
      u.ending[l] = static_cast<uint8_t>(std::max<int>(t.ending[l], 0));
      if (c.second_bit[l] != 0) {
        u.second_index[l] = static_cast<uint8_t>(std::countr_zero(unsigned{c.second_bit[l]}));
      }
      if (c.first_of[l] == 0) { continue; }
      if (num_firsts == 16) {
        units_fit = false;
        break;
      }
      u.first_code[l] = static_cast<uint8_t>(8 * num_firsts++);
    }
    for (size_t first = 0; first < kNumLetters && units_fit; ++first) {
      for (size_t second = 0; second < kNumLetters; ++second) {
        const int cluster = t.cluster[level][first][second];
        if (cluster == kNone) { continue; }
        u.cluster_onset[u.first_code[first] + u.second_index[second]] =
            static_cast<uint8_t>(cluster);
      }
    }
  }
#if defined(__x86_64__)
  t.sixteen_at_once = classes_fit && fpe::cpu_features().ssse3;
  t.sixty_four_at_once = t.sixteen_at_once && units_fit && fpe::cpu_features().avx512vbmi2;
#elif defined(__aarch64__) || defined(__wasm_simd128__)
  t.sixteen_at_once = classes_fit;
  (void)units_fit;
#else
  (void)classes_fit;
  (void)units_fit;
#endif
  return t;
}

const LetterTables& letter_tables() {
  static const LetterTables tables = build_letter_tables();
  return tables;
}

// kLetterOf maps a byte to its letter 0-25 (a-z and A-Z alike), every other byte to kNone.
constexpr std::array<int8_t, 256> make_letter_of() {
  std::array<int8_t, 256> table{};
  for (size_t c = 0; c < 256; ++c) {
    table[c] = c >= 'a' && c <= 'z'   ? static_cast<int8_t>(c - 'a')
               : c >= 'A' && c <= 'Z' ? static_cast<int8_t>(c - 'A')
                                      : kNone;
  }
  return table;
}
constexpr std::array<int8_t, 256> kLetterOf = make_letter_of();

// letter_of maps a code unit to its letter 0-25 (a-z and A-Z alike), every other unit to kNone.
// In UTF-8 the bytes of multi-byte sequences are all >= 0x80, so skipping every unit that is
// not an ASCII letter drops exactly the non-letter code points in every unit width.
template <typename Unit>
int8_t letter_of(Unit unit) {
  if constexpr (sizeof(Unit) == 1) {
    return kLetterOf[unit];
  } else {
    return unit < 0x80 ? kLetterOf[unit] : kNone;
  }
}

// LetterReader yields the ASCII letters of text, lower-cased, with a look-ahead of three
// letters held in variables.
template <typename Unit>
class LetterReader {
 public:
  LetterReader(const Unit* units, size_t len) : p_(units), end_(units + len) {
    ahead_[0] = read();
    ahead_[1] = read();
    ahead_[2] = read();
  }

  // peek returns letter k (0-2) ahead as 0-25, or kNone past the end.
  int peek(size_t k) const { return ahead_[k]; }

  // skip drops `count` (1 or 2) letters.
  void skip(size_t count) {
    if (count == 2) {
      ahead_[0] = ahead_[2];
      ahead_[1] = read();
    } else {
      ahead_[0] = ahead_[1];
      ahead_[1] = ahead_[2];
    }
    ahead_[2] = read();
  }

 private:
  int read() {
    while (p_ != end_) {
      const int letter = letter_of(*p_++);
      if (letter != kNone) { return letter; }
    }
    return kNone;
  }

  const Unit* p_;
  const Unit* end_;
  int ahead_[3];
};

// normalize_short is normalize for a text of at most kShortTextLen bytes: its letters are
// gathered first, so the parse reads them by index, and each step picks between its two
// readings (cluster or single onset, vowel with or without ending) by selection rather than by
// branches that the letters of a code word would make unpredictable.
constexpr size_t kShortTextLen = 256;

#if defined(__SSE2__)

// kLowBytes[j] keeps the low j bytes of a 64-bit word.
constexpr std::array<uint64_t, 9> kLowBytes = {
    0, 0xFF, 0xFFFF, 0xFFFFFF, 0xFFFFFFFF, 0xFFFFFFFFFF, 0xFFFFFFFFFFFF, 0xFFFFFFFFFFFFFF,
    ~uint64_t{0}};

// gather_letters writes the letter indices (0-25) of the letters of text[0, k) to letters,
// in order, and their number to *num_letters, for the longest k, a multiple of 8 up to the
// last multiple of 16 in len, whose every eight bytes hold at most two bytes that are no
// letter (a code word has few separators); letters needs 8 bytes of room past its letters.
// Returns k. Sixteen bytes are classified at once, and each eight are packed in a 64-bit word
// by taking out its non-letters, rather than byte by byte.
size_t gather_letters(const uint8_t* text, size_t len, uint8_t* letters, size_t* num_letters) {
  size_t n = 0;
  size_t i = 0;
  for (; i + 16 <= len; i += 16) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
    const __m128i index = _mm_sub_epi8(_mm_or_si128(x, _mm_set1_epi8(0x20)), _mm_set1_epi8('a'));
    const __m128i letter = _mm_cmpeq_epi8(_mm_min_epu8(index, _mm_set1_epi8(25)), index);
    const uint32_t others = ~static_cast<uint32_t>(_mm_movemask_epi8(letter)) & 0xFFFF;
    const uint64_t words[2] = {static_cast<uint64_t>(_mm_cvtsi128_si64(index)),
                               static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_srli_si128(index, 8)))};
    for (size_t h = 0; h < 2; ++h) {
      const uint32_t drop = (others >> (8 * h)) & 0xFF;
      const uint32_t second = drop & (drop - 1);
      if ((second & (second - 1)) != 0) {  // three or more: the bytes one at a time
        *num_letters = n;
        return i + 8 * h;
      }
      // Take out the first byte to drop, then the second (one place lower by then); a
      // position of 8 takes out nothing.
      uint64_t w = words[h];
      const uint32_t j1 = static_cast<uint32_t>(__builtin_ctz(drop | 0x100));
      w = (w & kLowBytes[j1]) | ((w >> 8) & ~kLowBytes[j1]);
      const uint32_t j2 = static_cast<uint32_t>(__builtin_ctz(second | 0x200)) - 1;
      w = (w & kLowBytes[j2]) | ((w >> 8) & ~kLowBytes[j2]);
      if constexpr (std::endian::native == std::endian::big) { w = __builtin_bswap64(w); }
      std::memcpy(letters + n, &w, 8);
      n += 8 - static_cast<size_t>(drop != 0) - static_cast<size_t>(second != 0);
    }
  }
  *num_letters = n;
  return i;
}

#endif

// keep_window stores the window of units that starts at `first`: data_unit_count data units,
// then check_unit_count check units. It returns true, for the parses that end with it.
bool keep_window(const uint8_t* first, size_t data_unit_count, size_t check_unit_count,
                 NormalizedInput* out) {
  std::copy(first, first + data_unit_count, out->data_units);
  std::copy(first + data_unit_count, first + data_unit_count + check_unit_count,
            out->check_units);
  out->num_data_units = data_unit_count;
  out->num_check_units = check_unit_count;
  return true;
}

#if defined(__x86_64__)

// window_kept ends a parse in one step of 64, which stored the window's units itself when it
// found num_units of them (-1 for a failed walk): whether they were enough.
bool window_kept(int num_units, size_t data_unit_count, size_t check_unit_count,
                 NormalizedInput* out) {
  if (num_units < 0 || static_cast<size_t>(num_units) < data_unit_count + check_unit_count) {
    return false;
  }
  out->num_data_units = data_unit_count;
  out->num_check_units = check_unit_count;
  return true;
}

// registers_window is where a parse in one step of 64 stores the window's units, and, at the
// universal level, where the letters read go as the canonical text of their units.
UnitWindow registers_window(uint8_t level, size_t data_unit_count, size_t check_unit_count,
                            NormalizedInput* out, DataText* data_text) {
  const bool with_text =
      data_text != nullptr && level == static_cast<uint8_t>(Level::kUniversal);
  return {data_unit_count,
          check_unit_count,
          out->data_units,
          out->check_units,
          with_text ? data_text->bytes : nullptr,
          with_text ? &data_text->len : nullptr,
          with_text && data_text->at_end};
}

#endif

// parse_sixteen_at_once is the parse of normalize_short from the syllable lengths at every
// letter (core/syllable_lengths.h): the walk from one syllable to the next is one look-up a
// step, and only the syllables that reach into the window are spelled out as units. With
// sixty_four, a word of up to 63 letters is parsed whole in one step of 64 instead
// (syllable_units_vbmi). letters holds num_letters letters and room for
// kSyllableLengthsPadding more.
bool parse_sixteen_at_once(const LetterTables& t, bool sixty_four, uint8_t level,
                           uint8_t* letters, size_t num_letters, size_t data_unit_count,
                           size_t check_unit_count, NormalizedInput* out) {
  std::memset(letters + num_letters, kEndOfText, kSyllableLengthsPadding);
  uint8_t lengths[kShortTextLen + 16];
  const size_t window = data_unit_count + check_unit_count;
  (void)sixty_four;  // only x86-64 has the step of 64
#if defined(__x86_64__)
  if (sixty_four && num_letters <= kVbmiMaxLetters) {
    // The units of a word of up to 63 letters in one step.
    const int num_units = syllable_units_vbmi(
        t.classes[level], t.unit_tables[level], letters, num_letters,
        {data_unit_count, check_unit_count, out->data_units, out->check_units});
    return window_kept(num_units, data_unit_count, check_unit_count, out);
  }
  syllable_lengths_ssse3(t.classes[level], letters, num_letters, lengths);
#elif defined(__aarch64__)
  syllable_lengths_neon(t.classes[level], letters, num_letters, lengths);
#elif defined(__wasm_simd128__)
  syllable_lengths_wasm(t.classes[level], letters, num_letters, lengths);
#endif
  uint8_t starts[kShortTextLen];
  size_t num_syllables = 0;
  size_t pos = 0;
  bool ends_on_onset = false;
  while (pos < num_letters) {
    const uint8_t length = lengths[pos];
    if (length == 0) { return false; }
    starts[num_syllables++] = static_cast<uint8_t>(pos);
    if ((length & kSyllableEndsText) != 0) {
      ends_on_onset = true;
      break;
    }
    pos += length;
  }
  const size_t num_units = 2 * num_syllables - (ends_on_onset ? 1 : 0);
  if (num_units < window) { return false; }
  const size_t first_unit = num_units - window;
  const size_t first_syllable = first_unit / 2;
  // The choices are made by arithmetic: as branches, the letters of a code word would make
  // them unpredictable.
  const auto& onset_unit = t.onset_unit[level];
  uint8_t units[kMaxWindowUnits + 2];
  size_t u = 0;
  for (size_t s = first_syllable; s < num_syllables; ++s) {
    const size_t p = starts[s];
    const uint8_t onset = onset_unit[letters[p] * kTableLetters + letters[p + 1]];
    units[u++] = onset & kOnsetIndexMask;
    const size_t onset_len = 1 + (onset >> kClusterShift);
    const size_t q = p + onset_len;
    const unsigned vowel = static_cast<uint8_t>(t.vowel[letters[q]]);
    const unsigned with_ending =
        5 + 3 * vowel + static_cast<uint8_t>(t.ending[letters[q + 1]]);
    const unsigned has_ending = 0u - static_cast<unsigned>((lengths[p] - onset_len) == 2);
    units[u++] =
        static_cast<uint8_t>(kNucleusFlag | (vowel ^ ((vowel ^ with_ending) & has_ending)));
  }
  return keep_window(units + (first_unit - 2 * first_syllable), data_unit_count,
                     check_unit_count, out);
}

template <typename Unit>
bool normalize_short(const LetterTables& t, bool sixteen_at_once, bool sixty_four, uint8_t level,
                     const Unit* text, size_t len, size_t data_unit_count,
                     size_t check_unit_count, NormalizedInput* out,
                     [[maybe_unused]] DataText* data_text) {
  const auto& single_onset = t.single_onset[level];
  const auto& cluster = t.cluster[level];
  // Room after the letters: the gathers store eight at a time, and the steps of sixteen read
  // past the end.
  uint8_t letters[kShortTextLen + kSyllableLengthsPadding];
  size_t num_letters = 0;
  size_t i = 0;
#if defined(__x86_64__)
  if constexpr (sizeof(Unit) == 1) {
    if (sixty_four && len <= 64) {
      // A word of up to 64 bytes goes from its bytes to its units in registers.
      const int num_units = text_units_vbmi2(
          t.classes[level], t.unit_tables[level], text, len,
          registers_window(level, data_unit_count, check_unit_count, out, data_text),
          &num_letters);
      if (num_letters == 0) { return false; }
      if (num_letters <= kVbmiMaxLetters) {
        return window_kept(num_units, data_unit_count, check_unit_count, out);
      }
    }
    if (sixteen_at_once) {
      num_letters = gather_letters_ssse3(text, len, letters);
      i = len;
    }
  }
#endif
#if defined(__SSE2__)
  if constexpr (sizeof(Unit) == 1) {
    if (i < len) { i = gather_letters(text, len, letters, &num_letters); }
  }
#endif
  for (; i < len; ++i) {
    const int8_t letter = letter_of(text[i]);
    letters[num_letters] = static_cast<uint8_t>(letter);
    num_letters += letter != kNone ? 1 : 0;
  }
  if (num_letters == 0) { return false; }
  letters[num_letters] = letters[num_letters + 1] = letters[num_letters + 2] = kEndOfText;

  if (sixteen_at_once) {
    return parse_sixteen_at_once(t, sixty_four, level, letters, num_letters, data_unit_count,
                                 check_unit_count, out);
  }
  uint8_t units[kShortTextLen];
  size_t num_units = 0;
  size_t pos = 0;
  while (pos < num_letters) {
    // Onset: a cluster first, then a single letter.
    const int cluster_onset = cluster[letters[pos]][letters[pos + 1]];
    const int single = single_onset[letters[pos]];
    if ((cluster_onset & single) < 0) { return false; }  // neither
    const bool is_cluster = cluster_onset >= 0;
    units[num_units++] = static_cast<uint8_t>(is_cluster ? cluster_onset : single);
    pos += is_cluster ? 2 : 1;
    if (pos >= num_letters) { break; }
    // Nucleus: a vowel, with an ending when the text ends after it or a single onset follows.
    const int vowel = t.vowel[letters[pos]];
    if (vowel < 0) { return false; }
    const int ending = t.ending[letters[pos + 1]];
    const uint8_t third = letters[pos + 2];
    const bool has_ending = ending >= 0 && (third == kEndOfText || single_onset[third] >= 0);
    units[num_units++] =
        static_cast<uint8_t>(kNucleusFlag | (has_ending ? 5 + 3 * vowel + ending : vowel));
    pos += has_ending ? 2 : 1;
  }

  const size_t window = data_unit_count + check_unit_count;
  if (num_units < window) { return false; }
  return keep_window(units + (num_units - window), data_unit_count, check_unit_count, out);
}

template <typename Unit>
bool normalize_units(Steps steps, uint8_t level, const Unit* text, size_t len,
                     size_t data_unit_count, size_t check_unit_count, NormalizedInput* out,
                     DataText* data_text) {
  const LetterTables& t = letter_tables();
  if (len <= kShortTextLen) {
    return normalize_short(t, steps != Steps::kLetters && t.sixteen_at_once,
                           steps == Steps::kSixtyFour && t.sixty_four_at_once, level, text, len,
                           data_unit_count, check_unit_count, out, data_text);
  }
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

  LetterReader<Unit> reader(text, len);
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

// diagnose_units is diagnose_normalize on units of one width: the grammar of normalize_units
// with the position of every letter kept.
template <typename Unit>
NormalizeFailure diagnose_units(uint8_t level, const Unit* text, size_t len, size_t window) {
  const LetterTables& t = letter_tables();
  const auto& single_onset = t.single_onset[level];
  const auto& cluster = t.cluster[level];
  struct Letter {
    uint8_t value;  // 0-25
    size_t index;
  };
  std::vector<Letter> letters;
  for (size_t i = 0; i < len; ++i) {
    const int8_t letter = letter_of(text[i]);
    if (letter != kNone) { letters.push_back({static_cast<uint8_t>(letter), i}); }
  }
  NormalizeFailure failure;
  if (letters.empty()) {
    failure.kind = NormalizeFailure::Kind::kNoLetter;
    return failure;
  }
  const auto at = [&](size_t k) -> size_t {
    return k < letters.size() ? letters[k].value : kEndOfText;
  };
  const auto refuse = [&](size_t k, bool onset) {
    failure.kind = NormalizeFailure::Kind::kLetter;
    failure.index = letters[k].index;
    failure.letter = static_cast<char>(text[letters[k].index]);
    failure.onset_expected = onset;
    return failure;
  };
  size_t num_units = 0;
  size_t pos = 0;
  while (pos < letters.size()) {
    if (num_units % 2 == 0) {
      if (cluster[at(pos)][at(pos + 1)] != kNone) {
        pos += 2;
      } else if (single_onset[at(pos)] != kNone) {
        pos += 1;
      } else {
        return refuse(pos, true);
      }
    } else {
      if (t.vowel[at(pos)] == kNone) { return refuse(pos, false); }
      const bool has_ending = t.ending[at(pos + 1)] != kNone &&
                              (at(pos + 2) == kEndOfText || single_onset[at(pos + 2)] != kNone);
      pos += has_ending ? 2 : 1;
    }
    ++num_units;
  }
  if (num_units < window) {
    failure.kind = NormalizeFailure::Kind::kTooShort;
    failure.num_units = num_units;
    failure.expected_units = window;
  }
  return failure;
}

}  // namespace

NormalizeFailure diagnose_normalize(uint8_t level, CodeUnits text, size_t data_unit_count,
                                    size_t check_unit_count) {
  if (level >= kNumLevels) { return {}; }
  const size_t window = data_unit_count + check_unit_count;
  switch (text.unit_size) {
    case 1: return diagnose_units(level, static_cast<const uint8_t*>(text.data), text.len, window);
    case 2: return diagnose_units(level, static_cast<const uint16_t*>(text.data), text.len, window);
    case 4: return diagnose_units(level, static_cast<const uint32_t*>(text.data), text.len, window);
    default: return {};
  }
}

namespace {

bool normalize_text(Steps steps, uint8_t level, const CodeUnits& text, size_t data_unit_count,
                    size_t check_unit_count, NormalizedInput* out,
                    DataText* data_text = nullptr) {
  if (data_text != nullptr) { data_text->len = DataText::kNotWritten; }
  if (out == nullptr || level >= kNumLevels || data_unit_count > kMaxDataUnits ||
      check_unit_count > kMaxCheckUnits) {
    return false;
  }
  switch (text.unit_size) {
    case 1:
      return normalize_units(steps, level, static_cast<const uint8_t*>(text.data),
                             text.len, data_unit_count, check_unit_count, out, data_text);
    case 2:
      return normalize_units(steps, level, static_cast<const uint16_t*>(text.data),
                             text.len, data_unit_count, check_unit_count, out, data_text);
    case 4:
      return normalize_units(steps, level, static_cast<const uint32_t*>(text.data),
                             text.len, data_unit_count, check_unit_count, out, data_text);
    default: return false;
  }
}

}  // namespace

bool normalize(uint8_t level, const CodeUnits& text, size_t data_unit_count,
               size_t check_unit_count, NormalizedInput* out, DataText* data_text) {
  return normalize_text(Steps::kSixtyFour, level, text, data_unit_count, check_unit_count, out,
                        data_text);
}

void normalize_four(uint8_t level, const CodeUnits* const (&text)[4], size_t data_unit_count,
                    size_t check_unit_count, NormalizedInput* const (&out)[4],
                    DataText* const (&data_text)[4], bool (&ok)[4]) {
#if defined(__x86_64__)
  const LetterTables& t = letter_tables();
  const bool short_texts = std::all_of(std::begin(text), std::end(text), [](const CodeUnits* u) {
    return u->unit_size == 1 && u->len <= 64;
  });
  if (t.sixty_four_at_once && short_texts && level < kNumLevels &&
      data_unit_count <= kMaxDataUnits && check_unit_count <= kMaxCheckUnits) {
    // As normalize_short reads a word of up to 64 bytes, four words side by side.
    UnitWindow windows[4];
    const uint8_t* bytes[4];
    size_t lens[4];
    const UnitWindow* window_of[4];
    for (size_t w = 0; w < 4; ++w) {
      if (data_text[w] != nullptr) { data_text[w]->len = DataText::kNotWritten; }
      windows[w] =
          registers_window(level, data_unit_count, check_unit_count, out[w], data_text[w]);
      bytes[w] = static_cast<const uint8_t*>(text[w]->data);
      lens[w] = text[w]->len;
      window_of[w] = &windows[w];
    }
    int num_units[4];
    if (text_units_vbmi2_four(t.classes[level], t.unit_tables[level], bytes, lens, window_of,
                              num_units)) {
      for (size_t w = 0; w < 4; ++w) {
        ok[w] = window_kept(num_units[w], data_unit_count, check_unit_count, out[w]);
      }
      return;
    }
  }
#endif
  for (size_t w = 0; w < 4; ++w) {
    ok[w] = normalize(level, *text[w], data_unit_count, check_unit_count, out[w], data_text[w]);
  }
}

bool normalize_letter_by_letter(uint8_t level, CodeUnits text, size_t data_unit_count,
                                size_t check_unit_count, NormalizedInput* out) {
  return normalize_text(Steps::kLetters, level, text, data_unit_count, check_unit_count, out);
}

bool normalize_sixteen_at_once(uint8_t level, CodeUnits text, size_t data_unit_count,
                               size_t check_unit_count, NormalizedInput* out) {
  return normalize_text(Steps::kSixteen, level, text, data_unit_count, check_unit_count, out);
}

}  // namespace tavik::core
