// The statuses of the C interface and their texts: the core's own failure texts, which are the
// Python exceptions' messages, each under its number.

#include <cstddef>
#include <string_view>

#include "capi/codec.h"
#include "core/config.h"
#include "core/decode.h"
#include "core/encode.h"
#include "core/recover.h"

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

}  // namespace

int status_of(const Error& error) {
  if (error.code == ErrorCode::kInternal) { return TAVIK_E_INTERNAL; }
  for (const NamedError& named : kNamedErrors) {
    if (named.error == error) { return named.status; }
  }
  if (const size_t n = core::ambiguous_count(error)) { return TAVIK_E_AMBIGUOUS + static_cast<int>(n); }
  // A failure without a status of its own: a new core failure that the table lacks (the tests
  // of every failure path catch that).
  return TAVIK_E_INTERNAL;
}

}  // namespace tavik::capi

extern "C" const char* tavik_status_text(int status) {
  using tavik::capi::kTexts;
  for (const auto& named : kTexts.named) {
    if (named.status == status) { return named.text; }
  }
  if (status >= TAVIK_E_AMBIGUOUS + 2 &&
      status <= TAVIK_E_AMBIGUOUS + static_cast<int>(tavik::core::kMaxCandidates)) {
    return kTexts.ambiguous[status - TAVIK_E_AMBIGUOUS].text;
  }
  return kTexts.unknown.text;
}
