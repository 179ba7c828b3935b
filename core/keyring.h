#ifndef TAVIK_CORE_KEYRING_H_
#define TAVIK_CORE_KEYRING_H_

// Key rotation: words read under an ordered list of codecs that share every setting but their
// keys (the newest key first), and words moved from the old keys to the first one.
//
// A word is taken under exactly one key: the one under which its check passes and it decodes.
// When that holds for more than one key the word is ambiguous and is refused; it is never read
// under whichever key passes first (with one check syllable a word passes a wrong key's check
// about once in 700). The check is tested under every key before anything is deciphered: two
// compressions per key, against some eighteen for a whole decode.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "base/result.h"
#include "base/u128.h"
#include "core/bulk.h"
#include "core/config.h"
#include "core/encode.h"
#include "core/normalize.h"

namespace tavik::core {

inline constexpr Error kAmbiguousKey =
    value_error("ambiguous: the word passes the check under more than one key");
inline constexpr Error kEmptyKeyring = value_error("a keyring needs at least one codec");
inline constexpr Error kKeyringPlain =
    value_error("a keyring needs codecs of mode sealed or open: mode plain has no key to tell");
inline constexpr Error kKeyringSameKey = value_error("every codec of a keyring needs its own key");

// Keyring is the codecs of a rotation, newest key first. It views records that its owner
// keeps alive.
using Keyring = std::span<const CodecConfig* const>;

// check_keyring tells why codecs cannot form a keyring, or nothing when they can: none at all
// (kEmptyKeyring), mode plain (kKeyringPlain), a setting other than the keys that differs from
// the first codec's ("keyring codecs differ in SETTING", the setting named as the constructor
// and builders name it: level, mode, bit_width, modulus, cipher, check_syllables, case, chunk,
// separator, epoch_ms, granularity), or two codecs whose check syllables use the same key
// (kKeyringSameKey: every word would pass under both).
std::optional<Error> check_keyring(Keyring keyring);

// KeyedBytes is a decoded identifier and the index in the keyring of the key it was read under.
struct KeyedBytes {
  Bytes16 bytes;
  uint32_t key_index = 0;
};

// keyring_decode is decode_text under a keyring (which check_keyring accepts): the word's
// identifier under the one key whose check passes and whose domain test holds. It fails as
// decode_text does (kNormalizationFailed, kCheckFailed under every key) and with kAmbiguousKey
// when more than one key takes the word.
Result<KeyedBytes> keyring_decode(Keyring keyring, CodeUnits text);

// keyring_recover is recover_text under a keyring. A word that stands as typed under exactly
// one key is read under it (more than one: kAmbiguousKey); otherwise every key's search runs,
// and exactly one candidate over all keys is taken. Candidates under more than one key fail
// with kAmbiguousKey; several under one key with that key's "ambiguous: N candidates"; none
// with kUnrecoverable. Its other failures are recover_text's.
Result<KeyedBytes> keyring_recover(Keyring keyring, CodeUnits text);

// KeyringScratch is the working storage of the keyring's bulk calls; it grows to the number of
// keys once and then costs no allocation. One scratch serves one thread at a time.
class KeyringScratch {
 public:
  KeyringScratch();
  KeyringScratch(const KeyringScratch&) = delete;
  KeyringScratch& operator=(const KeyringScratch&) = delete;
  ~KeyringScratch();

 private:
  friend void keyring_decode_many(Keyring, std::span<const CodeUnits>, std::span<KeyedBytes>,
                                  std::span<std::optional<Error>>, KeyringScratch&);
  friend void keyring_rekey_many(Keyring, std::span<const CodeUnits>, std::span<EncodedText>,
                                 std::span<std::optional<Error>>, KeyringScratch&, BatchScratch&);
  std::vector<NormalizedInput> inputs_;
  std::vector<std::array<uint8_t, fpe::kSha256BlockLen>> blocks_;
  std::vector<std::array<uint32_t, 8>> macs_;  // kBatchLen per key
  std::vector<U128> values_;
  std::vector<U128> grouped_;
  std::vector<U128> results_;
  std::vector<uint32_t> index_;    // the item of each read word
  std::vector<uint32_t> grouped_index_;
  std::vector<uint32_t> key_of_;   // the one key that passed, or a mark
  std::vector<KeyedBytes> decoded_;
  std::vector<std::span<const uint8_t>> identifiers_;
  std::vector<EncodedText> encoded_;
  std::vector<std::optional<Error>> encode_errors_;
};

// keyring_decode_many writes keyring_decode(keyring, words[i]) to out[i], or its error to
// errors[i] (reset where the item succeeds), for every i < words.size() <= kBatchLen. The
// checks of the whole batch are hashed in lanes key by key, and each key's words deciphered in
// lanes.
void keyring_decode_many(Keyring keyring, std::span<const CodeUnits> words,
                         std::span<KeyedBytes> out, std::span<std::optional<Error>> errors,
                         KeyringScratch& scratch);

// keyring_rekey_many moves words to the keyring's first key: texts[i] is what encode under the
// first codec writes for the identifier that keyring_decode reads from words[i] (its last
// ceil(bit_width / 8) bytes, which encode selects as it selected them when the word was
// written), or errors[i] is keyring_decode's error. A word already under the first key comes
// back as it was written. words.size() <= kBatchLen.
void keyring_rekey_many(Keyring keyring, std::span<const CodeUnits> words,
                        std::span<EncodedText> texts, std::span<std::optional<Error>> errors,
                        KeyringScratch& scratch, BatchScratch& encode_scratch);

}  // namespace tavik::core

#endif  // TAVIK_CORE_KEYRING_H_
