#ifndef TAVIK_BASE_U128_H_
#define TAVIK_BASE_U128_H_

#include <compare>
#include <cstddef>
#include <cstdint>

#include "base/big_endian.h"

namespace tavik {

__extension__ typedef unsigned __int128 NativeU128;

// U128 is an unsigned 128-bit integer held as two 64-bit words; arithmetic wraps modulo
// 2^128 like the built-in unsigned types. Only from/to_be_bytes fix a byte order.
class U128 {
 public:
  constexpr U128() = default;
  constexpr U128(uint64_t hi, uint64_t lo) : hi_(hi), lo_(lo) {}
  static constexpr U128 from_u64(uint64_t lo) { return U128(0, lo); }
  static constexpr U128 from_native(NativeU128 v) {
    return U128(static_cast<uint64_t>(v >> 64), static_cast<uint64_t>(v));
  }
  static constexpr U128 max() { return U128(~uint64_t{0}, ~uint64_t{0}); }

  constexpr uint64_t hi() const { return hi_; }
  constexpr uint64_t lo() const { return lo_; }
  constexpr NativeU128 native() const { return (NativeU128{hi_} << 64) | lo_; }

  // from_be_bytes reads 16 bytes, most significant first; to_be_bytes writes them.
  static U128 from_be_bytes(const uint8_t* bytes) {
    return U128(load_be64(bytes), load_be64(bytes + 8));
  }
  void to_be_bytes(uint8_t* out) const {
    store_be64(hi_, out);
    store_be64(lo_, out + 8);
  }

  // bit_length is 128 minus the number of leading zero bits (0 for the value 0).
  constexpr uint32_t bit_length() const {
    if (hi_ != 0) { return 128 - static_cast<uint32_t>(__builtin_clzll(hi_)); }
    if (lo_ != 0) { return 64 - static_cast<uint32_t>(__builtin_clzll(lo_)); }
    return 0;
  }
  // low_mask(n) has the low n bits set (all 128 for n >= 128).
  static constexpr U128 low_mask(uint32_t n) {
    if (n >= 128) { return max(); }
    if (n >= 64) { return U128(n == 64 ? 0 : (~uint64_t{0} >> (128 - n)), ~uint64_t{0}); }
    return U128(0, n == 0 ? 0 : (~uint64_t{0} >> (64 - n)));
  }

  bool operator==(const U128&) const = default;
  friend constexpr std::strong_ordering operator<=>(U128 a, U128 b) {
    if (a.hi_ != b.hi_) { return a.hi_ <=> b.hi_; }
    return a.lo_ <=> b.lo_;
  }

  friend constexpr U128 operator+(U128 a, U128 b) {
    const uint64_t lo = a.lo_ + b.lo_;
    return U128(a.hi_ + b.hi_ + (lo < a.lo_ ? 1 : 0), lo);  // carry
  }
  friend constexpr U128 operator-(U128 a, U128 b) {
    return U128(a.hi_ - b.hi_ - (a.lo_ < b.lo_ ? 1 : 0), a.lo_ - b.lo_);  // borrow
  }
  friend constexpr U128 operator*(U128 a, U128 b) { return from_native(a.native() * b.native()); }
  friend constexpr U128 operator&(U128 a, U128 b) { return U128(a.hi_ & b.hi_, a.lo_ & b.lo_); }
  friend constexpr U128 operator|(U128 a, U128 b) { return U128(a.hi_ | b.hi_, a.lo_ | b.lo_); }
  friend constexpr U128 operator^(U128 a, U128 b) { return U128(a.hi_ ^ b.hi_, a.lo_ ^ b.lo_); }
  // Shifts by 128 or more give 0; shifts by 0 and by 64 are special-cased so that no word is
  // ever shifted by its own width.
  friend constexpr U128 operator<<(U128 a, uint32_t n) {
    if (n == 0) { return a; }
    if (n >= 128) { return U128(); }
    if (n >= 64) { return U128(a.lo_ << (n - 64), 0); }
    return U128((a.hi_ << n) | (a.lo_ >> (64 - n)), a.lo_ << n);
  }
  friend constexpr U128 operator>>(U128 a, uint32_t n) {
    if (n == 0) { return a; }
    if (n >= 128) { return U128(); }
    if (n >= 64) { return U128(0, a.hi_ >> (n - 64)); }
    return U128(a.hi_ >> n, (a.lo_ >> n) | (a.hi_ << (64 - n)));
  }

  // divmod_u64 divides by a non-zero 64-bit divisor: the quotient is returned and the
  // remainder stored in *rem. Two 64-by-64 steps on the word pair, no 128-bit division call.
  constexpr U128 divmod_u64(uint64_t d, uint64_t* rem) const {
    const uint64_t q_hi = hi_ / d;
    const uint64_t r_hi = hi_ % d;
    const NativeU128 low_part = (NativeU128{r_hi} << 64) | lo_;
    uint64_t q_lo = 0;
    uint64_t r = 0;
#if defined(__x86_64__)
    if (!__builtin_is_constant_evaluated()) {
      // r_hi < d, so the quotient fits 64 bits and divq cannot fault.
      __asm__("divq %[d]" : "=a"(q_lo), "=d"(r) : [d] "r"(d), "a"(lo_), "d"(r_hi));
      *rem = r;
      return U128(q_hi, q_lo);
    }
#endif
    q_lo = static_cast<uint64_t>(low_part / d);
    r = static_cast<uint64_t>(low_part % d);
    *rem = r;
    return U128(q_hi, q_lo);
  }

 private:
  uint64_t hi_ = 0;
  uint64_t lo_ = 0;
};

}  // namespace tavik

#endif  // TAVIK_BASE_U128_H_
