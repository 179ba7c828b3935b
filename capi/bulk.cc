// The bulk forms of the C interface: the caller's arrays cut into batches for the core's lanes
// path, each item's Result turned into its status.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <string_view>

#include "capi/codec.h"
#include "core/bulk.h"

namespace core = tavik::core;
using tavik::capi::status_of;

namespace {

// fits tells whether count * stride bytes can be addressed.
bool fits(size_t count, size_t stride) { return stride == 0 || count <= SIZE_MAX / stride; }

// check_words checks the words of a decode_many or recover_many call.
int check_words(const tavik_codec* codec, const tavik_scratch* scratch, const char* words,
                size_t word_stride, const size_t* word_lens, size_t count, const uint8_t* out,
                const int* statuses) {
  if (codec == nullptr || scratch == nullptr) { return TAVIK_E_NULL_ARGUMENT; }
  if (count == 0) { return TAVIK_OK; }
  if (word_lens == nullptr || out == nullptr || statuses == nullptr ||
      (words == nullptr && word_stride != 0)) {
    return TAVIK_E_NULL_ARGUMENT;
  }
  if (!fits(count, word_stride) || !fits(count, TAVIK_ID_LEN)) { return TAVIK_E_RANGE; }
  for (size_t i = 0; i < count; ++i) {
    if (word_lens[i] > word_stride) { return TAVIK_E_RANGE; }
  }
  return TAVIK_OK;
}

// Many is decode_many or recover_many of the core.
using Many = void (*)(const core::CodecConfig&, std::span<const core::CodeUnits>,
                      std::span<core::Bytes16>, std::span<std::optional<tavik::Error>>,
                      core::BatchScratch&);

int decode_batches(Many many, const tavik_codec* codec, tavik_scratch* s, const char* words,
                   size_t word_stride, const size_t* word_lens, size_t count, uint8_t* out,
                   int* statuses) noexcept {
  const int checked =
      check_words(codec, s, words, word_stride, word_lens, count, out, statuses);
  if (checked != TAVIK_OK || count == 0) { return checked; }
  try {
    for (size_t first = 0; first < count; first += tavik_scratch::kBatchLen) {
      const size_t n = std::min(tavik_scratch::kBatchLen, count - first);
      for (size_t i = 0; i < n; ++i) {
        const char* word = word_stride == 0 ? "" : words + (first + i) * word_stride;
        s->words[i] = core::CodeUnits(std::string_view(word, word_lens[first + i]));
      }
      many(codec->config, {s->words.data(), n}, {s->bytes.data(), n}, {s->errors.data(), n},
           s->batch);
      for (size_t i = 0; i < n; ++i) {
        const size_t item = first + i;
        if (s->errors[i]) {
          statuses[item] = status_of(*s->errors[i]);
          std::memset(out + TAVIK_ID_LEN * item, 0, TAVIK_ID_LEN);
        } else {
          statuses[item] = TAVIK_OK;
          std::memcpy(out + TAVIK_ID_LEN * item, s->bytes[i].data(), TAVIK_ID_LEN);
        }
      }
    }
    return TAVIK_OK;
  } catch (...) {
    return TAVIK_E_INTERNAL;
  }
}

}  // namespace

extern "C" {

int tavik_scratch_new(tavik_scratch** out) {
  if (out == nullptr) { return TAVIK_E_NULL_ARGUMENT; }
  *out = nullptr;
  try {
    *out = new tavik_scratch;
    return TAVIK_OK;
  } catch (const std::bad_alloc&) {
    return TAVIK_E_NO_MEMORY;
  } catch (...) {
    return TAVIK_E_INTERNAL;
  }
}

void tavik_scratch_free(tavik_scratch* scratch) { delete scratch; }

int tavik_encode_many(const tavik_codec* codec, tavik_scratch* s, const uint8_t* data,
                      size_t item_len, size_t count, char* words, size_t word_stride,
                      size_t* word_lens, int* statuses) {
  if (codec == nullptr || s == nullptr) { return TAVIK_E_NULL_ARGUMENT; }
  if (count == 0) { return TAVIK_OK; }
  if (word_lens == nullptr || statuses == nullptr || (data == nullptr && item_len != 0) ||
      (words == nullptr && word_stride != 0)) {
    return TAVIK_E_NULL_ARGUMENT;
  }
  if (!fits(count, item_len) || !fits(count, word_stride)) { return TAVIK_E_RANGE; }
  try {
    for (size_t first = 0; first < count; first += tavik_scratch::kBatchLen) {
      const size_t n = std::min(tavik_scratch::kBatchLen, count - first);
      for (size_t i = 0; i < n; ++i) {
        s->items[i] = {item_len == 0 ? nullptr : data + (first + i) * item_len, item_len};
      }
      core::encode_many(codec->config, {s->items.data(), n}, {s->texts.data(), n},
                        {s->errors.data(), n}, s->batch);
      for (size_t i = 0; i < n; ++i) {
        const size_t item = first + i;
        word_lens[item] = 0;
        if (s->errors[i]) {
          statuses[item] = status_of(*s->errors[i]);
          continue;
        }
        const core::EncodedText& text = s->texts[i];
        word_lens[item] = text.len;
        if (text.len > word_stride) {
          statuses[item] = TAVIK_E_WORD_BUFFER;
          continue;
        }
        std::memcpy(words + item * word_stride, text.data, text.len);
        statuses[item] = TAVIK_OK;
      }
    }
    return TAVIK_OK;
  } catch (...) {
    return TAVIK_E_INTERNAL;
  }
}

int tavik_decode_many(const tavik_codec* codec, tavik_scratch* scratch, const char* words,
                      size_t word_stride, const size_t* word_lens, size_t count, uint8_t* out,
                      int* statuses) {
  return decode_batches(core::decode_many, codec, scratch, words, word_stride, word_lens, count,
                        out, statuses);
}

int tavik_recover_many(const tavik_codec* codec, tavik_scratch* scratch, const char* words,
                       size_t word_stride, const size_t* word_lens, size_t count, uint8_t* out,
                       int* statuses) {
  return decode_batches(core::recover_many, codec, scratch, words, word_stride, word_lens, count,
                        out, statuses);
}

}  // extern "C"
