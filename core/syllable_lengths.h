#ifndef TAVIK_CORE_SYLLABLE_LENGTHS_H_
#define TAVIK_CORE_SYLLABLE_LENGTHS_H_

// Internal to normalization: the length of the syllable that would start at each letter of a
// text, worked out for sixteen letters at once, so that reading a word walks from one
// syllable to the next with one look-up per step.

#include <cstddef>
#include <cstdint>

namespace tavik::core {

// kLetterSentinel stands for "no letter" past the end of the letters; letters are 0-25.
inline constexpr uint8_t kLetterSentinel = 26;

// A syllable length: 0 when no syllable can start at the letter (no onset there, or no vowel
// after the onset); kSyllableEndsText | the onset's length when the text ends after the onset;
// else the onset's length plus the nucleus's (2 to 4).
inline constexpr uint8_t kSyllableEndsText = 0x80;

// SyllableClassTables are the level's letter classes as 32-entry tables, indexed by letter
// 0-25 and kLetterSentinel:
//   letter_class: kClassVowel, kClassEnding, kClassOnsetOrEnd (a single onset of the level or
//                 the sentinel, before which an ending can stand), kClassOnset (a single
//                 onset), kClassEnd (the sentinel);
//   first_of: for a letter that begins clusters, a bit for each letter that completes one;
//   second_bit: a letter's bit among the second letters of the clusters (0 for none).
struct SyllableClassTables {
  alignas(16) uint8_t letter_class[32];
  alignas(16) uint8_t first_of[32];
  alignas(16) uint8_t second_bit[32];
};
inline constexpr uint8_t kClassVowel = 1;
inline constexpr uint8_t kClassEnding = 2;
inline constexpr uint8_t kClassOnsetOrEnd = 4;
inline constexpr uint8_t kClassOnset = 8;
inline constexpr uint8_t kClassEnd = 16;

// kSyllableLengthsPadding is how many letters past the first num_letters must hold
// kLetterSentinel, and lengths must have room for num_letters rounded up to 16.
inline constexpr size_t kSyllableLengthsPadding = 40;

// syllable_lengths_ssse3 writes to lengths[p] the length of the syllable starting at letter p,
// for every p < num_letters (and up to 15 past it), with SSSE3 (x86-64 only: callers check
// that the processor has it); syllable_lengths_neon does the same on aarch64, and
// syllable_lengths_wasm in a WebAssembly build with SIMD.
void syllable_lengths_ssse3(const SyllableClassTables& tables, const uint8_t* letters,
                            size_t num_letters, uint8_t* lengths);
void syllable_lengths_neon(const SyllableClassTables& tables, const uint8_t* letters,
                           size_t num_letters, uint8_t* lengths);
void syllable_lengths_wasm(const SyllableClassTables& tables, const uint8_t* letters,
                           size_t num_letters, uint8_t* lengths);

// SyllableUnitTables are the rest of what reading a word's units takes, as 32-entry tables by
// letter (0-25 and kLetterSentinel) for the step of 64 letters: a cluster's onset is found by
// its pair's code, first_code[first] + second_index[second] (first_code a multiple of 8 below
// 128, second_index the place of the second letter's bit in second_bit), in cluster_onset; a
// single onset, a vowel's and an ending's index by the letter. Entries for letters that are
// none of these are 0.
struct SyllableUnitTables {
  alignas(64) uint8_t cluster_onset[128];
  alignas(32) uint8_t first_code[32];
  alignas(32) uint8_t second_index[32];
  alignas(32) uint8_t single_onset[32];
  alignas(32) uint8_t vowel[32];
  alignas(32) uint8_t ending[32];
};

// UnitWindow is where a reading of units puts the last num_data + num_check of them: the first
// num_data at data, the rest at check. With data_text, a reading whose window is every unit it
// read also writes the letters of the data units there (lower case, zeros after them up to 64
// bytes, or with text_at_end zeros before them) and their number to *data_text_len; otherwise
// it leaves both alone.
struct UnitWindow {
  size_t num_data;
  size_t num_check;
  uint8_t* data;
  uint8_t* check;
  uint8_t* data_text = nullptr;
  size_t* data_text_len = nullptr;
  bool text_at_end = false;
};

// syllable_units_vbmi reads the units of a text of num_letters <= kVbmiMaxLetters letters in
// one step of 64 with AVX-512 VBMI and VBMI2 (x86-64 only: callers check that the processor
// has both), as the walk from syllable to syllable does: while a whole syllable starts at its
// letter, its onset and nucleus, up to an onset that ends the text (one unit) or the end of the
// letters. letters needs 64 readable bytes. It returns the number of units, or -1 when the walk
// reaches a letter where no syllable can start; when there are enough units it writes the
// window's, and else nothing.
inline constexpr size_t kVbmiMaxLetters = 63;
int syllable_units_vbmi(const SyllableClassTables& classes, const SyllableUnitTables& tables,
                        const uint8_t* letters, size_t num_letters, const UnitWindow& window);

// text_units_vbmi2 is syllable_units_vbmi for the letters of text[0, len), len <= 64 (A-Z and
// a-z alike; every other byte is dropped), gathered in registers. It writes their number to
// *num_letters and reads them only when there are 1 to kVbmiMaxLetters of them; otherwise it
// returns 0 and writes no units.
int text_units_vbmi2(const SyllableClassTables& classes, const SyllableUnitTables& tables,
                     const uint8_t* text, size_t len, const UnitWindow& window,
                     size_t* num_letters);

// text_units_vbmi2_four is text_units_vbmi2 for four texts at once, the steps of each beside
// those of the others. It reads them only when each has 1 to kVbmiMaxLetters letters, and
// otherwise returns false and writes no units.
bool text_units_vbmi2_four(const SyllableClassTables& classes, const SyllableUnitTables& tables,
                           const uint8_t* const (&text)[4], const size_t (&len)[4],
                           const UnitWindow* const (&window)[4], int (&num_units)[4]);

// gather_letters_ssse3 writes the letters (0-25; A-Z and a-z alike) of text[0, len) to
// letters, in order, and returns their number; every other byte is dropped. letters needs
// room for len + 16 bytes. With SSSE3, sixteen bytes a step (x86-64 only).
size_t gather_letters_ssse3(const uint8_t* text, size_t len, uint8_t* letters);

}  // namespace tavik::core

#endif  // TAVIK_CORE_SYLLABLE_LENGTHS_H_
