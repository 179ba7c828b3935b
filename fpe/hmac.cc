#include "fpe/hmac.h"

#include <algorithm>
#include <cstring>

#include "base/big_endian.h"
#include "base/secure_wipe.h"

namespace tavik::fpe {
namespace {

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

}  // namespace

// ---- HmacKey ----

HmacKey::~HmacKey() {
  secure_wipe(&inner_, sizeof(inner_));
  secure_wipe(&outer_, sizeof(outer_));
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
  secure_wipe(pad, sizeof(pad));
  secure_wipe(key_block, sizeof(key_block));
  return result;
}

void HmacKey::mac(std::span<const uint8_t> message, uint8_t out[kSha256DigestLen]) const {
  if (message.size() > kHmacShortMessageLen) {
    HmacStream stream(*this);
    stream.update(message);
    stream.finish(out);
    return;
  }
  uint8_t block[kSha256BlockLen] = {};
  uint32_t h[8];
  if (!message.empty()) { std::memcpy(block, message.data(), message.size()); }
  pad_hmac_block(block, message.size());
  sha256_hmac_block(inner_.h, outer_.h, block, h);
  store_digest(h, out);
  secure_wipe(block, sizeof(block));
  secure_wipe(h, sizeof(h));
}

// ---- HmacStream ----

HmacStream::HmacStream(const HmacKey& key) : state_(key.inner_state()), key_(&key) {}

HmacStream::~HmacStream() {
  secure_wipe(&state_, sizeof(state_));
  secure_wipe(buffer_, sizeof(buffer_));
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
  // The outer state continued with the 32-byte inner digest.
  const Sha256State& outer = key_->outer_state();
  store_digest(state_.h, buffer_);
  std::memcpy(state_.h, outer.h, sizeof(outer.h));
  finish_blocks(state_.h, buffer_, kSha256DigestLen,
                outer.num_blocks * kSha256BlockLen + kSha256DigestLen);
  store_digest(state_.h, out);
}

}  // namespace tavik::fpe
