// The syllable lengths of a text sixteen letters at a time, with SSSE3 (compiled with
// -mssse3; called only where the processor has it).

#include "core/syllable_lengths.h"

#if defined(__x86_64__)

#include <tmmintrin.h>

namespace tavik::core {

namespace {

// lookup reads table[letter] for sixteen letters of 0-31 at once.
__m128i lookup(const uint8_t table[32], __m128i letters) {
  const __m128i low = _mm_shuffle_epi8(_mm_load_si128(reinterpret_cast<const __m128i*>(table)),
                                       letters);
  const __m128i high = _mm_shuffle_epi8(
      _mm_load_si128(reinterpret_cast<const __m128i*>(table + 16)), letters);
  const __m128i upper = _mm_cmpgt_epi8(letters, _mm_set1_epi8(15));
  return _mm_or_si128(_mm_and_si128(upper, high), _mm_andnot_si128(upper, low));
}

__m128i load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

// has(x, bits) is 0xFF where x holds any of bits, else 0.
__m128i has(__m128i x, uint8_t bits) {
  const __m128i zero = _mm_setzero_si128();
  return _mm_xor_si128(_mm_cmpeq_epi8(_mm_and_si128(x, _mm_set1_epi8(static_cast<char>(bits))),
                                      zero),
                       _mm_set1_epi8(-1));
}

// select is a where mask is set, else b.
__m128i select(__m128i mask, __m128i a, __m128i b) {
  return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b));
}

// nucleus_length is the length of the nucleus at each letter whose class is c, the classes of
// the two letters after it being c1 and c2: 0 for no vowel; 2 when an ending follows the vowel
// and a single onset or the end of the text follows the ending; else 1.
__m128i nucleus_length(__m128i c, __m128i c1, __m128i c2) {
  const __m128i one = _mm_set1_epi8(1);
  const __m128i vowel = has(c, kClassVowel);
  const __m128i ending = _mm_and_si128(has(c1, kClassEnding), has(c2, kClassOnsetOrEnd));
  return _mm_and_si128(vowel, _mm_add_epi8(one, _mm_and_si128(ending, one)));
}

}  // namespace

void syllable_lengths_ssse3(const SyllableClassTables& tables, const uint8_t* letters,
                            size_t num_letters, uint8_t* lengths) {
  // Each block of sixteen letters is classed once; the classes of the letters after each one
  // are taken from this block and the next in registers (loads that straddle two stores
  // would wait for both to reach the cache).
  const __m128i zero = _mm_setzero_si128();
  __m128i x = load(letters);
  __m128i c = lookup(tables.letter_class, x);
  __m128i second = lookup(tables.second_bit, x);
  for (size_t p = 0; p < num_letters; p += 16) {
    const __m128i first = lookup(tables.first_of, x);
    const __m128i x_next = load(letters + p + 16);
    const __m128i c_next = lookup(tables.letter_class, x_next);
    const __m128i second_next = lookup(tables.second_bit, x_next);
    const __m128i c1 = _mm_alignr_epi8(c_next, c, 1);
    const __m128i c2 = _mm_alignr_epi8(c_next, c, 2);
    const __m128i c3 = _mm_alignr_epi8(c_next, c, 3);
    const __m128i c4 = _mm_alignr_epi8(c_next, c, 4);
    // The onset: a cluster first, then a single letter.
    const __m128i cluster = _mm_xor_si128(
        _mm_cmpeq_epi8(_mm_and_si128(first, _mm_alignr_epi8(second_next, second, 1)), zero),
        _mm_set1_epi8(-1));
    const __m128i single = has(c, kClassOnset);
    const __m128i onset = _mm_or_si128(cluster, single);
    const __m128i onset_len = select(cluster, _mm_set1_epi8(2), _mm_set1_epi8(1));
    // The nucleus after it, or the end of the text.
    const __m128i nucleus = select(cluster, nucleus_length(c2, c3, c4), nucleus_length(c1, c2, c3));
    const __m128i ends = select(cluster, has(c2, kClassEnd), has(c1, kClassEnd));
    const __m128i no_nucleus = _mm_cmpeq_epi8(nucleus, zero);
    const __m128i whole = _mm_andnot_si128(no_nucleus, _mm_add_epi8(onset_len, nucleus));
    const __m128i cut = _mm_and_si128(
        _mm_and_si128(no_nucleus, ends),
        _mm_or_si128(onset_len, _mm_set1_epi8(static_cast<char>(kSyllableEndsText))));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lengths + p),
                     _mm_and_si128(onset, _mm_or_si128(whole, cut)));
    x = x_next;
    c = c_next;
    second = second_next;
  }
}

}  // namespace tavik::core

#endif
