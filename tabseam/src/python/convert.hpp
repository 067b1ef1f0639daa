#pragma once
// Tables in and out: a caller's NumPy array or pandas DataFrame becomes a
// Matrix (plus what is needed to rebuild the caller's kind of table and the
// label maps of its string columns), and a filled Matrix becomes a new table
// of the same kind. Also the checks every imputer shares.
#include <Python.h>

#include <cstddef>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "lib/label_encoding.hpp"
#include "python/ref.hpp"
#include "utils/encoding.hpp"
#include "utils/matrix.hpp"

namespace tabseam::py {

// The caller's container kind, carried from input to output conversion.
struct OutArray {};
struct OutDataFrame {
    std::vector<std::string> columns;
};
using Out = std::variant<OutArray, OutDataFrame>;

struct Converted {
    Out out;
    norvale::Matrix matrix;
    // Present exactly when the element-wise (label-encoding) path ran.
    std::optional<EncodingInfo> info;
};

// Reads `data` into a fresh Matrix. A two-dimensional float64 array is copied
// in bulk whatever `encoding` says; anything else needs an encoding and is
// read cell by cell, with string columns label-encoded.
PyResult<Converted> pyany_to_vec(PyObject* data, std::optional<norvale::StringEncoding> encoding);

// A new array or DataFrame holding `matrix`, with the string columns of
// `info` decoded back to labels (returns a new reference).
PyResult<Ref> arr_to_out(const norvale::Matrix& matrix, Out out,
                         const std::optional<EncodingInfo>& info);

// ValueError "The following columns contain only NaNs can [..]" when some
// column holds no number.
PyStatus raise_if_nan_col(const norvale::Matrix& matrix);

// ValueError when the fitted and the provided column counts differ.
PyStatus check_feature_mismatch(std::size_t fitted, std::size_t provided);

// A new sklearn.exceptions.NotFittedError instance, not raised.
PyResult<Ref> raise_not_fitted();

}  // namespace tabseam::py
