// SimpleImputerCore: the Python face of SimpleImputer.
#include "imputer/simple/simple_binding.hpp"

#include "imputer/simple/simple_imputer.hpp"
#include "imputer_protocol.hpp"
#include "python/convert.hpp"
#include "python/state_methods.hpp"

namespace norvale::binding {
namespace {

namespace py = tabseam::py;

struct SimpleImputerBinding {
    using Model = SimpleImputer;
    using Constructor = py::Signature<"SimpleImputerCore(encoding=None)">;
    static constexpr const char* type_name = "norvale.norvale.SimpleImputerCore";

    static PyMethodDef methods[];
    static PyGetSetDef properties[];

    static PyResult<Model> construct(const Args<1>& args) {
        Model model;
        NV_ASSIGN_OR_RETURN(model.string_encoding,
                            parse_encoding_option(args[0], {Constructor::name, "encoding"}));
        return model;
    }

    // Label-encoded columns learn their mode, every other column its mean.
    static PyStatus fit_model(Model& model, PyObject* data) {
        NV_ASSIGN_OR_RETURN(auto converted, py::pyany_to_vec(data, model.string_encoding));
        NV_RETURN_IF_ERROR(py::raise_if_nan_col(converted.matrix));
        std::optional<std::span<const std::uint64_t>> categorical;
        if (converted.info) categorical = converted.info->cat_cols;
        NV_RETURN_IF_ERROR(py::or_raise(model.fit_impl(converted.matrix, categorical)));
        model.is_fitted = true;
        return {};
    }

    // Fill values learned as codes of the fit table are decoded with the
    // labels of this table.
    static PyResult<Ref> transform_model(const Model& model, PyObject* data) {
        if (!model.is_fitted) return py::raise(Errors::not_fitted());
        NV_ASSIGN_OR_RETURN(auto converted, py::pyany_to_vec(data, model.string_encoding));
        // Only a restored state can be fitted without fill values.
        if (!model.sample_means) return py::raise(Errors::not_fitted());
        NV_RETURN_IF_ERROR(
            py::check_feature_mismatch(model.sample_means->size(), converted.matrix.cols()));
        NV_ASSIGN_OR_RETURN(const Matrix filled, py::or_raise(model.impute(converted.matrix)));
        return py::arr_to_out(filled, std::move(converted.out), converted.info);
    }
};

using Lifecycle = Protocol<SimpleImputerBinding>;
using State = py::StateMethods<SimpleImputer, "SimpleImputer">;

PyMethodDef SimpleImputerBinding::methods[] = {
    py::method<"fit($self, data)", &Lifecycle::fit>(),
    py::method<"transform($self, data)", &Lifecycle::transform>(),
    py::method<"fit_transform($self, data)", &Lifecycle::fit_transform>(),
    State::getstate_method(),
    State::setstate_method(),
    {},
};

PyGetSetDef SimpleImputerBinding::properties[] = {
    py::getter<&Lifecycle::encoding>("encoding"),
    {},
};

}  // namespace

PyStatus add_simple_imputer(PyObject* module) {
    return py::HeapType<SimpleImputerBinding>::add_to(module);
}

}  // namespace norvale::binding
