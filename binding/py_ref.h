#ifndef TAVIK_BINDING_PY_REF_H_
#define TAVIK_BINDING_PY_REF_H_

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace tavik::binding {

// PyRef owns one strong reference: steal() adopts a new one, borrow() increfs a borrowed one.
// Copies are deleted: write PyRef::borrow(r.get()).
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
  ~PyRef() { Py_XDECREF(p_); }

  PyObject* get() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  [[nodiscard]] PyObject* release() { return std::exchange(p_, nullptr); }

 private:
  explicit PyRef(PyObject* p) : p_(p) {}
  PyObject* p_ = nullptr;
};

}  // namespace tavik::binding

#endif  // TAVIK_BINDING_PY_REF_H_
