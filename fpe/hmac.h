#ifndef TAVIK_FPE_HMAC_H_
#define TAVIK_FPE_HMAC_H_

// HMAC-SHA-256 from absorbed key states: the key is hashed once, and every MAC after that
// works on copies of the two states, two compressions for a short message.

#include <cstddef>
#include <cstdint>
#include <span>

#include "base/big_endian.h"
#include "fpe/sha256.h"

namespace tavik::fpe {

// kHmacShortMessageLen is the longest message whose rest after the key block, padding and
// length included, is one block: its MAC costs two compressions.
inline constexpr size_t kHmacShortMessageLen = kSha256BlockLen - 1 - 8;

// pad_hmac_block ends the one inner block of a short message (message_len <=
// kHmacShortMessageLen) that stands in block[0, message_len) with zeros after it: it writes
// 0x80 after the message and the bit length of the key block and the message at the end.
// sha256_hmac_block then takes the block. (Zeroing a whole block first is a few wide stores;
// zeroing only its variable tail would be a library call.)
inline void pad_hmac_block(uint8_t block[kSha256BlockLen], size_t message_len) {
  block[message_len] = 0x80;
  store_be64((kSha256BlockLen + message_len) * 8, block + kSha256BlockLen - 8);
}

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

  // mac computes HMAC-SHA-256 of a message of any length: two compressions when it is at most
  // kHmacShortMessageLen bytes. It never allocates.
  void mac(std::span<const uint8_t> message, uint8_t out[kSha256DigestLen]) const;

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

}  // namespace tavik::fpe

#endif  // TAVIK_FPE_HMAC_H_
