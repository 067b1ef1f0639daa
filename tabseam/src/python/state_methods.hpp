#pragma once
// The pickling envelope: __getstate__ encodes the instance's state record into
// bytes of exactly the encoded size; __setstate__ decodes a whole record and
// replaces the instance's state only when every field decoded.
#include <Python.h>

#include <format>
#include <span>

#include "codec/state_codec.hpp"
#include "python/object.hpp"

namespace tabseam::py {

// Word names the class in "failed to unpickle {Word}: {reason}".
template <class Model, FixedString Word>
struct StateMethods {
    static PyResult<Ref> getstate(PyObject* self, const Args<0>&) {
        auto& object = instance<Model>(self);
        NV_ASSIGN_OR_RETURN(auto access, SharedBorrow::take(object.borrow));
        return encode(object.model);
    }

    static PyResult<Ref> setstate(PyObject* self, const Args<1>& args) {
        NV_ASSIGN_OR_RETURN(auto state, to_bytes(args[0], {"__setstate__", "state"}));
        auto& object = instance<Model>(self);
        NV_ASSIGN_OR_RETURN(auto access, ExclusiveBorrow::take(object.borrow));
        auto decoded = norvale::codec::decode<Model>(state);
        if (!decoded)
            return raise(PyExc_ValueError,
                         std::format("failed to unpickle {}: {}", Word.view(), decoded.error()));
        object.model = std::move(*decoded);
        return none();
    }

    // A new bytes object holding the record (returns a new reference). The
    // size pass makes the single allocation exact.
    static PyResult<Ref> encode(const Model& model) {
        const std::size_t size = norvale::codec::encoded_size(model);
        NV_ASSIGN_OR_RETURN(
            Ref bytes, checked(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size))));
        norvale::codec::encode_into(
            model, std::span(reinterpret_cast<std::byte*>(PyBytes_AS_STRING(bytes.get())), size));
        return bytes;
    }

    static constexpr PyMethodDef getstate_method() {
        return method<"__getstate__($self)", &getstate>();
    }
    static constexpr PyMethodDef setstate_method() {
        return method<"__setstate__($self, state)", &setstate>();
    }
};

}  // namespace tabseam::py
