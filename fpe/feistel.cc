#include "fpe/feistel.h"

#include <cstring>
#include <utility>

#include "base/big_endian.h"
#include "base/secure_wipe.h"
#include "fpe/backend.h"
#include "fpe/feistel_pass.h"
#include "fpe/lanes.h"

namespace tavik::fpe {
namespace {

// RoundFunction is the portable round function, for processors without the SHA instructions
// and for long tweaks. For tweaks of up to 46 bytes the padded inner block (round byte,
// tweak, 8-byte half, padding) is laid out once and each round rewrites only the round byte
// and the half: two compressions per round. Its buffers hold keyed intermediate values and
// are wiped once, when the call ends.
class RoundFunction {
 public:
  static constexpr size_t kFixedLen = 1 + 8;  // round byte and half

  RoundFunction(const CipherKeyState& state, std::span<const uint8_t> tweak)
      : hmac_block_(backend().hmac_block),
        state_(state),
        tweak_(tweak),
        short_(kFixedLen + tweak.size() <= kHmacShortMessageLen) {
    if (!short_) { return; }
    std::memset(block_, 0, sizeof(block_));
    if (!tweak.empty()) { std::memcpy(block_ + 1, tweak.data(), tweak.size()); }
    pad_hmac_block(block_, kFixedLen + tweak.size());
  }
  RoundFunction(const RoundFunction&) = delete;
  RoundFunction& operator=(const RoundFunction&) = delete;
  ~RoundFunction() {
    secure_wipe(block_, sizeof(block_));
    secure_wipe(scratch_, sizeof(scratch_));
    secure_wipe(h_, sizeof(h_));
  }

  uint64_t operator()(uint8_t round, uint64_t half) {
    uint64_t head = 0;
    if (short_) {
      block_[0] = round;
      store_be64(half, block_ + 1 + tweak_.size());
      hmac_block_(state_.hmac.inner_state().h, state_.hmac.outer_state().h, block_, h_);
      head = (uint64_t{h_[0]} << 32) | h_[1];
    } else {
      uint8_t half_bytes[8];
      store_be64(half, half_bytes);
      HmacStream stream(state_.hmac);
      stream.update({&round, 1});
      stream.update(tweak_);
      stream.update(half_bytes);
      stream.finish(scratch_);
      for (size_t i = 0; i < 8; ++i) { head = (head << 8) | scratch_[i]; }
    }
    return head & state_.half_mask;
  }

 private:
  const HmacBlockFn hmac_block_;
  const CipherKeyState& state_;
  std::span<const uint8_t> tweak_;
  const bool short_;
  uint8_t block_[kSha256BlockLen];
  uint8_t scratch_[kSha256DigestLen];
  uint32_t h_[8];
};

// in_registers tells whether the backend has the cipher in registers for this tweak.
bool in_registers(const Backend& b, std::span<const uint8_t> tweak) {
  return b.encrypt != nullptr && tweak.size() <= feistel::kShaMaxTweakLen;
}

}  // namespace

U128 Feistel8::encrypt(U128 value, std::span<const uint8_t> tweak) const {
  const Backend& b = backend();
  if (in_registers(b, tweak)) { return b.encrypt(state_, value, tweak); }
  return encrypt_portable(value, tweak);
}

U128 Feistel8::decrypt(U128 value, std::span<const uint8_t> tweak) const {
  const Backend& b = backend();
  if (in_registers(b, tweak)) { return b.decrypt(state_, value, tweak); }
  return decrypt_portable(value, tweak);
}

U128 Feistel8::decrypt_with_mac(U128 value, std::span<const uint8_t> tweak, const HmacKey& other,
                                const BlockWriter& write_block, uint32_t mac[8],
                                const MacFilter& walk_on) const {
  const Backend& b = backend();
  if (in_registers(b, tweak)) {
    return b.decrypt_with_mac(state_, value, tweak, other, write_block, mac, walk_on);
  }
  // The same walk as in registers: one pass, and a further one only if walk_on accepts.
  uint8_t block[kSha256BlockLen];
  write_block(block);
  b.hmac_block(other.inner_state().h, other.outer_state().h, block, mac);
  RoundFunction round_function(state_, tweak);
  return feistel::walk<false>(value, state_, round_function, [&] { return walk_on(mac); });
}

void Feistel8::encrypt_many(std::span<const U128> in, std::span<const uint8_t> tweak,
                            std::span<U128> out) const {
  feistel_encrypt_many(state_, tweak, in, out);
}

void Feistel8::decrypt_many(std::span<const U128> in, std::span<const uint8_t> tweak,
                            std::span<U128> out) const {
  feistel_decrypt_many(state_, tweak, in, out);
}

U128 Feistel8::encrypt_portable(U128 value, std::span<const uint8_t> tweak) const {
  RoundFunction round_function(state_, tweak);
  return feistel::walk<true>(value, state_, round_function);
}

U128 Feistel8::decrypt_portable(U128 value, std::span<const uint8_t> tweak) const {
  RoundFunction round_function(state_, tweak);
  return feistel::walk<false>(value, state_, round_function);
}

// ---- Shuffle ----

Shuffle::Shuffle(const CipherDomain& domain) : inner_(derive_cipher_key(FIXED_PLAIN_KEY, domain)) {}

U128 Shuffle::encrypt(U128 value, std::span<const uint8_t> tweak) const {
  return inner_.encrypt(value, tweak);
}

U128 Shuffle::decrypt(U128 value, std::span<const uint8_t> tweak) const {
  return inner_.decrypt(value, tweak);
}

U128 Shuffle::decrypt_with_mac(U128 value, std::span<const uint8_t> tweak, const HmacKey& other,
                               const BlockWriter& write_block, uint32_t mac[8],
                               const MacFilter& walk_on) const {
  return inner_.decrypt_with_mac(value, tweak, other, write_block, mac, walk_on);
}

void Shuffle::encrypt_many(std::span<const U128> in, std::span<const uint8_t> tweak,
                           std::span<U128> out) const {
  inner_.encrypt_many(in, tweak, out);
}

void Shuffle::decrypt_many(std::span<const U128> in, std::span<const uint8_t> tweak,
                           std::span<U128> out) const {
  inner_.decrypt_many(in, tweak, out);
}

}  // namespace tavik::fpe
