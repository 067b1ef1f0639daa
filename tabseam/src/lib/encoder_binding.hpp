#pragma once
#include <Python.h>

#include "python/ref.hpp"

namespace tabseam {

// Adds the class Encoder to the module.
py::PyStatus add_encoder(PyObject* module);

}  // namespace tabseam
