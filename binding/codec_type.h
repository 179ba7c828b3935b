#ifndef TAVIK_BINDING_CODEC_TYPE_H_
#define TAVIK_BINDING_CODEC_TYPE_H_

#include "binding/py_ref.h"

namespace tavik::binding {

// codec_type returns the class Tavik (a borrowed reference), creating it on first use; it
// lives as long as the process. Returns null with an exception set if it cannot be created.
PyObject* codec_type();

}  // namespace tavik::binding

#endif  // TAVIK_BINDING_CODEC_TYPE_H_
