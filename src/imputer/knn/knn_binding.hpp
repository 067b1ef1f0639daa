#pragma once
#include <Python.h>

#include "python/ref.hpp"

namespace norvale::binding {

// Adds the class KnnImputerCore to the module.
tabseam::py::PyStatus add_knn_imputer(PyObject* module);

}  // namespace norvale::binding
