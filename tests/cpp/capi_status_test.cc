// The statuses of the C interface are numbered once and forever: every failure text of the core
// has a status of its own whose text is that failure's text, and the field and kind numbers
// of tavik.h name the field and the kind the core's text names.

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <string_view>

#include "capi/codec.h"
#include "core/recover.h"
#include "core/settings.h"

namespace tavik::capi {
namespace {

TEST(CapiStatus, EverySettingsFailureHasItsOwnStatusAndText) {
  std::set<int> seen;
  for (const std::string_view text : core::settings_failure_texts()) {
    const int status = status_of(value_error(text));
    EXPECT_TRUE(TAVIK_IS_SETTINGS_ERROR(status)) << text;
    EXPECT_TRUE(seen.insert(status).second) << text;
    EXPECT_EQ(tavik_status_text(status), text);
  }
}

TEST(CapiStatus, FieldStatusesNameTheirFieldAndKind) {
  const char* const names[] = {"level", "mode", "bits",     "modulus",  "cipher",     "check",
                               "case",  "chunk", "sep", "epoch_ms", "granularity"};
  for (int field = TAVIK_FIELD_LEVEL; field <= TAVIK_FIELD_GRANULARITY; ++field) {
    const std::string name = names[field];
    EXPECT_EQ(tavik_status_text(TAVIK_E_SETTINGS_FIELD_ERROR(field, TAVIK_FIELD_MISSING)),
              "settings text lacks the field '" + name + "'");
    EXPECT_EQ(tavik_status_text(TAVIK_E_SETTINGS_FIELD_ERROR(field, TAVIK_FIELD_REPEATED)),
              "settings text repeats the field '" + name + "'");
    EXPECT_EQ(std::string(tavik_status_text(TAVIK_E_SETTINGS_FIELD_ERROR(field, TAVIK_FIELD_INVALID)))
                  .rfind("settings field '" + name + "' must be ", 0),
              0u);
    EXPECT_EQ(tavik_status_text(TAVIK_E_SETTINGS_FIELD_ERROR(field, TAVIK_FIELD_ONLY_OPEN)),
              "settings field '" + name + "' applies only to mode open");
  }
  EXPECT_STREQ(tavik_status_text(TAVIK_E_SETTINGS_UNKNOWN_FIELD),
               "settings text has an unknown field");
  EXPECT_STREQ(tavik_status_text(TAVIK_E_CIPHER_KEY_UNUSED),
               "cipher_key is only for cipher=feistel8:cipher_key");
}

TEST(CapiStatus, EveryAmbiguousCountHasItsStatus) {
  for (size_t n = 2; n <= core::kMaxCandidates; ++n) {
    const int status = status_of(value_error(core::ambiguous_message(n)));
    EXPECT_EQ(status, TAVIK_E_AMBIGUOUS + static_cast<int>(n));
    EXPECT_TRUE(TAVIK_IS_AMBIGUOUS(status));
    EXPECT_EQ(tavik_status_text(status), core::ambiguous_message(n));
  }
  EXPECT_EQ(status_of(Error{ErrorCode::kInternal, "anything"}), TAVIK_E_INTERNAL);
  EXPECT_EQ(status_of(value_error("a text no failure has")), TAVIK_E_INTERNAL);
}

}  // namespace
}  // namespace tavik::capi
