#ifndef TAVIK_CORE_UUID_TEXT_H_
#define TAVIK_CORE_UUID_TEXT_H_

// UUID text: the 16 bytes of an identifier as 32 hex digits, in the groups 8-4-4-4-12 joined
// by hyphens (36 characters) or without them (32). The bulk faces read identifiers from text
// columns in this form and write it on request.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/result.h"
#include "core/config.h"

namespace tavik::core {

inline constexpr size_t kUuidTextLen = 36;

inline constexpr Error kNotUuidText =
    value_error("UUID text must be 32 hex digits, or 36 characters with hyphens at 8-4-4-4-12");
inline constexpr Error kInvalidUtf8 = value_error("text is not valid UTF-8");

// parse_uuid_text reads the 16 bytes of UUID text, hex digits of either case. Anything else
// (another length, a hyphen out of place, a character that is no hex digit, surrounding
// braces or spaces) fails with kNotUuidText.
Result<Bytes16> parse_uuid_text(std::string_view text);

// parse_uuid_text_ssse3 is parse_uuid_text for text of len 32 or 36 bytes, with SSSE3 (x86-64
// only: callers check that the processor has it): it writes the 16 bytes and returns true, or
// returns false where parse_uuid_text fails.
bool parse_uuid_text_ssse3(const char* text, size_t len, uint8_t bytes[16]);

// format_uuid_text writes the 36 characters of the bytes' UUID text, lowercase, with hyphens.
void format_uuid_text(const uint8_t bytes[16], char out[kUuidTextLen]);

// is_valid_utf8 tells whether text is well-formed UTF-8: no stray continuation byte, no
// truncated or overlong sequence, no surrogate and nothing above U+10FFFF.
bool is_valid_utf8(std::string_view text);

}  // namespace tavik::core

#endif  // TAVIK_CORE_UUID_TEXT_H_
