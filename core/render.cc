#include "core/render.h"

#include "fpe/cpu.h"

namespace tavik::core {

const std::array<std::array<std::string_view, kNumOnsets>, kNumLevels> kOnsets = {{
    // universal
    {"m",  "k",  "j",  "p",  "w",  "t",  "s",  "b",  "h",  "g",  "d",  "f",
     "v",  "z",  "q",  "bl", "br", "dr", "fl", "fr", "gl", "gr", "kl", "kr",
     "pl", "pr", "sl", "sr", "tr", "st", "sp", "sk", "sm", "sw", "tw"},
    // eu
    {"m",  "k",  "f",  "p",  "j",  "g",  "s",  "v",  "b",  "z",  "t",  "h",
     "w",  "d",  "q",  "gr", "kr", "pr", "tr", "br", "dr", "fr", "gl", "kl",
     "pl", "bl", "fl", "st", "sp", "sk", "sl", "sr", "sm", "sw", "tw"},
    // en
    {"m",  "k",  "f",  "p",  "t",  "s",  "b",  "g",  "d",  "h",  "j",  "w",
     "v",  "z",  "q",  "st", "sp", "sk", "sm", "sw", "tw", "bl", "br", "dr",
     "fl", "fr", "gl", "gr", "kl", "kr", "pl", "pr", "sl", "sr", "tr"},
    // numeric
    {"s",  "k",  "t",  "p",  "m",  "b",  "d",  "g",  "f",  "h",  "j",  "w",
     "v",  "z",  "q",  "st", "sp", "sk", "sm", "sw", "tw", "gr", "kr", "pr",
     "tr", "br", "dr", "fr", "gl", "kl", "pl", "bl", "fl", "sl", "sr"},
    // ko
    {"b",  "d",  "f",  "g",  "k",  "p",  "s",  "t",  "j",  "m",  "h",  "w",
     "y",  "c",  "z",  "gr", "dr", "br", "kr", "pr", "tr", "fr", "gl", "bl",
     "pl", "kl", "fl", "sl", "sr", "st", "sp", "sk", "sm", "sw", "tw"},
}};

const std::array<std::string_view, kNumNuclei> kNuclei = {
    "a",  "e",  "i",  "o",  "u",  "an", "al", "ar", "en", "el",
    "er", "in", "il", "ir", "on", "ol", "or", "un", "ul", "ur"};

const std::array<std::array<char, kNumSingleOnsets>, kNumLevels> kSingleOnsetLetters = {{
    {'m', 'k', 'j', 'p', 'w', 't', 's', 'b', 'h', 'g', 'd', 'f', 'v', 'z', 'q'},
    {'m', 'k', 'f', 'p', 'j', 'g', 's', 'v', 'b', 'z', 't', 'h', 'w', 'd', 'q'},
    {'m', 'k', 'f', 'p', 't', 's', 'b', 'g', 'd', 'h', 'j', 'w', 'v', 'z', 'q'},
    {'s', 'k', 't', 'p', 'm', 'b', 'd', 'g', 'f', 'h', 'j', 'w', 'v', 'z', 'q'},
    {'b', 'd', 'f', 'g', 'k', 'p', 's', 't', 'j', 'm', 'h', 'w', 'y', 'c', 'z'},
}};

namespace {

std::array<std::array<UnitText, 256>, kNumLevels> build_unit_texts() {
  std::array<std::array<UnitText, 256>, kNumLevels> texts{};
  for (uint8_t level = 0; level < kNumLevels; ++level) {
    for (unsigned unit = 0; unit < 256; ++unit) {
      const std::string_view piece = render_unit(static_cast<uint8_t>(unit), level);
      UnitText& t = texts[level][unit];
      t.len = static_cast<uint8_t>(piece.size());
      for (size_t i = 0; i < piece.size(); ++i) {
        t.letters = static_cast<uint16_t>(t.letters | static_cast<uint8_t>(piece[i]) << (8 * i));
      }
    }
  }
  return texts;
}

}  // namespace

// Built when the library is loaded, from the tables above (constant-initialised, so ready).
const std::array<std::array<UnitText, 256>, kNumLevels> kUnitTexts = build_unit_texts();

namespace {

std::array<std::array<uint32_t, kSyllableBase>, kNumLevels> build_syllable_letters() {
  std::array<std::array<uint32_t, kSyllableBase>, kNumLevels> letters{};
  for (size_t level = 0; level < kNumLevels; ++level) {
    for (uint32_t d = 0; d < kSyllableBase; ++d) {
      const UnitText onset = kUnitTexts[level][digit_onset(d)];
      const UnitText nucleus = kUnitTexts[level][digit_nucleus(d)];
      letters[level][d] = onset.letters | uint32_t{nucleus.letters} << (8 * onset.len);
    }
  }
  return letters;
}

constexpr std::array<uint8_t, kSyllableBase> make_syllable_widths() {
  std::array<uint8_t, kSyllableBase> widths{};
  for (uint32_t d = 0; d < kSyllableBase; ++d) {
    widths[d] = static_cast<uint8_t>(syllable_width(digit_onset(d), digit_nucleus(d)));
  }
  return widths;
}

}  // namespace

// Built after kUnitTexts, which the same file initialises first.
const std::array<std::array<uint32_t, kSyllableBase>, kNumLevels> kSyllableLetters =
    build_syllable_letters();
constinit const std::array<uint8_t, kSyllableBase> kSyllableWidths = make_syllable_widths();

std::string_view render_unit(uint8_t unit, uint8_t level) {
  if ((unit & kNucleusFlag) != 0) {
    const uint8_t index = unit & 0x7F;
    return index < kNumNuclei ? kNuclei[index] : std::string_view();
  }
  if (unit >= kNumOnsets || level >= kNumLevels) { return {}; }
  return kOnsets[level][unit];
}

char* append_cased(char* out, std::string_view piece, LetterCase letter_case) {
  for (char c : piece) {
    if (letter_case == LetterCase::kUpper) {
      if (c >= 'a' && c <= 'z') { c = static_cast<char>(c - 'a' + 'A'); }
    } else if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
    *out++ = c;
  }
  return out;
}

void append_cased(std::string& out, std::string_view piece, LetterCase letter_case) {
  char buffer[kMaxSyllableLen * 2];
  size_t done = 0;
  while (done < piece.size()) {
    const std::string_view part = piece.substr(done, sizeof buffer);
    char* end = append_cased(buffer, part, letter_case);
    out.append(buffer, static_cast<size_t>(end - buffer));
    done += part.size();
  }
}

namespace {

// The smallest n with 700^n >= 2^bits, found by multiplying a 128-bit power upward and stopping
// at the first power that reaches 2^bits or would overflow.
constexpr uint32_t count_syllables(uint32_t bits) {
  if (bits == 0) { return 1; }
  const NativeU128 limit_max = ~NativeU128{0};
  NativeU128 power = kSyllableBase;
  uint32_t n = 1;
  for (;;) {
    if (bits < 128 && power >= (NativeU128{1} << bits)) { return n; }
    if (power > limit_max / kSyllableBase) { return n + 1 > 14 ? 14 : n + 1; }
    power *= kSyllableBase;
    ++n;
  }
}

// Every encode asks for its count: a table, not a loop of 128-bit products.
constexpr std::array<uint8_t, 129> make_syllable_counts() {
  std::array<uint8_t, 129> counts{};
  for (uint32_t bits = 0; bits <= 128; ++bits) {
    counts[bits] = static_cast<uint8_t>(count_syllables(bits));
  }
  return counts;
}
constexpr std::array<uint8_t, 129> kSyllableCounts = make_syllable_counts();

}  // namespace

uint32_t syllable_count(uint32_t bits) { return bits > 128 ? 14 : kSyllableCounts[bits]; }

namespace {

// (hi * 2^64 + lo) / 700^6 and its remainder, for hi below 700^6, by the reciprocal of the
// divisor shifted to fill a word (Moeller and Granlund's division of two words by an invariant
// one): two multiplications and a correction rather than the division instruction.
constexpr int kChunkShift = std::countl_zero(kSixSyllables);
constexpr uint64_t kChunkNorm = kSixSyllables << kChunkShift;
// floor((2^128 - 1) / kChunkNorm) - 2^64: the quotient lies in [2^64, 2^65).
constexpr uint64_t kChunkReciprocal = static_cast<uint64_t>(~NativeU128{0} / kChunkNorm);
static_assert(kChunkShift > 0 && kChunkShift < 64);

inline uint64_t divide_by_six_syllables(uint64_t hi, uint64_t lo, uint64_t* rem) {
  const uint64_t u1 = (hi << kChunkShift) | (lo >> (64 - kChunkShift));
  const uint64_t u0 = lo << kChunkShift;
  const NativeU128 q = NativeU128{kChunkReciprocal} * u1 + ((NativeU128{u1 + 1} << 64) | u0);
  uint64_t q1 = static_cast<uint64_t>(q >> 64);
  const uint64_t q0 = static_cast<uint64_t>(q);
  uint64_t r = u0 - q1 * kChunkNorm;
  // The estimate is one too large about as often as not: corrected without a branch.
  const uint64_t over = 0 - static_cast<uint64_t>(r > q0);
  q1 += over;
  r += over & kChunkNorm;
  if (r >= kChunkNorm) [[unlikely]] {
    ++q1;
    r -= kChunkNorm;
  }
  *rem = r >> kChunkShift;
  return q1;
}

}  // namespace

void value_to_digits(U128 value, size_t num_syllables, uint16_t* digits_out) {
  // The value as three chunks of six digits (each below 700^6, in a 64-bit word; a 128-bit
  // value has fourteen digits at most), which then come apart independently of one another:
  // each chunk into two base-700^3 parts that fit 32 bits, each part into its three digits by
  // divisions by constants.
  constexpr uint64_t kChunkBase = kSixSyllables;
  constexpr uint32_t kPartBase = 343000000;  // 700^3
  constexpr size_t kNumDigits = 18;
  uint64_t chunks[3];
  if (value.hi() == 0) {
    const uint64_t rest = value.lo() / kChunkBase;
    chunks[0] = value.lo() % kChunkBase;
    chunks[1] = rest % kChunkBase;
    chunks[2] = rest / kChunkBase;
  } else {
    // The quotient by 700^6, q_hi * 2^64 + q_lo, is below 2^72 with q_hi below 700^6.
    const uint64_t q_hi = value.hi() / kChunkBase;
    const uint64_t q_lo = divide_by_six_syllables(value.hi() % kChunkBase, value.lo(), &chunks[0]);
    chunks[2] = divide_by_six_syllables(q_hi, q_lo, &chunks[1]);
  }
  // Each digit is stored on its own, where it is wanted: readers load them one at a time, and
  // a load that gathers several narrow stores still in flight waits until they reach the cache.
  const auto put = [&](size_t k, uint32_t digit) {
    if (k < num_syllables) { digits_out[k] = static_cast<uint16_t>(digit); }
  };
  for (size_t c = 0; c < 3; ++c) {
    const uint32_t parts[2] = {static_cast<uint32_t>(chunks[c] % kPartBase),
                               static_cast<uint32_t>(chunks[c] / kPartBase)};
    for (size_t p = 0; p < 2; ++p) {
      const size_t k = 6 * c + 3 * p;
      put(k, parts[p] % kSyllableBase);
      put(k + 1, parts[p] / kSyllableBase % kSyllableBase);
      put(k + 2, parts[p] / (kSyllableBase * kSyllableBase));
    }
  }
  for (size_t k = kNumDigits; k < num_syllables; ++k) { digits_out[k] = 0; }
}

void digits_to_units(std::span<const uint16_t> digits, uint8_t* units_out) {
  for (size_t k = 0; k < digits.size(); ++k) {
    units_out[2 * k] = digit_onset(digits[k]);
    units_out[2 * k + 1] = digit_nucleus(digits[k]);
  }
}

void value_to_units(U128 value, size_t num_syllables, uint8_t* units_out) {
  uint16_t digits[kMaxDataSyllables];
  for (size_t done = 0; done < num_syllables; done += kMaxDataSyllables) {
    // Digits past the fourteenth are 0 for any 128-bit value.
    const size_t n = std::min(num_syllables - done, kMaxDataSyllables);
    value_to_digits(done == 0 ? value : U128(), n, digits);
    digits_to_units({digits, n}, units_out + 2 * done);
  }
}

namespace {

// Digit value of syllable k as the raw indices the units carry.
uint64_t raw_digit(std::span<const uint8_t> units, size_t k) {
  const uint64_t onset = units[2 * k];
  const uint64_t nucleus = 2 * k + 1 < units.size() ? (units[2 * k + 1] & 0x7Fu) : 0;
  return onset + kNumOnsets * nucleus;
}

}  // namespace

U128 units_to_value(std::span<const uint8_t> units) {
  U128 value;
  const size_t n = (units.size() + 1) / 2;
  for (size_t k = n; k-- > 0;) {
    value = value * U128::from_u64(kSyllableBase) + U128::from_u64(raw_digit(units, k));
  }
  return value;
}

namespace {

#if defined(__x86_64__)
// with_ssse3 tells, once per process, whether the digits of fourteen syllables may be taken by
// the multiply-adds of digit_pairs_ssse3.cc.
bool with_ssse3() {
  static const bool has = fpe::cpu_features().ssse3;
  return has;
}
#endif

// The six raw digits of syllables k .. k + 5 as one number, d_k + 700 d_(k+1) + ... + 700^5
// d_(k+5): a sum of products rather than one chain of them, so that it is ready sooner.
uint64_t six_raw_digits(const uint8_t* units) {
  const auto digit = [&](size_t k) -> uint64_t {
    return syllable_digit(units[2 * k], units[2 * k + 1]);
  };
  constexpr uint64_t kTwo = uint64_t{kSyllableBase} * kSyllableBase;
  const uint64_t low = digit(0) + kSyllableBase * digit(1);
  const uint64_t middle = digit(2) + kSyllableBase * digit(3);
  const uint64_t high = digit(4) + kSyllableBase * digit(5);
  return low + kTwo * (middle + kTwo * high);
}

// units_to_value_checked for the 28 units of fourteen syllables, the width of every 128-bit
// code word: two chunks of six digits and one of two, put together with the overflow checks
// written out on 64-bit words.
bool fourteen_syllables_to_value(const uint8_t* units, U128* out) {
  uint64_t low = 0;
  uint64_t middle = 0;
  uint64_t high = 0;
#if defined(__x86_64__)
  if (with_ssse3()) {
    // The digits two at a time, d_2i + 700 d_2i+1, each pair below 2^23.
    uint32_t pairs[8];
    fourteen_digit_pairs_ssse3(units, pairs);
    constexpr uint64_t kTwo = uint64_t{kSyllableBase} * kSyllableBase;
    low = pairs[0] + kTwo * pairs[1] + kTwo * kTwo * pairs[2];
    middle = pairs[3] + kTwo * pairs[4] + kTwo * kTwo * pairs[5];
    high = pairs[6];
  } else
#endif
  {
    low = six_raw_digits(units);
    middle = six_raw_digits(units + 12);
    high = syllable_digit(units[24], units[25]) +
           uint64_t{kSyllableBase} * syllable_digit(units[26], units[27]);
  }
  // value = low + K * (middle + K * high), K = 700^6; the inner sum is below 2^80.
  const NativeU128 inner = NativeU128{middle} + NativeU128{kSixSyllables} * high;
  const NativeU128 by_low_word = NativeU128{kSixSyllables} * static_cast<uint64_t>(inner);
  const NativeU128 by_high_word = NativeU128{kSixSyllables} * static_cast<uint64_t>(inner >> 64);
  uint64_t hi = 0;
  uint64_t lo = 0;
  bool overflow = (by_high_word >> 64) != 0;
  overflow |= __builtin_add_overflow(static_cast<uint64_t>(by_low_word >> 64),
                                     static_cast<uint64_t>(by_high_word), &hi);
  const bool carry = __builtin_add_overflow(static_cast<uint64_t>(by_low_word), low, &lo);
  overflow |= __builtin_add_overflow(hi, uint64_t{carry}, &hi);
  *out = U128(hi, lo);
  return !overflow;
}

}  // namespace

void units_to_digits(std::span<const uint8_t> units, uint16_t* digits_out) {
#if defined(__x86_64__)
  if (with_ssse3() && units.size() == 2 * kMaxDataSyllables) {
    fourteen_digits_ssse3(units.data(), digits_out);
    return;
  }
#endif
  for (size_t d = 0; d < units.size() / 2; ++d) {
    digits_out[d] = static_cast<uint16_t>(syllable_digit(units[2 * d], units[2 * d + 1]));
  }
}

bool units_to_value_checked(std::span<const uint8_t> units, U128* out) {
  if (units.size() == 2 * kMaxDataSyllables) {
    U128 value;
    if (!fourteen_syllables_to_value(units.data(), &value)) { return false; }
    *out = value;
    return true;
  }
  // Digits are gathered six at a time in a 64-bit word (a raw digit is below 4,700, so six of
  // them stay below 2^60), and only the steps between such chunks need 128-bit arithmetic with
  // overflow checks.
  constexpr NativeU128 kChunkBase = kSixSyllables;
  constexpr size_t kChunkDigits = 6;
  const size_t n = (units.size() + 1) / 2;
  NativeU128 value = 0;
  size_t k = n;
  size_t chunk_len = n % kChunkDigits == 0 ? kChunkDigits : n % kChunkDigits;
  bool first = true;
  while (k > 0) {
    uint64_t chunk = 0;
    for (size_t d = 0; d < chunk_len; ++d) {
      chunk = chunk * kSyllableBase + raw_digit(units, --k);
    }
    if (first) {
      value = chunk;
      first = false;
    } else {
      NativeU128 next = 0;
      if (__builtin_mul_overflow(value, kChunkBase, &next)) { return false; }
      if (__builtin_add_overflow(next, NativeU128{chunk}, &value)) { return false; }
    }
    chunk_len = kChunkDigits;
  }
  *out = U128::from_native(value);
  return true;
}

size_t canonical_text(std::span<const uint8_t> units, char* out) {
  // A pair of units is spelled as one four-byte store of its letters (zeros after them) and
  // the end advances by their number; the contract's room of two bytes per unit keeps every
  // store inside the buffer.
  const auto& texts = kUnitTexts[0];
  size_t len = 0;
  size_t k = 0;
  for (; k + 1 < units.size(); k += 2) {
    const UnitText first = texts[units[k]];
    const UnitText second = texts[units[k + 1]];
    store_letters(first.letters | uint32_t{second.letters} << (8 * first.len), out + len);
    len += first.len + second.len;
  }
  if (k < units.size()) {
    const UnitText t = texts[units[k]];
    out[len] = static_cast<char>(t.letters & 0xFF);
    out[len + 1] = static_cast<char>(t.letters >> 8);
    len += t.len;
  }
  return len;
}

const UnitLetterTables& unit_letter_tables() {
  static const UnitLetterTables tables = [] {
    UnitLetterTables t{};
    for (size_t i = 0; i < 128; ++i) {
      const uint8_t unit = static_cast<uint8_t>((i & 0x3F) | (i & 0x40) << 1);
      const UnitText text = kUnitTexts[0][unit];
      t.first[i] = static_cast<uint8_t>(text.letters & 0xFF);
      t.second[i] = static_cast<uint8_t>(text.letters >> 8);
    }
    return t;
  }();
  return tables;
}

const SyllableLetterTable& syllable_letter_table(size_t level, LetterCase letter_case) {
  static const std::array<std::array<SyllableLetterTable, 2>, kNumLevels> tables = [] {
    std::array<std::array<SyllableLetterTable, 2>, kNumLevels> all{};
    for (size_t l = 0; l < kNumLevels; ++l) {
      for (size_t c = 0; c < 2; ++c) {
        for (size_t i = 0; i < kNumOnsets + kNumNuclei; ++i) {
          const uint8_t unit =
              static_cast<uint8_t>(i < kNumOnsets ? i : (i - kNumOnsets) | kNucleusFlag);
          const uint16_t letters = kUnitTexts[l][unit].letters;
          // Upper case flips the letters, and keeps the zeros after them.
          const uint16_t flip = static_cast<LetterCase>(c) == LetterCase::kUpper
                                    ? static_cast<uint16_t>(((letters & 0xFF) != 0 ? 0x20 : 0) |
                                                            ((letters >> 8) != 0 ? 0x2000 : 0))
                                    : 0;
          all[l][c].letters[i] = static_cast<uint16_t>(letters ^ flip);
        }
      }
    }
    return all;
  }();
  return tables[level][static_cast<size_t>(letter_case)];
}

std::string canonical_text(std::span<const uint8_t> units) {
  std::string text(units.size() * 2, '\0');
  text.resize(canonical_text(units, text.data()));
  return text;
}

}  // namespace tavik::core
