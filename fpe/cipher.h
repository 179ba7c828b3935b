#ifndef TAVIK_FPE_CIPHER_H_
#define TAVIK_FPE_CIPHER_H_

// The cipher interface that the codec holds, and the factory that builds a cipher from its
// kind's name.

#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

#include "base/result.h"
#include "base/u128.h"
#include "fpe/cipher_key.h"
#include "fpe/hmac.h"

namespace tavik::fpe {

// MacFilter tells from a MAC whether a cycle walk is worth finishing (see decrypt_with_mac).
class MacFilter {
 public:
  virtual bool operator()(const uint32_t mac[8]) const = 0;

 protected:
  ~MacFilter() = default;
};

// BlockWriter writes a message block when a cipher asks for it (see decrypt_with_mac), so that
// the writing can run while the cipher's own hashing does.
class BlockWriter {
 public:
  virtual void operator()(uint8_t block[kSha256BlockLen]) const = 0;

 protected:
  ~BlockWriter() = default;
};

// BlockCopy is the BlockWriter of a block that is ready: it copies it.
class BlockCopy final : public BlockWriter {
 public:
  explicit BlockCopy(const uint8_t block[kSha256BlockLen]) : block_(block) {}
  // Defined out of line: an inline body could be copied, speculatively devirtualized, into the
  // files compiled for other instruction sets, and that copy kept for the whole program.
  void operator()(uint8_t block[kSha256BlockLen]) const override;

 private:
  const uint8_t* block_;
};

// CipherKind names the two ciphers: Feistel8 under a key, and Shuffle, the same permutation
// under FIXED_PLAIN_KEY.
enum class CipherKind : uint8_t { kFeistel8, kShuffle };

// FpeCipher is a tweakable permutation of a domain. encrypt and decrypt never fail and never
// allocate; values above the domain's max_value are permuted but not restored.
class FpeCipher {
 public:
  virtual ~FpeCipher() = default;
  virtual CipherKind kind() const = 0;
  virtual U128 encrypt(U128 value, std::span<const uint8_t> tweak) const = 0;
  virtual U128 decrypt(U128 value, std::span<const uint8_t> tweak) const = 0;
  // decrypt_with_mac is decrypt that also finishes one HMAC under another key, as
  // sha256_hmac_block(other.inner, other.outer, block, mac) does for the block that
  // write_block writes (it is called once). Where the SHA instructions serve the cipher,
  // write_block runs while the first round's compressions do and the HMAC runs side by side
  // with the second round, so a decoder lays out its check block and has its check digest at
  // almost no extra time. Before any further pass of a cycle walk it asks `walk_on` about the
  // MAC: when that says no, the walk stops after its first pass and the result is that pass's,
  // above the domain, the same on every backend (a word whose check fails is refused after one
  // pass, however long its walk would be). A cipher without a walk of its own ignores
  // `walk_on`. Never fails, never allocates.
  virtual U128 decrypt_with_mac(U128 value, std::span<const uint8_t> tweak, const HmacKey& other,
                                const BlockWriter& write_block, uint32_t mac[8],
                                const MacFilter& walk_on) const;
  // encrypt_many and decrypt_many write encrypt or decrypt of every value of `in` to `out`
  // (as long as `in`; it may be `in` itself). Where the processor allows, several values are
  // hashed in lockstep; the default runs one after another. Never fail, never allocate.
  virtual void encrypt_many(std::span<const U128> in, std::span<const uint8_t> tweak,
                            std::span<U128> out) const;
  virtual void decrypt_many(std::span<const U128> in, std::span<const uint8_t> tweak,
                            std::span<U128> out) const;
};

using CipherHandle = std::shared_ptr<const FpeCipher>;

inline constexpr std::string_view kUnknownCipherMessage =
    "unknown cipher: use 'feistel' or 'shuffle'";

// make_cipher builds the cipher whose kind is named exactly "feistel" or "feistel8" (Feistel8
// under the key, FIXED_PLAIN_KEY when there is none) or "shuffle" or "shuffle4" (Shuffle,
// whatever key is given) for the domain. Any other name fails with kValue and
// kUnknownCipherMessage.
Result<CipherHandle> make_cipher(std::string_view kind, std::optional<std::span<const uint8_t>> key,
                                 const CipherDomain& domain);

// rebuild_cipher builds a cipher of the same kind as `cipher` for another domain, under the
// key given (ignored by Shuffle), as make_cipher would.
CipherHandle rebuild_cipher(const FpeCipher& cipher, std::optional<std::span<const uint8_t>> key,
                            const CipherDomain& domain);

}  // namespace tavik::fpe

#endif  // TAVIK_FPE_CIPHER_H_
