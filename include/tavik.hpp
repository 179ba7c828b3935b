// tavik.hpp: the C interface of tavik.h for C++20: a codec that frees itself, std::span and
// std::string_view arguments, and failures as tavik::StatusError, an exception that carries the
// status and its text. Header-only; it adds no symbol to the library.
#ifndef TAVIK_HPP_
#define TAVIK_HPP_

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#include <tavik.h>

namespace tavik {

using Id = std::array<uint8_t, TAVIK_ID_LEN>;

// StatusError is a failed call: status() is its status, what() the text of tavik_status_text.
class StatusError : public std::runtime_error {
 public:
  explicit StatusError(int status) : std::runtime_error(tavik_status_text(status)), status_(status) {}
  int status() const noexcept { return status_; }

 private:
  int status_;
};

inline void check(int status) {
  if (status != TAVIK_OK) { throw StatusError(status); }
}

// Scratch owns the working storage of the bulk calls: one per thread.
class Scratch {
 public:
  Scratch() { check(tavik_scratch_new(&scratch_)); }
  Scratch(Scratch&& other) noexcept : scratch_(std::exchange(other.scratch_, nullptr)) {}
  Scratch& operator=(Scratch&& other) noexcept {
    tavik_scratch_free(std::exchange(scratch_, std::exchange(other.scratch_, nullptr)));
    return *this;
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  ~Scratch() { tavik_scratch_free(scratch_); }
  tavik_scratch* get() const noexcept { return scratch_; }

 private:
  tavik_scratch* scratch_ = nullptr;
};

// Codec owns a tavik_codec. It can be moved, not copied; one Codec may be used by any number of
// threads at once.
class Codec {
 public:
  // Builds a codec from a settings text; an empty key span is no key unless its data() is set.
  explicit Codec(const std::string& settings, std::span<const uint8_t> key = {},
                 std::span<const uint8_t> cipher_key = {}) {
    check(tavik_codec_new(settings.c_str(), key.data(), key.size(), cipher_key.data(),
                          cipher_key.size(), &codec_));
  }
  Codec(Codec&& other) noexcept : codec_(std::exchange(other.codec_, nullptr)) {}
  Codec& operator=(Codec&& other) noexcept {
    tavik_codec_free(std::exchange(codec_, std::exchange(other.codec_, nullptr)));
    return *this;
  }
  Codec(const Codec&) = delete;
  Codec& operator=(const Codec&) = delete;
  ~Codec() { tavik_codec_free(codec_); }

  const tavik_codec* get() const noexcept { return codec_; }

  // settings_into writes the codec's canonical settings text into `text`
  // (TAVIK_MAX_SETTINGS_LEN bytes always suffice) and returns its length; it never allocates.
  size_t settings_into(std::span<char> text) const {
    size_t len = 0;
    check(tavik_codec_settings(codec_, text.data(), text.size(), &len));
    return len;
  }
  // settings is the codec's canonical settings text, the one Tavik.settings writes in Python.
  std::string settings() const {
    std::array<char, TAVIK_MAX_SETTINGS_LEN> text;
    return std::string(text.data(), settings_into(text));
  }

  // encode_into writes the word into `word` (TAVIK_MAX_WORD_LEN bytes always suffice) and
  // returns its length; it never allocates.
  size_t encode_into(std::span<const uint8_t> data, std::span<char> word) const {
    size_t len = 0;
    check(tavik_encode(codec_, data.data(), data.size(), word.data(), word.size(), &len));
    return len;
  }
  std::string encode(std::span<const uint8_t> data) const {
    std::array<char, TAVIK_MAX_WORD_LEN> word;
    return std::string(word.data(), encode_into(data, word));
  }
  Id decode(std::string_view word) const {
    Id out;
    check(tavik_decode(codec_, word.data(), word.size(), out.data()));
    return out;
  }
  Id recover(std::string_view word) const {
    Id out;
    check(tavik_recover(codec_, word.data(), word.size(), out.data()));
    return out;
  }

  // The bulk forms, for statuses.size() items: each item's status goes to statuses, and only
  // arrays too short for that many items throw. Word i lies at words[i * word_stride].
  void encode_many(Scratch& scratch, std::span<const uint8_t> data, size_t item_len,
                   std::span<char> words, size_t word_stride, std::span<size_t> word_lens,
                   std::span<int> statuses) const {
    const size_t count = statuses.size();
    if (!holds(data.size(), count, item_len) || !holds(words.size(), count, word_stride) ||
        word_lens.size() < count) {
      throw StatusError(TAVIK_E_RANGE);
    }
    check(tavik_encode_many(codec_, scratch.get(), data.data(), item_len, count, words.data(),
                            word_stride, word_lens.data(), statuses.data()));
  }
  void decode_many(Scratch& scratch, std::span<const char> words, size_t word_stride,
                   std::span<const size_t> word_lens, std::span<Id> out,
                   std::span<int> statuses) const {
    many(&tavik_decode_many, scratch, words, word_stride, word_lens, out, statuses);
  }
  void recover_many(Scratch& scratch, std::span<const char> words, size_t word_stride,
                    std::span<const size_t> word_lens, std::span<Id> out,
                    std::span<int> statuses) const {
    many(&tavik_recover_many, scratch, words, word_stride, word_lens, out, statuses);
  }

 private:
  static bool holds(size_t size, size_t count, size_t stride) {
    return stride == 0 || (count <= size / stride);
  }
  using Many = int (*)(const tavik_codec*, tavik_scratch*, const char*, size_t, const size_t*,
                       size_t, uint8_t*, int*);
  void many(Many call, Scratch& scratch, std::span<const char> words, size_t word_stride,
            std::span<const size_t> word_lens, std::span<Id> out, std::span<int> statuses) const {
    const size_t count = statuses.size();
    if (!holds(words.size(), count, word_stride) || word_lens.size() < count ||
        out.size() < count) {
      throw StatusError(TAVIK_E_RANGE);
    }
    check(call(codec_, scratch.get(), words.data(), word_stride, word_lens.data(), count,
               reinterpret_cast<uint8_t*>(out.data()), statuses.data()));
  }

  tavik_codec* codec_ = nullptr;
};


}  // namespace tavik

#endif  // TAVIK_HPP_
