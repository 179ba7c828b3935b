#ifndef TAVIK_CORE_SECRET_BYTES_H_
#define TAVIK_CORE_SECRET_BYTES_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <utility>

#include "base/secure_wipe.h"

namespace tavik::core {

// SecretBytes owns key material and wipes it (with stores the optimiser may not drop) before
// freeing it. Its size is fixed, so no reallocation leaves a copy behind, and it cannot be
// copied: records that use one key share one SecretBytes (SharedSecret).
class SecretBytes {
 public:
  SecretBytes() = default;
  explicit SecretBytes(std::span<const uint8_t> bytes)
      : data_(std::make_unique<uint8_t[]>(bytes.size() == 0 ? 1 : bytes.size())),
        len_(bytes.size()) {
    if (len_ != 0) { std::memcpy(data_.get(), bytes.data(), len_); }
  }
  SecretBytes(SecretBytes&& o) noexcept
      : data_(std::move(o.data_)), len_(std::exchange(o.len_, 0)) {}
  SecretBytes& operator=(SecretBytes&& o) noexcept {
    if (this != &o) {
      wipe();
      data_ = std::move(o.data_);
      len_ = std::exchange(o.len_, 0);
    }
    return *this;
  }
  SecretBytes(const SecretBytes&) = delete;
  SecretBytes& operator=(const SecretBytes&) = delete;
  ~SecretBytes() { wipe(); }

  std::span<const uint8_t> bytes() const { return {data_.get(), len_}; }
  size_t size() const { return len_; }

 private:
  void wipe() {
    if (data_) {
      const size_t capacity = len_ == 0 ? 1 : len_;
      secure_wipe(data_.get(), capacity);
      len_ = 0;
      data_.reset();
    }
  }

  std::unique_ptr<uint8_t[]> data_;
  size_t len_ = 0;
};

// SharedSecret is one key's only copy, shared by every record that uses it; null for none.
using SharedSecret = std::shared_ptr<const SecretBytes>;

}  // namespace tavik::core

#endif  // TAVIK_CORE_SECRET_BYTES_H_
