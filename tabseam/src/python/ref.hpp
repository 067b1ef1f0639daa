#pragma once
// Owned references and the error convention of the binding layer.
//
// A function returning PyResult<T> either succeeds with a T or fails with a
// Python exception already set on this thread (ErrorSet). Propagate with
// NV_RETURN_IF_ERROR / NV_ASSIGN_OR_RETURN like numeric results.
#include <Python.h>

#include <expected>
#include <utility>

#include "utils/try.hpp"

namespace tabseam::py {

// A strong reference that is released when the Ref goes away.
class Ref {
public:
    Ref() = default;
    // Takes over a new reference (may be null).
    static Ref steal(PyObject* object) { return Ref(object); }
    // Adds a reference to a borrowed object.
    static Ref borrow(PyObject* object) {
        Py_XINCREF(object);
        return Ref(object);
    }

    Ref(Ref&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    Ref& operator=(Ref&& other) noexcept {
        if (this != &other) {
            Py_XDECREF(object_);
            object_ = std::exchange(other.object_, nullptr);
        }
        return *this;
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref() { Py_XDECREF(object_); }

    PyObject* get() const { return object_; }
    // Hands the reference to the caller (returns a new reference).
    PyObject* release() { return std::exchange(object_, nullptr); }
    explicit operator bool() const { return object_ != nullptr; }

private:
    explicit Ref(PyObject* object) : object_(object) {}
    PyObject* object_ = nullptr;
};

// A Python exception is set on the current thread.
struct ErrorSet {};

template <class T>
using PyResult = std::expected<T, ErrorSet>;
using PyStatus = PyResult<void>;

inline std::unexpected<ErrorSet> error_set() { return std::unexpected(ErrorSet{}); }

// Wraps a C-API call that returns a new reference or null with an exception.
inline PyResult<Ref> checked(PyObject* new_reference) {
    if (!new_reference) return error_set();
    return Ref::steal(new_reference);
}

// Wraps a C-API call that returns -1 with an exception set.
inline PyStatus checked_status(int result) {
    if (result < 0) return error_set();
    return {};
}

inline PyResult<Ref> none() { return Ref::borrow(Py_None); }

}  // namespace tabseam::py
