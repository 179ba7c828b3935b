#ifndef TAVIK_TESTS_CPP_TEST_UTIL_H_
#define TAVIK_TESTS_CPP_TEST_UTIL_H_

// Helpers the C++ tests share.

#include <cstddef>
#include <cstdint>
#include <string>

namespace tavik::testing {

// hex spells bytes as lower-case hex digits.
inline std::string hex(const uint8_t* bytes, size_t len) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < len; ++i) {
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 15];
  }
  return out;
}

}  // namespace tavik::testing

#endif  // TAVIK_TESTS_CPP_TEST_UTIL_H_
