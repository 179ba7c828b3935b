// The statuses of the C interface and their texts: the core's own failure texts, which are the
// Python exceptions' messages, each under its number.

#include <cstddef>
#include <string_view>

#include "capi/codec.h"
#include "core/config.h"
#include "core/decode.h"
#include "core/encode.h"
#include "core/recover.h"
#include "core/settings.h"

namespace tavik::capi {
namespace {

// The core's failures that have a status of their own.
struct NamedError {
  int status;
  Error error;
};
constexpr NamedError kNamedErrors[] = {
    {TAVIK_E_KEY_MISSING, core::kKeyMissing},
    {TAVIK_E_KEY_EMPTY, core::kKeyEmpty},
    {TAVIK_E_NOT_BELOW_MODULUS, core::kNotBelowModulus},
    {TAVIK_E_NOT_ENCIPHERED, core::kNotEnciphered},
    {TAVIK_E_NORMALIZATION, core::kNormalizationFailed},
    {TAVIK_E_KEY_REQUIRED, core::kKeyRequired},
    {TAVIK_E_CHECK_FAILED, core::kCheckFailed},
    {TAVIK_E_RECOVERY_NOT_SUPPORTED, core::kRecoveryNotSupported},
    {TAVIK_E_UNRECOVERABLE, core::kUnrecoverable},
    {TAVIK_E_DECODE_AFTER_RECOVERY, core::kDecodeAfterRecovery},
};

// The statuses of the C interface itself.
struct NamedText {
  int status;
  std::string_view text;
};
constexpr NamedText kOwnTexts[] = {
    {TAVIK_OK, "success"},
    {TAVIK_E_NULL_ARGUMENT, "a required pointer argument is NULL"},
    {TAVIK_E_WORD_BUFFER, "word buffer too small"},
    {TAVIK_E_NO_MEMORY, "out of memory"},
    {TAVIK_E_RANGE, "argument out of range"},
    {TAVIK_E_BUFFER, "buffer too small"},
    {TAVIK_E_INTERNAL, "internal error: a broken invariant of the tavik library"},
};

constexpr std::string_view kUnknownStatus = "unknown status";

// Texts as C strings, NUL-terminated, built from the views above at compile time.
constexpr size_t kTextCap = 112;
struct CText {
  int status = -1;
  char text[kTextCap] = {};
};
constexpr CText c_text(int status, std::string_view text) {
  CText t;
  t.status = status;
  if (text.size() >= kTextCap) { throw "a status text longer than kTextCap"; }
  for (size_t i = 0; i < text.size(); ++i) { t.text[i] = text[i]; }
  return t;
}

constexpr size_t kNumNamed = std::size(kNamedErrors) + std::size(kOwnTexts);
struct TextTable {
  CText named[kNumNamed];
  CText ambiguous[core::kMaxCandidates + 1];
  CText unknown;
};
constexpr TextTable make_text_table() {
  TextTable t;
  size_t i = 0;
  for (const NamedError& e : kNamedErrors) { t.named[i++] = c_text(e.status, e.error.message); }
  for (const NamedText& e : kOwnTexts) { t.named[i++] = c_text(e.status, e.text); }
  for (size_t n = 2; n <= core::kMaxCandidates; ++n) {
    t.ambiguous[n] = c_text(TAVIK_E_AMBIGUOUS + static_cast<int>(n), core::ambiguous_message(n));
  }
  t.unknown = c_text(-1, kUnknownStatus);
  return t;
}
constexpr TextTable kTexts = make_text_table();

// The settings texts are numbered in the core's order, from TAVIK_E_SETTINGS on.
constexpr size_t kMaxSettingsTexts = TAVIK_E_SETTINGS_END - TAVIK_E_SETTINGS + 1;
static_assert(TAVIK_E_SETTINGS_FIELD == TAVIK_E_SETTINGS + 12);

// settings_text is the C string of the settings text of number i, copied once, when first
// asked for.
const char* settings_text(size_t i) {
  struct Texts {
    CText texts[kMaxSettingsTexts];
    size_t size = 0;
  };
  static const Texts table = [] {
    Texts t;
    for (const std::string_view text : core::settings_failure_texts()) {
      if (t.size == kMaxSettingsTexts) { break; }
      t.texts[t.size] = c_text(TAVIK_E_SETTINGS + static_cast<int>(t.size), text);
      ++t.size;
    }
    return t;
  }();
  return i < table.size ? table.texts[i].text : nullptr;
}

}  // namespace

int status_of(const Error& error) {
  if (error.code == ErrorCode::kInternal) { return TAVIK_E_INTERNAL; }
  for (const NamedError& named : kNamedErrors) {
    if (named.error == error) { return named.status; }
  }
  if (const size_t n = core::ambiguous_count(error)) {
    return TAVIK_E_AMBIGUOUS + static_cast<int>(n);
  }
  const std::span<const std::string_view> settings = core::settings_failure_texts();
  for (size_t i = 0; i < settings.size() && i < kMaxSettingsTexts; ++i) {
    if (error == value_error(settings[i])) { return TAVIK_E_SETTINGS + static_cast<int>(i); }
  }
  // A failure without a status of its own: a new core failure that the table lacks (the tests
  // of every failure path catch that).
  return TAVIK_E_INTERNAL;
}

}  // namespace tavik::capi

extern "C" const char* tavik_status_text(int status) {
  using tavik::capi::kTexts;
  if (status >= TAVIK_E_SETTINGS && status <= TAVIK_E_SETTINGS_END) {
    const char* text = tavik::capi::settings_text(static_cast<size_t>(status - TAVIK_E_SETTINGS));
    if (text != nullptr) { return text; }
  }
  for (const auto& named : kTexts.named) {
    if (named.status == status) { return named.text; }
  }
  if (status >= TAVIK_E_AMBIGUOUS + 2 &&
      status <= TAVIK_E_AMBIGUOUS + static_cast<int>(tavik::core::kMaxCandidates)) {
    return kTexts.ambiguous[status - TAVIK_E_AMBIGUOUS].text;
  }
  return kTexts.unknown.text;
}
