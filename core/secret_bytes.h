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

// SecretBytes owns key material and wipes it (with stores the optimiser may not drop) before freeing it. Its size is fixed, so no reallocation leaves a copy behind. A copy
// is a deep copy in storage of its own, which wipes itself in turn.
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
  SecretBytes(const SecretBytes& o) : SecretBytes(o.bytes()) {}
  SecretBytes& operator=(const SecretBytes& o) {
    if (this != &o) { *this = SecretBytes(o.bytes()); }
    return *this;
  }
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

}  // namespace tavik::core

#endif  // TAVIK_CORE_SECRET_BYTES_H_
