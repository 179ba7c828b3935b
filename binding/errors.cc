#include "binding/errors.h"

#include <exception>
#include <new>
#include <string>

#include "core/explain.h"

namespace tavik::binding {

PyObject* internal_error_type() {
  static PyObject* type = nullptr;  // created once, under the interpreter lock
  if (type == nullptr) {
    type = PyErr_NewExceptionWithDoc("tavik.InternalError",
                                     "A broken internal invariant of the tavik module.",
                                     PyExc_BaseException, nullptr);
  }
  return type;
}

PyObject* raise_error(const Error& error) {
  PyObject* type = nullptr;
  switch (error.code) {  // no default: -Wswitch reports a new ErrorCode
    case ErrorCode::kValue: type = PyExc_ValueError; break;
    case ErrorCode::kDecodeAfterRecovery: type = PyExc_RuntimeError; break;
    case ErrorCode::kInternal: type = internal_error_type(); break;
  }
  if (type == nullptr) { return nullptr; }  // creating the internal error type failed
  PyRef message = PyRef::steal(PyUnicode_FromStringAndSize(
      error.message.data(), static_cast<Py_ssize_t>(error.message.size())));
  if (message) { PyErr_SetObject(type, message.get()); }
  return nullptr;
}

PyObject* raise_current_exception() noexcept {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& e) {
    PyObject* type = internal_error_type();
    if (type != nullptr) { PyErr_Format(type, "unexpected C++ exception: %s", e.what()); }
  } catch (...) {
    PyObject* type = internal_error_type();
    if (type != nullptr) { PyErr_SetString(type, "unexpected C++ exception"); }
  }
  return nullptr;
}

namespace {

// add_note adds a note to the pending exception; a failure to add it keeps the exception.
void add_note(PyRef note) {
  PyRef exc = PyRef::steal(fetch_exception());
  if (!exc) { return; }
  if (note) {
    PyObject* call_args[] = {exc.get(), note.get()};
    PyRef method = PyRef::steal(PyUnicode_InternFromString("add_note"));
    if (method) {
      PyRef ignored = PyRef::steal(PyObject_VectorcallMethod(
          method.get(), call_args, 2, nullptr));
    }
  }
  // A failure to add the note must not hide the original exception.
  PyErr_Clear();
  restore_exception(exc.release());
}

}  // namespace

PyObject* fetch_exception() {
#if PY_VERSION_HEX >= 0x030C0000
  return PyErr_GetRaisedException();
#else
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  if (traceback != nullptr && value != nullptr) { PyException_SetTraceback(value, traceback); }
  Py_XDECREF(type);
  Py_XDECREF(traceback);
  return value;
#endif
}

void restore_exception(PyObject* exception) {
#if PY_VERSION_HEX >= 0x030C0000
  PyErr_SetRaisedException(exception);
#else
  PyErr_Restore(PyObject_Type(exception), exception, PyException_GetTraceback(exception));
#endif
}

PyObject* raise_read_error(const Error& error, const core::CodecConfig& config,
                           core::CodeUnits text, size_t num_keys) {
  raise_error(error);
  const std::string note = core::explain_read_failure(config, text, error, num_keys);
  if (!note.empty()) { add_text_note(note); }
  return nullptr;
}

void add_argument_note(const char* name) {
  add_note(PyRef::steal(PyUnicode_FromFormat("while processing '%s'", name)));
}

void add_text_note(std::string_view text) {
  add_note(PyRef::steal(
      PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()))));
}

void add_item_note(size_t index, const char* name) {
  add_note(PyRef::steal(PyUnicode_FromFormat("while processing item %zu of '%s'", index, name)));
}

}  // namespace tavik::binding
