#ifndef TAVIK_BINDING_FAULT_INJECTION_H_
#define TAVIK_BINDING_FAULT_INJECTION_H_

#include "binding/py_ref.h"

namespace tavik::binding {

// add_fault_injection adds _fail_allocation(n) to the module in test builds (CMake option
// TAVIK_FAULT_INJECTION): the allocation after the next n made by the module's C++ code
// throws std::bad_alloc. Returns 0, or -1 with an exception set.
int add_fault_injection(PyObject* module);

}  // namespace tavik::binding

#endif  // TAVIK_BINDING_FAULT_INJECTION_H_
