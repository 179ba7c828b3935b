// The canonical text of up to 32 units in a few vector steps with AVX-512 VBMI and VBMI2
// (compiled with -mavx512f -mavx512bw -mavx512vbmi -mavx512vbmi2 and -mpclmul; called only
// where the processor has them): each unit's two letters looked up in registers, side by
// side, and the letters packed together.

#include "core/render.h"

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
  // little-endian bytes of its 16-bit lane; d / 35 is (d * 1873) >> 16 for d below 700.
  const __mmask32 present =
      _cvtu32_mask32(static_cast<uint32_t>((uint64_t{1} << num_digits) - 1));
  const __m512i digit = _mm512_maskz_loadu_epi16(present, digits);
  const __m512i nucleus = _mm512_mulhi_epu16(digit, _mm512_set1_epi16(1873));
  const __m512i onset =
      _mm512_sub_epi16(digit, _mm512_mullo_epi16(nucleus, _mm512_set1_epi16(kNumOnsets)));
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

}  // namespace tavik::core

#endif
