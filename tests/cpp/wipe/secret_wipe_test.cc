// Key storage is wiped before it is freed: the key bytes of SecretBytes and of a CodecConfig
// (constructor key and with_cipher key), the absorbed HMAC states of the check key and of the
// cipher. A replacement of the global operator new and delete keeps each block's size in a
// header and, while a region is watched, copies that region out of any block just before the
// block is freed; the test then reads the copy. This file is its own test program, since the
// replacement would clash with the counting allocator of the main suite.

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <vector>

#include "core/builders.h"
#include "core/config.h"
#include "core/decode.h"
#include "core/secret_bytes.h"
#include "fpe/cipher.h"
#include "fpe/feistel.h"
#include "fpe/hmac.h"

namespace {

constexpr size_t kHeader = alignof(std::max_align_t);
constexpr size_t kMaxWatched = 8;
constexpr size_t kMaxRegion = 256;

// A region of memory to copy out when the block holding it is freed. Fixed storage: the
// hook must not allocate.
struct Watch {
  const uint8_t* begin = nullptr;
  size_t len = 0;
  bool freed = false;
  uint8_t at_free[kMaxRegion] = {};
};

std::array<Watch, kMaxWatched> watches;
size_t num_watches = 0;

void* allocate(size_t len) {
  auto* block = static_cast<uint8_t*>(std::malloc(kHeader + len));
  if (block == nullptr) { throw std::bad_alloc(); }
  std::memcpy(block, &len, sizeof len);
  return block + kHeader;
}

void release(void* p) noexcept {
  if (p == nullptr) { return; }
  auto* data = static_cast<uint8_t*>(p);
  uint8_t* block = data - kHeader;
  size_t len = 0;
  std::memcpy(&len, block, sizeof len);
  for (size_t i = 0; i < num_watches; ++i) {
    Watch& w = watches[i];
    if (!w.freed && w.begin >= data && w.begin + w.len <= data + len) {
      std::memcpy(w.at_free, w.begin, w.len);
      w.freed = true;
    }
  }
  std::free(block);
}

}  // namespace

void* operator new(size_t len) { return allocate(len); }
void* operator new[](size_t len) { return allocate(len); }
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, size_t) noexcept { release(p); }
void operator delete[](void* p, size_t) noexcept { release(p); }

namespace tavik {
namespace {

// watch registers a region (at most kMaxRegion bytes) and returns its slot.
Watch& watch(const void* begin, size_t len) {
  EXPECT_LE(len, kMaxRegion);
  EXPECT_LT(num_watches, kMaxWatched);
  Watch& w = watches[num_watches++];
  w = Watch{static_cast<const uint8_t*>(begin), len};
  return w;
}

void expect_wiped(const Watch& w, const char* what) {
  ASSERT_TRUE(w.freed) << what << " was never freed";
  for (size_t i = 0; i < w.len; ++i) { ASSERT_EQ(w.at_free[i], 0) << what << " byte " << i; }
}

class Wipe : public ::testing::Test {
 protected:
  void SetUp() override { num_watches = 0; }
  void TearDown() override { num_watches = 0; }
};

const std::vector<uint8_t> kKey(24, 0xA5);
const std::vector<uint8_t> kCipherKey(40, 0x5A);

TEST_F(Wipe, TheHookSeesWhatAnOrdinaryBufferLeavesBehind) {
  auto buffer = std::make_unique<std::vector<uint8_t>>(kKey);
  const Watch& left = watch(buffer->data(), kKey.size());
  buffer.reset();
  ASSERT_TRUE(left.freed);
  EXPECT_EQ(left.at_free[0], 0xA5);
  EXPECT_EQ(left.at_free[kKey.size() - 1], 0xA5);
}

TEST_F(Wipe, SecretBytesOnDestructionAndReassignment) {
  auto secret = std::make_unique<core::SecretBytes>(kKey);
  const Watch& first = watch(secret->bytes().data(), kKey.size());
  *secret = core::SecretBytes(kCipherKey);  // the old storage goes now
  expect_wiped(first, "replaced key");
  const Watch& second = watch(secret->bytes().data(), kCipherKey.size());
  EXPECT_EQ(second.begin[0], 0x5A);  // the watched bytes are the key's
  secret.reset();
  expect_wiped(second, "key");

  auto empty = std::make_unique<core::SecretBytes>(std::span<const uint8_t>());
  const Watch& one = watch(empty->bytes().data(), 1);  // an empty key still owns one byte
  empty.reset();
  expect_wiped(one, "empty key");
}

TEST_F(Wipe, HmacKeyAndCipherStatesInPlace) {
  // Placement into storage the test owns, read back after the destructor.
  alignas(fpe::HmacKey) uint8_t storage[sizeof(fpe::HmacKey)];
  auto* key = new (storage) fpe::HmacKey(fpe::HmacKey::derive(kKey));
  EXPECT_NE(key->inner_state().h[0], 0u);
  key->~HmacKey();
  EXPECT_EQ(std::vector<uint8_t>(storage, storage + sizeof storage),
            std::vector<uint8_t>(sizeof storage, 0));
}

TEST_F(Wipe, EveryKeyOfARecordWhenTheRecordIsDropped) {
  std::optional<core::CodecConfig> record;
  {
    Result<core::CodecConfig> made = core::construct_config(kKey, "universal", "sealed", 96);
    ASSERT_TRUE(made.ok());
    Result<core::CodecConfig> derived =
        core::with_cipher(made.value(), "feistel", std::span<const uint8_t>(kCipherKey));
    ASSERT_TRUE(derived.ok());
    record.emplace(std::move(derived).value());
  }  // the constructor's record is gone; the derived one shares its check key
  const auto* cipher = dynamic_cast<const fpe::Feistel8*>(record->cipher.get());
  ASSERT_NE(cipher, nullptr);
  const Watch& key = watch(record->key->bytes().data(), kKey.size());
  const Watch& cipher_key = watch(record->explicit_key->bytes().data(), kCipherKey.size());
  const Watch& check_state = watch(record->check_key.get(), sizeof(fpe::HmacKey));
  const Watch& cipher_state = watch(&cipher->state().hmac, sizeof(fpe::HmacKey));
  EXPECT_EQ(key.begin[0], 0xA5);
  EXPECT_EQ(cipher_key.begin[0], 0x5A);

  record.reset();
  expect_wiped(key, "constructor key");
  expect_wiped(cipher_key, "with_cipher key");
  expect_wiped(check_state, "check key state");
  expect_wiped(cipher_state, "cipher key state");
}

}  // namespace
}  // namespace tavik
