// The floor of a tavik call from Python, measured by the Python benchmark in the same rounds
// as the calls themselves. Empty().call(x) binds like a tavik method (METH_FASTCALL |
// METH_KEYWORDS, one argument) and returns None: the cost of calling into C. call_floor(x)
// binds the same way and runs the 18 chained SHA-256 compressions of one encode or decode
// (tavik's own compression, from the core library): the floor of encode and decode.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "fpe/sha256.h"

namespace {

PyObject* empty_call(PyObject*, PyObject* const*, Py_ssize_t, PyObject*) { Py_RETURN_NONE; }

tavik::fpe::Sha256State floor_state = tavik::fpe::sha256_initial_state();
const uint8_t floor_block[tavik::fpe::kSha256BlockLen] = {'f', 'l', 'o', 'o', 'r'};

PyObject* call_floor(PyObject*, PyObject* const*, Py_ssize_t, PyObject*) {
  for (int i = 0; i < 18; ++i) { tavik::fpe::sha256_compress(floor_state.h, floor_block); }
  Py_RETURN_NONE;
}

PyMethodDef empty_methods[] = {
    {"call", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(empty_call)),
     METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"call_floor", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(call_floor)),
     METH_FASTCALL | METH_KEYWORDS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot empty_slots[] = {
    {Py_tp_methods, empty_methods},
    {0, nullptr},
};

PyType_Spec empty_spec = {"floor_call.Empty", sizeof(PyObject), 0, Py_TPFLAGS_DEFAULT,
                          empty_slots};

int floor_call_exec(PyObject* module) {
  PyObject* type = PyType_FromSpec(&empty_spec);
  if (type == nullptr) { return -1; }
  const int rc = PyModule_AddObjectRef(module, "Empty", type);
  Py_DECREF(type);
  return rc;
}

PyModuleDef_Slot floor_call_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(floor_call_exec)},
    {0, nullptr},
};

PyModuleDef floor_call_module = {PyModuleDef_HEAD_INIT, "floor_call", nullptr, 0, nullptr,
                                 floor_call_slots, nullptr, nullptr, nullptr};

}  // namespace

PyMODINIT_FUNC PyInit_floor_call() { return PyModuleDef_Init(&floor_call_module); }
