#ifndef TAVIK_CORE_SETTINGS_H_
#define TAVIK_CORE_SETTINGS_H_

// The settings text: one line of printable ASCII that names every setting a code word depends
// on, and never any key material, so that it can be stored beside the words and build the same
// codec again. Like the code words it is a format: every text that tavik has written must keep
// building the same codec. Version 1, with its fields in the order they are written:
//
//   tavik/1 level=universal mode=sealed bits=128 cipher=feistel8:key check=1 case=upper
//     chunk=balanced sep=U+002D [epoch_ms=1700000000000 granularity=month]
//
//   level        universal | eu | en | numeric | ko
//   mode         sealed | open | plain
//   bits         16..128                    (exactly one of bits and modulus)
//   modulus      2..2^128-1, in decimal
//   cipher       feistel8:key | feistel8:cipher_key | feistel8:public | shuffle4:public
//                (the key the cipher runs under: the codec's key, the key given to
//                with_cipher, or the public FIXED_PLAIN_KEY)
//   check        1..8, the check syllables
//   case         upper | lower
//   chunk        balanced | none | fixed:N | pattern:N,N,...   (N below 2^64, in decimal)
//   sep          U+XXXX (4 to 6 upper-case hex digits, no more leading zeros than four digits
//                need) | none; none with chunk=none, U+002D with fixed and pattern
//   epoch_ms     -2^63..2^63-1, in decimal        (mode open only, and required there)
//   granularity  second | minute | hour | day | week | month   (mode open only)
//
// A pattern keeps the sizes that with_chunk_pattern keeps (the first 32, then those that can
// still place a separator), so a longer list builds the codec of its shorter form.
// Numbers are decimal without sign (but epoch_ms's minus), plus or leading zeros. Fields are
// separated by spaces and may come in any order after the version; settings_text writes them
// in the order above. Unknown, repeated, missing and inapplicable fields, another version and
// values out of range are refused with a message naming the field: nothing is clamped.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/result.h"
#include "base/u128.h"
#include "core/chunk/engine.h"
#include "core/config.h"
#include "core/types.h"
#include "fpe/cipher.h"

namespace tavik::core {

// Settings is a settings text read into values. Exactly one of bits and modulus is set;
// cipher_key_source is kConfigKey only for kFeistel8 outside mode plain, and always
// kPublicKey for kShuffle; the layout is one the builders make.
struct Settings {
  Level level = Level::kUniversal;
  Mode mode = Mode::kSealed;
  std::optional<uint32_t> bits;
  std::optional<U128> modulus;
  fpe::CipherKind cipher = fpe::CipherKind::kFeistel8;
  CipherKeySource cipher_key_source = CipherKeySource::kConfigKey;
  uint64_t check_syllables = 1;
  LetterCase letter_case = LetterCase::kUpper;
  ChunkLayout chunk_layout;
  int64_t epoch_ms = kDefaultEpochMs;
  Granularity granularity = Granularity::kMonth;
};

// decimal_text writes a 128-bit value in decimal.
std::string decimal_text(U128 value);

// settings_text writes the settings text of a configuration, its fields in canonical order.
std::string settings_text(const CodecConfig& config);

// parse_settings reads a settings text. It fails with kValue and a fixed message that names
// the field at fault, for example "settings field 'bits' must be a number in 16..128",
// "settings text lacks the field 'case'", "settings text repeats the field 'mode'",
// "settings field 'epoch_ms' applies only to mode open"; and with "settings text must be one
// line of printable ASCII", "settings text must start with tavik/1", "settings text is of
// another version: this tavik reads tavik/1", "settings text has an unknown field",
// "settings field must be written name=value".
Result<Settings> parse_settings(std::string_view text);

// kUnknownSettingsField is the message of a field that version 1 does not know;
// unknown_settings_field returns that field's name (the first such of the text), or an empty
// view when every field is known, so that a face can show it.
inline constexpr std::string_view kUnknownSettingsField = "settings text has an unknown field";
std::string_view unknown_settings_field(std::string_view text);

// config_from_settings builds the codec of a settings text under the keys given: `key` as the
// constructor takes it, `cipher_key` as with_cipher("feistel", key) takes it. Besides the
// errors of parse_settings and the constructor's key errors, it fails with "cipher_key is
// required for cipher=feistel8:cipher_key" and "cipher_key is only for
// cipher=feistel8:cipher_key".
Result<CodecConfig> config_from_settings(std::string_view text,
                                         std::optional<std::span<const uint8_t>> key,
                                         std::optional<std::span<const uint8_t>> cipher_key);

// settings_failure_texts lists every failure text of config_from_settings except the
// constructor's key errors, in an order fixed forever: first the texts that concern no single
// field, then for each field in the order settings_text writes them (level, mode, bits,
// modulus, cipher, check, case, chunk, sep, epoch_ms, granularity) its texts for a field
// missing, repeated, invalid and present outside mode open. New texts are only appended: the C
// interface numbers its statuses by this order.
std::span<const std::string_view> settings_failure_texts();

}  // namespace tavik::core

#endif  // TAVIK_CORE_SETTINGS_H_
