// MissForest: the Python face of the experimental forest imputer. It has no
// state methods, so pickling meets the interpreter's own refusal for objects
// that carry native state.
#include "imputer/missforest/model/missforest_binding.hpp"

#include "imputer/missforest/model/missforest.hpp"
#include "imputer_protocol.hpp"
#include "python/convert.hpp"

namespace norvale::binding {
namespace {

namespace py = tabseam::py;

constexpr std::string_view kExperimentalWarning =
    "MissForest is currently experimental and may produce unexpected results.";
constexpr std::string_view kEncodingWarning =
    "Encoding Parameter is passed, but categorical handling is incomplete";

struct MissForestBinding {
    using Model = MissForest;
    using Constructor = py::Signature<
        "MissForest(n_trees=15, max_depth=15, min_samples_leaf=5, seed=None, encoding=None)">;
    // No module qualifier: the class's name is the bare word.
    static constexpr const char* type_name = "MissForest";

    static PyMethodDef methods[];
    static PyGetSetDef properties[];

    static PyResult<Model> construct(const Args<5>& args) {
        std::uint64_t sizes[] = {15, 15, 5};  // n_trees, max_depth, min_samples_leaf
        for (std::size_t i = 0; i < 3; ++i) {
            if (!args[i]) continue;
            NV_ASSIGN_OR_RETURN(sizes[i], py::to_u64(args[i], {Constructor::name,
                                                               Constructor::parameters[i].name}));
        }
        std::optional<std::uint64_t> seed;
        if (args[3] && args[3] != Py_None) {
            NV_ASSIGN_OR_RETURN(seed, py::to_u64(args[3], {Constructor::name, "seed"}));
        }
        NV_ASSIGN_OR_RETURN(auto encoding,
                            parse_encoding_option(args[4], {Constructor::name, "encoding"}));
        return Model::create(sizes[0], sizes[1], sizes[2], seed, encoding);
    }

    // Both warnings come before anything else, so a warning turned into an
    // error leaves the imputer as it was. Columns missing in every row are
    // accepted: their mean is NaN.
    static PyStatus fit_model(Model& model, PyObject* data) {
        NV_RETURN_IF_ERROR(warn(kExperimentalWarning));
        if (model.string_encoding) NV_RETURN_IF_ERROR(warn(kEncodingWarning));
        NV_ASSIGN_OR_RETURN(auto converted, py::pyany_to_vec(data, model.string_encoding));
        return py::or_raise(model.fit(converted.matrix));
    }

    static PyResult<Ref> transform_model(const Model& model, PyObject* data) {
        if (!model.is_fitted)
            return py::raise(PyExc_TypeError, "Imputer not fitted, please call fit first");
        NV_ASSIGN_OR_RETURN(auto converted, py::pyany_to_vec(data, model.string_encoding));
        NV_RETURN_IF_ERROR(
            py::check_feature_mismatch(model.fitted_columns(), converted.matrix.cols()));
        NV_ASSIGN_OR_RETURN(const Matrix filled, py::or_raise(model.impute(converted.matrix)));
        return py::arr_to_out(filled, std::move(converted.out), converted.info);
    }
};

using Lifecycle = Protocol<MissForestBinding>;

PyMethodDef MissForestBinding::methods[] = {
    py::method<"fit($self, data)", &Lifecycle::fit>(),
    py::method<"transform($self, data)", &Lifecycle::transform>(),
    py::method<"fit_transform($self, data)", &Lifecycle::fit_transform>(),
    {},
};

PyGetSetDef MissForestBinding::properties[] = {
    {},
};

// The interpreter warns (DeprecationWarning) whenever it creates a native
// class without a module qualifier; under `-W error` that would fail the
// import. Only that one warning is silenced, only while the class is made.
PyStatus add_without_module_warning(PyObject* module) {
    NV_ASSIGN_OR_RETURN(Ref warnings, py::checked(PyImport_ImportModule("warnings")));
    NV_ASSIGN_OR_RETURN(Ref manager,
                        py::checked(PyObject_CallMethod(warnings.get(), "catch_warnings", nullptr)));
    NV_ASSIGN_OR_RETURN(Ref entered,
                        py::checked(PyObject_CallMethod(manager.get(), "__enter__", nullptr)));
    PyStatus added = [&]() -> PyStatus {
        NV_ASSIGN_OR_RETURN(Ref ignored, py::checked(PyObject_CallMethod(
                                             warnings.get(), "filterwarnings", "ssO", "ignore",
                                             "builtin type MissForest has no __module__ attribute",
                                             PyExc_DeprecationWarning)));
        return py::HeapType<MissForestBinding>::add_to(module);
    }();
    // The filters are restored whether or not the class was made; a failure
    // to add it stays the exception the caller sees.
    PyObject* pending = PyErr_GetRaisedException();
    Ref exited = Ref::steal(
        PyObject_CallMethod(manager.get(), "__exit__", "OOO", Py_None, Py_None, Py_None));
    if (pending) {
        PyErr_SetRaisedException(pending);  // steals `pending`
        return py::error_set();
    }
    if (!exited) return py::error_set();
    return added;
}

}  // namespace

PyStatus add_missforest(PyObject* module) { return add_without_module_warning(module); }

}  // namespace norvale::binding
