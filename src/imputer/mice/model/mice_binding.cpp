// MiceCore: the Python face of mice::Mice.
#include "imputer/mice/model/mice_binding.hpp"

#include <format>
#include <string>

#include "imputer/mice/model/mice.hpp"
#include "imputer_protocol.hpp"
#include "python/convert.hpp"
#include "python/state_methods.hpp"

namespace norvale::binding {
namespace {

namespace py = tabseam::py;
using mice::Mice;

// A str option in lower case (Python's str.lower, so the message shows the
// name as matched); `fallback` when it was not given.
PyResult<std::string> lowered_option(PyObject* option, ArgName where, std::string_view fallback) {
    if (!option) return std::string(fallback);
    if (!PyUnicode_Check(option)) return py::wrong_type(option, where, "str");
    NV_ASSIGN_OR_RETURN(Ref lowered, py::checked(PyObject_CallMethod(option, "lower", nullptr)));
    NV_ASSIGN_OR_RETURN(auto text, py::to_optional_string(lowered.get(), where));
    return std::move(*text);
}

struct MiceBinding {
    using Model = Mice;
    using Constructor = py::Signature<
        "MiceCore(max_iter=10, backend=\"linear\", alpha=1.0, pmm_backend=\"linear\", "
        "encoding=None)">;
    static constexpr const char* type_name = "norvale.norvale.MiceCore";

    static PyMethodDef methods[];
    static PyGetSetDef properties[];

    // Every argument is converted before any is validated.
    static PyResult<Model> construct(const Args<5>& args) {
        Model model;
        if (args[0]) {
            NV_ASSIGN_OR_RETURN(model.max_iter, py::to_u64(args[0], {Constructor::name, "max_iter"}));
        }
        NV_ASSIGN_OR_RETURN(auto backend, lowered_option(args[1], {Constructor::name, "backend"}, "linear"));
        double alpha = 1.0;
        if (args[2]) {
            NV_ASSIGN_OR_RETURN(alpha, py::to_f64(args[2], {Constructor::name, "alpha"}));
        }
        NV_ASSIGN_OR_RETURN(auto pmm_backend,
                            lowered_option(args[3], {Constructor::name, "pmm_backend"}, "linear"));
        NV_ASSIGN_OR_RETURN(auto encoding,
                            py::to_optional_string(args[4], {Constructor::name, "encoding"}));

        if (backend == "linear") {
            model.backend = mice::LinearRegression{};
        } else if (backend == "ridge") {
            model.backend = mice::Ridge{alpha, std::nullopt, true};
        } else if (backend == "pmm") {
            NV_ASSIGN_OR_RETURN(model.backend,
                                py::or_raise(mice::PMM::create(5, pmm_backend, alpha)));
        } else {
            return py::raise(PyExc_ValueError, std::format("Solver {} not supported!", backend));
        }
        model.cat_backend = mice::LogisticRegression{};
        NV_ASSIGN_OR_RETURN(model.string_encoding, py::or_raise(process_labelencoding(encoding)));
        model.init.string_encoding = model.string_encoding;
        return model;
    }

    // cat_columns and init are replaced before the iterations; a failure
    // after that keeps the previous models and fitted flag.
    static PyStatus fit_model(Model& model, PyObject* data) {
        NV_ASSIGN_OR_RETURN(auto converted, py::pyany_to_vec(data, model.string_encoding));
        NV_RETURN_IF_ERROR(py::raise_if_nan_col(converted.matrix));
        std::optional<std::vector<std::uint64_t>> categorical;
        if (model.string_encoding)
            categorical = converted.info ? converted.info->cat_cols : std::vector<std::uint64_t>{};
        return py::or_raise(model.fit_impl(converted.matrix, std::move(categorical)));
    }

    // Class codes are those of this call's conversion: no label maps are
    // kept from fit.
    static PyResult<Ref> transform_model(const Model& model, PyObject* data) {
        if (!model.is_fitted) return py::raise(Errors::not_fitted());
        NV_ASSIGN_OR_RETURN(auto converted, py::pyany_to_vec(data, model.string_encoding));
        NV_RETURN_IF_ERROR(py::check_feature_mismatch(model.models.size(), converted.matrix.cols()));
        NV_ASSIGN_OR_RETURN(const Matrix filled, py::or_raise(model.impute(converted.matrix)));
        return py::arr_to_out(filled, std::move(converted.out), converted.info);
    }

    // Iterations run by the last successful fit (returns a new reference).
    static PyResult<Ref> n_iter(PyObject* self) {
        auto& object = py::instance<Model>(self);
        NV_ASSIGN_OR_RETURN(auto access, py::SharedBorrow::take(object.borrow));
        return py::checked(PyLong_FromUnsignedLongLong(object.model.n_iter));
    }
};

using Lifecycle = Protocol<MiceBinding>;
using State = py::StateMethods<Mice, "Mice">;

PyMethodDef MiceBinding::methods[] = {
    py::method<"fit($self, data)", &Lifecycle::fit>(),
    py::method<"transform($self, data)", &Lifecycle::transform>(),
    py::method<"fit_transform($self, data)", &Lifecycle::fit_transform>(),
    State::getstate_method(),
    State::setstate_method(),
    {},
};

PyGetSetDef MiceBinding::properties[] = {
    py::getter<&Lifecycle::encoding>("encoding"),
    py::getter<&MiceBinding::n_iter>("_n_iter"),
    {},
};

}  // namespace

PyStatus add_mice(PyObject* module) { return py::HeapType<MiceBinding>::add_to(module); }

}  // namespace norvale::binding
