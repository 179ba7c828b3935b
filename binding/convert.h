#ifndef TAVIK_BINDING_CONVERT_H_
#define TAVIK_BINDING_CONVERT_H_

// Argument converters. Each writes to `out` and returns 0, or returns -1 with the exception
// of the conversion set and the note "while processing 'NAME'" added to it. Bytes and ASCII
// text are read in place: the views stay valid while the argument object lives (the call holds
// a strong reference to it). No converter leaves anything behind on the argument: a str's
// cached UTF-8 form is never created.

#include "binding/py_ref.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "core/config.h"
#include "core/normalize.h"
#include "base/u128.h"

namespace tavik::binding {

// bytes or a subclass; None or a left-out argument gives nullopt in the optional form.
int convert_bytes(PyObject* obj, const char* name, std::span<const uint8_t>* out);
int convert_optional_bytes(PyObject* obj, const char* name,
                           std::optional<std::span<const uint8_t>>* out);
// A str of UUID text (core::parse_uuid_text) as its 16 bytes, stored in `bytes`, which `out`
// views; ValueError for any other text.
int convert_uuid_text(PyObject* obj, const char* name, core::Bytes16* bytes,
                      std::span<const uint8_t>* out);
// Utf8Arg is a str argument as UTF-8: in place for ASCII text, else a copy the call owns.
struct Utf8Arg {
  std::string_view text;
  PyRef owner;  // the bytes object holding a non-ASCII text's UTF-8, or null
};
// str or a subclass, as UTF-8 (the host's UnicodeEncodeError for lone surrogates).
int convert_str(PyObject* obj, const char* name, Utf8Arg* out);
// str or a subclass, as its code units read in place, for the readers of code words, which
// keep only ASCII letters: no copy at all, whatever the text holds. Lone surrogates fail with
// the host's UnicodeEncodeError, as in convert_str.
int convert_text(PyObject* obj, const char* name, core::CodeUnits* out);
// Integers: int or any object with __index__. The unsigned 32-bit form refuses values outside
// 0..4294967295 with OverflowError "out of range integral type conversion attempted" (the
// host's own text beyond the signed 64-bit range); the others use the host's overflow texts.
int convert_u32(PyObject* obj, const char* name, uint32_t* out);
int convert_u64(PyObject* obj, const char* name, uint64_t* out);
int convert_i64(PyObject* obj, const char* name, int64_t* out);
int convert_u128(PyObject* obj, const char* name, U128* out);
// The sizes of a chunk pattern: a sequence of integers (not str), each converted to unsigned
// 64-bit. TypeError "Can't extract `str` to `Vec`" for a str, TypeError for a non-sequence,
// the item's error for the first bad item. Every item is converted, but only the sizes that
// core::PatternSizes keeps are stored, so memory stays bounded; time is linear in the items,
// except for a range, which is read only as far as its kept sizes and its last item.
int convert_pattern(PyObject* obj, const char* name, std::vector<uint64_t>* out);

}  // namespace tavik::binding

#endif  // TAVIK_BINDING_CONVERT_H_
