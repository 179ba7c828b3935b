#ifndef TAVIK_BINDING_GUARDED_H_
#define TAVIK_BINDING_GUARDED_H_

#include "binding/py_ref.h"

#include "binding/errors.h"

namespace tavik::binding {

// Guarded wraps an entry point from Python so that no C++ exception leaves it: whatever the
// C++ code under it throws becomes a Python exception (guarded).
template <auto Function>
struct Guarded;
template <typename... Args, PyObject* (*Function)(Args...)>
struct Guarded<Function> {
  static PyObject* call(Args... args) {
    return guarded<PyObject*>(nullptr, [&] { return Function(args...); });
  }
};

// fastcall is a guarded fast-call method with keywords, as a method table takes it.
template <auto Method>
PyCFunction fastcall() {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&Guarded<Method>::call));
}

}  // namespace tavik::binding

#endif  // TAVIK_BINDING_GUARDED_H_
