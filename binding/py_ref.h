#ifndef TAVIK_BINDING_PY_REF_H_
#define TAVIK_BINDING_PY_REF_H_

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <type_traits>
#include <utility>

namespace tavik::binding {

// lock_lost is set on a thread that the interpreter ends as it retakes the interpreter lock at
// finalization (CPython 3.11 to 3.13 end it with pthread_exit, whose forced unwinding runs our
// destructors on its way), when it is ended inside a call that python_call wraps.
inline thread_local bool lock_lost = false;

// The forced unwinding is let pass by name (abi::__forced_unwind) where the C++ runtime names
// it: libstdc++, which the shipped module is built with. libc++abi has no name for it, so a
// module built with libc++ (as the portability build of the test suite is) cannot single it
// out of a `catch (...)`; the handlers that let it pass are compiled only where it is named.
#if defined(__GLIBCXX__)
#define TAVIK_FORCED_UNWIND_NAMED 1
#else
#define TAVIK_FORCED_UNWIND_NAMED 0
#endif

// lock_held tells whether this thread holds the interpreter lock, as far as it can be known: a
// thread ended at finalization does not, and the references of the frames unwound are then
// left as they are, since dropping one could run Python code without the lock. (Once the
// interpreter is gone, PyGILState_Check answers yes whoever asks: hence lock_lost.)
inline bool lock_held() { return !lock_lost && PyGILState_Check() != 0; }

// python_call makes a call into the interpreter that may run Python code, and so let go of the
// lock and retake it: a thread ended there is marked (lock_lost) before its frames unwind. The
// interpreter's functions throw nothing else, so leaving the call by unwinding means exactly
// that (and a sentinel tells it without catching the forced unwinding, whose object is none).
template <typename Call>
auto python_call(Call&& call) -> decltype(call()) {
  struct Sentinel {
    bool returned = false;
    ~Sentinel() {
      if (!returned) { lock_lost = true; }
    }
  } sentinel;
  if constexpr (std::is_void_v<decltype(call())>) {
    call();
    sentinel.returned = true;
  } else {
    auto result = call();
    sentinel.returned = true;
    return result;
  }
}

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
  // Not noexcept: the reference dropped can run Python code, which may end the thread.
  PyRef& operator=(PyRef&& o) {
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
