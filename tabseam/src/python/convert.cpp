#include "python/convert.hpp"

#include <cmath>
#include <cstring>
#include <format>
#include <limits>
#include <span>
#include <string_view>

#include "lib/columns.hpp"
#include "python/exceptions.hpp"
#include "utils/parallel.hpp"

namespace tabseam::py {
namespace {

using norvale::Matrix;

// ---- small Python helpers ----

PyResult<Ref> import(const char* name) { return checked(PyImport_ImportModule(name)); }

PyResult<Ref> attribute(PyObject* object, const char* name) {
    return checked(PyObject_GetAttrString(object, name));
}

PyResult<std::string> utf8(PyObject* text) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(text, &size);
    if (!data) return error_set();
    return std::string(data, static_cast<std::size_t>(size));
}

PyResult<std::string> type_name(PyObject* object) {
    NV_ASSIGN_OR_RETURN(Ref name, checked(PyType_GetName(Py_TYPE(object))));
    return utf8(name.get());
}

PyResult<Ref> str_of(std::string_view text) {
    return checked(
        PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

PyResult<Ref> cell_key(std::size_t row, std::size_t col) {
    return checked(Py_BuildValue("(nn)", static_cast<Py_ssize_t>(row),
                                 static_cast<Py_ssize_t>(col)));
}

// ---- container and column names ----

enum class Container { Array, DataFrame };

PyResult<Container> recognise(PyObject* data) {
    NV_ASSIGN_OR_RETURN(std::string name, type_name(data));
    if (name == "ndarray" || name == "memmap") return Container::Array;
    if (name == "DataFrame") return Container::DataFrame;
    PySys_FormatStdout("%s\n", name.c_str());
    return raise(PyExc_TypeError,
                 std::format("Unsupported type: '{}'. Supported types are: {}", name,
                             "numpy.ndarray, pandas.DataFrame"));
}

// The names when `columns` is a sequence of str (and not a str itself).
PyResult<std::optional<std::vector<std::string>>> string_names(PyObject* columns) {
    if (PyUnicode_Check(columns) || !PySequence_Check(columns))
        return std::optional<std::vector<std::string>>{};
    Ref items = Ref::steal(PySequence_Fast(columns, "columns"));
    if (!items) {
        PyErr_Clear();
        return std::optional<std::vector<std::string>>{};
    }
    const Py_ssize_t n = PySequence_Fast_GET_SIZE(items.get());
    std::vector<std::string> names;
    names.reserve(static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* item = PySequence_Fast_GET_ITEM(items.get(), i);
        if (!PyUnicode_Check(item)) return std::optional<std::vector<std::string>>{};
        NV_ASSIGN_OR_RETURN(std::string name, utf8(item));
        names.push_back(std::move(name));
    }
    return std::optional(std::move(names));
}

// Column names as strings: str labels as they are, integer labels in
// decimal. Other labels raise the integer conversion's error.
PyResult<std::vector<std::string>> column_names(PyObject* frame) {
    NV_ASSIGN_OR_RETURN(Ref columns, attribute(frame, "columns"));
    NV_ASSIGN_OR_RETURN(auto names, string_names(columns.get()));
    if (names) return std::move(*names);

    NV_ASSIGN_OR_RETURN(Ref list, checked(PyObject_CallMethod(columns.get(), "tolist", nullptr)));
    Ref items = Ref::steal(PySequence_Fast(list.get(), "columns.tolist() must return a list"));
    if (!items) return error_set();
    const Py_ssize_t n = PySequence_Fast_GET_SIZE(items.get());
    std::vector<std::string> decimal;
    decimal.reserve(static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
        const long long label = PyLong_AsLongLong(PySequence_Fast_GET_ITEM(items.get(), i));
        if (label == -1 && PyErr_Occurred()) return error_set();
        decimal.push_back(std::to_string(label));
    }
    return decimal;
}

// ---- the float64 fast path ----

bool is_native_f64(const Py_buffer& view) {
    if (view.itemsize != 8 || !view.format) return false;
    const std::string_view format(view.format);
    return format == "d" || format == "<d" || format == "=d" || format == "@d";
}

// A two-dimensional native float64 array, copied in logical order; nothing
// when `data` is any other array.
PyResult<std::optional<Matrix>> read_f64_array(PyObject* data) {
    Py_buffer view;
    if (PyObject_GetBuffer(data, &view, PyBUF_RECORDS_RO) < 0) {
        // Arrays that cannot export a strided buffer (object or datetime
        // arrays, say) take the element-wise path.
        PyErr_Clear();
        return std::optional<Matrix>{};
    }
    struct Release {
        Py_buffer* view;
        ~Release() { PyBuffer_Release(view); }
    } release{&view};
    if (view.ndim != 2 || !is_native_f64(view)) return std::optional<Matrix>{};

    const auto rows = static_cast<std::size_t>(view.shape[0]);
    const auto cols = static_cast<std::size_t>(view.shape[1]);
    Matrix matrix(rows, cols);
    if (PyBuffer_IsContiguous(&view, 'C')) {
        if (matrix.size() > 0)
            std::memcpy(matrix.cells().data(), view.buf, matrix.size() * sizeof(double));
        return std::optional(std::move(matrix));
    }
    const auto* base = static_cast<const char*>(view.buf);
    for (std::size_t r = 0; r < rows; ++r) {
        const char* row = base + static_cast<Py_ssize_t>(r) * view.strides[0];
        for (std::size_t c = 0; c < cols; ++c)
            std::memcpy(&matrix(r, c), row + static_cast<Py_ssize_t>(c) * view.strides[1],
                        sizeof(double));
    }
    return std::optional(std::move(matrix));
}

// ---- the element-wise path ----

struct ColumnCells {
    bool holds_strings = false;
    std::vector<double> numbers;
    std::vector<std::string> texts;
};

PyResult<std::pair<std::size_t, std::size_t>> table_shape(PyObject* data) {
    NV_ASSIGN_OR_RETURN(Ref shape, attribute(data, "shape"));
    if (!PyTuple_Check(shape.get()) || PyTuple_GET_SIZE(shape.get()) != 2)
        return raise(PyExc_TypeError, "the table's shape must be a pair (rows, columns)");
    std::size_t dims[2];
    for (Py_ssize_t i = 0; i < 2; ++i) {
        const std::size_t value = PyLong_AsSize_t(PyTuple_GET_ITEM(shape.get(), i));
        if (value == static_cast<std::size_t>(-1) && PyErr_Occurred()) return error_set();
        dims[i] = value;
    }
    return std::pair{dims[0], dims[1]};
}

PyResult<std::string> text_of(PyObject* cell) {
    NV_ASSIGN_OR_RETURN(Ref text, checked(PyObject_Str(cell)));
    return utf8(text.get());
}

// Reads one cell into its column: as a number while the column holds
// numbers, as text from the first cell that is not a number on.
PyStatus read_cell(PyObject* cell, ColumnCells& column) {
    if (!column.holds_strings) {
        const double number = PyFloat_AsDouble(cell);
        if (!(number == -1.0 && PyErr_Occurred())) {
            column.numbers.push_back(number);
            return {};
        }
        // Any ordinary failure means "not a number"; an interrupt propagates.
        if (!PyErr_ExceptionMatches(PyExc_Exception)) return error_set();
        PyErr_Clear();
        column.holds_strings = true;
        column.texts.reserve(column.numbers.capacity());
        for (const double earlier : column.numbers) column.texts.push_back(number_label(earlier));
        column.numbers = {};
    }
    NV_ASSIGN_OR_RETURN(std::string text, text_of(cell));
    column.texts.push_back(std::move(text));
    return {};
}

PyResult<std::vector<ColumnCells>> read_cells(PyObject* source, std::size_t rows,
                                              std::size_t cols) {
    std::vector<ColumnCells> columns(cols);
    for (std::size_t c = 0; c < cols; ++c) {
        columns[c].numbers.reserve(rows);
        for (std::size_t r = 0; r < rows; ++r) {
            NV_ASSIGN_OR_RETURN(Ref key, cell_key(r, c));
            NV_ASSIGN_OR_RETURN(Ref cell, checked(PyObject_GetItem(source, key.get())));
            NV_RETURN_IF_ERROR(read_cell(cell.get(), columns[c]));
        }
    }
    return columns;
}

// Numeric work of the element-wise path, on the pool: number columns are
// copied, string columns label-encoded, each task writing its own column.
std::pair<Matrix, EncodingInfo> assemble(std::vector<ColumnCells>& columns, std::size_t rows) {
    const std::size_t cols = columns.size();
    Matrix matrix(rows, cols);
    norvale::SendPtr<double> cells(matrix.cells().data());
    auto encoded = norvale::parallel_map<std::optional<EncodedColumn>>(
        cols, [&](std::size_t c) -> std::optional<EncodedColumn> {
            const ColumnCells& column = columns[c];
            if (!column.holds_strings) {
                for (std::size_t r = 0; r < rows; ++r) cells[r * cols + c] = column.numbers[r];
                return std::nullopt;
            }
            EncodedColumn result = label_encode(column.texts);
            for (std::size_t r = 0; r < rows; ++r) cells[r * cols + c] = result.codes[r];
            return result;
        });

    EncodingInfo info;
    for (std::size_t c = 0; c < cols; ++c) {
        if (!encoded[c]) continue;
        info.cat_cols.push_back(c);
        info.encode_maps.emplace(c, std::move(encoded[c]->label_map));
        info.decode_maps.emplace(c, std::move(encoded[c]->decode_map));
    }
    return {std::move(matrix), std::move(info)};
}

PyResult<std::pair<Matrix, EncodingInfo>> read_elementwise(PyObject* data, Container container) {
    NV_ASSIGN_OR_RETURN(auto shape, table_shape(data));
    const auto [rows, cols] = shape;
    Ref source = container == Container::DataFrame ? Ref::steal(PyObject_GetAttrString(data, "values"))
                                                   : Ref::borrow(data);
    if (!source) return error_set();
    NV_ASSIGN_OR_RETURN(auto columns, read_cells(source.get(), rows, cols));
    return assemble(columns, rows);
}

// ---- output ----

// A new float64 NumPy array holding the matrix (returns a new reference).
PyResult<Ref> new_f64_array(const Matrix& matrix) {
    NV_ASSIGN_OR_RETURN(Ref numpy, import("numpy"));
    NV_ASSIGN_OR_RETURN(Ref array,
                        checked(PyObject_CallMethod(numpy.get(), "empty", "((nn))",
                                                    static_cast<Py_ssize_t>(matrix.rows()),
                                                    static_cast<Py_ssize_t>(matrix.cols()))));
    Py_buffer view;
    NV_RETURN_IF_ERROR(
        checked_status(PyObject_GetBuffer(array.get(), &view, PyBUF_C_CONTIGUOUS | PyBUF_WRITABLE)));
    if (matrix.size() > 0) std::memcpy(view.buf, matrix.cells().data(), matrix.size() * sizeof(double));
    PyBuffer_Release(&view);
    return array;
}

const DecodeMap& decode_map_of(const EncodingInfo& info, std::uint64_t col,
                               const Matrix& matrix) {
    if (col >= matrix.cols()) norvale::panic("string column index beyond the table");
    const auto found = info.decode_maps.find(col);
    if (found == info.decode_maps.end()) norvale::panic("string column without a decode map");
    return found->second;
}

// Array output: a cell decodes to its code's label, or "NaN" when it has none.
// A NaN cell (still missing) also gives "NaN", never a real label.
std::string_view array_label(const DecodeMap& map, double cell) {
    if (std::isnan(cell)) return "NaN";
    const auto found = map.find(saturating_code(cell));
    return found == map.end() ? std::string_view("NaN") : std::string_view(found->second);
}

PyResult<Ref> decoded_array(const Matrix& matrix, Ref array, const EncodingInfo& info) {
    NV_ASSIGN_OR_RETURN(Ref numpy, import("numpy"));
    NV_ASSIGN_OR_RETURN(Ref copy, checked(PyObject_CallMethod(numpy.get(), "array", "O", array.get())));
    NV_ASSIGN_OR_RETURN(Ref objects, checked(PyObject_CallMethod(copy.get(), "astype", "s", "object")));
    for (const std::uint64_t col : info.cat_cols) {
        const DecodeMap& map = decode_map_of(info, col, matrix);
        for (std::size_t row = 0; row < matrix.rows(); ++row) {
            NV_ASSIGN_OR_RETURN(Ref key, cell_key(row, col));
            NV_ASSIGN_OR_RETURN(Ref label, str_of(array_label(map, matrix(row, col))));
            NV_RETURN_IF_ERROR(checked_status(PyObject_SetItem(objects.get(), key.get(), label.get())));
        }
    }
    return objects;
}

// DataFrame output: NaN and codes without a label become None.
PyResult<Ref> column_objects(const Matrix& matrix, std::uint64_t col, const DecodeMap& map) {
    NV_ASSIGN_OR_RETURN(Ref list, checked(PyList_New(static_cast<Py_ssize_t>(matrix.rows()))));
    for (std::size_t row = 0; row < matrix.rows(); ++row) {
        const double cell = matrix(row, col);
        const auto found = std::isnan(cell) ? map.end() : map.find(saturating_code(cell));
        Ref item;
        if (found == map.end()) {
            item = Ref::borrow(Py_None);
        } else {
            NV_ASSIGN_OR_RETURN(item, str_of(found->second));
        }
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(row), item.release());
    }
    return list;
}

PyResult<Ref> new_frame(Ref array, const std::vector<std::string>& columns) {
    NV_ASSIGN_OR_RETURN(Ref pandas, import("pandas"));
    NV_ASSIGN_OR_RETURN(Ref names, checked(PyList_New(static_cast<Py_ssize_t>(columns.size()))));
    for (std::size_t i = 0; i < columns.size(); ++i) {
        NV_ASSIGN_OR_RETURN(Ref name, str_of(columns[i]));
        PyList_SET_ITEM(names.get(), static_cast<Py_ssize_t>(i), name.release());
    }
    NV_ASSIGN_OR_RETURN(Ref constructor, attribute(pandas.get(), "DataFrame"));
    NV_ASSIGN_OR_RETURN(Ref args, checked(PyTuple_Pack(1, array.get())));
    NV_ASSIGN_OR_RETURN(Ref kwargs, checked(PyDict_New()));
    NV_RETURN_IF_ERROR(checked_status(PyDict_SetItemString(kwargs.get(), "columns", names.get())));
    return checked(PyObject_Call(constructor.get(), args.get(), kwargs.get()));
}

PyStatus decode_frame_column(PyObject* frame, const Matrix& matrix, std::uint64_t col,
                             const DecodeMap& map, const std::string& name) {
    NV_ASSIGN_OR_RETURN(Ref key, str_of(name));
    NV_ASSIGN_OR_RETURN(Ref column, checked(PyObject_GetItem(frame, key.get())));
    NV_ASSIGN_OR_RETURN(Ref objects, checked(PyObject_CallMethod(column.get(), "astype", "s", "object")));
    NV_RETURN_IF_ERROR(checked_status(PyObject_SetItem(frame, key.get(), objects.get())));
    NV_ASSIGN_OR_RETURN(Ref labels, column_objects(matrix, col, map));
    NV_ASSIGN_OR_RETURN(Ref loc, attribute(frame, "loc"));
    NV_ASSIGN_OR_RETURN(Ref all_rows, checked(PySlice_New(nullptr, nullptr, nullptr)));
    NV_ASSIGN_OR_RETURN(Ref target, checked(PyTuple_Pack(2, all_rows.get(), key.get())));
    return checked_status(PyObject_SetItem(loc.get(), target.get(), labels.get()));
}

}  // namespace

PyResult<Converted> pyany_to_vec(PyObject* data, std::optional<norvale::StringEncoding> encoding) {
    NV_ASSIGN_OR_RETURN(Container container, recognise(data));
    Out out = OutArray{};
    if (container == Container::DataFrame) {
        NV_ASSIGN_OR_RETURN(auto names, column_names(data));
        out = OutDataFrame{std::move(names)};
    } else {
        NV_ASSIGN_OR_RETURN(auto fast, read_f64_array(data));
        if (fast) return Converted{std::move(out), std::move(*fast), std::nullopt};
    }
    if (!encoding) return raise(PyExc_Exception, "Provide a way to encode String!");
    NV_ASSIGN_OR_RETURN(auto read, read_elementwise(data, container));
    return Converted{std::move(out), std::move(read.first), std::move(read.second)};
}

PyResult<Ref> arr_to_out(const Matrix& matrix, Out out, const std::optional<EncodingInfo>& info) {
    NV_ASSIGN_OR_RETURN(Ref array, new_f64_array(matrix));
    if (auto* frame_out = std::get_if<OutDataFrame>(&out)) {
        if (frame_out->columns.size() != matrix.cols())
            norvale::panic("column names do not match the table");
        NV_ASSIGN_OR_RETURN(Ref frame, new_frame(std::move(array), frame_out->columns));
        if (!info) return frame;
        for (const std::uint64_t col : info->cat_cols) {
            const DecodeMap& map = decode_map_of(*info, col, matrix);
            NV_RETURN_IF_ERROR(
                decode_frame_column(frame.get(), matrix, col, map, frame_out->columns[col]));
        }
        return frame;
    }
    if (!info) return array;
    return decoded_array(matrix, std::move(array), *info);
}

PyStatus raise_if_nan_col(const Matrix& matrix) {
    const auto empty = all_empty_column(matrix);
    if (empty.empty()) return {};
    std::string list = "[";
    for (std::size_t i = 0; i < empty.size(); ++i) {
        if (i > 0) list += ", ";
        list += std::to_string(empty[i]);
    }
    list += ']';
    return raise(PyExc_ValueError,
                 std::format("The following columns contain only NaNs can {}", list));
}

PyStatus check_feature_mismatch(std::size_t fitted, std::size_t provided) {
    if (fitted == provided) return {};
    return raise(PyExc_ValueError,
                 std::format("The estimator was fitted on {} features, but {} were provided!",
                             fitted, provided));
}

PyResult<Ref> raise_not_fitted() {
    Ref module = Ref::steal(PyImport_ImportModule("sklearn.exceptions"));
    if (!module) return raise_panic("cannot import sklearn.exceptions");
    Ref type = Ref::steal(PyObject_GetAttrString(module.get(), "NotFittedError"));
    if (!type || !PyType_Check(type.get())) return raise_panic("sklearn.exceptions.NotFittedError is not a class");
    return checked(PyObject_CallFunction(
        type.get(), "s",
        "This estimator is not fitted yet. Call 'fit' before using this estimator."));
}

}  // namespace tabseam::py
