// Allocation failures on demand, for test builds only (CMake option TAVIK_FAULT_INJECTION):
// the module's own operator new fails the n-th allocation after tavik.tavik._fail_allocation(n)
// with std::bad_alloc, so a test can drive every entry point through an allocation failure
// and see that it becomes a MemoryError. Release builds compile none of this.

#if defined(TAVIK_FAULT_INJECTION)

#include "binding/fault_injection.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

// Allocations left before the one that fails; negative: none fails.
std::atomic<long long> allocations_left{-1};

void* allocate(std::size_t size) {
  long long left = allocations_left.load();
  while (left >= 0 && !allocations_left.compare_exchange_weak(left, left - 1)) {
  }
  if (left == 0) { throw std::bad_alloc(); }
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) { throw std::bad_alloc(); }
  return p;
}

}  // namespace

// Replacements of the global allocation functions, visible only inside the module.
void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
  return operator new(size, tag);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace tavik::binding {
namespace {

PyObject* fail_allocation(PyObject* /*module*/, PyObject* arg) {
  const long long n = PyLong_AsLongLong(arg);
  if (n == -1 && PyErr_Occurred()) { return nullptr; }
  allocations_left.store(n < 0 ? -1 : n);
  Py_RETURN_NONE;
}

PyMethodDef fault_methods[] = {
    {"_fail_allocation", fail_allocation, METH_O,
     "_fail_allocation(n)\n--\n\nFail the allocation after the next n (negative: none)."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

int add_fault_injection(PyObject* module) { return PyModule_AddFunctions(module, fault_methods); }

}  // namespace tavik::binding

#endif
