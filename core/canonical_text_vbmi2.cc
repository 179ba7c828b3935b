// The canonical text of up to 32 units, and the words of encode_many, in a few vector steps
// with AVX-512 VBMI and VBMI2 (compiled with -mavx512f -mavx512bw -mavx512vbmi -mavx512vbmi2
// and -mpclmul; called only where the processor has them): each unit's or syllable's letters
// looked up in registers, side by side, and the letters packed together.

#include "core/render.h"

#include <algorithm>

#include "core/encode.h"

#if defined(__x86_64__)

#include "core/avx512.h"
#include "core/crc_clmul_pieces.h"

namespace tavik::core {

namespace {

// The letters of the units in `unit` (the bytes of `present`), each unit's two letters side by
// side and zeros where a letter is missing.
inline __m512i unit_letters(const UnitLetterTables& tables, __m512i unit, __mmask64 present) {
  // A unit's place in the tables: its low six bits, and bit 6 for a nucleus (bit 7). A unit
  // with bit 6 set is out of range, and spells nothing.
  const __mmask64 spelled =
      present & ~_mm512_test_epi8_mask(unit, _mm512_set1_epi8(0x40));
  const __m512i index = _mm512_or_si512(
      _mm512_and_si512(unit, _mm512_set1_epi8(0x3F)),
      _mm512_srli_epi16(_mm512_and_si512(unit, _mm512_set1_epi8(static_cast<char>(0x80))), 1));
  const __m512i first = _mm512_maskz_permutex2var_epi8(
      spelled, _mm512_load_si512(tables.first), index, _mm512_load_si512(tables.first + 64));
  const __m512i second = _mm512_maskz_permutex2var_epi8(
      spelled, _mm512_load_si512(tables.second), index, _mm512_load_si512(tables.second + 64));
  // Letters 2k and 2k + 1 are unit k's.
  return _mm512_permutex2var_epi8(first, avx512::interleave_bytes(), second);
}

// The nucleus d / 35 of each digit d below 700 in 16-bit lanes, (d * 1873) >> 16, and its
// onset d mod 35 in *onset.
inline __m512i split_digits(__m512i digit, __m512i* onset) {
  const __m512i nucleus = _mm512_mulhi_epu16(digit, _mm512_set1_epi16(1873));
  *onset = _mm512_sub_epi16(digit, _mm512_mullo_epi16(nucleus, _mm512_set1_epi16(kNumOnsets)));
  return nucleus;
}

// The text of the letters: those that are not zero, packed from byte 0 with zeros after them;
// its length in *len.
inline __m512i packed_text(__m512i letters, size_t* len) {
  const __mmask64 text = _mm512_test_epi8_mask(letters, letters);
  *len = static_cast<size_t>(__builtin_popcountll(text));
  return _mm512_maskz_compress_epi8(text, letters);
}

}  // namespace

size_t canonical_text_vbmi2(const UnitLetterTables& tables, const uint8_t* units,
                            size_t num_units, uint8_t out[64]) {
  const __mmask64 present = _cvtu64_mask64((uint64_t{1} << num_units) - 1);
  const __m512i letters =
      unit_letters(tables, _mm512_maskz_loadu_epi8(present, units), present);
  size_t len = 0;
  _mm512_storeu_si512(out, packed_text(letters, &len));
  return len;
}

namespace {

// The canonical text of the digits in a register, its letters packed from byte 0, zeros after
// them; its length in *len.
inline __m512i digits_text(const UnitLetterTables& tables, const uint16_t* digits,
                           size_t num_digits, size_t* len) {
  // Each digit d as its two units, onset d mod 35 and nucleus d / 35 with its flag, in the
  // little-endian bytes of its 16-bit lane.
  const __mmask32 present =
      _cvtu32_mask32(static_cast<uint32_t>((uint64_t{1} << num_digits) - 1));
  __m512i onset;
  const __m512i nucleus = split_digits(_mm512_maskz_loadu_epi16(present, digits), &onset);
  const __m512i unit = _mm512_or_si512(
      onset, _mm512_slli_epi16(_mm512_or_si512(nucleus, _mm512_set1_epi16(kNucleusFlag)), 8));
  const __m512i letters =
      unit_letters(tables, unit, _cvtu64_mask64((uint64_t{1} << (2 * num_digits)) - 1));
  return packed_text(letters, len);
}

}  // namespace

size_t digits_text_vbmi2(const UnitLetterTables& tables, const uint16_t* digits,
                         size_t num_digits, uint8_t out[64]) {
  size_t len = 0;
  _mm512_storeu_si512(out, digits_text(tables, digits, num_digits, &len));
  return len;
}

void digits_texts_crc_vbmi2(const UnitLetterTables& tables, const uint16_t* const digits[4],
                            size_t num_digits, uint32_t crc_registers[4], size_t lens[4]) {
  // The four words side by side, each text folded from its register (a load of a text just
  // stored would wait for the store to reach the cache), at the end of its 64 bytes.
  __m512i texts[4];
  for (size_t w = 0; w < 4; ++w) {
    const __m512i text = digits_text(tables, digits[w], num_digits, &lens[w]);
    texts[w] = _mm512_maskz_expand_epi8(
        _cvtu64_mask64(lens[w] == 0 ? 0 : ~uint64_t{0} << (64 - lens[w])), text);
  }
  for (size_t w = 0; w < 4; ++w) {
    crc_registers[w] = crc32_register_of_pieces(
        _mm512_castsi512_si128(texts[w]), _mm512_extracti32x4_epi32(texts[w], 1),
        _mm512_extracti32x4_epi32(texts[w], 2), _mm512_extracti32x4_epi32(texts[w], 3));
  }
}

namespace {

// The text of one word as word_texts_vbmi2 writes it, and its length.
inline size_t word_text(const SyllableLetterTable& table, const uint16_t* data_digits,
                        size_t num_data, uint32_t separator_mask, const uint16_t* check_digits,
                        size_t num_check, uint8_t separator, char* out) {
  // The digits of the syllables in 16-bit lanes, the data digits first and the check digits
  // after them; the onset (d mod 35) and nucleus (d / 35) of each as its entry in the table.
  const size_t num_syllables = num_data + num_check;
  const uint32_t data = static_cast<uint32_t>((uint64_t{1} << num_data) - 1);
  const uint32_t check = static_cast<uint32_t>(((uint64_t{1} << num_check) - 1) << num_data);
  const __m512i digit = _mm512_mask_expandloadu_epi16(
      _mm512_maskz_loadu_epi16(_cvtu32_mask32(data), data_digits), _cvtu32_mask32(check),
      check_digits);
  __m512i onset;
  const __m512i nucleus_entry =
      _mm512_add_epi16(split_digits(digit, &onset), _mm512_set1_epi16(kNumOnsets));
  const __m512i table_low = _mm512_load_si512(table.letters);
  const __m512i table_high = _mm512_load_si512(table.letters + 32);
  // Each syllable in the eight bytes of a 64-bit lane: its onset's letters, its nucleus's, and
  // the separator that goes after it (before the next data syllable where the mask says, and
  // before the check syllables), eight syllables a vector. The text is the bytes that are not
  // zero.
  const uint32_t separator_after =
      ((separator_mask & data) >> 1) | (uint32_t{1} << (num_data - 1));
  const __m512i separator_lanes = _mm512_set1_epi64(static_cast<int64_t>(separator) << 32);
  size_t len = 0;
  for (size_t half = 0; half < 2; ++half) {
    // The onset of syllable 8 * half + s to 16-bit lane 4s, its nucleus to lane 4s + 1.
    const int16_t b = static_cast<int16_t>(8 * half);
    const __m512i entries = _mm512_permutex2var_epi16(
        onset,
        _mm512_set_epi16(0, 0, 39 + b, 7 + b, 0, 0, 38 + b, 6 + b, 0, 0, 37 + b, 5 + b, 0, 0,
                         36 + b, 4 + b, 0, 0, 35 + b, 3 + b, 0, 0, 34 + b, 2 + b, 0, 0, 33 + b,
                         1 + b, 0, 0, 32 + b, b),
        nucleus_entry);
    const size_t count = std::min<size_t>(num_syllables - std::min(num_syllables, 8 * half), 8);
    const __mmask32 spelled =
        _cvtu32_mask32(static_cast<uint32_t>(0x33333333 & ((uint64_t{1} << (4 * count)) - 1)));
    const __m512i letters =
        _mm512_maskz_permutex2var_epi16(spelled, table_low, entries, table_high);
    const __m512i slots = _mm512_mask_or_epi64(
        letters, static_cast<__mmask8>(separator_after >> (8 * half)), letters, separator_lanes);
    const __mmask64 text = _mm512_test_epi8_mask(slots, slots);
    const size_t piece = static_cast<size_t>(__builtin_popcountll(text));
    _mm512_mask_storeu_epi8(out + len, _cvtu64_mask64((uint64_t{1} << piece) - 1),
                            _mm512_maskz_compress_epi8(text, slots));
    len += piece;
  }
  return len;
}

}  // namespace

void word_texts_vbmi2(const SyllableLetterTable& table,
                      std::span<const std::array<uint16_t, kMaxDataSyllables>> data_digits,
                      size_t num_data, const uint32_t* separator_masks,
                      const std::array<uint16_t, kMaxCheckSyllables>* check_digits,
                      size_t num_check, uint8_t separator, const uint32_t* index,
                      EncodedText* texts) {
  for (size_t j = 0; j < data_digits.size(); ++j) {
    EncodedText& text = texts[index[j]];
    text.len = word_text(table, data_digits[j].data(), num_data, separator_masks[j],
                         check_digits[j].data(), num_check, separator, text.data);
  }
}

}  // namespace tavik::core

#endif
