#ifndef TAVIK_BINDING_CODEC_OBJECT_H_
#define TAVIK_BINDING_CODEC_OBJECT_H_

// The instance of the class Tavik, and what every method does with it before the work.

#include "binding/py_ref.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "binding/args.h"
#include "core/config.h"

namespace tavik::binding {

struct CodecObject {
  PyObject_HEAD core::CodecConfig config;
  // The number of calls that hold a shared borrow of the object. No call ever takes an
  // exclusive borrow: the record is immutable.
  std::atomic<int64_t> borrow;
};

inline CodecObject* as_codec(PyObject* self) { return reinterpret_cast<CodecObject*>(self); }

// SharedBorrow holds a shared borrow of an object for the length of a call.
class SharedBorrow {
 public:
  explicit SharedBorrow(PyObject* self) : counter_(&as_codec(self)->borrow) {
    counter_->fetch_add(1, std::memory_order_acquire);
  }
  SharedBorrow(const SharedBorrow&) = delete;
  SharedBorrow& operator=(const SharedBorrow&) = delete;
  ~SharedBorrow() { counter_->fetch_sub(1, std::memory_order_release); }

 private:
  std::atomic<int64_t>* counter_;
};

// bind_method is bind_arguments for a method's fixed list of parameter names.
template <size_t N>
int bind_method(const char* func_name, const std::array<const char*, N>& names,
                size_t num_required, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                BoundArguments<N>& bound) {
  return bind_arguments(func_name, names, num_required, args, nargs, kwnames, bound.refs());
}

// word_to_str makes the str of a code word, UTF-8 with an ASCII separator or another one.
PyObject* word_to_str(const core::CodecConfig& config, std::string_view word);

}  // namespace tavik::binding

#endif  // TAVIK_BINDING_CODEC_OBJECT_H_
