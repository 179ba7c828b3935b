#include "binding/args.h"

namespace tavik::binding {

namespace {

// Binder collects arguments into `bound`, reporting CPython-style TypeErrors.
class Binder {
 public:
  Binder(const char* func_name, std::span<const char* const> names, std::span<PyRef> bound)
      : func_name_(func_name), names_(names), bound_(bound) {}

  int positional(PyObject* const* args, Py_ssize_t nargs) {
    if (static_cast<size_t>(nargs) > names_.size()) {
      PyErr_Format(PyExc_TypeError, "%s() takes %s%zu positional argument%s but %zd %s given",
                   func_name_, names_.size() == 0 ? "" : "at most ", names_.size(),
                   names_.size() == 1 ? "" : "s", nargs, nargs == 1 ? "was" : "were");
      return -1;
    }
    for (Py_ssize_t i = 0; i < nargs; ++i) {
      bound_[static_cast<size_t>(i)] = PyRef::borrow(args[i]);
    }
    return 0;
  }

  int keyword(PyObject* name, PyObject* value) {
    const size_t index = find(name);
    if (index == names_.size()) {
      PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%S'", func_name_,
                   name);
      return -1;
    }
    if (bound_[index]) {
      PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", func_name_,
                   names_[index]);
      return -1;
    }
    bound_[index] = PyRef::borrow(value);
    return 0;
  }

  int finish(size_t num_required) {
    for (size_t i = 0; i < num_required; ++i) {
      if (!bound_[i]) {
        PyErr_Format(PyExc_TypeError, "%s() missing required argument '%s' (pos %zu)",
                     func_name_, names_[i], i + 1);
        return -1;
      }
    }
    return 0;
  }

 private:
  // Keywords are matched by their text (a str subclass's __eq__ is never consulted).
  size_t find(PyObject* name) const {
    if (!PyUnicode_Check(name)) { return names_.size(); }
    for (size_t i = 0; i < names_.size(); ++i) {
      if (PyUnicode_CompareWithASCIIString(name, names_[i]) == 0) { return i; }
    }
    return names_.size();
  }

  const char* func_name_;
  std::span<const char* const> names_;
  std::span<PyRef> bound_;
};

}  // namespace

int bind_arguments(const char* func_name, std::span<const char* const> names, size_t num_required,
                   PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                   std::span<PyRef> bound) {
  Binder binder(func_name, names, bound);
  if (binder.positional(args, nargs) < 0) { return -1; }
  if (kwnames != nullptr) {
    const Py_ssize_t num_kw = PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t i = 0; i < num_kw; ++i) {
      if (binder.keyword(PyTuple_GET_ITEM(kwnames, i), args[nargs + i]) < 0) { return -1; }
    }
  }
  return binder.finish(num_required);
}

int bind_arguments_tuple(const char* func_name, std::span<const char* const> names,
                         size_t num_required, PyObject* args, PyObject* kwargs,
                         std::span<PyRef> bound) {
  Binder binder(func_name, names, bound);
  PyObject* const* items = reinterpret_cast<PyTupleObject*>(args)->ob_item;
  if (binder.positional(items, PyTuple_GET_SIZE(args)) < 0) { return -1; }
  if (kwargs != nullptr) {
    Py_ssize_t pos = 0;
    PyObject* name = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(kwargs, &pos, &name, &value)) {
      if (binder.keyword(name, value) < 0) { return -1; }
    }
  }
  return binder.finish(num_required);
}

}  // namespace tavik::binding
