#ifndef TAVIK_BINDING_KEYRING_OBJECT_H_
#define TAVIK_BINDING_KEYRING_OBJECT_H_

// The instance of the class Keyring: the Tavik objects of a key rotation, newest key first.

#include "binding/py_ref.h"

#include <vector>

#include "core/config.h"
#include "core/keyring.h"

namespace tavik::binding {

// KeyringObject holds a strong reference to each of its codecs and views their records, which
// never change. A keyring holds only codecs, which hold nothing, so it makes no cycle.
struct KeyringObject {
  PyObject_HEAD std::vector<PyRef> codecs;
  std::vector<const core::CodecConfig*> configs;
  core::Keyring keyring() const { return {configs.data(), configs.size()}; }
};

inline KeyringObject* as_keyring(PyObject* self) { return reinterpret_cast<KeyringObject*>(self); }

// keyed_result is the (bytes, key index) pair of a word read under a keyring.
PyObject* keyed_result(const core::KeyedBytes& keyed);

// keyring_type is the class Keyring, created once per process.
PyObject* keyring_type();

}  // namespace tavik::binding

#endif  // TAVIK_BINDING_KEYRING_OBJECT_H_
