// The module tavik: multi-phase initialisation whose execution step adds the class Tavik and
// its name in __all__.

#include "binding/codec_type.h"
#include "binding/errors.h"
#include "binding/fault_injection.h"
#include "binding/keyring_object.h"
#include "binding/py_ref.h"

namespace tavik::binding {
namespace {

int exec_module(PyObject* module) {
  PyObject* type = codec_type();
  if (type == nullptr) { return -1; }
  PyRef all = PyRef::steal(PyObject_GetAttrString(module, "__all__"));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) { return -1; }
    PyErr_Clear();
    all = PyRef::steal(PyList_New(0));
    if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) { return -1; }
  } else if (!PyList_Check(all.get())) {
    PyErr_SetString(PyExc_TypeError, "__all__ must be a list");
    return -1;
  }
  PyObject* keyring = keyring_type();
  if (keyring == nullptr) { return -1; }
  for (const char* name_text : {"Tavik", "Keyring"}) {
    PyRef name = PyRef::steal(PyUnicode_FromString(name_text));
    if (!name || PyList_Append(all.get(), name.get()) < 0) { return -1; }
  }
  if (PyObject_SetAttrString(module, "Keyring", keyring) < 0) { return -1; }
#if defined(TAVIK_FAULT_INJECTION)
  if (add_fault_injection(module) < 0) { return -1; }
#endif
  return PyObject_SetAttrString(module, "Tavik", type);
}

int guarded_exec_module(PyObject* module) {
  return guarded<int>(-1, [&] { return exec_module(module); });
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(guarded_exec_module)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "tavik",       // m_name
    "",            // m_doc
    0,             // m_size: no per-module state
    nullptr,       // m_methods
    module_slots,  // m_slots
    nullptr,       // m_traverse
    nullptr,       // m_clear
    nullptr,       // m_free
};

}  // namespace
}  // namespace tavik::binding

PyMODINIT_FUNC PyInit_tavik() { return PyModuleDef_Init(&tavik::binding::module_def); }
