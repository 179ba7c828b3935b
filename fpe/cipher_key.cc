#include "fpe/cipher_key.h"

#include <algorithm>

namespace tavik::fpe {

uint32_t CipherDomain::bit_count() const {
  if (kind == Kind::kBits) { return std::min<uint32_t>(width, 128); }
  return modulus.bit_length();
}

U128 CipherDomain::max_value() const {
  if (kind == Kind::kBits) { return U128::low_mask(width); }
  return modulus - U128::from_u64(1);
}

CipherKeyState derive_cipher_key(std::span<const uint8_t> key, const CipherDomain& domain) {
  CipherKeyState state;
  state.hmac = HmacKey::derive(key);
  const uint32_t bits = domain.bit_count();
  state.half_bits = std::max<uint32_t>(bits / 2, 1);
  // half_bits never exceeds 64, so its mask fits the low word; at 128 bits it is all ones.
  state.half_mask = U128::low_mask(state.half_bits).lo();
  state.max_value = domain.max_value();
  state.rounds = 8;
  return state;
}

}  // namespace tavik::fpe
