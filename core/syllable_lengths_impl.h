#ifndef TAVIK_CORE_SYLLABLE_LENGTHS_IMPL_H_
#define TAVIK_CORE_SYLLABLE_LENGTHS_IMPL_H_

// Internal to normalization: the syllable lengths of core/syllable_lengths.h written once over
// vector operations on kWidth bytes (16, or 64 with AVX-512 VBMI), for the files that compile
// it for one instruction set (syllable_lengths_ssse3.cc, _neon.cc, _wasm.cc, _vbmi.cc). Ops
// provides (kWidth, load and store only where run is used):
//   V; kWidth; load(p) (kWidth bytes, unaligned); store(p, v); splat(b); zero();
//   lookup(table, v): table[v] for indices 0-31 (table 16-byte aligned, 32 entries);
//   next<k>(v, after): bytes k .. k+kWidth-1 of v followed by after;
//   and_, or_, andnot(a, b) = a & ~b, add, eq (0xFF where equal).

#include <cstddef>
#include <cstdint>

#include "core/syllable_lengths.h"

namespace tavik::core {
namespace {

template <typename Ops>
struct SyllableLengths {
  using V = typename Ops::V;

  // has(x, bits) is 0xFF where x holds any of bits, else 0.
  static V has(V x, uint8_t bits) {
    return Ops::andnot(Ops::splat(0xFF), Ops::eq(Ops::and_(x, Ops::splat(bits)), Ops::zero()));
  }
  // select is a where mask is set, else b.
  static V select(V mask, V a, V b) { return Ops::or_(Ops::and_(mask, a), Ops::andnot(b, mask)); }

  // nucleus_length is the length of the nucleus at each letter whose class is c, the classes of
  // the two letters after it being c1 and c2: 0 for no vowel; 2 when an ending follows the
  // vowel and a single onset or the end of the text follows the ending; else 1.
  static V nucleus_length(V c, V c1, V c2) {
    const V one = Ops::splat(1);
    const V ending = Ops::and_(has(c1, kClassEnding), has(c2, kClassOnsetOrEnd));
    return Ops::and_(has(c, kClassVowel), Ops::add(one, Ops::and_(ending, one)));
  }

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
    const V cluster = Ops::andnot(
        Ops::splat(0xFF),
        Ops::eq(Ops::and_(first, Ops::template next<1>(second, second_next)), Ops::zero()));
    const V onset = Ops::or_(cluster, has(c, kClassOnset));
    const V onset_len = select(cluster, Ops::splat(2), Ops::splat(1));
    // The nucleus after it, or the end of the text.
    const V nucleus = select(cluster, nucleus_length(c2, c3, c4), nucleus_length(c1, c2, c3));
    const V ends = select(cluster, has(c2, kClassEnd), has(c1, kClassEnd));
    const V no_nucleus = Ops::eq(nucleus, Ops::zero());
    const V whole = Ops::andnot(Ops::add(onset_len, nucleus), no_nucleus);
    const V cut = Ops::and_(Ops::and_(no_nucleus, ends),
                            Ops::or_(onset_len, Ops::splat(kSyllableEndsText)));
    return Ops::and_(onset, Ops::or_(whole, cut));
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
