// The syllable lengths of a word of up to 63 letters in one step of 64, the letters where its
// syllables start and their units, with AVX-512 VBMI; for a text of up to 64 bytes, its letters
// gathered in registers too, with VBMI2 (compiled with -mavx512f -mavx512bw -mavx512vbmi
// -mavx512vbmi2; called only where the processor has them).

#include "core/syllable_lengths.h"

#if defined(__x86_64__)

#include "core/avx512.h"

#include "core/syllable_lengths_impl.h"

namespace tavik::core {

namespace {

__m512i positions() {
  return _mm512_set_epi8(63, 62, 61, 60, 59, 58, 57, 56, 55, 54, 53, 52, 51, 50, 49, 48, 47, 46,
                         45, 44, 43, 42, 41, 40, 39, 38, 37, 36, 35, 34, 33, 32, 31, 30, 29, 28,
                         27, 26, 25, 24, 23, 22, 21, 20, 19, 18, 17, 16, 15, 14, 13, 12, 11, 10,
                         9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
}

// The operations of SyllableLengths::block on 64 bytes (a word is read in one block, from
// registers, so run's loads and stores are not needed).
struct VbmiOps {
  using V = __m512i;
  static V splat(uint8_t b) { return _mm512_set1_epi8(static_cast<char>(b)); }
  static V zero() { return _mm512_setzero_si512(); }
  // Indices 0-31 pick from the table in either half of the 64-byte copy.
  static V lookup(const uint8_t table[32], V v) {
    const __m256i entries = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(table));
    return _mm512_permutexvar_epi8(v, _mm512_broadcast_i64x4(entries));
  }
  // Indices 64 and up pick from `after`.
  template <int k>
  static V next(V v, V after) {
    return _mm512_permutex2var_epi8(v, _mm512_add_epi8(positions(), splat(k)), after);
  }
  static V or_(V a, V b) { return _mm512_or_si512(a, b); }
  static V add(V a, V b) { return _mm512_add_epi8(a, b); }
  using M = __mmask64;
  static M test(V x, V bits) { return _mm512_test_epi8_mask(x, bits); }
  static M mask_and(M a, M b) { return a & b; }
  static M mask_or(M a, M b) { return a | b; }
  static V select(M m, V a, V b) { return _mm512_mask_blend_epi8(m, b, a); }
  static V zero_unless(M m, V v) { return _mm512_maskz_mov_epi8(m, v); }
};

// low_lanes is the mask of the lowest n lanes (n <= 64).
__mmask64 low_lanes(size_t n) { return n >= 64 ? ~__mmask64{0} : (__mmask64{1} << n) - 1; }

// units_of_letters is syllable_units_vbmi for the letters of N words, each in text[w]:
// num_letters[w] of them (1 to 63) followed by kLetterSentinel. Each step of one word stands
// beside the same step of the others: a word's steps are one chain of latency, which the
// processor runs little of in parallel from one word to the next on its own.
// Inlined into each entry point, so that each ends with vzeroupper: a function that takes a
// vector argument has none, and the upper halves left in use would slow every SSE instruction
// after it.
template <size_t N>
[[gnu::always_inline]] inline void units_of_letters(const SyllableClassTables& classes,
                                                      const SyllableUnitTables& tables,
                                                      const __m512i (&text)[N],
                                                      const size_t (&num_letters)[N],
                                                      const UnitWindow* const (&window)[N],
                                                      int (&num_units)[N]) {
  const __m512i end = VbmiOps::splat(kLetterSentinel);
  const __m512i at = positions();
  const __m512i end_class = VbmiOps::lookup(classes.letter_class, end);
  const __m512i end_second = VbmiOps::lookup(classes.second_bit, end);
  __m512i length[N];
  __mmask64 no_syllable[N];
  __m512i step[N];
  __m512i start[N];
#pragma GCC unroll 4
  for (size_t w = 0; w < N; ++w) {
    length[w] = SyllableLengths<VbmiOps>::block(
        classes, text[w], VbmiOps::lookup(classes.letter_class, text[w]),
        VbmiOps::lookup(classes.second_bit, text[w]), end_class, end_second);
  }
  // The step from each letter to the next syllable's start. A letter where the walk stops
  // steps to itself: past the letters (the walk is done), where no syllable can start (it
  // fails), and at an onset that ends the text (the last start). Steps past the 63 letters
  // end at letter 63, which lies past the letters too.
#pragma GCC unroll 4
  for (size_t w = 0; w < N; ++w) {
    no_syllable[w] = _mm512_cmpeq_epi8_mask(length[w], VbmiOps::zero());
    const __mmask64 stops =
        no_syllable[w] |
        _mm512_test_epi8_mask(length[w], VbmiOps::splat(kSyllableEndsText)) |
        _mm512_cmpge_epu8_mask(at, VbmiOps::splat(static_cast<uint8_t>(num_letters[w])));
    step[w] = _mm512_mask_blend_epi8(
        stops, _mm512_min_epu8(_mm512_add_epi8(at, length[w]), VbmiOps::splat(63)), at);
    start[w] = VbmiOps::zero();
  }
  // Lane k of `start` becomes the letter reached after k mod 32 steps from letter 0: for each
  // bit of k mod 32, 2^bit steps at once, the step doubled each round. Every step covers at
  // least two letters until the walk stops, so 31 steps reach letter 62 or stop before, and
  // letter 62 of 63 has only the sentinel after it: the walk has stopped by then. The starts
  // come in order until the letter where the walk stops, which repeats, and lanes 32-63 repeat
  // lanes 0-31: the lanes that differ from the last count every syllable twice, its two units.
  constexpr __mmask64 kLanesWithBit[5] = {0xAAAAAAAAAAAAAAAAULL, 0xCCCCCCCCCCCCCCCCULL,
                                          0xF0F0F0F0F0F0F0F0ULL, 0xFF00FF00FF00FF00ULL,
                                          0xFFFF0000FFFF0000ULL};
  for (const __mmask64 lanes : kLanesWithBit) {
#pragma GCC unroll 4
    for (size_t w = 0; w < N; ++w) {
      start[w] = _mm512_mask_permutexvar_epi8(start[w], lanes, start[w], step[w]);
      step[w] = _mm512_permutexvar_epi8(step[w], step[w]);
    }
  }
  const __m512i one = VbmiOps::splat(1);
#pragma GCC unroll 4
  for (size_t w = 0; w < N; ++w) {
    const __m512i last_start = _mm512_permutexvar_epi8(VbmiOps::splat(63), start[w]);
    num_units[w] = __builtin_popcountll(_mm512_cmpneq_epi8_mask(start[w], last_start));
    const uint8_t last =
        static_cast<uint8_t>(_mm_cvtsi128_si32(_mm512_castsi512_si128(last_start)));
    if (last < num_letters[w]) {
      if (((no_syllable[w] >> last) & 1) != 0) {
        num_units[w] = -1;
        continue;
      }
      ++num_units[w];  // an onset that ends the text
    }
    // Each syllable's units: the onset a cluster where its two letters spell one, else the
    // single onset of the first; the nucleus its vowel, with the ending where the syllable's
    // length says.
    const __m512i first = _mm512_permutexvar_epi8(start[w], text[w]);
    const __m512i second = _mm512_permutexvar_epi8(_mm512_add_epi8(start[w], one), text[w]);
    const __mmask64 cluster = _mm512_test_epi8_mask(VbmiOps::lookup(classes.first_of, first),
                                                    VbmiOps::lookup(classes.second_bit, second));
    const __m512i code = _mm512_or_si512(VbmiOps::lookup(tables.first_code, first),
                                         VbmiOps::lookup(tables.second_index, second));
    const __m512i onset_unit = _mm512_mask_blend_epi8(
        cluster, VbmiOps::lookup(tables.single_onset, first),
        _mm512_permutex2var_epi8(_mm512_load_si512(tables.cluster_onset), code,
                                 _mm512_load_si512(tables.cluster_onset + 64)));
    const __m512i onset_len = _mm512_mask_add_epi8(one, cluster, one, one);
    const __m512i vowel_at = _mm512_add_epi8(start[w], onset_len);
    const __m512i vowel =
        VbmiOps::lookup(tables.vowel, _mm512_permutexvar_epi8(vowel_at, text[w]));
    const __m512i ending = VbmiOps::lookup(
        tables.ending, _mm512_permutexvar_epi8(_mm512_add_epi8(vowel_at, one), text[w]));
    const __m512i with_ending = _mm512_add_epi8(
        _mm512_add_epi8(VbmiOps::splat(5), ending),
        _mm512_add_epi8(vowel, _mm512_add_epi8(vowel, vowel)));
    const __mmask64 has_ending = _mm512_cmpeq_epi8_mask(
        _mm512_sub_epi8(_mm512_permutexvar_epi8(start[w], length[w]), onset_len),
        VbmiOps::splat(2));
    const __m512i nucleus = _mm512_or_si512(
        VbmiOps::splat(0x80), _mm512_mask_blend_epi8(has_ending, vowel, with_ending));
    // Onset and nucleus of syllable s as units 2s and 2s + 1; the window is the last of them,
    // moved down to lane 0 and stored in its two parts.
    const __m512i units =
        _mm512_permutex2var_epi8(onset_unit, avx512::interleave_bytes(), nucleus);
    const UnitWindow& win = *window[w];
    const size_t size = win.num_data + win.num_check;
    if (win.data_text != nullptr && static_cast<size_t>(num_units[w]) == size) {
      // The data units are all the syllables before the first check syllable: their letters.
      const __m512i check_start = _mm512_permutexvar_epi8(
          VbmiOps::splat(static_cast<uint8_t>(win.num_data / 2)), start[w]);
      const size_t len =
          static_cast<uint8_t>(_mm_cvtsi128_si32(_mm512_castsi512_si128(check_start)));
      const __m512i lower = _mm512_add_epi8(text[w], VbmiOps::splat('a'));
      _mm512_storeu_si512(
          win.data_text,
          win.text_at_end
              ? _mm512_maskz_permutexvar_epi8(
                    ~low_lanes(64 - len),
                    _mm512_sub_epi8(at, VbmiOps::splat(static_cast<uint8_t>(64 - len))), lower)
              : _mm512_maskz_mov_epi8(low_lanes(len), lower));
      *win.data_text_len = len;
    }
    if (static_cast<size_t>(num_units[w]) >= size) {
      const uint8_t first_kept = static_cast<uint8_t>(static_cast<size_t>(num_units[w]) - size);
      const __m512i from = _mm512_add_epi8(at, VbmiOps::splat(first_kept));
      _mm512_mask_storeu_epi8(win.data, low_lanes(win.num_data),
                              _mm512_permutexvar_epi8(from, units));
      _mm512_mask_storeu_epi8(
          win.check, low_lanes(win.num_check),
          _mm512_permutexvar_epi8(
              _mm512_add_epi8(from, VbmiOps::splat(static_cast<uint8_t>(win.num_data))), units));
    }
  }
}

}  // namespace

namespace {

// The letters of text[0, len) (len <= 64), 0-25, packed into the low lanes with the sentinel
// after them, and their number. The bytes past the text are not read: a masked load touches
// only the bytes it keeps.
[[gnu::always_inline]] inline __m512i letters_of_text(const uint8_t* text, size_t len,
                                                      size_t* num_letters) {
  const __mmask64 in_text = low_lanes(len);
  const __m512i bytes = _mm512_maskz_loadu_epi8(in_text, text);
  // A byte is a letter where its lower-case form less 'a' is at most 25: exactly A-Z and a-z.
  const __m512i index = _mm512_sub_epi8(_mm512_or_si512(bytes, VbmiOps::splat(0x20)),
                                        VbmiOps::splat('a'));
  const __mmask64 is_letter =
      _mm512_mask_cmple_epu8_mask(in_text, index, VbmiOps::splat(kLetterSentinel - 1));
  *num_letters = static_cast<size_t>(__builtin_popcountll(is_letter));
  const __mmask64 past = ~low_lanes(*num_letters);
  return _mm512_mask_blend_epi8(past, _mm512_maskz_compress_epi8(is_letter, index),
                                VbmiOps::splat(kLetterSentinel));
}

}  // namespace

int syllable_units_vbmi(const SyllableClassTables& classes, const SyllableUnitTables& tables,
                        const uint8_t* letters, size_t num_letters, const UnitWindow& window) {
  if (num_letters == 0) { return 0; }
  const __mmask64 past = ~low_lanes(num_letters);
  const __m512i text[1] = {
      _mm512_mask_blend_epi8(past, _mm512_loadu_si512(letters), VbmiOps::splat(kLetterSentinel))};
  const size_t counts[1] = {num_letters};
  const UnitWindow* const windows[1] = {&window};
  int num_units[1];
  units_of_letters<1>(classes, tables, text, counts, windows, num_units);
  return num_units[0];
}

int text_units_vbmi2(const SyllableClassTables& classes, const SyllableUnitTables& tables,
                     const uint8_t* text, size_t len, const UnitWindow& window,
                     size_t* num_letters) {
  const __m512i letters[1] = {letters_of_text(text, len, num_letters)};
  if (*num_letters == 0 || *num_letters > kVbmiMaxLetters) { return 0; }
  const size_t counts[1] = {*num_letters};
  const UnitWindow* const windows[1] = {&window};
  int num_units[1];
  units_of_letters<1>(classes, tables, letters, counts, windows, num_units);
  return num_units[0];
}

bool text_units_vbmi2_four(const SyllableClassTables& classes, const SyllableUnitTables& tables,
                           const uint8_t* const (&text)[4], const size_t (&len)[4],
                           const UnitWindow* const (&window)[4], int (&num_units)[4]) {
  __m512i letters[4];
  size_t num_letters[4];
  for (size_t w = 0; w < 4; ++w) {
    letters[w] = letters_of_text(text[w], len[w], &num_letters[w]);
    if (num_letters[w] == 0 || num_letters[w] > kVbmiMaxLetters) { return false; }
  }
  units_of_letters<4>(classes, tables, letters, num_letters, window, num_units);
  return true;
}

}  // namespace tavik::core

#endif
