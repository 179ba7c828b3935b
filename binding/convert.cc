#include "binding/convert.h"

#include <limits>

#include "binding/errors.h"
#include "core/chunk/engine.h"

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

// index_of returns the int behind an integer argument (a new reference), or null with a
// TypeError for anything without __index__ (floats included).
PyRef index_of(PyObject* obj) { return PyRef::steal(PyNumber_Index(obj)); }

}  // namespace

int convert_bytes(PyObject* obj, const char* name, std::span<const uint8_t>* out) {
  if (!PyBytes_Check(obj)) { return type_error(obj, name, "bytes"); }
  *out = {reinterpret_cast<const uint8_t*>(PyBytes_AS_STRING(obj)),
          static_cast<size_t>(PyBytes_GET_SIZE(obj))};
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

int convert_str(PyObject* obj, const char* name, std::string_view* out) {
  if (!PyUnicode_Check(obj)) { return type_error(obj, name, "str"); }
  Py_ssize_t len = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(obj, &len);
  if (utf8 == nullptr) { return fail(name); }
  *out = std::string_view(utf8, static_cast<size_t>(len));
  return 0;
}

int convert_u32(PyObject* obj, const char* name, uint32_t* out) {
  PyRef index = index_of(obj);
  if (!index) { return fail(name); }
  const long long value = PyLong_AsLongLong(index.get());
  if (value == -1 && PyErr_Occurred()) { return fail(name); }
  if (value < 0 || value > static_cast<long long>(std::numeric_limits<uint32_t>::max())) {
    PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
    return fail(name);
  }
  *out = static_cast<uint32_t>(value);
  return 0;
}

int convert_u64(PyObject* obj, const char* name, uint64_t* out) {
  PyRef index = index_of(obj);
  if (!index) { return fail(name); }
  const unsigned long long value = PyLong_AsUnsignedLongLong(index.get());
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) { return fail(name); }
  *out = value;
  return 0;
}

int convert_i64(PyObject* obj, const char* name, int64_t* out) {
  PyRef index = index_of(obj);
  if (!index) { return fail(name); }
  const long long value = PyLong_AsLongLong(index.get());
  if (value == -1 && PyErr_Occurred()) { return fail(name); }
  *out = value;
  return 0;
}

int convert_u128(PyObject* obj, const char* name, fpe::U128* out) {
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
  *out = fpe::U128::from_be_bytes(bytes);
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
  // A failure to tell the length is ignored; the length itself is not needed, since only a
  // bounded number of sizes is kept (core::PatternSizes).
  if (PySequence_Size(obj) < 0) { PyErr_Clear(); }
  PyRef iterator = PyRef::steal(PyObject_GetIter(obj));
  if (!iterator) { return fail(name); }
  core::PatternSizes sizes;
  for (;;) {
    PyRef item = PyRef::steal(PyIter_Next(iterator.get()));
    if (!item) { break; }
    uint64_t value = 0;
    if (convert_u64(item.get(), name, &value) < 0) { return -1; }
    sizes.add(value);
    if (sizes.complete() && PyRange_Check(obj)) {
      // A range is monotonic: once its first items and its last one convert, every item
      // between them does, and none of them can be kept. So range(10**12) takes no time.
      PyRef minus_one = PyRef::steal(PyLong_FromLong(-1));
      if (!minus_one) { return fail(name); }
      PyRef last = PyRef::steal(PyObject_GetItem(obj, minus_one.get()));
      if (!last) { return fail(name); }
      if (convert_u64(last.get(), name, &value) < 0) { return -1; }
      break;
    }
  }
  if (PyErr_Occurred()) { return fail(name); }
  *out = sizes.take();
  return 0;
}

}  // namespace tavik::binding
