#include "python/exceptions.hpp"

namespace tabseam::py {

std::unexpected<ErrorSet> raise(PyObject* type, std::string_view message) {
    Ref text = Ref::steal(PyUnicode_FromStringAndSize(message.data(),
                                                      static_cast<Py_ssize_t>(message.size())));
    if (text) PyErr_SetObject(type, text.get());
    return error_set();
}

std::unexpected<ErrorSet> raise(norvale::Errors&& error) {
    PyObject* type = error.python_class() == norvale::PythonClass::ValueError ? PyExc_ValueError
                                                                              : PyExc_RuntimeError;
    const norvale::Errors consumed = std::move(error);
    return raise(type, consumed.render());
}

PyObject* panic_type() {
    // Created on first use and kept for the life of the process, like the
    // interpreter's own exception classes. Callers hold the interpreter.
    static PyObject* type = nullptr;
    if (!type) {
        type = PyErr_NewExceptionWithDoc(
            "norvale.PanicException",
            "An internal invariant of norvale failed; this is a bug, not bad input.",
            PyExc_BaseException, nullptr);
    }
    return type;
}

std::unexpected<ErrorSet> raise_panic(std::string_view message) {
    PyObject* type = panic_type();
    if (!type) return error_set();  // creating the class failed and set why
    return raise(type, message);
}

}  // namespace tabseam::py
