#pragma once
// Raising at the boundary: numeric Errors values become Python exceptions of
// the class their kind fixes, and internal invariant failures become the
// panic exception, which derives from BaseException.
#include <Python.h>

#include <exception>
#include <new>
#include <string>
#include <string_view>

#include "python/ref.hpp"
#include "utils/errors.hpp"
#include "utils/panic.hpp"

namespace tabseam::py {

// Sets `type` with `message` and returns the error for one-line propagation.
std::unexpected<ErrorSet> raise(PyObject* type, std::string_view message);

// Consumes an Errors value: renders it and raises its Python class.
std::unexpected<ErrorSet> raise(norvale::Errors&& error);

// Sets the panic exception carrying `message`.
std::unexpected<ErrorSet> raise_panic(std::string_view message);

// The panic exception class (borrowed; created once per process and kept).
PyObject* panic_type();

// Turns a numeric Result into a PyResult, raising its error.
template <class T>
PyResult<T> or_raise(norvale::Result<T>&& result) {
    if (!result) return raise(std::move(result).error());
    if constexpr (std::is_void_v<T>)
        return {};
    else
        return std::move(*result);
}

// Runs one call from Python: returns its new reference, or null with an
// exception set. C++ exceptions never cross into the interpreter: Panic and
// unexpected C++ failures become the panic exception, exhausted memory a
// MemoryError.
template <class Body>
PyObject* boundary(Body&& body) noexcept {
    try {
        PyResult<Ref> result = body();
        if (!result) return nullptr;
        return result->release();
    } catch (const norvale::Panic& failure) {
        raise_panic(failure.what());
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& failure) {
        raise_panic(failure.what());
    } catch (...) {
        raise_panic("unknown internal failure");
    }
    return nullptr;
}

}  // namespace tabseam::py
