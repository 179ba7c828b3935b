#ifndef TAVIK_FPE_FEISTEL_PASS_H_
#define TAVIK_FPE_FEISTEL_PASS_H_

// Internal to fpe/: the Feistel passes and the cycle walk, written once for any round
// function, and the whole cipher with the SHA instructions (feistel_sha.cc).
//
// A round function is called as f(round, half) and returns the first 8 bytes of
// HMAC(key, round byte || tweak || half as 8 big-endian bytes), read big-endian and masked
// to the half width (half_mask). With an odd bit count the wider half's top bit is hashed
// but never changed, so it passes every pass unchanged; a Modulus walk therefore stays among
// the values that share the domain's top bit, and may not come back within its passes.

#include <cstddef>
#include <cstdint>
#include <span>

#include "base/u128.h"
#include "fpe/cipher.h"
#include "fpe/cipher_key.h"

namespace tavik::fpe::feistel {

inline constexpr int kMaxFurtherPasses = 256;

// The passes hold the halves as their round function keeps them. A round function with halves
// of its own provides Half, half_of(value), value_of(half) and mix(round, half, other): other
// XOR f(round, half). One given as f(round, half) works on uint64_t through U64Halves.
template <typename RoundFunction>
struct U64Halves {
  using Half = uint64_t;
  static Half half_of(uint64_t value) { return value; }
  static uint64_t value_of(Half half) { return half; }
  Half mix(uint8_t round, Half half, Half other) { return other ^ f(round, half); }
  RoundFunction& f;
};

template <typename Halves>
U128 encrypt_pass(U128 v, const CipherKeyState& state, Halves& halves) {
  typename Halves::Half left = halves.half_of((v >> state.half_bits).lo());
  typename Halves::Half right = halves.half_of(v.lo() & state.half_mask);
  for (uint8_t i = 0; i < state.rounds; ++i) {
    const typename Halves::Half next_right = halves.mix(i, right, left);
    left = right;
    right = next_right;
  }
  // After an even number of rounds `right` has at most half_bits bits, so OR is addition.
  return (U128::from_u64(halves.value_of(left)) << state.half_bits) |
         U128::from_u64(halves.value_of(right));
}

template <typename Halves>
U128 decrypt_pass(U128 v, const CipherKeyState& state, Halves& halves) {
  typename Halves::Half left = halves.half_of((v >> state.half_bits).lo());
  typename Halves::Half right = halves.half_of(v.lo() & state.half_mask);
  for (uint8_t i = state.rounds; i-- > 0;) {
    const typename Halves::Half next_left = halves.mix(i, left, right);
    right = left;
    left = next_left;
  }
  return (U128::from_u64(halves.value_of(left)) << state.half_bits) |
         U128::from_u64(halves.value_of(right));
}

// walk_halves applies one pass, then further passes while the result lies above the domain, up
// to kMaxFurtherPasses of them. walk_on() is asked before the first further pass; false ends
// the walk there.
template <bool kEncrypt, typename Halves, typename WalkOn>
U128 walk_halves(U128 value, const CipherKeyState& state, Halves& halves, WalkOn walk_on) {
  auto pass = [&](U128 v) {
    return kEncrypt ? encrypt_pass(v, state, halves) : decrypt_pass(v, state, halves);
  };
  U128 result = pass(value);
  if (result > state.max_value && !walk_on()) { return result; }
  for (int n = 0; n < kMaxFurtherPasses && result > state.max_value; ++n) { result = pass(result); }
  return result;
}

// walk is walk_halves for a round function given as f(round, half).
template <bool kEncrypt, typename RoundFunction, typename WalkOn>
U128 walk(U128 value, const CipherKeyState& state, RoundFunction& round_function, WalkOn walk_on) {
  U64Halves<RoundFunction> halves{round_function};
  return walk_halves<kEncrypt>(value, state, halves, walk_on);
}

template <bool kEncrypt, typename RoundFunction>
U128 walk(U128 value, const CipherKeyState& state, RoundFunction& round_function) {
  return walk<kEncrypt>(value, state, round_function, [] { return true; });
}

// The SHA-instruction cipher (fpe/feistel_sha.cc) serves tweaks of up to kShaMaxTweakLen
// bytes, for which the round byte, the tweak and the half all lie in the first 16 bytes of
// the inner block (the codec's tweak has 4). The backend table holds these where the
// processor has the instructions.
inline constexpr size_t kShaMaxTweakLen = 7;
#if defined(__x86_64__) || defined(__aarch64__)
U128 encrypt_sha(const CipherKeyState& state, U128 value, std::span<const uint8_t> tweak);
U128 decrypt_sha(const CipherKeyState& state, U128 value, std::span<const uint8_t> tweak);
// decrypt_with_mac_sha also finishes sha256_hmac_block(other, block) into mac for the block
// that write_block writes while the first round runs, side by side with the second round, and
// walks on past the first pass only if walk_on accepts the MAC.
U128 decrypt_with_mac_sha(const CipherKeyState& state, U128 value, std::span<const uint8_t> tweak,
                          const HmacKey& other, const BlockWriter& write_block, uint32_t mac[8],
                          const MacFilter& walk_on);
#endif

}  // namespace tavik::fpe::feistel

#endif  // TAVIK_FPE_FEISTEL_PASS_H_
