#include "core/uuid_text.h"

#include <array>
#include <cstring>

namespace tavik::core {

namespace {

// kHexValue maps a byte to its hex digit's value, or 0xff for a byte that is none.
constexpr std::array<uint8_t, 256> kHexValue = [] {
  std::array<uint8_t, 256> table{};
  for (auto& v : table) { v = 0xff; }
  for (size_t c = 0; c < 10; ++c) { table['0' + c] = static_cast<uint8_t>(c); }
  for (size_t c = 0; c < 6; ++c) {
    table['a' + c] = static_cast<uint8_t>(10 + c);
    table['A' + c] = static_cast<uint8_t>(10 + c);
  }
  return table;
}();

// The positions of the hyphens in the 36-character form.
constexpr std::array<size_t, 4> kHyphens = {8, 13, 18, 23};

}  // namespace

Result<Bytes16> parse_uuid_text(std::string_view text) {
  char digits[32];
  if (text.size() == 32) {
    std::memcpy(digits, text.data(), 32);
  } else if (text.size() == kUuidTextLen) {
    size_t from = 0;
    size_t to = 0;
    for (const size_t hyphen : kHyphens) {
      if (text[hyphen] != '-') { return kNotUuidText; }
      std::memcpy(digits + to, text.data() + from, hyphen - from);
      to += hyphen - from;
      from = hyphen + 1;
    }
    std::memcpy(digits + to, text.data() + from, kUuidTextLen - from);
  } else {
    return kNotUuidText;
  }
  Bytes16 bytes;
  uint8_t bad = 0;  // the OR of every digit's value: 0xff once any is no hex digit
  for (size_t i = 0; i < 16; ++i) {
    const uint8_t hi = kHexValue[static_cast<uint8_t>(digits[2 * i])];
    const uint8_t lo = kHexValue[static_cast<uint8_t>(digits[2 * i + 1])];
    bad |= static_cast<uint8_t>(hi | lo);
    bytes[i] = static_cast<uint8_t>(hi << 4 | (lo & 0x0f));
  }
  if (bad & 0xf0) { return kNotUuidText; }
  return bytes;
}

void format_uuid_text(const uint8_t bytes[16], char out[kUuidTextLen]) {
  static constexpr char kDigits[] = "0123456789abcdef";
  size_t at = 0;
  size_t next_hyphen = 0;
  for (size_t i = 0; i < 16; ++i) {
    if (next_hyphen < kHyphens.size() && at == kHyphens[next_hyphen]) {
      out[at++] = '-';
      ++next_hyphen;
    }
    out[at++] = kDigits[bytes[i] >> 4];
    out[at++] = kDigits[bytes[i] & 0x0f];
  }
}

bool is_valid_utf8(std::string_view text) {
  const auto* p = reinterpret_cast<const uint8_t*>(text.data());
  const uint8_t* const end = p + text.size();
  while (p < end) {
    // Code words are ASCII but for a separator: eight bytes at a time while no high bit is set.
    if (end - p >= 8) {
      uint64_t word;
      std::memcpy(&word, p, 8);
      if ((word & 0x8080808080808080ULL) == 0) {
        p += 8;
        continue;
      }
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
