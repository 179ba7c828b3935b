#include "binding/convert.h"

#include <limits>

#include "binding/errors.h"
#include "core/chunk/engine.h"
#include "core/uuid_text.h"

namespace tavik::binding {

namespace {

int fail(const char* name) {
  add_argument_note(name);
  return -1;
}

int type_error(PyObject* obj, const char* name, const char* expected) {
  PyErr_Format(PyExc_TypeError, "%s must be %s, not %.200s", name, expected,
               Py_TYPE(obj)->tp_name);
  return fail(name);
}

template <typename Unit>
bool has_surrogate(const Unit* units, Py_ssize_t len) {
  bool found = false;
  for (Py_ssize_t i = 0; i < len; ++i) { found |= Py_UNICODE_IS_SURROGATE(units[i]); }
  return found;
}

// ask_length asks a pattern for its length, as a sequence is asked before it is read, and
// drops the answer: the sizes kept are bounded however long the pattern is. Only the ordinary
// "has no length" TypeError is passed over; anything else that __len__ raises (an interrupt, a
// MemoryError, SystemExit) propagates. A range is not asked: its length can exceed what the
// host reports without error, and it is read by its ends.
int ask_length(PyObject* obj) {
  if (PyRange_Check(obj) || python_call([&] { return PySequence_Size(obj); }) >= 0) { return 0; }
  if (!PyErr_ExceptionMatches(PyExc_TypeError)) { return -1; }
  PyErr_Clear();
  return 0;
}

// A pattern being read checks for pending signals after this many items.
constexpr uint64_t kItemsBetweenSignalChecks = 4096;

// index_of returns the int behind an integer argument (a new reference), or null with a
// TypeError for anything without __index__ (floats included).
PyRef index_of(PyObject* obj) {
  return PyRef::steal(python_call([&] { return PyNumber_Index(obj); }));
}

}  // namespace

int convert_bytes(PyObject* obj, const char* name, std::span<const uint8_t>* out) {
  if (!PyBytes_Check(obj)) { return type_error(obj, name, "bytes"); }
  *out = {reinterpret_cast<const uint8_t*>(PyBytes_AS_STRING(obj)),
          static_cast<size_t>(PyBytes_GET_SIZE(obj))};
  return 0;
}

int convert_uuid_text(PyObject* obj, const char* name, core::Bytes16* bytes,
                      std::span<const uint8_t>* out) {
  // UUID text is ASCII: any other str fails the parse as it stands.
  const Result<core::Bytes16> parsed =
      PyUnicode_IS_ASCII(obj)
          ? core::parse_uuid_text({static_cast<const char*>(PyUnicode_DATA(obj)),
                                   static_cast<size_t>(PyUnicode_GET_LENGTH(obj))})
          : Result<core::Bytes16>(core::kNotUuidText);
  if (!parsed.ok()) {
    raise_error(parsed.error());
    return fail(name);
  }
  *bytes = parsed.value();
  *out = *bytes;
  return 0;
}

int convert_optional_bytes(PyObject* obj, const char* name,
                           std::optional<std::span<const uint8_t>>* out) {
  if (obj == nullptr || obj == Py_None) {
    *out = std::nullopt;
    return 0;
  }
  std::span<const uint8_t> bytes;
  if (convert_bytes(obj, name, &bytes) < 0) { return -1; }
  *out = bytes;
  return 0;
}

int convert_str(PyObject* obj, const char* name, Utf8Arg* out) {
  if (!PyUnicode_Check(obj)) { return type_error(obj, name, "str"); }
  if (PyUnicode_IS_ASCII(obj)) {
    out->text = std::string_view(static_cast<const char*>(PyUnicode_DATA(obj)),
                                 static_cast<size_t>(PyUnicode_GET_LENGTH(obj)));
    return 0;
  }
  // PyUnicode_AsUTF8AndSize would keep the UTF-8 form on the caller's str for as long as it
  // lives; an encoded copy is dropped with the call.
  out->owner = PyRef::steal(PyUnicode_AsUTF8String(obj));
  if (!out->owner) { return fail(name); }
  out->text = std::string_view(PyBytes_AS_STRING(out->owner.get()),
                               static_cast<size_t>(PyBytes_GET_SIZE(out->owner.get())));
  return 0;
}

int convert_text(PyObject* obj, const char* name, core::CodeUnits* out) {
  if (!PyUnicode_Check(obj)) { return type_error(obj, name, "str"); }
  const int kind = PyUnicode_KIND(obj);
  const void* data = PyUnicode_DATA(obj);
  const Py_ssize_t len = PyUnicode_GET_LENGTH(obj);
  const bool surrogate =
      kind == PyUnicode_2BYTE_KIND   ? has_surrogate(static_cast<const Py_UCS2*>(data), len)
      : kind == PyUnicode_4BYTE_KIND ? has_surrogate(static_cast<const Py_UCS4*>(data), len)
                                     : false;
  if (surrogate) {
    // UTF-8 cannot carry a lone surrogate: the encoder reports it with its own message (and,
    // failing, caches nothing).
    PyRef encoded = PyRef::steal(PyUnicode_AsUTF8String(obj));
    if (!encoded) { return fail(name); }
  }
  *out = core::CodeUnits{data, static_cast<size_t>(len), static_cast<uint8_t>(kind)};
  return 0;
}

// as_integer converts an integer argument with one of the host's C conversions, whose
// failures (a type without __index__, an overflow) keep their own exception and text.
template <typename T, T (*Convert)(PyObject*)>
int as_integer(PyObject* obj, const char* name, T* out) {
  PyRef index = index_of(obj);
  if (!index) { return fail(name); }
  const T value = Convert(index.get());
  if (value == static_cast<T>(-1) && PyErr_Occurred()) { return fail(name); }
  *out = value;
  return 0;
}

int convert_u32(PyObject* obj, const char* name, uint32_t* out) {
  long long value = 0;
  if (as_integer<long long, PyLong_AsLongLong>(obj, name, &value) < 0) { return -1; }
  if (value < 0 || value > static_cast<long long>(std::numeric_limits<uint32_t>::max())) {
    PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
    return fail(name);
  }
  *out = static_cast<uint32_t>(value);
  return 0;
}

int convert_u64(PyObject* obj, const char* name, uint64_t* out) {
  unsigned long long value = 0;
  if (as_integer<unsigned long long, PyLong_AsUnsignedLongLong>(obj, name, &value) < 0) {
    return -1;
  }
  *out = value;
  return 0;
}

int convert_i64(PyObject* obj, const char* name, int64_t* out) {
  long long value = 0;
  if (as_integer<long long, PyLong_AsLongLong>(obj, name, &value) < 0) { return -1; }
  *out = value;
  return 0;
}

int convert_u128(PyObject* obj, const char* name, U128* out) {
  PyRef index = index_of(obj);
  if (!index) { return fail(name); }
  uint8_t bytes[16] = {};
#if PY_VERSION_HEX >= 0x030D0000
  // PyLong_AsNativeBytes reports a value that does not fit by the size it would need, and
  // its own negative check raises ValueError; keep the OverflowErrors of the unsigned forms.
  PyRef zero = PyRef::steal(PyLong_FromLong(0));
  if (!zero) { return fail(name); }
  const int negative = PyObject_RichCompareBool(index.get(), zero.get(), Py_LT);
  if (negative < 0) { return fail(name); }
  if (negative != 0) {
    PyErr_SetString(PyExc_OverflowError, "can't convert negative int to unsigned");
    return fail(name);
  }
  const Py_ssize_t needed = PyLong_AsNativeBytes(
      index.get(), bytes, sizeof bytes,
      Py_ASNATIVEBYTES_BIG_ENDIAN | Py_ASNATIVEBYTES_UNSIGNED_BUFFER);
  if (needed < 0) { return fail(name); }
  if (static_cast<size_t>(needed) > sizeof bytes) {
    PyErr_SetString(PyExc_OverflowError, "int too big to convert");
    return fail(name);
  }
#else
  if (_PyLong_AsByteArray(reinterpret_cast<PyLongObject*>(index.get()), bytes, sizeof bytes,
                          /*little_endian=*/0, /*is_signed=*/0) < 0) {
    return fail(name);
  }
#endif
  *out = U128::from_be_bytes(bytes);
  return 0;
}

int convert_pattern(PyObject* obj, const char* name, std::vector<uint64_t>* out) {
  if (PyUnicode_Check(obj)) {
    PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
    return fail(name);
  }
  if (!PySequence_Check(obj)) {
    PyErr_Format(PyExc_TypeError, "'%.200s' object cannot be converted to 'Sequence'",
                 Py_TYPE(obj)->tp_name);
    return fail(name);
  }
  if (ask_length(obj) < 0) { return fail(name); }
  PyRef iterator = PyRef::steal(python_call([&] { return PyObject_GetIter(obj); }));
  if (!iterator) { return fail(name); }
  core::PatternSizes sizes;
  for (uint64_t num_items = 1;; ++num_items) {
    PyRef item = PyRef::steal(python_call([&] { return PyIter_Next(iterator.get()); }));
    if (!item) { break; }
    uint64_t value = 0;
    if (convert_u64(item.get(), name, &value) < 0) { return -1; }
    sizes.add(value);
    if (sizes.complete() && PyRange_Check(obj)) {
      // A range is monotonic: once its first items and its last one convert, every item
      // between them does, and none of them can be kept. So range(10**12) takes no time.
      PyRef minus_one = PyRef::steal(PyLong_FromLong(-1));
      if (!minus_one) { return fail(name); }
      PyRef last =
          PyRef::steal(python_call([&] { return PyObject_GetItem(obj, minus_one.get()); }));
      if (!last) { return fail(name); }
      if (convert_u64(last.get(), name, &value) < 0) { return -1; }
      break;
    }
    // An iterator written in C (itertools.repeat, say) runs no Python code between items,
    // so nothing else would let a signal handler (Ctrl-C, an alarm) stop an endless pattern.
    if (num_items % kItemsBetweenSignalChecks == 0 && PyErr_CheckSignals() < 0) { return -1; }
  }
  if (PyErr_Occurred()) { return fail(name); }
  *out = sizes.take();
  return 0;
}

}  // namespace tavik::binding
