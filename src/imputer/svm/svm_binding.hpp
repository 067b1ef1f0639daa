#pragma once
#include <Python.h>

#include "python/ref.hpp"

namespace norvale::binding {

// Adds the class SVMImputerCore to the module.
tabseam::py::PyStatus add_svm_imputer(PyObject* module);

}  // namespace norvale::binding
