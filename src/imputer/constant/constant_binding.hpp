#pragma once
#include <Python.h>

#include "python/ref.hpp"

namespace norvale::binding {

// Adds the class ConstantImputerCore to the module.
tabseam::py::PyStatus add_constant_imputer(PyObject* module);

}  // namespace norvale::binding
