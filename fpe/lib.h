#ifndef TAVIK_FPE_LIB_H_
#define TAVIK_FPE_LIB_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

#include "core/result.h"
#include "fpe/sha256.h"
#include "fpe/u128.h"

namespace tavik::fpe {

// FIXED_PLAIN_KEY is the public key of mode plain and of every Shuffle cipher. It hides
// nothing; it only fixes the permutation.
inline constexpr std::array<uint8_t, 32> FIXED_PLAIN_KEY = {
    0xc4, 0x7a, 0x09, 0xe2, 0x5b, 0x13, 0xf8, 0x6d, 0x2e, 0x90, 0x47, 0xb1, 0xa5, 0x6c, 0xd8, 0x3f,
    0x0e, 0x7b, 0x29, 0xc4, 0xd1, 0x65, 0xfa, 0x38, 0xb2, 0x0e, 0x94, 0xc7, 0x56, 0x3a, 0xd1, 0x8f};

// HmacKey holds HMAC-SHA-256 with its key absorbed: the SHA-256 states after the key block
// XOR 0x36 (inner) and XOR 0x5c (outer). Every MAC works on copies of them, so one HmacKey
// serves any number of threads. The states are key material and are wiped on destruction.
class HmacKey {
 public:
  HmacKey() = default;
  HmacKey(const HmacKey&) = default;
  HmacKey& operator=(const HmacKey&) = default;
  ~HmacKey();

  // derive absorbs a key of any length (longer than 64 bytes: its SHA-256 digest is used).
  static HmacKey derive(std::span<const uint8_t> key);

  // mac computes HMAC-SHA-256 of a message of any length. It never allocates.
  void mac(std::span<const uint8_t> message, uint8_t out[kSha256DigestLen]) const;
  // mac_short is mac for a message of at most kShortMessageLen bytes, which with its padding
  // fits one inner block: two compressions in all. A longer message goes through mac.
  static constexpr size_t kShortMessageLen = 55;
  void mac_short(std::span<const uint8_t> message, uint8_t out[kSha256DigestLen]) const;

  const Sha256State& inner_state() const { return inner_; }
  const Sha256State& outer_state() const { return outer_; }

 private:
  Sha256State inner_{};
  Sha256State outer_{};
};

// HmacStream computes one HMAC-SHA-256 of the concatenation of pieces given in turn, on
// copies of a key's states; the key must outlive it. It never allocates and wipes its
// buffers on destruction. finish() writes the MAC and ends it: neither update nor finish may
// be called after that.
class HmacStream {
 public:
  explicit HmacStream(const HmacKey& key);
  HmacStream(const HmacStream&) = delete;
  HmacStream& operator=(const HmacStream&) = delete;
  ~HmacStream();

  void update(std::span<const uint8_t> piece);
  void finish(uint8_t out[kSha256DigestLen]);

 private:
  Sha256State state_;
  const HmacKey* key_;
  uint8_t buffer_[kSha256BlockLen];
  size_t buffer_len_ = 0;
  uint64_t message_len_ = 0;  // bytes after the key block
};

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

// MacFilter tells from a MAC whether a cycle walk is worth finishing (see decrypt_with_mac).
class MacFilter {
 public:
  virtual bool operator()(const uint32_t mac[8]) const = 0;

 protected:
  ~MacFilter() = default;
};

// FpeCipher is a tweakable permutation of a domain. encrypt and decrypt never fail and never
// allocate; values above the domain's max_value are permuted but not restored.
class FpeCipher {
 public:
  virtual ~FpeCipher() = default;
  virtual U128 encrypt(U128 value, std::span<const uint8_t> tweak) const = 0;
  virtual U128 decrypt(U128 value, std::span<const uint8_t> tweak) const = 0;
  // decrypt_with_mac is decrypt that also finishes one HMAC under another key, as
  // sha256_hmac_block(other.inner, other.outer, block, mac) does. Where the SHA instructions
  // serve the cipher, that HMAC runs side by side with its first round, so a decoder has its
  // check digest at almost no extra time. Before any further pass of a cycle walk it asks
  // `walk_on` about the MAC: when that says no, the walk stops and the result is meaningless
  // (a word whose check fails is refused after one pass, however long its walk would be).
  // Never fails, never allocates.
  virtual U128 decrypt_with_mac(U128 value, std::span<const uint8_t> tweak, const HmacKey& other,
                                const uint8_t block[kSha256BlockLen], uint32_t mac[8],
                                const MacFilter& walk_on) const;
};

// Feistel8 is an 8-round Feistel network with HMAC-SHA-256 rounds and cycle walking (up to
// 256 further passes) for domains that are not a power of two.
class Feistel8 final : public FpeCipher {
 public:
  explicit Feistel8(CipherKeyState state) : state_(std::move(state)) {}
  U128 encrypt(U128 value, std::span<const uint8_t> tweak) const override;
  U128 decrypt(U128 value, std::span<const uint8_t> tweak) const override;
  U128 decrypt_with_mac(U128 value, std::span<const uint8_t> tweak, const HmacKey& other,
                        const uint8_t block[kSha256BlockLen], uint32_t mac[8],
                        const MacFilter& walk_on) const override;
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
  U128 encrypt(U128 value, std::span<const uint8_t> tweak) const override;
  U128 decrypt(U128 value, std::span<const uint8_t> tweak) const override;
  U128 decrypt_with_mac(U128 value, std::span<const uint8_t> tweak, const HmacKey& other,
                        const uint8_t block[kSha256BlockLen], uint32_t mac[8],
                        const MacFilter& walk_on) const override;

 private:
  Feistel8 inner_;
};

using CipherHandle = std::shared_ptr<const FpeCipher>;

enum class CipherKind : uint8_t { kFeistel8, kShuffle };

inline constexpr std::string_view kUnknownCipherMessage =
    "unknown cipher: use 'feistel' or 'shuffle'";

// parse_cipher_kind accepts exactly "feistel", "feistel8", "shuffle" and "shuffle4".
std::optional<CipherKind> parse_cipher_kind(std::string_view kind);

// build_cipher builds a cipher of the kind for the domain: Feistel8 under the key
// (FIXED_PLAIN_KEY when there is none), Shuffle under FIXED_PLAIN_KEY whatever key is given.
CipherHandle build_cipher(CipherKind kind, std::optional<std::span<const uint8_t>> key,
                          const CipherDomain& domain);

// make_cipher parses the kind text and builds the cipher. It fails with kValue and
// kUnknownCipherMessage for any kind text other than the four above.
core::Result<CipherHandle> make_cipher(std::string_view kind,
                                       std::optional<std::span<const uint8_t>> key,
                                       const CipherDomain& domain);

}  // namespace tavik::fpe

#endif  // TAVIK_FPE_LIB_H_
