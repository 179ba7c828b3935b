// The class Keyring: Tavik objects that share every setting but their keys, newest key
// first. Words are read under the one key that takes them, and moved to the first key.

#include <array>
#include <new>
#include <utility>

#include "binding/args.h"
#include "binding/bulk.h"
#include "binding/codec_object.h"
#include "binding/codec_type.h"
#include "binding/convert.h"
#include "binding/errors.h"
#include "binding/guarded.h"
#include "binding/keyring_object.h"
#include "core/keyring.h"

namespace tavik::binding {
namespace {

PyObject* keyring_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static constexpr std::array<const char*, 1> kNames = {"codecs"};
  BoundArguments<1> bound;
  if (bind_arguments_tuple("Keyring", kNames, 1, args, kwargs, bound.refs()) < 0) {
    return nullptr;
  }
  PyObject* codec_class = codec_type();
  if (codec_class == nullptr) { return nullptr; }
  PyObject* codecs_arg = bound[0];
  if (PyUnicode_Check(codecs_arg) || PyBytes_Check(codecs_arg)) {
    PyErr_Format(PyExc_TypeError, "codecs must be an iterable of Tavik, not %.200s",
                 Py_TYPE(codecs_arg)->tp_name);
    add_argument_note("codecs");
    return nullptr;
  }
  PyRef iterator = PyRef::steal(PyObject_GetIter(codecs_arg));
  if (!iterator) {
    add_argument_note("codecs");
    return nullptr;
  }
  std::vector<PyRef> codecs;
  for (PyRef item = PyRef::steal(PyIter_Next(iterator.get())); item;
       item = PyRef::steal(PyIter_Next(iterator.get()))) {
    if (!PyObject_TypeCheck(item.get(), reinterpret_cast<PyTypeObject*>(codec_class))) {
      PyErr_Format(PyExc_TypeError, "codecs must hold Tavik objects, not %.200s",
                   Py_TYPE(item.get())->tp_name);
      add_item_note(codecs.size(), "codecs");
      return nullptr;
    }
    codecs.push_back(std::move(item));
  }
  if (PyErr_Occurred()) {
    add_argument_note("codecs");
    return nullptr;
  }
  std::vector<const core::CodecConfig*> configs;
  configs.reserve(codecs.size());
  for (const PyRef& codec : codecs) { configs.push_back(&as_codec(codec.get())->config); }
  if (const std::optional<Error> refused = core::check_keyring({configs.data(), configs.size()})) {
    return raise_error(*refused);
  }
  PyObject* self = type->tp_alloc(type, 0);
  if (self == nullptr) { return nullptr; }
  KeyringObject* obj = as_keyring(self);
  new (&obj->codecs) std::vector<PyRef>(std::move(codecs));
  new (&obj->configs) std::vector<const core::CodecConfig*>(std::move(configs));
  return self;
}

void keyring_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  KeyringObject* obj = as_keyring(self);
  obj->configs.~vector();
  obj->codecs.~vector();  // drops the references to the codecs
  type->tp_free(self);
  PyRef owned_type = PyRef::steal(reinterpret_cast<PyObject*>(type));  // instances own a type ref
}

// keyring_read is decode or recover under the keyring: the 16 bytes and the index of the key
// that took the word.
template <const char* kMethod, auto Read>
PyObject* keyring_read(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                       PyObject* kwnames) {
  static constexpr std::array<const char*, 1> kNames = {"input"};
  BoundArguments<1> bound;
  if (bind_method(kMethod, kNames, 1, args, nargs, kwnames, bound) < 0) { return nullptr; }
  core::CodeUnits input;
  if (convert_text(bound[0], "input", &input) < 0) { return nullptr; }
  const core::Keyring keyring = as_keyring(self)->keyring();
  const Result<core::KeyedBytes> read = Read(keyring, input);
  if (!read.ok()) { return raise_read_error(read.error(), *keyring[0], input, keyring.size()); }
  return keyed_result(read.value());
}

constexpr char kDecode[] = "decode";
constexpr char kRecover[] = "recover";

// codecs is the keyring's codecs as a tuple, newest key first.
PyObject* keyring_codecs(PyObject* self, void* /*unused*/) {
  const std::vector<PyRef>& codecs = as_keyring(self)->codecs;
  PyRef tuple = PyRef::steal(PyTuple_New(static_cast<Py_ssize_t>(codecs.size())));
  if (!tuple) { return nullptr; }
  for (size_t i = 0; i < codecs.size(); ++i) {
    PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i),
                     PyRef::borrow(codecs[i].get()).release());
  }
  return tuple.release();
}

PyObject* guarded_codecs(PyObject* self, void* closure) {
  return guarded<PyObject*>(nullptr, [&] { return keyring_codecs(self, closure); });
}

constexpr int kFastKw = METH_FASTCALL | METH_KEYWORDS;

PyMethodDef keyring_methods[] = {
    {"decode", fastcall<keyring_read<kDecode, &core::keyring_decode>>(), kFastKw,
     "decode($self, input)\n--\n\n"},
    {"recover", fastcall<keyring_read<kRecover, &core::keyring_recover>>(), kFastKw,
     "recover($self, input)\n--\n\n"},
    {"decode_many", fastcall<keyring_decode_many>(), kFastKw,
     "decode_many($self, words, errors=\"raise\")\n--\n\n"},
    {"rekey_many", fastcall<keyring_rekey_many>(), kFastKw,
     "rekey_many($self, words, errors=\"raise\")\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef keyring_getset[] = {
    {"codecs", guarded_codecs, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyDoc_STRVAR(keyring_doc, "Keyring(codecs)\n--\n\n");

PyType_Slot keyring_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(Guarded<keyring_new>::call)},
    {Py_tp_dealloc, reinterpret_cast<void*>(keyring_dealloc)},
    {Py_tp_methods, keyring_methods},
    {Py_tp_getset, keyring_getset},
    {Py_tp_doc, const_cast<char*>(keyring_doc)},
    {0, nullptr},
};

PyType_Spec keyring_spec = {
    "builtins.Keyring", sizeof(KeyringObject), 0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE, keyring_slots,
};

}  // namespace

PyObject* keyed_result(const core::KeyedBytes& keyed) {
  PyRef pair = PyRef::steal(PyTuple_New(2));
  if (!pair) { return nullptr; }
  PyObject* bytes =
      PyBytes_FromStringAndSize(reinterpret_cast<const char*>(keyed.bytes.data()), 16);
  if (bytes == nullptr) { return nullptr; }
  PyTuple_SET_ITEM(pair.get(), 0, bytes);  // steals
  PyObject* index = PyLong_FromUnsignedLong(keyed.key_index);
  if (index == nullptr) { return nullptr; }
  PyTuple_SET_ITEM(pair.get(), 1, index);
  return pair.release();
}

PyObject* keyring_type() {
  // Created once per process (under the interpreter lock); later imports reuse it.
  static PyObject* type = nullptr;
  if (type == nullptr) { type = PyType_FromSpec(&keyring_spec); }
  return type;
}

}  // namespace tavik::binding
