#ifndef TAVIK_BINDING_BULK_H_
#define TAVIK_BINDING_BULK_H_

// The bulk methods of Tavik: encode_many, decode_many and recover_many. Items are read a batch
// at a time with the interpreter lock held, hashed in lanes with it released, and turned into
// results with it held again; each item's result is the single call's.

#include "binding/py_ref.h"

namespace tavik::binding {

PyObject* codec_encode_many(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames);
PyObject* codec_decode_many(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames);
PyObject* codec_recover_many(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames);

// The bulk methods of Keyring: decode_many and rekey_many.
PyObject* keyring_decode_many(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames);
PyObject* keyring_rekey_many(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames);

}  // namespace tavik::binding

#endif  // TAVIK_BINDING_BULK_H_
