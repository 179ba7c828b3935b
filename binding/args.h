#ifndef TAVIK_BINDING_ARGS_H_
#define TAVIK_BINDING_ARGS_H_

#include "binding/py_ref.h"

#include <cstddef>
#include <span>

namespace tavik::binding {

// bind_arguments matches positional arguments and keywords to the parameter names of a
// method. bound[i] receives a borrowed reference to the argument of parameter i, or nullptr
// when it was left out. It fails (returns -1 with a TypeError) for surplus positional
// arguments, an unknown or repeated keyword, or a missing required parameter (the first
// num_required parameters are required).
// Fast-call form: keyword values follow the positional ones in `args`, named by `kwnames`.
int bind_arguments(const char* func_name, std::span<const char* const> names, size_t num_required,
                   PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** bound);

// Tuple-and-dict form, for the constructor.
int bind_arguments_tuple(const char* func_name, std::span<const char* const> names,
                         size_t num_required, PyObject* args, PyObject* kwargs, PyObject** bound);

}  // namespace tavik::binding

#endif  // TAVIK_BINDING_ARGS_H_
