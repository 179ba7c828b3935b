// Feistel8 with the x86 SHA instructions. This file is compiled with -msha -msse4.1 -mssse3;
// Feistel8 calls it only where the processor has them. The key states and the constant part
// of the inner block stay in registers for the whole call, each round builds its message
// words from the round byte and the half without going through memory, and the inner digest
// enters the outer block in registers.

#include <cstring>

#include "fpe/feistel.h"
#include "fpe/feistel_pass.h"
#include "fpe/hmac.h"
#include "fpe/sha256.h"

#if defined(__x86_64__)

#include "fpe/sha256_shani.h"

namespace tavik::fpe::feistel {
namespace {

class ShaniRoundFunction {
 public:
  ShaniRoundFunction(const CipherKeyState& state, std::span<const uint8_t> tweak)
      : inner_(shani::load_state(state.hmac.inner_state().h)),
        outer_(shani::load_state(state.hmac.outer_state().h)),
        half_mask_(state.half_mask),
        // The half starts at byte 1 + tweak length; as part of the big-endian 128-bit number
        // of bytes 0-15 it is shifted left by this many bits.
        half_shift_(static_cast<uint32_t>(56 - 8 * tweak.size())) {
    // The block with round byte and half zero: tweak, 0x80, zeros and the message length
    // counted from the key block. It holds nothing secret. It is put together in registers:
    // the first round waits for it, and a block written a byte at a time and read sixteen
    // bytes at a time would keep it waiting until the bytes reach the cache.
    const size_t message_len = 1 + tweak.size() + 8;
    uint64_t head[3] = {};  // bytes 0-23 as big-endian words; the 0x80 lands in bytes 9-16
    const auto put = [&](size_t pos, uint8_t byte) {
      head[pos / 8] |= uint64_t{byte} << (56 - 8 * (pos % 8));
    };
    for (size_t i = 0; i < tweak.size(); ++i) { put(1 + i, tweak[i]); }
    put(message_len, 0x80);
    template_.w[0] = shani::words_from_be128(head[0], head[1]);
    template_.w[1] = _mm_set_epi32(0, 0, 0, static_cast<int>(head[2] >> 32));
    template_.w[2] = _mm_setzero_si128();
    template_.w[3] = _mm_set_epi32(static_cast<int>((kSha256BlockLen + message_len) * 8), 0, 0, 0);
  }

  // The inner block of a round: the constant template with the round byte and the half.
  shani::Block round_block(uint8_t round, uint64_t half) const {
    uint64_t hi = uint64_t{round} << 56;
    uint64_t lo = half;
    if (half_shift_ != 0) {
      hi |= half >> (64 - half_shift_);
      lo = half << half_shift_;
    }
    shani::Block block = template_;
    block.w[0] = _mm_xor_si128(block.w[0], shani::words_from_be128(hi, lo));
    return block;
  }

  // paired is operator() with one more HMAC (its own states and block) run alongside.
  uint64_t paired(uint8_t round, uint64_t half, const shani::State& other_inner,
                  const shani::State& other_outer, shani::Block other_block,
                  shani::State* other_mac) const {
    const shani::State inner[2] = {inner_, other_inner};
    const shani::State outer[2] = {outer_, other_outer};
    const shani::Block blocks[2] = {round_block(round, half), other_block};
    shani::State mac[2];
    shani::hmac_lanes<2>(inner, outer, blocks, mac);
    *other_mac = mac[1];
    return shani::head64(mac[0]) & half_mask_;
  }

  uint64_t operator()(uint8_t round, uint64_t half) const {
    return shani::head64(shani::hmac(inner_, outer_, round_block(round, half))) & half_mask_;
  }

 private:
  shani::State inner_;
  shani::State outer_;
  shani::Block template_;
  uint64_t half_mask_;
  uint32_t half_shift_;
};

}  // namespace

U128 encrypt_shani(const CipherKeyState& state, U128 value, std::span<const uint8_t> tweak) {
  ShaniRoundFunction round_function(state, tweak);
  return walk<true>(value, state, round_function);
}

U128 decrypt_shani(const CipherKeyState& state, U128 value, std::span<const uint8_t> tweak) {
  ShaniRoundFunction round_function(state, tweak);
  return walk<false>(value, state, round_function);
}

U128 decrypt_with_mac_shani(const CipherKeyState& state, U128 value, std::span<const uint8_t> tweak,
                            const HmacKey& other, const BlockWriter& write_block, uint32_t mac[8],
                            const MacFilter& walk_on) {
  const ShaniRoundFunction round_function(state, tweak);
  // The block is written once the first round's compressions are under way, so the writing
  // runs beside them; the second round of the first pass carries the other HMAC, and every
  // later round is plain.
  uint8_t block[kSha256BlockLen];
  size_t num_rounds = 0;
  auto rounds = [&](uint8_t round, uint64_t half) {
    if (num_rounds > 1) { return round_function(round, half); }
    if (num_rounds++ == 0) {
      const uint64_t f = round_function(round, half);
      write_block(block);
      return f;
    }
    shani::State other_mac;
    const uint64_t f = round_function.paired(
        round, half, shani::load_state(other.inner_state().h),
        shani::load_state(other.outer_state().h), shani::load_block(block), &other_mac);
    shani::store_state(other_mac, mac);
    return f;
  };
  return walk<false>(value, state, rounds, [&] { return walk_on(mac); });
}

}  // namespace tavik::fpe::feistel

#else  // not x86-64: sha256_has_shani() is false and these are never called.

namespace tavik::fpe::feistel {

U128 encrypt_shani(const CipherKeyState& state, U128 value, std::span<const uint8_t> tweak) {
  return Feistel8(state).encrypt(value, tweak);
}

U128 decrypt_shani(const CipherKeyState& state, U128 value, std::span<const uint8_t> tweak) {
  return Feistel8(state).decrypt(value, tweak);
}

U128 decrypt_with_mac_shani(const CipherKeyState& state, U128 value, std::span<const uint8_t> tweak,
                            const HmacKey& other, const BlockWriter& write_block, uint32_t mac[8],
                            const MacFilter& walk_on) {
  return Feistel8(state).FpeCipher::decrypt_with_mac(value, tweak, other, write_block, mac,
                                                     walk_on);
}

}  // namespace tavik::fpe::feistel

#endif
