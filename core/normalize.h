#ifndef TAVIK_CORE_NORMALIZE_H_
#define TAVIK_CORE_NORMALIZE_H_

// Normalization turns typed text into the data and check units of a code word: forgiving
// about everything that is not an ASCII letter, strict about the letters.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "core/types.h"

namespace tavik::core {

// NormalizedInput holds the units of the window: the last data_unit_count + check_unit_count
// units parsed from the text. Fixed storage, sized for the largest configuration.
struct NormalizedInput {
  uint8_t data_units[kMaxDataUnits];
  uint8_t check_units[kMaxCheckUnits];
  size_t num_data_units = 0;
  size_t num_check_units = 0;
  std::span<const uint8_t> data() const { return {data_units, num_data_units}; }
  std::span<const uint8_t> check() const { return {check_units, num_check_units}; }
};

// CodeUnits is text as a run of code units of one width: UTF-8 bytes (unit_size 1), or the
// code points of a text held as 1, 2 or 4 bytes each. Readers of code words keep only ASCII
// letters, which are the units below 0x80 in every width, so they read any of these in place.
struct CodeUnits {
  const void* data = nullptr;
  size_t len = 0;        // in units
  uint8_t unit_size = 1;  // 1, 2 or 4
  CodeUnits() = default;
  CodeUnits(const void* d, size_t n, uint8_t size) : data(d), len(n), unit_size(size) {}
  // UTF-8 text converts implicitly.
  CodeUnits(std::string_view utf8) : data(utf8.data()), len(utf8.size()) {}
  CodeUnits(const std::string& utf8) : CodeUnits(std::string_view(utf8)) {}
  CodeUnits(const char* utf8) : CodeUnits(std::string_view(utf8)) {}
};

// DataText is where normalize may also put the letters of the window's data units as the
// universal level spells them in lower case (their canonical text, core/render.h), followed by
// zeros up to 64 bytes for the keyed check block, or after zeros for the plain check's CRC
// (at_end). It does so only where that costs it next to nothing (a word of up to 64 bytes read
// at the universal level, whose units are exactly the window), and then sets len; elsewhere
// len stays kNotWritten.
struct DataText {
  static constexpr size_t kNotWritten = static_cast<size_t>(-1);
  uint8_t* bytes = nullptr;  // 64 bytes
  bool at_end = false;
  size_t len = kNotWritten;
};

// normalize keeps the ASCII letters of text (lower-cased), parses them into syllables
// of the level (clusters before single onsets; an n, l or r after a vowel is an ending only
// when it ends the text or a single onset of the level follows) and keeps the last
// data_unit_count + check_unit_count units. It returns false, with no partial result, when
// the text holds no ASCII letter, a letter cannot stand where it stands, or too few units
// were parsed. data_unit_count is at most kMaxDataUnits, check_unit_count at most
// kMaxCheckUnits. Time is linear in the text and memory is constant.
bool normalize(uint8_t level, const CodeUnits& text, size_t data_unit_count,
               size_t check_unit_count, NormalizedInput* out, DataText* data_text = nullptr);

// normalize_four is normalize of four texts; ok[w] is what normalize returns for text[w].
// Where the processor reads a word of up to 64 bytes in registers, it reads four such words
// side by side.
void normalize_four(uint8_t level, const CodeUnits* const (&text)[4], size_t data_unit_count,
                    size_t check_unit_count, NormalizedInput* const (&out)[4],
                    DataText* const (&data_text)[4], bool (&ok)[4]);

// normalize_letter_by_letter is normalize without the steps that read sixteen letters at once
// where the processor allows (the form every processor runs), so that tests can hold the two
// against each other on any machine.
bool normalize_letter_by_letter(uint8_t level, CodeUnits text, size_t data_unit_count,
                                size_t check_unit_count, NormalizedInput* out);
// normalize_sixteen_at_once is normalize without the single step of 64 letters that words of up
// to 63 letters take where the processor has AVX-512 VBMI.
bool normalize_sixteen_at_once(uint8_t level, CodeUnits text, size_t data_unit_count,
                               size_t check_unit_count, NormalizedInput* out);

// NormalizeFailure says why normalize refused a text, for a message to people.
struct NormalizeFailure {
  enum class Kind : uint8_t {
    kNone,      // normalize accepts the text
    kNoLetter,  // the text holds no ASCII letter
    kLetter,    // `letter` cannot stand at `index`: an onset, or a vowel, belongs there
    kTooShort,  // num_units units were parsed, fewer than the window's expected_units
  };
  Kind kind = Kind::kNone;
  size_t index = 0;  // kLetter: position of the letter in the text, in code units
  char letter = 0;   // kLetter: the letter as typed
  bool onset_expected = false;  // kLetter: an onset (else a vowel) was expected
  size_t num_units = 0;         // kTooShort
  size_t expected_units = 0;    // kTooShort: data_unit_count + check_unit_count
};

// diagnose_normalize reads text as normalize does and says where it fails. It is meant for
// the failures only (it is slower than normalize, and allocates): normalize stays the one
// reader of words. An index counts code units: code points for texts of 2- or 4-byte units
// and for one byte per code point, bytes for UTF-8.
NormalizeFailure diagnose_normalize(uint8_t level, CodeUnits text, size_t data_unit_count,
                                    size_t check_unit_count);

}  // namespace tavik::core

#endif  // TAVIK_CORE_NORMALIZE_H_
