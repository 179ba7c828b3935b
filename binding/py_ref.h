#ifndef TAVIK_BINDING_PY_REF_H_
#define TAVIK_BINDING_PY_REF_H_

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace tavik::binding {

// lock_held tells whether this thread holds the interpreter lock. It does not when the
// interpreter ends the thread as it retakes the lock at finalization (CPython 3.11 to 3.13 end
// it with pthread_exit, whose forced unwinding runs our destructors): the references of the
// frames unwound are then left as they are, since dropping one could run Python code.
inline bool lock_held() { return PyGILState_Check() != 0; }

// PyRef owns one strong reference: steal() adopts a new one, borrow() increfs a borrowed one.
// Copies are deleted: write PyRef::borrow(r.get()). A reference is dropped only by a thread
// that holds the interpreter lock (lock_held).
class PyRef {
 public:
  PyRef() = default;
  static PyRef steal(PyObject* p) { return PyRef(p); }
  static PyRef borrow(PyObject* p) {
    Py_XINCREF(p);
    return PyRef(p);
  }
  PyRef(PyRef&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  PyRef& operator=(PyRef&& o) noexcept {
    PyObject* old = std::exchange(p_, std::exchange(o.p_, nullptr));
    Py_XDECREF(old);  // last: a decref can run arbitrary Python code
    return *this;
  }
  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;
  ~PyRef() {
    if (p_ != nullptr && lock_held()) { Py_DECREF(p_); }
  }

  PyObject* get() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  [[nodiscard]] PyObject* release() { return std::exchange(p_, nullptr); }

 private:
  explicit PyRef(PyObject* p) : p_(p) {}
  PyObject* p_ = nullptr;
};

}  // namespace tavik::binding

#endif  // TAVIK_BINDING_PY_REF_H_
