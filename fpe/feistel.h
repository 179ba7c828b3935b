#ifndef TAVIK_FPE_FEISTEL_H_
#define TAVIK_FPE_FEISTEL_H_

// Feistel8, the codec's cipher, and Shuffle, the same permutation under the public key.

#include <cstdint>
#include <span>

#include "base/u128.h"
#include "fpe/cipher.h"
#include "fpe/cipher_key.h"

namespace tavik::fpe {

// Feistel8 is an 8-round Feistel network with HMAC-SHA-256 rounds and cycle walking (up to
// 256 further passes) for domains that are not a power of two.
class Feistel8 final : public FpeCipher {
 public:
  explicit Feistel8(CipherKeyState state) : state_(std::move(state)) {}
  CipherKind kind() const override { return CipherKind::kFeistel8; }
  U128 encrypt(U128 value, std::span<const uint8_t> tweak) const override;
  U128 decrypt(U128 value, std::span<const uint8_t> tweak) const override;
  U128 decrypt_with_mac(U128 value, std::span<const uint8_t> tweak, const HmacKey& other,
                        const BlockWriter& write_block, uint32_t mac[8],
                        const MacFilter& walk_on) const override;
  void encrypt_many(std::span<const U128> in, std::span<const uint8_t> tweak,
                    std::span<U128> out) const override;
  void decrypt_many(std::span<const U128> in, std::span<const uint8_t> tweak,
                    std::span<U128> out) const override;
  // encrypt_portable and decrypt_portable compute the same permutation with the round function
  // that serves any tweak: each round's block laid out in memory and finished by
  // sha256_hmac_block. encrypt and decrypt keep everything in registers instead where the
  // processor has the SHA instructions and the tweak has at most 7 bytes.
  U128 encrypt_portable(U128 value, std::span<const uint8_t> tweak) const;
  U128 decrypt_portable(U128 value, std::span<const uint8_t> tweak) const;
  const CipherKeyState& state() const { return state_; }

 private:
  CipherKeyState state_;
};

// Shuffle is Feistel8 under FIXED_PLAIN_KEY: it scrambles values and hides nothing.
class Shuffle final : public FpeCipher {
 public:
  explicit Shuffle(const CipherDomain& domain);
  CipherKind kind() const override { return CipherKind::kShuffle; }
  U128 encrypt(U128 value, std::span<const uint8_t> tweak) const override;
  U128 decrypt(U128 value, std::span<const uint8_t> tweak) const override;
  U128 decrypt_with_mac(U128 value, std::span<const uint8_t> tweak, const HmacKey& other,
                        const BlockWriter& write_block, uint32_t mac[8],
                        const MacFilter& walk_on) const override;
  void encrypt_many(std::span<const U128> in, std::span<const uint8_t> tweak,
                    std::span<U128> out) const override;
  void decrypt_many(std::span<const U128> in, std::span<const uint8_t> tweak,
                    std::span<U128> out) const override;
  const Feistel8& feistel() const { return inner_; }

 private:
  Feistel8 inner_;
};

}  // namespace tavik::fpe

#endif  // TAVIK_FPE_FEISTEL_H_
