#include "fpe/cipher.h"

#include <cstring>

#include "fpe/feistel.h"

namespace tavik::fpe {
namespace {

CipherHandle build(CipherKind kind, std::optional<std::span<const uint8_t>> key,
                   const CipherDomain& domain) {
  if (kind == CipherKind::kShuffle) { return std::make_shared<const Shuffle>(domain); }
  return std::make_shared<const Feistel8>(
      derive_cipher_key(key ? *key : std::span<const uint8_t>(FIXED_PLAIN_KEY), domain));
}

}  // namespace

void BlockCopy::operator()(uint8_t block[kSha256BlockLen]) const {
  std::memcpy(block, block_, kSha256BlockLen);
}

U128 FpeCipher::decrypt_with_mac(U128 value, std::span<const uint8_t> tweak, const HmacKey& other,
                                 const BlockWriter& write_block, uint32_t mac[8],
                                 const MacFilter& walk_on) const {
  uint8_t block[kSha256BlockLen];
  write_block(block);
  sha256_hmac_block(other.inner_state().h, other.outer_state().h, block, mac);
  (void)walk_on;  // a cipher with no cycle walk of its own has nothing to stop
  return decrypt(value, tweak);
}

void FpeCipher::encrypt_many(std::span<const U128> in, std::span<const uint8_t> tweak,
                             std::span<U128> out) const {
  for (size_t i = 0; i < in.size() && i < out.size(); ++i) { out[i] = encrypt(in[i], tweak); }
}

void FpeCipher::decrypt_many(std::span<const U128> in, std::span<const uint8_t> tweak,
                             std::span<U128> out) const {
  for (size_t i = 0; i < in.size() && i < out.size(); ++i) { out[i] = decrypt(in[i], tweak); }
}

Result<CipherHandle> make_cipher(std::string_view kind, std::optional<std::span<const uint8_t>> key,
                                 const CipherDomain& domain) {
  if (kind == "feistel" || kind == "feistel8") { return build(CipherKind::kFeistel8, key, domain); }
  if (kind == "shuffle" || kind == "shuffle4") { return build(CipherKind::kShuffle, key, domain); }
  return value_error(kUnknownCipherMessage);
}

CipherHandle rebuild_cipher(const FpeCipher& cipher, std::optional<std::span<const uint8_t>> key,
                            const CipherDomain& domain) {
  return build(cipher.kind(), key, domain);
}

}  // namespace tavik::fpe
