// The codec of the C interface and its single calls: arguments checked, the core called, its
// Result turned into a status. No rule of the codec lives here.

#include <cstring>
#include <new>
#include <optional>
#include <span>
#include <string_view>

#include "capi/codec.h"
#include "core/decode.h"
#include "core/encode.h"
#include "core/recover.h"
#include "core/settings.h"

#ifndef TAVIK_VERSION
#error "the build defines TAVIK_VERSION"
#endif

static_assert(TAVIK_MAX_WORD_LEN == tavik::core::kMaxEncodedLen);
static_assert(TAVIK_ID_LEN == sizeof(tavik::core::Bytes16));

namespace tavik::capi {
namespace {

// optional_bytes is a key as the core takes it: NULL is no key.
std::optional<std::span<const uint8_t>> optional_bytes(const uint8_t* data, size_t len) {
  if (data == nullptr) { return std::nullopt; }
  return std::span<const uint8_t>(data, len);
}

// decode_with runs decode_text or recover_text on a word.
template <typename Call>
int decode_with(Call call, const tavik_codec* codec, const char* word, size_t word_len,
                uint8_t out[16]) noexcept {
  if (codec == nullptr || out == nullptr || (word == nullptr && word_len != 0)) {
    return TAVIK_E_NULL_ARGUMENT;
  }
  try {
    const Result<core::Bytes16> decoded =
        call(codec->config, core::CodeUnits(std::string_view(word == nullptr ? "" : word, word_len)));
    if (!decoded.ok()) { return status_of(decoded.error()); }
    std::memcpy(out, decoded.value().data(), TAVIK_ID_LEN);
    return TAVIK_OK;
  } catch (...) {
    return TAVIK_E_INTERNAL;
  }
}

}  // namespace
}  // namespace tavik::capi

using tavik::Result;
namespace core = tavik::core;

extern "C" {

int tavik_abi_version(void) { return TAVIK_ABI_VERSION; }

const char* tavik_version(void) { return TAVIK_VERSION; }

int tavik_codec_new(const char* settings, const uint8_t* key, size_t key_len,
                    const uint8_t* cipher_key, size_t cipher_key_len, tavik_codec** out) {
  if (out == nullptr) { return TAVIK_E_NULL_ARGUMENT; }
  *out = nullptr;
  if (settings == nullptr || (key == nullptr && key_len != 0) ||
      (cipher_key == nullptr && cipher_key_len != 0)) {
    return TAVIK_E_NULL_ARGUMENT;
  }
  try {
    Result<core::CodecConfig> config = core::config_from_settings(
        settings, tavik::capi::optional_bytes(key, key_len),
        tavik::capi::optional_bytes(cipher_key, cipher_key_len));
    if (!config.ok()) { return tavik::capi::status_of(config.error()); }
    std::string text = core::settings_text(config.value());
    if (text.size() > TAVIK_MAX_SETTINGS_LEN) { return TAVIK_E_INTERNAL; }
    *out = new tavik_codec{std::move(config).value(), std::move(text)};
    return TAVIK_OK;
  } catch (const std::bad_alloc&) {
    return TAVIK_E_NO_MEMORY;
  } catch (...) {
    return TAVIK_E_INTERNAL;
  }
}

void tavik_codec_free(tavik_codec* codec) { delete codec; }  // the record wipes its keys

int tavik_codec_settings(const tavik_codec* codec, char* text, size_t text_cap,
                         size_t* text_len) {
  if (codec == nullptr || text_len == nullptr || (text == nullptr && text_cap != 0)) {
    return TAVIK_E_NULL_ARGUMENT;
  }
  *text_len = codec->settings.size();
  if (codec->settings.size() > text_cap) { return TAVIK_E_BUFFER; }
  std::memcpy(text, codec->settings.data(), codec->settings.size());
  return TAVIK_OK;
}

int tavik_encode(const tavik_codec* codec, const uint8_t* data, size_t data_len, char* word,
                 size_t word_cap, size_t* word_len) {
  if (codec == nullptr || word_len == nullptr || (data == nullptr && data_len != 0) ||
      (word == nullptr && word_cap != 0)) {
    return TAVIK_E_NULL_ARGUMENT;
  }
  *word_len = 0;
  try {
    const Result<core::EncodedText> text = core::encode(codec->config, {data, data_len});
    if (!text.ok()) { return tavik::capi::status_of(text.error()); }
    *word_len = text.value().len;
    if (text.value().len > word_cap) { return TAVIK_E_WORD_BUFFER; }
    std::memcpy(word, text.value().data, text.value().len);
    return TAVIK_OK;
  } catch (...) {
    return TAVIK_E_INTERNAL;
  }
}

int tavik_decode(const tavik_codec* codec, const char* word, size_t word_len, uint8_t out[16]) {
  return tavik::capi::decode_with(
      [](const core::CodecConfig& c, core::CodeUnits t) { return core::decode_text(c, t); }, codec,
      word, word_len, out);
}

int tavik_recover(const tavik_codec* codec, const char* word, size_t word_len, uint8_t out[16]) {
  return tavik::capi::decode_with(
      [](const core::CodecConfig& c, core::CodeUnits t) { return core::recover_text(c, t); }, codec,
      word, word_len, out);
}

}  // extern "C"
