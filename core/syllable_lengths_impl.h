#ifndef TAVIK_CORE_SYLLABLE_LENGTHS_IMPL_H_
#define TAVIK_CORE_SYLLABLE_LENGTHS_IMPL_H_

// Internal to normalization: the syllable lengths of core/syllable_lengths.h written once over
// vector operations on kWidth bytes (16, or 64 with AVX-512 VBMI), for the files that compile
// it for one instruction set (syllable_lengths_ssse3.cc, _neon.cc, _wasm.cc, _vbmi.cc). Ops
// provides (kWidth, load and store only where run is used):
//   V; kWidth; load(p) (kWidth bytes, unaligned); store(p, v); splat(b); zero();
//   lookup(table, v): table[v] for indices 0-31 (table 16-byte aligned, 32 entries);
//   next<k>(v, after): bytes k .. k+kWidth-1 of v followed by after;
//   or_, add;
//   M, a mask of lanes, with test(x, bits) (the lanes where x holds any of bits), mask_and,
//   mask_or, select(m, a, b) (a where m is set, else b) and zero_unless(m, v). Ops without mask
//   registers take these from ByteMasks, which needs and_, andnot(a, b) = a & ~b and eq (0xFF
//   where equal).

#include <cstddef>
#include <cstdint>

#include "core/syllable_lengths.h"

namespace tavik::core {
namespace {

// ByteMasks gives Ops without mask registers the mask operations: a mask is a vector of 0xFF
// (set) and 0 bytes.
template <typename Ops>
struct ByteMasks {
  template <typename V>
  static V test(V x, V bits) {
    return Ops::andnot(Ops::splat(0xFF), Ops::eq(Ops::and_(x, bits), Ops::zero()));
  }
  template <typename V>
  static V mask_and(V a, V b) { return Ops::and_(a, b); }
  template <typename V>
  static V mask_or(V a, V b) { return Ops::or_(a, b); }
  template <typename V>
  static V select(V m, V a, V b) { return Ops::or_(Ops::and_(m, a), Ops::andnot(b, m)); }
  template <typename V>
  static V zero_unless(V m, V v) { return Ops::and_(m, v); }
};

template <typename Ops>
struct SyllableLengths {
  using V = typename Ops::V;
  using M = typename Ops::M;

  // has(x, bits) is the mask of the lanes where x holds any of bits.
  static M has(V x, uint8_t bits) { return Ops::test(x, Ops::splat(bits)); }

  // block is the lengths at the kWidth letters of x, whose classes are c and second bits
  // `second`; c_next and second_next are those of the kWidth letters after them.
  static V block(const SyllableClassTables& tables, V x, V c, V second, V c_next,
                 V second_next) {
    const V first = Ops::lookup(tables.first_of, x);
    const V c1 = Ops::template next<1>(c, c_next);
    const V c2 = Ops::template next<2>(c, c_next);
    const V c3 = Ops::template next<3>(c, c_next);
    const V c4 = Ops::template next<4>(c, c_next);
    // The onset: a cluster first, then a single letter.
    const M cluster = Ops::test(first, Ops::template next<1>(second, second_next));
    const M onset = Ops::mask_or(cluster, has(c, kClassOnset));
    const V one = Ops::splat(1);
    const V onset_len = Ops::select(cluster, Ops::splat(2), one);
    // After the onset: the vowel, the letter after it and the one after that.
    const V at_vowel = Ops::select(cluster, c2, c1);
    const V after_vowel = Ops::select(cluster, c3, c2);
    const V after_ending = Ops::select(cluster, c4, c3);
    // The nucleus is the vowel, with the ending after it when a single onset or the end of
    // the text follows the ending. Without a vowel, an onset stands only at the end of the
    // text.
    const M ending =
        Ops::mask_and(has(after_vowel, kClassEnding), has(after_ending, kClassOnsetOrEnd));
    const V whole = Ops::add(Ops::add(onset_len, one), Ops::zero_unless(ending, one));
    const V cut = Ops::zero_unless(has(at_vowel, kClassEnd),
                                   Ops::or_(onset_len, Ops::splat(kSyllableEndsText)));
    return Ops::zero_unless(onset, Ops::select(has(at_vowel, kClassVowel), whole, cut));
  }

  static void run(const SyllableClassTables& tables, const uint8_t* letters, size_t num_letters,
                  uint8_t* lengths) {
    // Each block of letters is classed once; the classes of the letters after each one
    // are taken from this block and the next in registers (loads that straddle two stores
    // would wait for both to reach the cache).
    V x = Ops::load(letters);
    V c = Ops::lookup(tables.letter_class, x);
    V second = Ops::lookup(tables.second_bit, x);
    for (size_t p = 0; p < num_letters; p += Ops::kWidth) {
      const V x_next = Ops::load(letters + p + Ops::kWidth);
      const V c_next = Ops::lookup(tables.letter_class, x_next);
      const V second_next = Ops::lookup(tables.second_bit, x_next);
      Ops::store(lengths + p, block(tables, x, c, second, c_next, second_next));
      x = x_next;
      c = c_next;
      second = second_next;
    }
  }
};

}  // namespace
}  // namespace tavik::core

#endif  // TAVIK_CORE_SYLLABLE_LENGTHS_IMPL_H_
