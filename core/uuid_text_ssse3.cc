// UUID text read sixteen characters at a time, with SSSE3 (compiled with -mssse3; called only
// where the processor has it).

#include "core/uuid_text.h"

#if defined(__x86_64__)

#include <tmmintrin.h>

namespace tavik::core {

namespace {

__m128i load16(const char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

// hex_nibbles is the value of each of sixteen hex digits, and clears *all_hex unless every
// byte is one. Compared as signed bytes, a byte with its high bit set lies below '0' and 'a'.
__m128i hex_nibbles(__m128i chars, bool* all_hex) {
  const auto within = [](__m128i v, char first, char last) {
    return _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8(static_cast<char>(first - 1))),
                         _mm_cmplt_epi8(v, _mm_set1_epi8(static_cast<char>(last + 1))));
  };
  const __m128i digit = within(chars, '0', '9');
  const __m128i letter = within(_mm_or_si128(chars, _mm_set1_epi8(0x20)), 'a', 'f');
  if (_mm_movemask_epi8(_mm_or_si128(digit, letter)) != 0xFFFF) { *all_hex = false; }
  // A letter's value is its low four bits plus 9, a digit's its low four bits.
  return _mm_add_epi8(_mm_and_si128(chars, _mm_set1_epi8(0x0F)),
                      _mm_and_si128(letter, _mm_set1_epi8(9)));
}

}  // namespace

bool parse_uuid_text_ssse3(const char* text, size_t len, uint8_t bytes[16]) {
  __m128i first;   // digits 0-15
  __m128i second;  // digits 16-31
  if (len == 32) {
    first = load16(text);
    second = load16(text + 16);
  } else {
    // Characters 0-15, 16-31 and 20-35; the hyphens stand at 8 and 13 of the first, 2 and 7
    // of the second.
    const __m128i a = load16(text);
    const __m128i b = load16(text + 16);
    const __m128i c = load16(text + 20);
    const __m128i hyphen = _mm_set1_epi8('-');
    if ((_mm_movemask_epi8(_mm_cmpeq_epi8(a, hyphen)) & 0x2100) != 0x2100 ||
        (_mm_movemask_epi8(_mm_cmpeq_epi8(b, hyphen)) & 0x0084) != 0x0084) {
      return false;
    }
    // An index with its high bit set picks a zero.
    first = _mm_or_si128(
        _mm_shuffle_epi8(a, _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 9, 10, 11, 12, 14, 15, -1, -1)),
        _mm_shuffle_epi8(b, _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                                          0, 1)));
    second = _mm_or_si128(
        _mm_shuffle_epi8(b, _mm_setr_epi8(3, 4, 5, 6, 8, 9, 10, 11, 12, 13, 14, 15, -1, -1, -1,
                                          -1)),
        _mm_shuffle_epi8(c, _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 12, 13,
                                          14, 15)));
  }
  bool all_hex = true;
  // Each pair of digits as 16 times the first plus the second.
  const __m128i by_pairs = _mm_set1_epi16(0x0110);
  const __m128i first_bytes = _mm_maddubs_epi16(hex_nibbles(first, &all_hex), by_pairs);
  const __m128i second_bytes = _mm_maddubs_epi16(hex_nibbles(second, &all_hex), by_pairs);
  if (!all_hex) { return false; }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes),
                   _mm_packus_epi16(first_bytes, second_bytes));
  return true;
}

}  // namespace tavik::core

#endif
