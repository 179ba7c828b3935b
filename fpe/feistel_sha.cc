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

// The half's 8 bytes, big-endian, follow the round byte and a tweak of t bytes: bytes[t][i] is
// the byte of a Half that byte i of the first four message words takes (the words hold their
// bytes in host order), 0x80 for none.
struct HalfControls {
  uint8_t bytes[kShaMaxTweakLen + 1][16];
};
constexpr HalfControls make_half_controls() {
  HalfControls c{};
  for (size_t t = 0; t <= kShaMaxTweakLen; ++t) {
    for (size_t q = 0; q < 16; ++q) {
      const size_t at = 4 * (q / 4) + 3 - q % 4;
      const size_t m = q - (1 + t);  // big-endian byte m of the half
      c.bytes[t][at] = q >= 1 + t && m < 8 ? sha_ops::kHalfByte[7 - m] : 0x80;
    }
  }
  return c;
}
constexpr HalfControls kHalfControls = make_half_controls();

// ShaRoundFunction keeps the halves in vector registers (sha_ops::Half): a round's MAC becomes
// the next half, and the half the next round's block, without leaving them.
class ShaRoundFunction {
 public:
  using Half = sha_ops::Half;

  ShaRoundFunction(const CipherKeyState& state, std::span<const uint8_t> tweak)
      : inner_(sha_ops::load_state(state.hmac.inner_state().h)),
        outer_(sha_ops::load_state(state.hmac.outer_state().h)),
        half_mask_(sha_ops::half_of(state.half_mask)) {
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
    half_bytes_ = sha_ops::load_control(kHalfControls.bytes[tweak.size()]);
  }

  static Half half_of(uint64_t value) { return sha_ops::half_of(value); }
  static uint64_t value_of(Half half) { return sha_ops::value_of(half); }

  // The inner block of a round: the constant template with the round byte and the half.
  sha_ops::Block round_block(uint8_t round, Half half) const {
    sha_ops::Block block = template_;
    const auto with_round = sha_ops::xor_words(block.w[0], sha_ops::word0(uint32_t{round} << 24));
    block.w[0] = sha_ops::xor_words(with_round, sha_ops::bytes_of(half, half_bytes_));
    return block;
  }

  // mix is other XOR the round's MAC head, masked to the half width.
  Half mix(uint8_t round, Half half, Half other) const {
    return sha_ops::xor_halves(
        other, sha_ops::head_half(sha_hmac(inner_, outer_, round_block(round, half)), half_mask_));
  }

  // paired is mix with one more HMAC (its own states and block) run alongside.
  Half paired(uint8_t round, Half half, Half other, const sha_ops::State& other_inner,
              const sha_ops::State& other_outer, sha_ops::Block other_block,
              sha_ops::State* other_mac) const {
    const sha_ops::State inner[2] = {inner_, other_inner};
    const sha_ops::State outer[2] = {outer_, other_outer};
    const sha_ops::Block blocks[2] = {round_block(round, half), other_block};
    sha_ops::State mac[2];
    sha_hmac_lanes<2>(inner, outer, blocks, mac);
    *other_mac = mac[1];
    return sha_ops::xor_halves(other, sha_ops::head_half(mac[0], half_mask_));
  }

 private:
  sha_ops::State inner_;
  sha_ops::State outer_;
  sha_ops::Block template_;
  Half half_mask_;
  sha_ops::ByteControl half_bytes_;
};

// WithMac is the round function of decrypt_with_mac_sha: the first round writes the other
// block once its compressions are under way, so the writing runs beside them; the second round
// of the first pass carries the other HMAC, and every later round is plain.
class WithMac {
 public:
  using Half = sha_ops::Half;
  WithMac(const ShaRoundFunction& f, const HmacKey& other, const BlockWriter& write_block,
          uint32_t mac[8])
      : f_(f), other_(other), write_block_(write_block), mac_(mac) {}
  static Half half_of(uint64_t value) { return sha_ops::half_of(value); }
  static uint64_t value_of(Half half) { return sha_ops::value_of(half); }
  Half mix(uint8_t round, Half half, Half other) {
    if (num_rounds_ > 1) { return f_.mix(round, half, other); }
    if (num_rounds_++ == 0) {
      const Half next = f_.mix(round, half, other);
      write_block_(block_);
      return next;
    }
    sha_ops::State other_mac;
    const Half next = f_.paired(round, half, other, sha_ops::load_state(other_.inner_state().h),
                                sha_ops::load_state(other_.outer_state().h),
                                sha_ops::load_block(block_), &other_mac);
    sha_ops::store_state(other_mac, mac_);
    return next;
  }

 private:
  const ShaRoundFunction& f_;
  const HmacKey& other_;
  const BlockWriter& write_block_;
  uint32_t* mac_;
  uint8_t block_[kSha256BlockLen];
  size_t num_rounds_ = 0;
};

}  // namespace

U128 encrypt_sha(const CipherKeyState& state, U128 value, std::span<const uint8_t> tweak) {
  ShaRoundFunction round_function(state, tweak);
  return walk_halves<true>(value, state, round_function, [] { return true; });
}

U128 decrypt_sha(const CipherKeyState& state, U128 value, std::span<const uint8_t> tweak) {
  ShaRoundFunction round_function(state, tweak);
  return walk_halves<false>(value, state, round_function, [] { return true; });
}

U128 decrypt_with_mac_sha(const CipherKeyState& state, U128 value, std::span<const uint8_t> tweak,
                            const HmacKey& other, const BlockWriter& write_block, uint32_t mac[8],
                            const MacFilter& walk_on) {
  const ShaRoundFunction round_function(state, tweak);
  WithMac rounds(round_function, other, write_block, mac);
  return walk_halves<false>(value, state, rounds, [&] { return walk_on(mac); });
}

}  // namespace tavik::fpe::feistel

#endif  // TAVIK_SHA_OPS
