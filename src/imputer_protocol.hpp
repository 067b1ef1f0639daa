#pragma once
// The life cycle every imputer class shares, written once:
//
//   fit(data)            exclusive access, Binding::fit_model, returns self
//   transform(data)      shared access, Binding::transform_model
//   fit_transform(data)  exclusive access, fit_model then transform_model
//
// A binding supplies the two hooks
//   static PyStatus fit_model(Model&, PyObject* data);
//   static PyResult<Ref> transform_model(const Model&, PyObject* data);
// and lists the methods it wants in its method table.
#include <Python.h>

#include <optional>
#include <string_view>

#include "python/arguments.hpp"
#include "python/borrow.hpp"
#include "python/exceptions.hpp"
#include "python/object.hpp"
#include "utils/encoding.hpp"

namespace norvale::binding {

using tabseam::py::Args;
using tabseam::py::ArgName;
using tabseam::py::PyResult;
using tabseam::py::PyStatus;
using tabseam::py::Ref;

// Issues a UserWarning at stack level 1; fails when filters turn it into an error.
inline PyStatus warn(std::string_view text) {
    std::string owned(text);
    return tabseam::py::checked_status(PyErr_WarnEx(PyExc_UserWarning, owned.c_str(), 1));
}

// "label" or None, as the `encoding` properties show it (returns a new reference).
inline PyResult<Ref> encoding_object(std::optional<StringEncoding> encoding) {
    if (!encoding) return tabseam::py::none();
    const auto name = encoding_name(*encoding);
    return tabseam::py::checked(
        PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size())));
}

// The `encoding` option of every class but the constant imputer: None,
// "label", or ValueError for any other text.
inline PyResult<std::optional<StringEncoding>> parse_encoding_option(PyObject* option,
                                                                     ArgName where) {
    NV_ASSIGN_OR_RETURN(auto text, tabseam::py::to_optional_string(option, where));
    return tabseam::py::or_raise(process_labelencoding(text));
}

template <class Binding>
struct Protocol {
    using Model = typename Binding::Model;

    static PyResult<Ref> fit(PyObject* self, const Args<1>& args) {
        auto& object = tabseam::py::instance<Model>(self);
        NV_ASSIGN_OR_RETURN(auto access, tabseam::py::ExclusiveBorrow::take_or_panic(object.borrow));
        NV_RETURN_IF_ERROR(Binding::fit_model(object.model, args[0]));
        return Ref::borrow(self);
    }

    static PyResult<Ref> transform(PyObject* self, const Args<1>& args) {
        auto& object = tabseam::py::instance<Model>(self);
        NV_ASSIGN_OR_RETURN(auto access, tabseam::py::SharedBorrow::take(object.borrow));
        return Binding::transform_model(object.model, args[0]);
    }

    // The table is converted twice, once by each step.
    static PyResult<Ref> fit_transform(PyObject* self, const Args<1>& args) {
        auto& object = tabseam::py::instance<Model>(self);
        NV_ASSIGN_OR_RETURN(auto access, tabseam::py::ExclusiveBorrow::take_or_panic(object.borrow));
        NV_RETURN_IF_ERROR(Binding::fit_model(object.model, args[0]));
        return Binding::transform_model(object.model, args[0]);
    }

    static PyResult<Ref> encoding(PyObject* self) {
        auto& object = tabseam::py::instance<Model>(self);
        NV_ASSIGN_OR_RETURN(auto access, tabseam::py::SharedBorrow::take(object.borrow));
        return encoding_object(object.model.string_encoding);
    }
};

}  // namespace norvale::binding
