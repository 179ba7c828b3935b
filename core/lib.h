#ifndef TAVIK_CORE_LIB_H_
#define TAVIK_CORE_LIB_H_

// The configuration record that every Tavik object holds, its constructor core, and the
// decode entry points.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

#include "core/chunk/engine.h"
#include "core/normalize.h"
#include "core/result.h"
#include "core/secret_bytes.h"
#include "core/types.h"
#include "fpe/lib.h"
#include "fpe/u128.h"

namespace tavik::core {

using fpe::U128;
using Bytes16 = std::array<uint8_t, 16>;

// CodecConfig is immutable once its object exists; builders copy it. Copies share the cipher,
// the check key and the chunk engine; key bytes and the pattern list are owned and every copy
// of the key bytes is wiped when its record is dropped.
// Invariants: a Bits width lies in 16..128 and a modulus is at least 2; bit_width is the width
// or the bit length of the modulus; tweak is [level, mode, domain bit count, 0]; modes sealed
// and open hold a non-empty key and its check_key; check_syllables lies in 1..8.
struct CodecConfig {
  fpe::CipherDomain domain = fpe::CipherDomain::bits(128);
  uint32_t bit_width = 128;
  std::array<uint8_t, 4> tweak = {0, 0, 128, 0};
  fpe::CipherHandle cipher;
  bool explicit_cipher = false;
  // The kind and key chosen with with_cipher, kept so that a later domain change rebuilds the
  // same cipher for the new domain. The key is never used for the check syllables.
  fpe::CipherKind explicit_kind = fpe::CipherKind::kFeistel8;
  std::optional<SecretBytes> explicit_key;
  std::optional<SecretBytes> key;
  // HMAC key state of `key` for the check syllables (modes sealed and open), absorbed once.
  std::shared_ptr<const fpe::HmacKey> check_key;
  Level level = Level::kUniversal;
  Mode mode = Mode::kSealed;
  uint64_t check_syllables = 1;
  LetterCase letter_case = LetterCase::kUpper;
  ChunkLayout chunk_layout;
  std::shared_ptr<const ChunkEngine> chunk_engine;
  int64_t epoch_ms = 1700000000000;
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

// clamp_bit_width maps any width to 16..128.
uint32_t clamp_bit_width(uint32_t bits);

// new_config builds the record with every constructor default for Bits(128): the default
// Feistel8 keyed with the key (FIXED_PLAIN_KEY in mode plain). Precondition: in modes sealed
// and open the key is present and non-empty.
CodecConfig new_config(std::optional<std::span<const uint8_t>> key, Level level, Mode mode);

// rekey_cipher brings tweak byte 2 and the cipher in line with `domain`: a new default
// Feistel8 for the domain, or, after with_cipher, the chosen kind rebuilt with the chosen
// key for the domain.
void rekey_cipher(CodecConfig& config);

// construct_config is the constructor after argument conversion: it parses level and mode,
// checks the key, clamps the width and builds the record. Errors (kValue), in this order:
// "level must be one of: universal, eu, en, numeric", "mode must be one of: sealed, open,
// plain", "key is required for sealed and open modes", "key must not be empty for sealed/open
// modes".
Result<CodecConfig> construct_config(std::optional<std::span<const uint8_t>> key,
                                     std::string_view level, std::string_view mode,
                                     uint32_t bit_width);

// domain_max_value is the largest value a code word may carry: 2^B - 1 or m - 1.
U128 domain_max_value(const CodecConfig& config);

// DecodeError is the error of decoding and recovery; decode_error_text gives its fixed text.
enum class DecodeError : uint8_t {
  kNormalizationFailed,
  kKeyRequired,
  kRecoveryNotSupported,
  kCheckFailed
};
std::string_view decode_error_text(DecodeError error);

struct DecodeResult {
  Bytes16 bytes{};
  std::optional<DecodeError> error;
  bool ok() const { return !error.has_value(); }
};

// decode_text normalizes, checks the key, verifies the check syllables and that the data
// syllables spell a value inside the domain, deciphers it and checks that the result lies in
// the domain too (all three failures are kCheckFailed), then cuts the value to the width.
// A word whose check fails costs at most one pass of the cipher. Never allocates.
DecodeResult decode_text(const CodecConfig& config, CodeUnits text);

// finish_value deciphers a code value, keeps its low bit_width bits and writes 16 bytes,
// most significant first.
Bytes16 finish_value(const CodecConfig& config, U128 value);

// data_syllable_count is syllable_count(bit_width).
size_t data_syllable_count(const CodecConfig& config);

// units_in_domain tells whether data units spell a value of at most domain_max_value (and
// below 2^128) that, in a Modulus domain, also deciphers to a value of the domain: only such
// words can come from encode. (With an odd bit count the cipher keeps the domain's top bit,
// so a walk just above a power of two may not come back within its passes.) Bits domains
// need no deciphering here.
bool units_in_domain(const CodecConfig& config, std::span<const uint8_t> data_units);

}  // namespace tavik::core

#endif  // TAVIK_CORE_LIB_H_
