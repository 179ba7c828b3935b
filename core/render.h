#ifndef TAVIK_CORE_RENDER_H_
#define TAVIK_CORE_RENDER_H_

// The syllable alphabet and the number format under it. A syllable is an onset (35 choices)
// and a nucleus (20 choices), held as two units: the onset unit is the onset index 0-34, the
// nucleus unit is 0x80 | nucleus index 0-19. The index order of every table is part of the
// format: changing it changes every code word.

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

#include "core/types.h"
#include "base/u128.h"

namespace tavik::core {

inline constexpr size_t kNumOnsets = 35;
inline constexpr size_t kNumSingleOnsets = 15;
inline constexpr size_t kNumClusters = 20;
inline constexpr size_t kNumNuclei = 20;
inline constexpr uint8_t kNucleusFlag = 0x80;
inline constexpr uint32_t kSyllableBase = 700;  // kNumOnsets * kNumNuclei
// 700^6, the largest power of 700 below 2^64: six syllables' worth of a value.
inline constexpr uint64_t kSixSyllables = uint64_t{kSyllableBase} * kSyllableBase * kSyllableBase *
                                          kSyllableBase * kSyllableBase * kSyllableBase;
// The widest syllable is four letters (a cluster and a vowel with an ending).
inline constexpr size_t kMaxSyllableLen = 4;

// Onset tables by level code, nucleus table, and the code-point arrays used to classify
// letters: each level's single onsets in table order, the vowels and the endings.
extern const std::array<std::array<std::string_view, kNumOnsets>, kNumLevels> kOnsets;
extern const std::array<std::string_view, kNumNuclei> kNuclei;
extern const std::array<std::array<char, kNumSingleOnsets>, kNumLevels> kSingleOnsetLetters;
inline constexpr std::array<char, 5> kVowelLetters = {'a', 'e', 'i', 'o', 'u'};
inline constexpr std::array<char, 3> kEndingLetters = {'n', 'l', 'r'};

// UnitText is the lower-case spelling of one unit at one level, packed for writers that store
// two bytes at a time: the first letter in the low byte, the second (or 0) in the high byte,
// and the number of letters (0 for an out-of-range unit).
struct UnitText {
  uint16_t letters;
  uint8_t len;
};

// kUnitTexts[level][unit] spells every unit byte at every level, as render_unit does.
extern const std::array<std::array<UnitText, 256>, kNumLevels> kUnitTexts;

// store_letters writes four bytes of letters packed as in UnitText (the first in the low
// byte) to out[0, 4), whatever the host's byte order. Writers store a syllable's letters at
// once this way, zeros after them, and advance by its length.
inline void store_letters(uint32_t letters, char* out) {
  if constexpr (std::endian::native == std::endian::big) { letters = __builtin_bswap32(letters); }
  std::memcpy(out, &letters, sizeof(letters));
}

// kUpperCaseFlip turns packed lower-case letters (a UnitText's, or a syllable's four bytes)
// into upper case by XOR, since every table entry is made of the letters a-z. The zeros after
// the letters become spaces, which writers overwrite or leave past the end of the text.
inline constexpr uint32_t kUpperCaseFlip = 0x20202020;

// render_unit returns the text of one unit at a level (0-4): the nucleus entry for a unit
// with the high bit set, the level's onset entry otherwise. An out-of-range unit (onset >= 35,
// nucleus >= 20) or level gives the empty piece.
std::string_view render_unit(uint8_t unit, uint8_t level);

// append_cased appends a piece, with a-z made A-Z for kUpper or A-Z made a-z for kLower;
// other characters pass unchanged. The pointer form writes at `out` and returns the new end.
char* append_cased(char* out, std::string_view piece, LetterCase letter_case);
void append_cased(std::string& out, std::string_view piece, LetterCase letter_case);

// syllable_count is the smallest n >= 1 with 700^n >= 2^bits (14 from 123 bits up, and for
// any width above 128).
uint32_t syllable_count(uint32_t bits);

// The syllable of a base-700 digit d (0-699): onset d mod 35, nucleus d / 35.
constexpr uint8_t digit_onset(uint32_t digit) { return static_cast<uint8_t>(digit % kNumOnsets); }
constexpr uint8_t digit_nucleus(uint32_t digit) {
  return static_cast<uint8_t>(kNucleusFlag | (digit / kNumOnsets));
}
// The digit of a syllable given as valid units (onset below 35, nucleus below 20).
inline uint32_t syllable_digit(uint8_t onset_unit, uint8_t nucleus_unit) {
  return onset_unit + uint32_t{kNumOnsets} * (nucleus_unit & 0x7Fu);
}

// kSyllableLetters[level][d] spells the syllable of digit d at a level in lower case, packed
// for store_letters (zeros after its letters); kSyllableWidths[d] is its number of letters,
// the same at every level. Writers that know the digits spell a syllable with one look-up.
extern const std::array<std::array<uint32_t, kSyllableBase>, kNumLevels> kSyllableLetters;
extern const std::array<uint8_t, kSyllableBase> kSyllableWidths;

// value_to_digits writes the low `num_syllables` base-700 digits of a value, least significant
// first. Higher digits are dropped.
void value_to_digits(U128 value, size_t num_syllables, uint16_t* digits_out);

// values_to_digits_avx512 is value_to_digits of values[0, n) with 14 digits each, into out,
// with AVX-512 F, DQ, BW and VL (x86-64 only: callers check that the processor has them).
void values_to_digits_avx512(const U128* values, size_t n,
                             std::array<uint16_t, kMaxDataSyllables>* out);

// digits_to_units writes the two units of the syllable of each digit (each below 700).
void digits_to_units(std::span<const uint16_t> digits, uint8_t* units_out);

// value_to_units writes the low `num_syllables` base-700 digits of a value, least significant
// first, as 2 * num_syllables units. Higher digits are dropped.
void value_to_units(U128 value, size_t num_syllables, uint8_t* units_out);

// units_to_value reads a unit sequence back, wrapping modulo 2^128. Out-of-range units are
// taken as their raw index values.
U128 units_to_value(std::span<const uint8_t> units);

// units_to_value_checked is units_to_value that reports a value of 2^128 or more: it returns
// false then, and true with the value in *out otherwise.
bool units_to_value_checked(std::span<const uint8_t> units, U128* out);

// fourteen_digit_pairs_ssse3 writes the raw digits of the 28 units of fourteen syllables in
// pairs, d_2i + 700 d_2i+1 for i = 0..6, to pairs[0..6], with SSSE3 (x86-64 only: callers
// check that the processor has it). A raw digit is the onset unit plus 35 times the nucleus
// unit without its flag, whatever the units hold.
void fourteen_digit_pairs_ssse3(const uint8_t* units, uint32_t pairs[8]);
// fourteen_digits_ssse3 writes the raw digits themselves, as 16-bit numbers.
void fourteen_digits_ssse3(const uint8_t* units, uint16_t digits[14]);

// units_to_digits writes the raw digit of each unit pair (onset and nucleus) of data units,
// as syllable_digit gives it, to digits_out (units.size() / 2 of them).
void units_to_digits(std::span<const uint8_t> units, uint16_t* digits_out);

// canonical_text spells units with the universal tables in lower case, without separators;
// out-of-range units add nothing. The pointer form needs room for 2 * units.size() bytes
// and returns the length written.
size_t canonical_text(std::span<const uint8_t> units, char* out);
std::string canonical_text(std::span<const uint8_t> units);

// UnitLetterTables spell every unit byte u at level 0 as canonical_text does, for the vector
// form below: its letters at index (u & 0x3F) | (u & 0x80) >> 1 of `first` and `second` (0 for
// none), which a unit with bit 6 set (out of range) does not use.
struct UnitLetterTables {
  alignas(64) uint8_t first[128];
  alignas(64) uint8_t second[128];
};
const UnitLetterTables& unit_letter_tables();

// SyllableLetterTable spells the onsets (entries 0-34) and the nuclei (35-54) of a level (0-4)
// in a letter case, each as its letters packed as in UnitText (zeros after them), for
// word_texts_vbmi2.
struct SyllableLetterTable {
  alignas(64) uint16_t letters[64];
};
const SyllableLetterTable& syllable_letter_table(size_t level, LetterCase letter_case);

// canonical_text_vbmi2 is canonical_text of num_units <= 32 units with AVX-512 VBMI and VBMI2
// (x86-64 only: callers check that the processor has them). It writes 64 bytes, the text and
// zeros after it, and returns the text's length.
size_t canonical_text_vbmi2(const UnitLetterTables& tables, const uint8_t* units,
                            size_t num_units, uint8_t out[64]);

// digits_text_vbmi2 is the canonical text of num_digits <= 16 syllables given as their digits
// (each below 700), as canonical_text_vbmi2 writes it.
size_t digits_text_vbmi2(const UnitLetterTables& tables, const uint16_t* digits,
                         size_t num_digits, uint8_t out[64]);
// digits_texts_crc_vbmi2 gives, for four words of num_digits <= 16 digits each, the CRC
// register (as crc32_register_clmul64 gives it) of the canonical text at the end of 64 bytes,
// zeros before it, and the text's length; it needs PCLMULQDQ as well.
void digits_texts_crc_vbmi2(const UnitLetterTables& tables, const uint16_t* const digits[4],
                            size_t num_digits, uint32_t crc_registers[4], size_t lens[4]);

// syllable_width is the number of letters of a syllable (2 to 4), the same at every level.
constexpr uint32_t syllable_width(uint8_t onset_unit, uint8_t nucleus_unit) {
  const uint32_t onset_width = onset_unit >= kNumSingleOnsets ? 2 : 1;
  const uint32_t nucleus_width = (nucleus_unit & 0x7F) >= 5 ? 2 : 1;
  return onset_width + nucleus_width;
}

}  // namespace tavik::core

#endif  // TAVIK_CORE_RENDER_H_
