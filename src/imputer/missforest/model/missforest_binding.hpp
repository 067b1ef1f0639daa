#pragma once
#include <Python.h>

#include "python/ref.hpp"

namespace norvale::binding {

// Adds the class MissForest to the module.
tabseam::py::PyStatus add_missforest(PyObject* module);

}  // namespace norvale::binding
