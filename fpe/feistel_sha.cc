// Feistel8 with the processor's SHA instructions (x86 SHA extensions or ARMv8 SHA-2, through
// fpe/sha_ops.h). This file is compiled for them (see CMakeLists.txt); the backend table calls
// it only where the processor has them. The key states and the constant part of the inner
// block stay in registers for the whole call, each round builds its message words from the
// round byte and the half without going through memory, and the inner digest enters the outer
// block in registers.

#include "fpe/feistel_pass.h"
#include "fpe/hmac.h"
#include "fpe/sha_ops.h"

#if defined(TAVIK_SHA_OPS)

namespace tavik::fpe::feistel {
namespace {

class ShaRoundFunction {
 public:
  ShaRoundFunction(const CipherKeyState& state, std::span<const uint8_t> tweak)
      : inner_(sha_ops::load_state(state.hmac.inner_state().h)),
        outer_(sha_ops::load_state(state.hmac.outer_state().h)),
        half_mask_(state.half_mask),
        // The half starts at byte 1 + tweak length; as part of the big-endian 128-bit number
        // of bytes 0-15 it is shifted left by this many bits.
        half_shift_(static_cast<uint32_t>(56 - 8 * tweak.size())) {
    // The block with round byte and half zero: tweak, 0x80, zeros and the message length
    // counted from the key block. It holds nothing secret. It is put together in registers:
    // the first round waits for it, and a block written a byte at a time and read sixteen
    // bytes at a time would keep it waiting until the bytes reach the cache.
    const size_t message_len = 1 + tweak.size() + 8;
    uint32_t words[16] = {};  // the 0x80 lands in bytes 9-16, words 2 to 4
    const auto put = [&](size_t pos, uint8_t byte) {
      words[pos / 4] |= uint32_t{byte} << (24 - 8 * (pos % 4));
    };
    for (size_t i = 0; i < tweak.size(); ++i) { put(1 + i, tweak[i]); }
    put(message_len, 0x80);
    words[15] = static_cast<uint32_t>((kSha256BlockLen + message_len) * 8);
    template_ = sha_ops::block_of(words);
  }

  // The inner block of a round: the constant template with the round byte and the half.
  sha_ops::Block round_block(uint8_t round, uint64_t half) const {
    uint64_t hi = uint64_t{round} << 56;
    uint64_t lo = half;
    if (half_shift_ != 0) {
      hi |= half >> (64 - half_shift_);
      lo = half << half_shift_;
    }
    return sha_ops::with_head(template_, hi, lo);
  }

  // paired is operator() with one more HMAC (its own states and block) run alongside.
  uint64_t paired(uint8_t round, uint64_t half, const sha_ops::State& other_inner,
                  const sha_ops::State& other_outer, sha_ops::Block other_block,
                  sha_ops::State* other_mac) const {
    const sha_ops::State inner[2] = {inner_, other_inner};
    const sha_ops::State outer[2] = {outer_, other_outer};
    const sha_ops::Block blocks[2] = {round_block(round, half), other_block};
    sha_ops::State mac[2];
    sha_hmac_lanes<2>(inner, outer, blocks, mac);
    *other_mac = mac[1];
    return sha_ops::head64(mac[0]) & half_mask_;
  }

  uint64_t operator()(uint8_t round, uint64_t half) const {
    return sha_ops::head64(sha_hmac(inner_, outer_, round_block(round, half))) & half_mask_;
  }

 private:
  sha_ops::State inner_;
  sha_ops::State outer_;
  sha_ops::Block template_;
  uint64_t half_mask_;
  uint32_t half_shift_;
};

}  // namespace

U128 encrypt_sha(const CipherKeyState& state, U128 value, std::span<const uint8_t> tweak) {
  ShaRoundFunction round_function(state, tweak);
  return walk<true>(value, state, round_function);
}

U128 decrypt_sha(const CipherKeyState& state, U128 value, std::span<const uint8_t> tweak) {
  ShaRoundFunction round_function(state, tweak);
  return walk<false>(value, state, round_function);
}

U128 decrypt_with_mac_sha(const CipherKeyState& state, U128 value, std::span<const uint8_t> tweak,
                            const HmacKey& other, const BlockWriter& write_block, uint32_t mac[8],
                            const MacFilter& walk_on) {
  const ShaRoundFunction round_function(state, tweak);
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
    sha_ops::State other_mac;
    const uint64_t f = round_function.paired(
        round, half, sha_ops::load_state(other.inner_state().h),
        sha_ops::load_state(other.outer_state().h), sha_ops::load_block(block), &other_mac);
    sha_ops::store_state(other_mac, mac);
    return f;
  };
  return walk<false>(value, state, rounds, [&] { return walk_on(mac); });
}

}  // namespace tavik::fpe::feistel

#endif  // TAVIK_SHA_OPS
