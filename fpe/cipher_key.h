#ifndef TAVIK_FPE_CIPHER_KEY_H_
#define TAVIK_FPE_CIPHER_KEY_H_

// Key derivation: the domain a cipher permutes, and a key absorbed together with the Feistel
// parameters of that domain.

#include <array>
#include <cstdint>
#include <span>

#include "base/u128.h"
#include "fpe/hmac.h"

namespace tavik::fpe {

// FIXED_PLAIN_KEY is the public key of mode plain and of every Shuffle cipher. It hides
// nothing; it only fixes the permutation.
inline constexpr std::array<uint8_t, 32> FIXED_PLAIN_KEY = {
    0xc4, 0x7a, 0x09, 0xe2, 0x5b, 0x13, 0xf8, 0x6d, 0x2e, 0x90, 0x47, 0xb1, 0xa5, 0x6c, 0xd8, 0x3f,
    0x0e, 0x7b, 0x29, 0xc4, 0xd1, 0x65, 0xfa, 0x38, 0xb2, 0x0e, 0x94, 0xc7, 0x56, 0x3a, 0xd1, 0x8f};

// CipherDomain is the set of values a cipher permutes: Bits (all values below 2^width) or
// Modulus (all values below m, m >= 2).
struct CipherDomain {
  enum class Kind : uint8_t { kBits, kModulus };
  Kind kind = Kind::kBits;
  uint32_t width = 128;  // for kBits
  U128 modulus;          // for kModulus

  static CipherDomain bits(uint32_t w) { return CipherDomain{Kind::kBits, w, U128()}; }
  static CipherDomain mod(U128 m) { return CipherDomain{Kind::kModulus, 0, m}; }
  // bit_count is the number of bits the Feistel network permutes: the width (capped at 128)
  // for Bits, the bit length of m for Modulus.
  uint32_t bit_count() const;
  // max_value is the largest value of the domain: 2^w - 1 or m - 1.
  U128 max_value() const;
  bool operator==(const CipherDomain&) const = default;
};

// CipherKeyState is an absorbed key together with the Feistel parameters of one domain.
struct CipherKeyState {
  HmacKey hmac;  // inner_state and outer_state
  U128 max_value;
  uint64_t half_mask = 0;
  uint32_t half_bits = 0;
  uint8_t rounds = 8;
};

// derive_cipher_key absorbs the key and computes the domain parameters. Never fails.
CipherKeyState derive_cipher_key(std::span<const uint8_t> key, const CipherDomain& domain);

}  // namespace tavik::fpe

#endif  // TAVIK_FPE_CIPHER_KEY_H_
