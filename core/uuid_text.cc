#include "core/uuid_text.h"

#include <array>
#include <bit>
#include <cstring>

#include "fpe/cpu.h"

namespace tavik::core {

namespace {

// Eight ASCII characters at a time in a 64-bit word, the first in the low byte whatever the
// host's byte order: a hex digit's value is its low four bits, plus 9 for a letter (bit 6).
constexpr uint64_t kEachByte = 0x0101010101010101ULL;
constexpr uint64_t kHighBits = 0x80 * kEachByte;

uint64_t load_chars(const char* p, size_t n) {
  uint64_t x = 0;
  std::memcpy(&x, p, n);
  if constexpr (std::endian::native == std::endian::big) { x = __builtin_bswap64(x); }
  return x;
}

void store_chars(uint64_t x, char* out) {
  if constexpr (std::endian::native == std::endian::big) { x = __builtin_bswap64(x); }
  std::memcpy(out, &x, 8);
}

// hex_bytes reads the eight hex digits in x as four bytes, the first in the low byte, and ORs
// into *bad the high bit of every byte that is no hex digit.
uint32_t hex_bytes(uint64_t x, uint64_t* bad) {
  // Below 0x80 each sum stays within its byte; its high bit tells whether the byte reached
  // the bound. A byte with its own high bit set is bad whatever the sums say.
  const auto at_least = [](uint64_t v, uint8_t bound) { return v + (0x80 - bound) * kEachByte; };
  const uint64_t folded = x | (0x20 * kEachByte);  // 'A'-'F' as 'a'-'f'
  const uint64_t digit = at_least(x, '0') & ~at_least(x, '9' + 1);
  const uint64_t letter = at_least(folded, 'a') & ~at_least(folded, 'f' + 1);
  *bad |= (~(digit | letter) | x) & kHighBits;
  const uint64_t is_letter = (x >> 6) & kEachByte;
  const uint64_t nibbles = (x & (0x0F * kEachByte)) + (is_letter << 3) + is_letter;
  // Pairs of nibbles into bytes, then the bytes of every other 16-bit lane together.
  uint64_t v = ((nibbles & 0x00FF00FF00FF00FFULL) << 4) | ((nibbles >> 8) & 0x00FF00FF00FF00FFULL);
  v = (v | (v >> 8)) & 0x0000FFFF0000FFFFULL;
  return static_cast<uint32_t>(v | (v >> 16));
}

// hex_chars writes four bytes (the first in the low byte) as eight lowercase hex digits.
uint64_t hex_chars(uint32_t bytes) {
  uint64_t v = bytes;
  v = (v | (v << 16)) & 0x0000FFFF0000FFFFULL;
  v = (v | (v << 8)) & 0x00FF00FF00FF00FFULL;
  const uint64_t nibbles = ((v >> 4) & 0x000F000F000F000FULL) | ((v & 0x000F000F000F000FULL) << 8);
  const uint64_t above_nine = ((nibbles + 6 * kEachByte) >> 4) & kEachByte;
  return nibbles + '0' * kEachByte + above_nine * ('a' - '0' - 10);
}

void store_bytes(uint32_t bytes, uint8_t* out) {
  for (size_t i = 0; i < 4; ++i) { out[i] = static_cast<uint8_t>(bytes >> (8 * i)); }
}

// The positions of the hyphens in the 36-character form.
constexpr std::array<size_t, 4> kHyphens = {8, 13, 18, 23};

}  // namespace

Result<Bytes16> parse_uuid_text(std::string_view text) {
  const char* p = text.data();
#if defined(__x86_64__)
  static const bool ssse3 = fpe::cpu_features().ssse3;
  if (ssse3) {
    Bytes16 bytes;
    if ((text.size() != 32 && text.size() != kUuidTextLen) ||
        !parse_uuid_text_ssse3(p, text.size(), bytes.data())) {
      return kNotUuidText;
    }
    return bytes;
  }
#endif
  // The 32 digits as four words of eight.
  uint64_t words[4];
  if (text.size() == 32) {
    for (size_t k = 0; k < 4; ++k) { words[k] = load_chars(p + 8 * k, 8); }
  } else if (text.size() == kUuidTextLen) {
    for (const size_t hyphen : kHyphens) {
      if (p[hyphen] != '-') { return kNotUuidText; }
    }
    words[0] = load_chars(p, 8);
    words[1] = load_chars(p + 9, 4) | load_chars(p + 14, 4) << 32;
    words[2] = load_chars(p + 19, 4) | load_chars(p + 24, 4) << 32;
    words[3] = load_chars(p + 28, 8);
  } else {
    return kNotUuidText;
  }
  Bytes16 bytes;
  uint64_t bad = 0;
  for (size_t k = 0; k < 4; ++k) { store_bytes(hex_bytes(words[k], &bad), bytes.data() + 4 * k); }
  if (bad != 0) { return kNotUuidText; }
  return bytes;
}

void format_uuid_text(const uint8_t bytes[16], char out[kUuidTextLen]) {
  uint64_t chars[4];
  for (size_t k = 0; k < 4; ++k) {
    const uint8_t* b = bytes + 4 * k;
    chars[k] = hex_chars(uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 |
                         uint32_t{b[3]} << 24);
  }
  // Groups of 8-4-4-4-12 digits: the middle words are split in two. A store of eight that
  // runs past its group writes into room that a later store or a hyphen overwrites, and none
  // reaches past the 36 characters.
  store_chars(chars[0], out);
  store_chars(chars[1], out + 9);
  store_chars(chars[1] >> 32, out + 14);
  store_chars(chars[2], out + 19);
  store_chars(chars[2] >> 32, out + 24);
  store_chars(chars[3], out + 28);
  for (const size_t hyphen : kHyphens) { out[hyphen] = '-'; }
}

bool is_valid_utf8(std::string_view text) {
  const auto* p = reinterpret_cast<const uint8_t*>(text.data());
  const uint8_t* const end = p + text.size();
  while (p < end) {
    // Code words are ASCII but for a separator: sixteen bytes at a time while no high bit is
    // set, and the last few as the eight bytes that end the text.
    if (end - p >= 16) {
      if (((load_chars(reinterpret_cast<const char*>(p), 8) |
            load_chars(reinterpret_cast<const char*>(p) + 8, 8)) & kHighBits) == 0) {
        p += 16;
        continue;
      }
    } else if (end - p >= 8) {
      if ((load_chars(reinterpret_cast<const char*>(p), 8) & kHighBits) == 0) {
        p += 8;
        continue;
      }
    } else if (text.size() >= 8 &&
               (load_chars(text.data() + text.size() - 8, 8) & kHighBits) == 0) {
      return true;
    }
    const uint8_t lead = *p;
    if (lead < 0x80) {
      ++p;
      continue;
    }
    size_t len = 0;
    uint8_t min_second = 0x80;
    uint8_t max_second = 0xbf;
    if (lead >= 0xc2 && lead <= 0xdf) {
      len = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
      len = 3;
      if (lead == 0xe0) { min_second = 0xa0; }  // overlong
      if (lead == 0xed) { max_second = 0x9f; }  // surrogates
    } else if (lead >= 0xf0 && lead <= 0xf4) {
      len = 4;
      if (lead == 0xf0) { min_second = 0x90; }  // overlong
      if (lead == 0xf4) { max_second = 0x8f; }  // above U+10FFFF
    } else {
      return false;
    }
    if (static_cast<size_t>(end - p) < len) { return false; }
    if (p[1] < min_second || p[1] > max_second) { return false; }
    for (size_t i = 2; i < len; ++i) {
      if ((p[i] & 0xc0) != 0x80) { return false; }
    }
    p += len;
  }
  return true;
}

}  // namespace tavik::core
