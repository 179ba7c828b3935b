#ifndef TAVIK_CORE_CONFIG_H_
#define TAVIK_CORE_CONFIG_H_

// The configuration record that every Tavik object holds, the names the constructor and the
// builders accept, and the constructor's core.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

#include "base/result.h"
#include "base/u128.h"
#include "core/chunk/engine.h"
#include "core/secret_bytes.h"
#include "core/timestamp.h"
#include "core/types.h"
#include "fpe/cipher.h"
#include "fpe/hmac.h"

namespace tavik::core {

using Bytes16 = std::array<uint8_t, 16>;

// CodecConfig is immutable once its object exists; builders copy it. Copies share the cipher,
// the check key, the chunk engine and the key bytes (one wiped copy per key, freed with the
// last record that uses it); the pattern list is owned.
// Invariants: a Bits width lies in 16..128 and a modulus is at least 2; bit_width is the width
// or the bit length of the modulus; tweak is [level, mode, domain bit count, 0]; modes sealed
// and open hold a non-empty key and its check_key; check_syllables lies in 1..8.
struct CodecConfig {
  fpe::CipherDomain domain = fpe::CipherDomain::bits(128);
  uint32_t bit_width = 128;
  std::array<uint8_t, 4> tweak = {0, 0, 128, 0};
  fpe::CipherHandle cipher;
  bool explicit_cipher = false;
  // The key chosen with with_cipher("feistel", key), kept so that a later domain change
  // rebuilds the same cipher for the new domain. It is never used for the check syllables.
  SharedSecret explicit_key;
  SharedSecret key;
  // HMAC key state of `key` for the check syllables (modes sealed and open), absorbed once.
  std::shared_ptr<const fpe::HmacKey> check_key;
  Level level = Level::kUniversal;
  Mode mode = Mode::kSealed;
  uint64_t check_syllables = 1;
  LetterCase letter_case = LetterCase::kUpper;
  ChunkLayout chunk_layout;
  std::shared_ptr<const ChunkEngine> chunk_engine;
  int64_t epoch_ms = kDefaultEpochMs;
  Granularity granularity = Granularity::kMonth;
};

// Parsers of the names the constructor and builders accept (exact, case-sensitive).
std::optional<Level> parse_level(std::string_view name);
std::optional<Mode> parse_mode(std::string_view name);
std::optional<LetterCase> parse_case(std::string_view name);
std::optional<Granularity> parse_granularity(std::string_view name);
std::string_view level_name(Level level);
std::string_view mode_name(Mode mode);
std::string_view case_name(LetterCase letter_case);
std::string_view granularity_name(Granularity granularity);

// CipherKeySource tells whose key the cipher runs under: the constructor's key (the default
// cipher of modes sealed and open), the key given to with_cipher("feistel", key), or the public
// FIXED_PLAIN_KEY (the default cipher of mode plain, "shuffle", and "feistel" without a key),
// under which anyone deciphers the code words.
enum class CipherKeySource : uint8_t { kConfigKey, kWithCipherKey, kPublicKey };
CipherKeySource cipher_key_source(const CodecConfig& config);

// clamp_bit_width maps any width to 16..128.
uint32_t clamp_bit_width(uint32_t bits);

// rekey_cipher brings tweak byte 2 and the cipher in line with `domain`: a new default
// Feistel8 for the domain (keyed with the key, FIXED_PLAIN_KEY in mode plain), or, after
// with_cipher, the chosen kind rebuilt with the chosen key for the domain.
void rekey_cipher(CodecConfig& config);

// The constructor's refusals of a key in modes sealed and open.
inline constexpr Error kKeyMissing = value_error("key is required for sealed and open modes");
inline constexpr Error kKeyEmpty = value_error("key must not be empty for sealed/open modes");

// construct_config is the constructor after argument conversion: it parses level and mode,
// checks the key, clamps the width and builds the record, keyed once for its domain. Errors
// (kValue), in this order: "level must be one of: universal, eu, en, numeric", "mode must be
// one of: sealed, open, plain", kKeyMissing, kKeyEmpty.
Result<CodecConfig> construct_config(std::optional<std::span<const uint8_t>> key,
                                     std::string_view level, std::string_view mode,
                                     uint32_t bit_width);

// data_syllable_count is syllable_count(bit_width).
size_t data_syllable_count(const CodecConfig& config);

}  // namespace tavik::core

#endif  // TAVIK_CORE_CONFIG_H_
