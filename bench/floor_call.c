/* The cost of calling a C method from Python and nothing else: Empty().call(x) binds like a
 * tavik method (METH_FASTCALL | METH_KEYWORDS, one argument) and returns None. The Python
 * benchmark adds it to the core's hashing floor. */
#define PY_SSIZE_T_CLEAN
#include <Python.h>

static PyObject* empty_call(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) {
  (void)self;
  (void)args;
  (void)nargs;
  (void)kwnames;
  Py_RETURN_NONE;
}

static PyMethodDef empty_methods[] = {
    {"call", (PyCFunction)(void (*)(void))empty_call, METH_FASTCALL | METH_KEYWORDS, NULL},
    {NULL, NULL, 0, NULL},
};

static PyType_Slot empty_slots[] = {
    {Py_tp_methods, empty_methods},
    {0, NULL},
};

static PyType_Spec empty_spec = {"floor_call.Empty", sizeof(PyObject), 0, Py_TPFLAGS_DEFAULT,
                                 empty_slots};

static int floor_call_exec(PyObject* module) {
  PyObject* type = PyType_FromSpec(&empty_spec);
  if (type == NULL) { return -1; }
  const int rc = PyModule_AddObjectRef(module, "Empty", type);
  Py_DECREF(type);
  return rc;
}

static PyModuleDef_Slot floor_call_slots[] = {
    {Py_mod_exec, (void*)floor_call_exec},
    {0, NULL},
};

static struct PyModuleDef floor_call_module = {PyModuleDef_HEAD_INIT, "floor_call", NULL, 0, NULL,
                                               floor_call_slots};

PyMODINIT_FUNC PyInit_floor_call(void) { return PyModuleDef_Init(&floor_call_module); }
