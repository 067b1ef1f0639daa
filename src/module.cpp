// The native module norvale.norvale: multi-phase initialisation whose
// execution step adds raise_if_nan_col and the imputer classes in their
// registration order.
#include <Python.h>

#include "imputer/constant/constant_binding.hpp"
#include "imputer/knn/knn_binding.hpp"
#include "imputer/mice/model/mice_binding.hpp"
#include "imputer/missforest/model/missforest_binding.hpp"
#include "imputer/simple/simple_binding.hpp"
#include "imputer/svm/svm_binding.hpp"
#include "imputer_protocol.hpp"
#include "python/convert.hpp"
#include "python/module_doc.hpp"
#include "python/object.hpp"

namespace norvale::binding {
namespace {

namespace py = tabseam::py;

// Converts with label encoding on, so every table kind is accepted.
PyResult<Ref> raise_if_nan_col(PyObject*, const Args<1>& args) {
    NV_ASSIGN_OR_RETURN(auto converted, py::pyany_to_vec(args[0], StringEncoding::Label));
    NV_RETURN_IF_ERROR(py::raise_if_nan_col(converted.matrix));
    return py::none();
}

PyMethodDef module_functions[] = {
    py::method<"raise_if_nan_col(data)", &raise_if_nan_col>(),
    {},
};

// Registration order of the classes.
using AddClass = PyStatus (*)(PyObject*);
constexpr AddClass kClasses[] = {
    &add_knn_imputer,
    &add_svm_imputer,
    &add_mice,
    &add_simple_imputer,
    &add_constant_imputer,
    &add_missforest,
};

int exec_module(PyObject* module) {
    if (!PyModule_Check(module)) {
        PyErr_SetString(PyExc_TypeError, "norvale can only initialise a module object");
        return -1;
    }
    if (!py::panic_type()) return -1;
    if (PyModule_AddFunctions(module, module_functions) < 0) return -1;
    for (const AddClass add : kClasses)
        if (!add(module)) return -1;
    return 0;
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&exec_module)},
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
    {0, nullptr},
};

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "norvale",
    py::kModuleDoc,
    0,  // no per-module state
    nullptr,
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace norvale::binding

// Returns the module definition; the interpreter then runs its slots.
PyMODINIT_FUNC PyInit_norvale() {
    return PyModuleDef_Init(&norvale::binding::module_definition);
}
