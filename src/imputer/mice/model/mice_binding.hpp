#pragma once
#include <Python.h>

#include "python/ref.hpp"

namespace norvale::binding {

// Adds the class MiceCore to the module.
tabseam::py::PyStatus add_mice(PyObject* module);

}  // namespace norvale::binding
