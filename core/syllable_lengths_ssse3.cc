// The syllable lengths of a text sixteen letters at a time with SSSE3 (compiled with -mssse3;
// called only where the processor has it).

#include "core/syllable_lengths.h"

#if defined(__x86_64__)

#include <tmmintrin.h>

#include <array>
#include <cstring>

#include "core/syllable_lengths_impl.h"

namespace tavik::core {

namespace {

struct Ssse3Ops : ByteMasks<Ssse3Ops> {
  using V = __m128i;
  using M = V;
  static constexpr size_t kWidth = 16;
  static V load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const V*>(p)); }
  static void store(uint8_t* p, V v) { _mm_storeu_si128(reinterpret_cast<V*>(p), v); }
  static V splat(uint8_t b) { return _mm_set1_epi8(static_cast<char>(b)); }
  static V zero() { return _mm_setzero_si128(); }
  static V lookup(const uint8_t table[32], V v) {
    const V low = _mm_shuffle_epi8(_mm_load_si128(reinterpret_cast<const V*>(table)), v);
    const V high = _mm_shuffle_epi8(_mm_load_si128(reinterpret_cast<const V*>(table + 16)), v);
    const V upper = _mm_cmpgt_epi8(v, _mm_set1_epi8(15));
    return _mm_or_si128(_mm_and_si128(upper, high), _mm_andnot_si128(upper, low));
  }
  template <int k>
  static V next(V v, V after) { return _mm_alignr_epi8(after, v, k); }
  static V and_(V a, V b) { return _mm_and_si128(a, b); }
  static V or_(V a, V b) { return _mm_or_si128(a, b); }
  static V andnot(V a, V b) { return _mm_andnot_si128(b, a); }
  static V add(V a, V b) { return _mm_add_epi8(a, b); }
  static V eq(V a, V b) { return _mm_cmpeq_epi8(a, b); }
};

// kPack[m] moves the bytes of an eight-byte group whose letters are the set bits of m to its
// front (the rest become zeros); kCount[m] is their number.
struct PackTables {
  std::array<uint64_t, 256> pack{};
  std::array<uint8_t, 256> count{};
};
constexpr PackTables make_pack_tables() {
  PackTables t;
  for (unsigned m = 0; m < 256; ++m) {
    uint64_t shuffle = 0;
    unsigned n = 0;
    for (unsigned b = 0; b < 8; ++b) {
      if ((m >> b & 1) != 0) { shuffle |= uint64_t{b} << (8 * n++); }
    }
    for (unsigned k = n; k < 8; ++k) { shuffle |= uint64_t{0x80} << (8 * k); }
    t.pack[m] = shuffle;
    t.count[m] = static_cast<uint8_t>(n);
  }
  return t;
}
constexpr PackTables kPackTables = make_pack_tables();

// gather16 packs the letters among sixteen bytes, those whose bit in keep is clear counting as
// no letter, to letters + n, and returns the new n.
size_t gather16(__m128i bytes, unsigned keep, uint8_t* letters, size_t n) {
  const __m128i index = _mm_sub_epi8(_mm_or_si128(bytes, _mm_set1_epi8(0x20)), _mm_set1_epi8('a'));
  const __m128i is_letter = _mm_cmpeq_epi8(_mm_min_epu8(index, _mm_set1_epi8(25)), index);
  const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(is_letter)) & keep;
  const unsigned low = mask & 0xFF;
  const unsigned high = mask >> 8;
  // The high group's shuffle picks from bytes 8-15: its indices plus 8 (zeros stay zeros).
  const __m128i shuffle = _mm_add_epi8(
      _mm_set_epi64x(static_cast<long long>(kPackTables.pack[high]),
                     static_cast<long long>(kPackTables.pack[low])),
      _mm_set_epi64x(0x0808080808080808, 0));
  const __m128i packed = _mm_shuffle_epi8(index, shuffle);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(letters + n), packed);
  n += kPackTables.count[low];
  _mm_storel_epi64(reinterpret_cast<__m128i*>(letters + n), _mm_srli_si128(packed, 8));
  return n + kPackTables.count[high];
}

}  // namespace

size_t gather_letters_ssse3(const uint8_t* text, size_t len, uint8_t* letters) {
  size_t n = 0;
  size_t i = 0;
  for (; i + 16 <= len; i += 16) {
    n = gather16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i)), 0xFFFF, letters, n);
  }
  if (i == len) { return n; }
  if (len >= 16) {
    // The last sixteen bytes, less those already read.
    const size_t seen = i - (len - 16);
    return gather16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(text + len - 16)),
                    0xFFFFu << seen, letters, n);
  }
  uint8_t tail[16] = {};
  std::memcpy(tail, text, len);
  return gather16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(tail)), 0xFFFF, letters, n);
}

void syllable_lengths_ssse3(const SyllableClassTables& tables, const uint8_t* letters,
                            size_t num_letters, uint8_t* lengths) {
  SyllableLengths<Ssse3Ops>::run(tables, letters, num_letters, lengths);
}

}  // namespace tavik::core

#endif
