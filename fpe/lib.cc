#include "fpe/lib.h"

#include "fpe/feistel_pass.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace tavik::fpe {
namespace {

inline void store_be32(uint32_t v, uint8_t* out) {
  out[0] = static_cast<uint8_t>(v >> 24);
  out[1] = static_cast<uint8_t>(v >> 16);
  out[2] = static_cast<uint8_t>(v >> 8);
  out[3] = static_cast<uint8_t>(v);
}

inline void store_be64(uint64_t v, uint8_t* out) {
  store_be32(static_cast<uint32_t>(v >> 32), out);
  store_be32(static_cast<uint32_t>(v), out + 4);
}

inline void store_digest(const uint32_t h[8], uint8_t out[kSha256DigestLen]) {
  for (size_t i = 0; i < 8; ++i) { store_be32(h[i], out + 4 * i); }
}

// Pads the last partial block (`len` < 64 bytes already in `block`) for a message of
// `total_len` bytes and compresses it, and a second block when the length does not fit.
void finish_blocks(uint32_t h[8], uint8_t block[kSha256BlockLen], size_t len, uint64_t total_len) {
  block[len++] = 0x80;
  if (len > kSha256BlockLen - 8) {
    std::memset(block + len, 0, kSha256BlockLen - len);
    sha256_compress(h, block);
    len = 0;
  }
  std::memset(block + len, 0, kSha256BlockLen - 8 - len);
  store_be64(total_len * 8, block + kSha256BlockLen - 8);
  sha256_compress(h, block);
}

// Finishes HMAC from the inner chaining value in `h`: the outer state continued with the
// 32-byte inner digest, which is laid out in `block`. The MAC is left in `h` as eight words.
void finish_outer(const HmacKey& key, uint8_t block[kSha256BlockLen], uint32_t h[8]) {
  const Sha256State& outer = key.outer_state();
  store_digest(h, block);
  std::memcpy(h, outer.h, sizeof(outer.h));
  finish_blocks(h, block, kSha256DigestLen, outer.num_blocks * kSha256BlockLen + kSha256DigestLen);
}

}  // namespace

// ---- HmacKey ----

HmacKey::~HmacKey() {
  OPENSSL_cleanse(&inner_, sizeof(inner_));
  OPENSSL_cleanse(&outer_, sizeof(outer_));
}

HmacKey HmacKey::derive(std::span<const uint8_t> key) {
  uint8_t key_block[kSha256BlockLen] = {};
  if (key.size() > kSha256BlockLen) {
    sha256_digest(key, key_block);
  } else if (!key.empty()) {
    std::memcpy(key_block, key.data(), key.size());
  }
  uint8_t pad[kSha256BlockLen];
  HmacKey result;
  for (size_t i = 0; i < kSha256BlockLen; ++i) { pad[i] = key_block[i] ^ 0x36; }
  result.inner_ = sha256_initial_state();
  sha256_compress(result.inner_.h, pad);
  result.inner_.num_blocks = 1;
  for (size_t i = 0; i < kSha256BlockLen; ++i) { pad[i] = key_block[i] ^ 0x5c; }
  result.outer_ = sha256_initial_state();
  sha256_compress(result.outer_.h, pad);
  result.outer_.num_blocks = 1;
  OPENSSL_cleanse(pad, sizeof(pad));
  OPENSSL_cleanse(key_block, sizeof(key_block));
  return result;
}

void HmacKey::mac(std::span<const uint8_t> message, uint8_t out[kSha256DigestLen]) const {
  HmacStream stream(*this);
  stream.update(message);
  stream.finish(out);
}

