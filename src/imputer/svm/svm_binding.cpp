// SVMImputerCore: the Python face of SVMImputer.
#include "imputer/svm/svm_binding.hpp"

#include "imputer/svm/svm_imputer.hpp"
#include "imputer_protocol.hpp"
#include "python/convert.hpp"
#include "python/state_methods.hpp"

namespace norvale::binding {
namespace {

namespace py = tabseam::py;

// The kernel option as Python lower-cases it, so that the rejected text in
// an error is what str.lower() shows.
PyResult<std::string> lowered_text(PyObject* text, py::ArgName where) {
    if (!PyUnicode_Check(text)) return py::wrong_type(text, where, "str");
    NV_ASSIGN_OR_RETURN(Ref lowered, py::checked(PyObject_CallMethod(text, "lower", nullptr)));
    NV_ASSIGN_OR_RETURN(auto utf8, py::to_optional_string(lowered.get(), where));
    return std::move(*utf8);
}

// Raises sklearn's NotFittedError.
std::unexpected<py::ErrorSet> raise_sklearn_not_fitted() {
    NV_ASSIGN_OR_RETURN(Ref error, py::raise_not_fitted());
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.get())), error.get());
    return py::error_set();
}

struct SVMImputerBinding {
    using Model = SVMImputer;
    using Constructor = py::Signature<"SVMImputerCore(kernel=\"linear\", encoding=None)">;
    static constexpr const char* type_name = "norvale.norvale.SVMImputerCore";

    static PyMethodDef methods[];
    static PyGetSetDef properties[];

    // Both arguments are taken before anything is checked, so a wrong type
    // is reported even when the kernel name is also wrong.
    static PyResult<Model> construct(const Args<2>& args) {
        std::string kernel = "linear";
        if (args[0]) {
            NV_ASSIGN_OR_RETURN(kernel, lowered_text(args[0], {Constructor::name, "kernel"}));
        }
        NV_ASSIGN_OR_RETURN(auto encoding,
                            py::to_optional_string(args[1], {Constructor::name, "encoding"}));
        return py::or_raise(Model::create(kernel, encoding));
    }

    static PyStatus fit_model(Model& model, PyObject* data) {
        NV_ASSIGN_OR_RETURN(auto converted, py::pyany_to_vec(data, model.string_encoding));
        NV_RETURN_IF_ERROR(py::raise_if_nan_col(converted.matrix));
        std::optional<std::vector<std::uint64_t>> string_columns;
        if (converted.info) string_columns = converted.info->cat_cols;
        return py::or_raise(model.fit(converted.matrix, string_columns));
    }

    static PyResult<Ref> transform_model(const Model& model, PyObject* data) {
        if (!model.is_fitted) return raise_sklearn_not_fitted();
        NV_ASSIGN_OR_RETURN(auto converted, py::pyany_to_vec(data, model.string_encoding));
        NV_RETURN_IF_ERROR(py::check_feature_mismatch(model.models.size(), converted.matrix.cols()));
        NV_ASSIGN_OR_RETURN(const Matrix filled, py::or_raise(model.impute(converted.matrix)));
        return py::arr_to_out(filled, std::move(converted.out), converted.info);
    }

    static PyResult<Ref> kernel(PyObject* self) {
        auto& object = py::instance<Model>(self);
        NV_ASSIGN_OR_RETURN(auto access, py::SharedBorrow::take(object.borrow));
        const auto name = kernel_name(object.model.kernel.value);
        return py::checked(
            PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size())));
    }

    static PyResult<Ref> is_fitted(PyObject* self) {
        auto& object = py::instance<Model>(self);
        NV_ASSIGN_OR_RETURN(auto access, py::SharedBorrow::take(object.borrow));
        return Ref::borrow(object.model.is_fitted ? Py_True : Py_False);
    }
};

using Lifecycle = Protocol<SVMImputerBinding>;
using State = py::StateMethods<SVMImputer, "SVMImputer">;

PyMethodDef SVMImputerBinding::methods[] = {
    py::method<"fit($self, data)", &Lifecycle::fit>(),
    py::method<"transform($self, data)", &Lifecycle::transform>(),
    py::method<"fit_transform($self, data)", &Lifecycle::fit_transform>(),
    State::getstate_method(),
    State::setstate_method(),
    {},
};

PyGetSetDef SVMImputerBinding::properties[] = {
    py::getter<&SVMImputerBinding::kernel>("kernel"),
    py::getter<&Lifecycle::encoding>("encoding"),
    py::getter<&SVMImputerBinding::is_fitted>("is_fitted"),
    {},
};

}  // namespace

PyStatus add_svm_imputer(PyObject* module) {
    return py::HeapType<SVMImputerBinding>::add_to(module);
}

}  // namespace norvale::binding
