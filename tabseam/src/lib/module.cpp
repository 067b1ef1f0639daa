// The native module tabseam: label encoding of tables on its own. Its
// execution step adds the class Encoder and nothing else.
#include <Python.h>

#include "lib/encoder_binding.hpp"
#include "python/exceptions.hpp"
#include "python/module_doc.hpp"

namespace tabseam {
namespace {

int exec_module(PyObject* module) {
    if (!PyModule_Check(module)) {
        PyErr_SetString(PyExc_TypeError, "tabseam can only initialise a module object");
        return -1;
    }
    if (!py::panic_type()) return -1;
    if (!add_encoder(module)) return -1;
    return 0;
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&exec_module)},
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
    {0, nullptr},
};

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT, "tabseam", py::kModuleDoc, 0, nullptr,
    module_slots,          nullptr,   nullptr,                       nullptr,
};

}  // namespace
}  // namespace tabseam

// Returns the module definition; the interpreter then runs its slots.
PyMODINIT_FUNC PyInit_tabseam() { return PyModuleDef_Init(&tabseam::module_definition); }
