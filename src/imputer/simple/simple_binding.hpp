#pragma once
#include <Python.h>

#include "python/ref.hpp"

namespace norvale::binding {

// Adds the class SimpleImputerCore to the module.
tabseam::py::PyStatus add_simple_imputer(PyObject* module);

}  // namespace norvale::binding
