#pragma once
// The one way the binding layer takes arguments: positionally or by keyword,
// matched against the parameters of a text signature, then converted one by
// one. Every failure is a TypeError naming the callable and the argument.
#include <Python.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "python/ref.hpp"
#include "python/signature.hpp"

namespace tabseam::py {

// Parsed arguments in parameter order; null where an optional one was not given.
template <std::size_t N>
using Args = std::array<PyObject*, N>;

// Where an argument came from, for error messages.
struct ArgName {
    std::string_view function;
    std::string_view parameter;
};

// Matches positional and keyword arguments (vectorcall layout) to `parameters`.
PyStatus match_arguments(std::string_view function, std::span<const Parameter> parameters,
                         PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                         std::span<PyObject*> out);

template <class Sig>
PyResult<Args<Sig::arity>> parse_arguments(PyObject* const* args, Py_ssize_t nargs,
                                           PyObject* kwnames) {
    Args<Sig::arity> out{};
    NV_RETURN_IF_ERROR(
        match_arguments(Sig::name, Sig::parameters, args, nargs, kwnames, out));
    return out;
}

// ---- conversions of one argument ----

// Anything Python converts to a float: floats, ints, NumPy scalars, objects
// with __float__ or __index__.
PyResult<double> to_f64(PyObject* object, ArgName where);

// An int (or any object with __index__) from 0 to 2^64 − 1; other types and
// values out of that range are a TypeError naming the argument.
PyResult<std::uint64_t> to_u64(PyObject* object, ArgName where);

// None (or not given) gives nothing; a str gives its UTF-8 text.
PyResult<std::optional<std::string>> to_optional_string(PyObject* object, ArgName where);

// A str, lower-cased as Python's str.lower does, as UTF-8 text.
PyResult<std::string> to_lowercase_string(PyObject* object, ArgName where);

// A bytes object (or subclass), viewed in place; valid while `object` lives.
PyResult<std::span<const std::byte>> to_bytes(PyObject* object, ArgName where);

// TypeError "{function}() argument '{parameter}' must be {expected}, not {type}".
std::unexpected<ErrorSet> wrong_type(PyObject* object, ArgName where, std::string_view expected);

}  // namespace tabseam::py
