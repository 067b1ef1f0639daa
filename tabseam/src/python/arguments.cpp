#include "python/arguments.hpp"

#include <format>
#include <limits>

#include "python/exceptions.hpp"

namespace tabseam::py {
namespace {

std::string type_name(PyObject* object) {
    Ref name = Ref::steal(PyType_GetName(Py_TYPE(object)));
    if (!name) {
        PyErr_Clear();
        return "object";
    }
    const char* text = PyUnicode_AsUTF8(name.get());
    if (!text) {
        PyErr_Clear();
        return "object";
    }
    return text;
}

std::optional<std::size_t> parameter_index(std::span<const Parameter> parameters,
                                           PyObject* keyword) {
    for (std::size_t i = 0; i < parameters.size(); ++i) {
        const auto name = parameters[i].name;
        if (PyUnicode_EqualToUTF8AndSize(keyword, name.data(),
                                         static_cast<Py_ssize_t>(name.size())))
            return i;
    }
    return std::nullopt;
}

}  // namespace

PyStatus match_arguments(std::string_view function, std::span<const Parameter> parameters,
                         PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                         std::span<PyObject*> out) {
    const auto positional = static_cast<std::size_t>(nargs);
    if (positional > parameters.size())
        return raise(PyExc_TypeError,
                     std::format("{}() takes at most {} argument{} ({} given)", function,
                                 parameters.size(), parameters.size() == 1 ? "" : "s",
                                 positional));
    for (std::size_t i = 0; i < positional; ++i) out[i] = args[i];

    const Py_ssize_t keywords = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    for (Py_ssize_t k = 0; k < keywords; ++k) {
        PyObject* keyword = PyTuple_GET_ITEM(kwnames, k);
        const auto index = parameter_index(parameters, keyword);
        if (!index) {
            const char* text = PyUnicode_AsUTF8(keyword);
            if (!text) return error_set();
            return raise(PyExc_TypeError, std::format("{}() got an unexpected keyword argument '{}'",
                                                      function, text));
        }
        if (out[*index])
            return raise(PyExc_TypeError,
                         std::format("{}() got multiple values for argument '{}'", function,
                                     parameters[*index].name));
        out[*index] = args[nargs + k];
    }

    for (std::size_t i = 0; i < parameters.size(); ++i) {
        if (!out[i] && parameters[i].required)
            return raise(PyExc_TypeError,
                         std::format("{}() missing required argument '{}' (pos {})", function,
                                     parameters[i].name, i + 1));
    }
    return {};
}

std::unexpected<ErrorSet> wrong_type(PyObject* object, ArgName where, std::string_view expected) {
    return raise(PyExc_TypeError,
                 std::format("{}() argument '{}' must be {}, not {}", where.function,
                             where.parameter, expected, type_name(object)));
}

PyResult<double> to_f64(PyObject* object, ArgName where) {
    const double value = PyFloat_AsDouble(object);
    if (value == -1.0 && PyErr_Occurred()) {
        if (!PyErr_ExceptionMatches(PyExc_TypeError)) return error_set();
        PyErr_Clear();
        return wrong_type(object, where, "a real number");
    }
    return value;
}

PyResult<std::uint64_t> to_u64(PyObject* object, ArgName where) {
    if (!PyIndex_Check(object)) return wrong_type(object, where, "int");
    NV_ASSIGN_OR_RETURN(Ref index, checked(PyNumber_Index(object)));
    const unsigned long long value = PyLong_AsUnsignedLongLong(index.get());
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
        // Negative or above 2^64 − 1.
        if (!PyErr_ExceptionMatches(PyExc_OverflowError)) return error_set();
        PyErr_Clear();
        return raise(PyExc_TypeError,
                     std::format("{}() argument '{}' must be an int from 0 to {}", where.function,
                                 where.parameter, std::numeric_limits<std::uint64_t>::max()));
    }
    return static_cast<std::uint64_t>(value);
}

PyResult<std::optional<std::string>> to_optional_string(PyObject* object, ArgName where) {
    if (!object || object == Py_None) return std::optional<std::string>{};
    if (!PyUnicode_Check(object)) return wrong_type(object, where, "str or None");
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(object, &size);
    if (!text) return error_set();
    return std::optional<std::string>(std::in_place, text, static_cast<std::size_t>(size));
}

PyResult<std::string> to_lowercase_string(PyObject* object, ArgName where) {
    if (!PyUnicode_Check(object)) return wrong_type(object, where, "str");
    NV_ASSIGN_OR_RETURN(Ref lowered, checked(PyObject_CallMethod(object, "lower", nullptr)));
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(lowered.get(), &size);
    if (!text) return error_set();
    return std::string(text, static_cast<std::size_t>(size));
}

PyResult<std::span<const std::byte>> to_bytes(PyObject* object, ArgName where) {
    if (!PyBytes_Check(object)) return wrong_type(object, where, "bytes");
    return std::span<const std::byte>(reinterpret_cast<const std::byte*>(PyBytes_AS_STRING(object)),
                                      static_cast<std::size_t>(PyBytes_GET_SIZE(object)));
}

}  // namespace tabseam::py
