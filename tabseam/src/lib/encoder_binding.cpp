// tabseam.Encoder: label-encodes a table and later decodes tables with the
// remembered maps, without going through an imputer.
#include "lib/encoder_binding.hpp"

#include <format>

#include "lib/encoder.hpp"
#include "python/convert.hpp"
#include "python/object.hpp"
#include "python/state_methods.hpp"

namespace tabseam {
namespace {

using py::Args;
using py::PyResult;
using py::PyStatus;
using py::Ref;

// A Python list of the string columns (returns a new reference).
PyResult<Ref> column_list(const std::vector<std::uint64_t>& columns) {
    NV_ASSIGN_OR_RETURN(Ref list, py::checked(PyList_New(static_cast<Py_ssize_t>(columns.size()))));
    for (std::size_t i = 0; i < columns.size(); ++i) {
        NV_ASSIGN_OR_RETURN(Ref index, py::checked(PyLong_FromUnsignedLongLong(columns[i])));
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), index.release());
    }
    return list;
}

// Remembered string columns must exist in the table being decoded.
PyStatus check_decodable(const EncodingInfo& info, std::size_t cols) {
    for (const std::uint64_t col : info.cat_cols)
        if (col >= cols)
            return py::raise(PyExc_ValueError,
                             std::format("cannot decode string column {}: the table has {} columns",
                                         col, cols));
    return {};
}

struct EncoderBinding {
    using Model = Encoder;
    using Constructor = py::Signature<"Encoder(encoding=None)">;
    static constexpr const char* type_name = "tabseam.Encoder";

    static PyMethodDef methods[];
    static PyGetSetDef properties[];

    static PyResult<Model> construct(const Args<1>& args) {
        NV_ASSIGN_OR_RETURN(auto strategy,
                            py::to_optional_string(args[0], {Constructor::name, "encoding"}));
        if (strategy && *strategy != "label")
            return py::raise(PyExc_ValueError,
                             std::format("{} is not a supported encoding strategy for strings!",
                                         *strategy));
        return Model{};
    }

    // Returns (numeric table, string columns or None). The maps are replaced
    // as soon as the conversion succeeded.
    static PyResult<Ref> encode(PyObject* self, const Args<1>& args) {
        auto& object = py::instance<Model>(self);
        NV_ASSIGN_OR_RETURN(auto access, py::ExclusiveBorrow::take(object.borrow));
        NV_ASSIGN_OR_RETURN(auto converted,
                            py::pyany_to_vec(args[0], norvale::StringEncoding::Label));
        object.model.encoding_info = std::move(converted.info);
        NV_ASSIGN_OR_RETURN(Ref table,
                            py::arr_to_out(converted.matrix, std::move(converted.out), std::nullopt));
        Ref columns;
        if (object.model.encoding_info) {
            NV_ASSIGN_OR_RETURN(columns, column_list(object.model.encoding_info->cat_cols));
        } else {
            columns = Ref::borrow(Py_None);
        }
        return py::checked(PyTuple_Pack(2, table.get(), columns.get()));
    }

    static PyResult<Ref> decode(PyObject* self, const Args<1>& args) {
        auto& object = py::instance<Model>(self);
        NV_ASSIGN_OR_RETURN(auto access, py::SharedBorrow::take(object.borrow));
        NV_ASSIGN_OR_RETURN(auto converted,
                            py::pyany_to_vec(args[0], norvale::StringEncoding::Label));
        const auto& stored = object.model.encoding_info;
        if (stored) NV_RETURN_IF_ERROR(check_decodable(*stored, converted.matrix.cols()));
        return py::arr_to_out(converted.matrix, std::move(converted.out), stored);
    }
};

using State = py::StateMethods<Encoder, "Encoder">;

PyMethodDef EncoderBinding::methods[] = {
    py::method<"encode($self, obj)", &EncoderBinding::encode>(),
    py::method<"decode($self, obj)", &EncoderBinding::decode>(),
    State::getstate_method(),
    State::setstate_method(),
    {},
};

PyGetSetDef EncoderBinding::properties[] = {{}};

}  // namespace

PyStatus add_encoder(PyObject* module) { return py::HeapType<EncoderBinding>::add_to(module); }

}  // namespace tabseam
