// ConstantImputerCore: the Python face of ConstantImputer.
#include "imputer/constant/constant_binding.hpp"

#include "imputer/constant/constant_imputer.hpp"
#include "imputer_protocol.hpp"
#include "python/convert.hpp"
#include "python/state_methods.hpp"

namespace norvale::binding {
namespace {

namespace py = tabseam::py;

struct ConstantImputerBinding {
    using Model = ConstantImputer;
    using Constructor = py::Signature<"ConstantImputerCore(value=0.0, encoding=None)">;
    static constexpr const char* type_name = "norvale.norvale.ConstantImputerCore";
    static constexpr std::string_view internal_name = "ConstantImputer";

    static PyMethodDef methods[];
    static PyGetSetDef properties[];

    // Any string selects label encoding; its text is not checked.
    static PyResult<Model> construct(const Args<2>& args) {
        Model model;
        if (args[0]) {
            NV_ASSIGN_OR_RETURN(model.value, py::to_f64(args[0], {Constructor::name, "value"}));
        }
        NV_ASSIGN_OR_RETURN(auto encoding,
                            py::to_optional_string(args[1], {Constructor::name, "encoding"}));
        if (encoding) model.string_encoding = StringEncoding::Label;
        return model;
    }

    // The column count is recorded before the checks, so it stays updated
    // even when they fail.
    static PyStatus fit_model(Model& model, PyObject* data) {
        NV_ASSIGN_OR_RETURN(auto converted, py::pyany_to_vec(data, model.string_encoding));
        model.ncols = converted.matrix.cols();
        NV_RETURN_IF_ERROR(py::raise_if_nan_col(converted.matrix));
        if (model.string_encoding) NV_RETURN_IF_ERROR(warn(encoding_warn(internal_name)));
        model.is_fitted = true;
        return {};
    }

    static PyResult<Ref> transform_model(const Model& model, PyObject* data) {
        if (!model.is_fitted)
            return py::raise(PyExc_TypeError, "Imputer not fitted, please call fit first");
        NV_ASSIGN_OR_RETURN(auto converted, py::pyany_to_vec(data, model.string_encoding));
        NV_RETURN_IF_ERROR(py::check_feature_mismatch(model.ncols, converted.matrix.cols()));
        const Matrix filled = model.impute(converted.matrix);
        return py::arr_to_out(filled, std::move(converted.out), converted.info);
    }

    // A class method, so that `cls` is the class to instantiate.
    static PyResult<Ref> zero(PyObject* cls, const Args<0>&) {
        return py::HeapType<ConstantImputerBinding>::wrap(reinterpret_cast<PyTypeObject*>(cls),
                                                          Model{});
    }

    // The constructor arguments a wrapper needs to rebuild the options.
    static PyResult<Ref> rgs(PyObject* self, const Args<0>&) {
        auto& object = py::instance<Model>(self);
        NV_ASSIGN_OR_RETURN(auto access, py::SharedBorrow::take(object.borrow));
        NV_ASSIGN_OR_RETURN(Ref encoding, encoding_object(object.model.string_encoding));
        return py::checked(PyTuple_Pack(1, encoding.get()));
    }
};

using Lifecycle = Protocol<ConstantImputerBinding>;
using State = py::StateMethods<ConstantImputer, "ConstantImputer">;

PyMethodDef ConstantImputerBinding::methods[] = {
    py::method<"zero($type)", &ConstantImputerBinding::zero>(METH_CLASS),
    py::method<"fit($self, _data)", &Lifecycle::fit>(),
    py::method<"transform($self, data)", &Lifecycle::transform>(),
    py::method<"fit_transform($self, data)", &Lifecycle::fit_transform>(),
    py::method<"_rgs__($self)", &ConstantImputerBinding::rgs>(),
    State::getstate_method(),
    State::setstate_method(),
    {},
};

PyGetSetDef ConstantImputerBinding::properties[] = {
    py::getter<&Lifecycle::encoding>("encoding"),
    {},
};

}  // namespace

PyStatus add_constant_imputer(PyObject* module) {
    return py::HeapType<ConstantImputerBinding>::add_to(module);
}

}  // namespace norvale::binding
