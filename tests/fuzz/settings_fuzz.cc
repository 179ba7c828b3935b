// Fuzz target: tavik_codec_new of the C interface with hostile settings texts and keys. The
// input is [key length][cipher key length][key][cipher key][settings text], a length of 255
// meaning no key; the seeds hold valid texts for libFuzzer to take apart.
//
// Properties: never a crash, a leak or an internal error; a refusal leaves no codec and has a
// status with a text of its own; a codec that is built encodes an identifier into a word that
// decodes, and recovers, to the same bytes.

#include <cstdint>
#include <cstring>
#include <string>

#include "include/tavik.h"
#include "tests/fuzz/fuzz_config.h"

namespace {

constexpr uint8_t kNone = 255;

// take_key reads a key of the length the input gives, or none.
const uint8_t* take_key(uint8_t len, const uint8_t*& at, size_t& left, size_t* key_len) {
  *key_len = 0;
  if (len == kNone) { return nullptr; }
  *key_len = std::min<size_t>(len, left);
  const uint8_t* key = at;
  at += *key_len;
  left -= *key_len;
  return key;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) { return 0; }
  const uint8_t* at = data + 2;
  size_t left = size - 2;
  size_t key_len = 0;
  size_t cipher_key_len = 0;
  const uint8_t* key = take_key(data[0], at, left, &key_len);
  const uint8_t* cipher_key = take_key(data[1], at, left, &cipher_key_len);
  const std::string settings(reinterpret_cast<const char*>(at), left);  // NUL ends it early

  tavik_codec* codec = nullptr;
  const int status =
      tavik_codec_new(settings.c_str(), key, key_len, cipher_key, cipher_key_len, &codec);
  if (status != TAVIK_OK) {
    TAVIK_REQUIRE(codec == nullptr);
    TAVIK_REQUIRE(status != TAVIK_E_INTERNAL && status != TAVIK_E_NULL_ARGUMENT);
    TAVIK_REQUIRE(std::strcmp(tavik_status_text(status), "unknown status") != 0);
    return 0;
  }
  TAVIK_REQUIRE(codec != nullptr);
  // An identifier from the settings' own bytes: any 16 bytes will do.
  uint8_t id[16] = {};
  for (size_t i = 0; i < settings.size(); ++i) { id[i % 16] ^= static_cast<uint8_t>(settings[i]); }
  char word[TAVIK_MAX_WORD_LEN];
  size_t word_len = 0;
  const int encoded = tavik_encode(codec, id, sizeof id, word, sizeof word, &word_len);
  if (encoded == TAVIK_OK) {
    uint8_t decoded[16];
    uint8_t recovered[16];
    TAVIK_REQUIRE(tavik_decode(codec, word, word_len, decoded) == TAVIK_OK);
    const int recover = tavik_recover(codec, word, word_len, recovered);
    TAVIK_REQUIRE(recover == TAVIK_E_RECOVERY_NOT_SUPPORTED ||
                  (recover == TAVIK_OK && std::memcmp(decoded, recovered, 16) == 0));
  } else {
    TAVIK_REQUIRE(encoded == TAVIK_E_NOT_BELOW_MODULUS || encoded == TAVIK_E_NOT_ENCIPHERED);
  }
  tavik_codec_free(codec);
  return 0;
}
