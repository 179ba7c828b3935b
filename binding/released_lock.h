#ifndef TAVIK_BINDING_RELEASED_LOCK_H_
#define TAVIK_BINDING_RELEASED_LOCK_H_

#include "binding/py_ref.h"

namespace tavik::binding {

// ReleasedLock releases the interpreter lock for its scope, so that other threads run while
// a batch is hashed. Nothing in that scope touches a Python object.
class ReleasedLock {
 public:
  ReleasedLock() : state_(PyEval_SaveThread()) {}
  ReleasedLock(const ReleasedLock&) = delete;
  ReleasedLock& operator=(const ReleasedLock&) = delete;
  ~ReleasedLock() { PyEval_RestoreThread(state_); }

 private:
  PyThreadState* state_;
};

}  // namespace tavik::binding

#endif  // TAVIK_BINDING_RELEASED_LOCK_H_