void HmacKey::mac_short(std::span<const uint8_t> message, uint8_t out[kSha256DigestLen]) const {
  if (message.size() > kShortMessageLen) {
    mac(message, out);
    return;
  }
  uint8_t block[kSha256BlockLen];
  uint32_t h[8];
  if (!message.empty()) { std::memcpy(block, message.data(), message.size()); }
  std::memset(block + message.size(), 0, kSha256BlockLen - message.size());
  block[message.size()] = 0x80;
  store_be64((inner_.num_blocks * kSha256BlockLen + message.size()) * 8,
             block + kSha256BlockLen - 8);
  sha256_hmac_block(inner_.h, outer_.h, block, h);
  store_digest(h, out);
  OPENSSL_cleanse(block, sizeof(block));
  OPENSSL_cleanse(h, sizeof(h));
}

// ---- HmacStream ----

HmacStream::HmacStream(const HmacKey& key) : state_(key.inner_state()), key_(&key) {}

HmacStream::~HmacStream() {
  OPENSSL_cleanse(&state_, sizeof(state_));
  OPENSSL_cleanse(buffer_, sizeof(buffer_));
}

void HmacStream::update(std::span<const uint8_t> piece) {
  if (piece.empty()) { return; }  // its data() may be null, which memcpy may not be given
  message_len_ += piece.size();
  const uint8_t* p = piece.data();
  size_t left = piece.size();
  if (buffer_len_ != 0) {
    const size_t take = std::min(left, kSha256BlockLen - buffer_len_);
    std::memcpy(buffer_ + buffer_len_, p, take);
    buffer_len_ += take;
    p += take;
    left -= take;
    if (buffer_len_ < kSha256BlockLen) { return; }
    sha256_compress(state_.h, buffer_);
    buffer_len_ = 0;
  }
  for (; left >= kSha256BlockLen; p += kSha256BlockLen, left -= kSha256BlockLen) {
    sha256_compress(state_.h, p);
  }
  if (left != 0) {
    std::memcpy(buffer_, p, left);
    buffer_len_ = left;
  }
}

void HmacStream::finish(uint8_t out[kSha256DigestLen]) {
  finish_blocks(state_.h, buffer_, buffer_len_, state_.num_blocks * kSha256BlockLen + message_len_);
  finish_outer(*key_, buffer_, state_.h);
  store_digest(state_.h, out);
}

// ---- CipherDomain and key derivation ----

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

// ---- Feistel8 ----

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
      : state_(state),
        tweak_(tweak),
        short_(kFixedLen + tweak.size() <= HmacKey::kShortMessageLen) {
    if (!short_) { return; }
    const size_t message_len = kFixedLen + tweak.size();
    if (!tweak.empty()) { std::memcpy(block_ + 1, tweak.data(), tweak.size()); }
    std::memset(block_ + message_len, 0, kSha256BlockLen - message_len);
    block_[message_len] = 0x80;
    store_be64((state.hmac.inner_state().num_blocks * kSha256BlockLen + message_len) * 8,
               block_ + kSha256BlockLen - 8);
  }
  RoundFunction(const RoundFunction&) = delete;
  RoundFunction& operator=(const RoundFunction&) = delete;
  ~RoundFunction() {
    OPENSSL_cleanse(block_, sizeof(block_));
    OPENSSL_cleanse(scratch_, sizeof(scratch_));
    OPENSSL_cleanse(h_, sizeof(h_));
  }

  uint64_t operator()(uint8_t round, uint64_t half) {
    uint64_t head = 0;
    if (short_) {
      block_[0] = round;
      store_be64(half, block_ + 1 + tweak_.size());
      sha256_hmac_block(state_.hmac.inner_state().h, state_.hmac.outer_state().h, block_, h_);
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
  const CipherKeyState& state_;
  std::span<const uint8_t> tweak_;
  const bool short_;
  uint8_t block_[kSha256BlockLen];
  uint8_t scratch_[kSha256DigestLen];
  uint32_t h_[8];
};

bool use_shani(std::span<const uint8_t> tweak) {
  return tweak.size() <= feistel::kShaniMaxTweakLen && sha256_has_shani();
}

}  // namespace

