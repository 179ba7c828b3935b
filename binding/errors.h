#ifndef TAVIK_BINDING_ERRORS_H_
#define TAVIK_BINDING_ERRORS_H_

#include "binding/py_ref.h"

#include <cxxabi.h>

#include "base/result.h"
#include "core/config.h"
#include "core/normalize.h"

#include <string_view>

namespace tavik::binding {

// internal_error_type is the exception of a broken internal invariant; it derives from
// BaseException so that ordinary `except Exception` does not swallow it. Created once.
PyObject* internal_error_type();

// raise_error sets the Python exception of an error of the libraries and returns nullptr:
// kValue -> ValueError, kDecodeAfterRecovery -> RuntimeError, kInternal -> internal error.
// This is the one place where an error kind becomes an exception.
PyObject* raise_error(const Error& error);

// raise_read_error is raise_error for a word that decode or recover could not read (under one
// codec, or the first of a keyring of num_keys): it adds a note that says what went wrong and
// where, when the core has one for the error.
PyObject* raise_read_error(const Error& error, const core::CodecConfig& config,
                           core::CodeUnits text, size_t num_keys = 1);

// raise_current_exception turns the C++ exception being handled into a Python exception and
// returns nullptr: std::bad_alloc becomes MemoryError, anything else the internal error. Call
// it only inside a catch block. Every entry point from Python catches what the C++ code under
// it throws (copying key bytes, a pattern or a message can run out of memory), so no C++
// exception ever unwinds through the interpreter's frames.
PyObject* raise_current_exception() noexcept;

// guarded calls `function` and turns whatever C++ exception leaves it into a Python exception
// (raise_current_exception), but for the forced unwinding that ends a thread (pthread_exit, as
// CPython does to a thread that retakes the interpreter lock during finalization): that one
// passes on, and nothing on its way may be noexcept. (Its handler binds a reference to an
// object that does not exist, which the sanitizer's null check would report.)
template <typename Result, typename Function>
__attribute__((no_sanitize("null"))) Result guarded(Result on_error, Function&& function) {
  try {
    return function();
#if TAVIK_FORCED_UNWIND_NAMED
  } catch (abi::__forced_unwind&) {
    throw;
#endif
  } catch (...) {
    raise_current_exception();
    return on_error;
  }
}

// fetch_exception takes the pending exception (a new reference, or null when none is set);
// restore_exception sets it again, stealing the reference.
PyObject* fetch_exception();
void restore_exception(PyObject* exception);

// add_argument_note adds the note "while processing 'NAME'" to the pending exception.
void add_argument_note(const char* name);
// add_text_note adds a note of ASCII text to the pending exception.
void add_text_note(std::string_view text);
// add_item_note adds the note "while processing item INDEX of 'NAME'" (bulk methods).
void add_item_note(size_t index, const char* name);

}  // namespace tavik::binding

#endif  // TAVIK_BINDING_ERRORS_H_
