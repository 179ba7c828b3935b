#ifndef TAVIK_BINDING_WITHOUT_LOCK_H_
#define TAVIK_BINDING_WITHOUT_LOCK_H_

#include "binding/py_ref.h"

#include <cxxabi.h>

#include <exception>

namespace tavik::binding {

// without_lock runs `work` with the interpreter lock released, so that other threads run
// while a batch is hashed; `work` touches no Python object. The lock is retaken here, in
// ordinary flow and never in a destructor: at finalization CPython 3.11 to 3.13 end a thread
// that retakes it (pthread_exit), and the forced unwinding that starts there must pass through
// every frame of ours up to the interpreter's (the references those frames hold stay as they
// are: see lock_held and python_call). (The handler of the forced unwinding binds a reference to
// an object that does not exist, which the sanitizer's null check would report.)
template <typename Work>
__attribute__((no_sanitize("null"))) void without_lock(Work&& work) {
  PyThreadState* state = PyEval_SaveThread();
  std::exception_ptr failure;
  try {
    work();
#if TAVIK_FORCED_UNWIND_NAMED
  } catch (abi::__forced_unwind&) {
    throw;
#endif
  } catch (...) {
    failure = std::current_exception();
  }
  python_call([&] { PyEval_RestoreThread(state); });
  if (failure) { std::rethrow_exception(failure); }
}

}  // namespace tavik::binding

#endif  // TAVIK_BINDING_WITHOUT_LOCK_H_