U128 Feistel8::encrypt(U128 value, std::span<const uint8_t> tweak) const {
  if (use_shani(tweak)) { return feistel::encrypt_shani(state_, value, tweak); }
  return encrypt_portable(value, tweak);
}

U128 FpeCipher::decrypt_with_mac(U128 value, std::span<const uint8_t> tweak, const HmacKey& other,
                                 const uint8_t block[kSha256BlockLen], uint32_t mac[8],
                                 const MacFilter& walk_on) const {
  sha256_hmac_block(other.inner_state().h, other.outer_state().h, block, mac);
  if (!walk_on(mac)) { return value; }  // no pass at all: the caller refuses the word
  return decrypt(value, tweak);
}

U128 Feistel8::decrypt_with_mac(U128 value, std::span<const uint8_t> tweak, const HmacKey& other,
                                const uint8_t block[kSha256BlockLen], uint32_t mac[8],
                                const MacFilter& walk_on) const {
  if (use_shani(tweak)) {
    return feistel::decrypt_with_mac_shani(state_, value, tweak, other, block, mac, walk_on);
  }
  return FpeCipher::decrypt_with_mac(value, tweak, other, block, mac, walk_on);
}

U128 Feistel8::decrypt(U128 value, std::span<const uint8_t> tweak) const {
  if (use_shani(tweak)) { return feistel::decrypt_shani(state_, value, tweak); }
  return decrypt_portable(value, tweak);
}

U128 Feistel8::encrypt_portable(U128 value, std::span<const uint8_t> tweak) const {
  RoundFunction round_function(state_, tweak);
  return feistel::walk<true>(value, state_, round_function);
}

U128 Feistel8::decrypt_portable(U128 value, std::span<const uint8_t> tweak) const {
  RoundFunction round_function(state_, tweak);
  return feistel::walk<false>(value, state_, round_function);
}

// ---- Shuffle and the cipher factory ----

Shuffle::Shuffle(const CipherDomain& domain) : inner_(derive_cipher_key(FIXED_PLAIN_KEY, domain)) {}

U128 Shuffle::encrypt(U128 value, std::span<const uint8_t> tweak) const {
  return inner_.encrypt(value, tweak);
}

U128 Shuffle::decrypt(U128 value, std::span<const uint8_t> tweak) const {
  return inner_.decrypt(value, tweak);
}

U128 Shuffle::decrypt_with_mac(U128 value, std::span<const uint8_t> tweak, const HmacKey& other,
                               const uint8_t block[kSha256BlockLen], uint32_t mac[8],
                               const MacFilter& walk_on) const {
  return inner_.decrypt_with_mac(value, tweak, other, block, mac, walk_on);
}

std::optional<CipherKind> parse_cipher_kind(std::string_view kind) {
  if (kind == "feistel" || kind == "feistel8") { return CipherKind::kFeistel8; }
  if (kind == "shuffle" || kind == "shuffle4") { return CipherKind::kShuffle; }
  return std::nullopt;
}

CipherHandle build_cipher(CipherKind kind, std::optional<std::span<const uint8_t>> key,
                          const CipherDomain& domain) {
  switch (kind) {
    case CipherKind::kFeistel8:
      return std::make_shared<const Feistel8>(
          derive_cipher_key(key ? *key : std::span<const uint8_t>(FIXED_PLAIN_KEY), domain));
    case CipherKind::kShuffle: return std::make_shared<const Shuffle>(domain);
  }
  return nullptr;  // unreachable: every kind is handled above
}

core::Result<CipherHandle> make_cipher(std::string_view kind,
                                       std::optional<std::span<const uint8_t>> key,
                                       const CipherDomain& domain) {
  const std::optional<CipherKind> parsed = parse_cipher_kind(kind);
  if (!parsed) { return core::value_error(std::string(kUnknownCipherMessage)); }
  return build_cipher(*parsed, key, domain);
}

}  // namespace tavik::fpe
