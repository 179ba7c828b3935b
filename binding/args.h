#ifndef TAVIK_BINDING_ARGS_H_
#define TAVIK_BINDING_ARGS_H_

#include "binding/py_ref.h"

#include <cstddef>
#include <span>

namespace tavik::binding {

// BoundArguments holds a strong reference to the argument of each of N parameters, or null
// for a parameter left out. The references are held for the whole call: converting a later
// argument can run Python code (__index__, __iter__) that drops the caller's references to
// the earlier ones, whose bytes and text the call goes on reading.
template <size_t N>
class BoundArguments {
 public:
  PyObject* operator[](size_t i) const { return refs_[i].get(); }
  std::span<PyRef> refs() { return refs_; }

 private:
  PyRef refs_[N];
};

// bind_arguments matches positional arguments and keywords to the parameter names of a
// method and stores a strong reference to each argument in `bound` (which must hold
// names.size() entries, all empty). It fails (returns -1 with a TypeError) for surplus
// positional arguments, an unknown or repeated keyword, or a missing required parameter (the
// first num_required parameters are required).
// Fast-call form: keyword values follow the positional ones in `args`, named by `kwnames`.
int bind_arguments(const char* func_name, std::span<const char* const> names, size_t num_required,
                   PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                   std::span<PyRef> bound);

// Tuple-and-dict form, for the constructor.
int bind_arguments_tuple(const char* func_name, std::span<const char* const> names,
                         size_t num_required, PyObject* args, PyObject* kwargs,
                         std::span<PyRef> bound);

}  // namespace tavik::binding

#endif  // TAVIK_BINDING_ARGS_H_
