// KnnImputerCore: the Python face of KnnImputer.
#include "imputer/knn/knn_binding.hpp"

#include "imputer/knn/knn_imputer.hpp"
#include "imputer_protocol.hpp"
#include "python/convert.hpp"
#include "python/state_methods.hpp"

namespace norvale::binding {
namespace {

namespace py = tabseam::py;

struct KnnImputerBinding {
    using Model = KnnImputer;
    using Constructor = py::Signature<
        "KnnImputerCore(k=5, metric=\"nan_euclid\", weights=\"uniform\", encoding=None)">;
    static constexpr const char* type_name = "norvale.norvale.KnnImputerCore";

    static PyMethodDef methods[];
    static PyGetSetDef properties[];

    // Metric and weights texts are matched after lower-casing.
    static PyResult<Model> construct(const Args<4>& args) {
        Model model;
        if (args[0]) {
            NV_ASSIGN_OR_RETURN(model.k, py::to_u64(args[0], {Constructor::name, "k"}));
        }
        if (args[1]) {
            NV_ASSIGN_OR_RETURN(auto text,
                                py::to_lowercase_string(args[1], {Constructor::name, "metric"}));
            NV_ASSIGN_OR_RETURN(model.metric, py::or_raise(knn::metric_from_text(text)));
        }
        if (args[2]) {
            NV_ASSIGN_OR_RETURN(auto text,
                                py::to_lowercase_string(args[2], {Constructor::name, "weights"}));
            NV_ASSIGN_OR_RETURN(model.weights, py::or_raise(knn::weights_from_text(text)));
        }
        NV_ASSIGN_OR_RETURN(model.string_encoding,
                            parse_encoding_option(args[3], {Constructor::name, "encoding"}));
        return model;
    }

    // Warns before converting; nothing changes until the table has passed
    // its checks.
    static PyStatus fit_model(Model& model, PyObject* data) {
        if (model.string_encoding && !std::holds_alternative<knn::Gower>(model.metric))
            NV_RETURN_IF_ERROR(warn(
                "Passed Label encoding but didn't select a metric that supports categoricals! "
                "Please pass one of the metrics that support categoricals [gower]"));
        NV_ASSIGN_OR_RETURN(auto converted, py::pyany_to_vec(data, model.string_encoding));
        NV_RETURN_IF_ERROR(py::raise_if_nan_col(converted.matrix));
        std::span<const std::uint64_t> categorical;
        if (converted.info) categorical = converted.info->cat_cols;
        model.fit(std::move(converted.matrix), categorical);
        return {};
    }

    // The input's codes are compared with the fitted codes as plain numbers
    // and decoded with this table's own labels.
    static PyResult<Ref> transform_model(const Model& model, PyObject* data) {
        if (!model.is_fitted) return py::raise(Errors::not_fitted());
        NV_ASSIGN_OR_RETURN(auto converted, py::pyany_to_vec(data, model.string_encoding));
        // Only a restored state can be fitted without a table.
        if (!model.data) return py::raise(Errors::not_fitted());
        NV_RETURN_IF_ERROR(
            py::check_feature_mismatch(model.data->cols(), converted.matrix.cols()));
        NV_ASSIGN_OR_RETURN(const Matrix filled, py::or_raise(model.impute(converted.matrix)));
        return py::arr_to_out(filled, std::move(converted.out), converted.info);
    }

    static PyResult<Ref> k(PyObject* self) {
        auto& object = py::instance<Model>(self);
        NV_ASSIGN_OR_RETURN(auto access, py::SharedBorrow::take(object.borrow));
        return py::checked(PyLong_FromUnsignedLongLong(object.model.k));
    }

    // Any non-negative integer is stored; it takes effect at the next transform.
    static PyStatus set_k(PyObject* self, PyObject* value) {
        NV_ASSIGN_OR_RETURN(const std::uint64_t k, py::to_u64(value, {"KnnImputerCore.k", "k"}));
        auto& object = py::instance<Model>(self);
        NV_ASSIGN_OR_RETURN(auto access, py::ExclusiveBorrow::take(object.borrow));
        object.model.k = k;
        return {};
    }

    static PyResult<Ref> metric(PyObject* self) {
        auto& object = py::instance<Model>(self);
        NV_ASSIGN_OR_RETURN(auto access, py::SharedBorrow::take(object.borrow));
        return text_object(knn::metric_name(object.model.metric));
    }

    static PyResult<Ref> weights(PyObject* self) {
        auto& object = py::instance<Model>(self);
        NV_ASSIGN_OR_RETURN(auto access, py::SharedBorrow::take(object.borrow));
        return text_object(knn::weights_name(object.model.weights));
    }

    // A new str holding `text` (returns a new reference).
    static PyResult<Ref> text_object(std::string_view text) {
        return py::checked(
            PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
    }
};

using Lifecycle = Protocol<KnnImputerBinding>;
using State = py::StateMethods<KnnImputer, "KnnImputerCore">;

PyMethodDef KnnImputerBinding::methods[] = {
    py::method<"fit($self, data)", &Lifecycle::fit>(),
    py::method<"transform($self, data)", &Lifecycle::transform>(),
    py::method<"fit_transform($self, data)", &Lifecycle::fit_transform>(),
    State::getstate_method(),
    State::setstate_method(),
    {},
};

PyGetSetDef KnnImputerBinding::properties[] = {
    py::property<&KnnImputerBinding::k, &KnnImputerBinding::set_k>("k"),
    py::getter<&KnnImputerBinding::metric>("metric"),
    py::getter<&KnnImputerBinding::weights>("weights"),
    py::getter<&Lifecycle::encoding>("encoding"),
    {},
};

}  // namespace

PyStatus add_knn_imputer(PyObject* module) {
    return py::HeapType<KnnImputerBinding>::add_to(module);
}

}  // namespace norvale::binding
