#pragma once
// Fills missing cells with support-vector predictions, one LIBSVM model per
// column: ε-SVR for numeric columns, C-SVC for label-encoded ones. Every
// model predicts its column from all other columns of the mean/mode-filled
// table and is trained on the rows where its column is observed. The struct
// is also the state record; the models are kept as records and assembled
// into LIBSVM's form only to predict.
#include <cstdint>
#include <optional>
#include <string_view>
#include <tuple>
#include <vector>

#include "imputer/simple/simple_imputer.hpp"
#include "imputer/svm/svm_model_record.hpp"
#include "utils/encoding.hpp"
#include "utils/errors.hpp"
#include "utils/matrix.hpp"

namespace norvale {

struct SVMImputer {
    std::vector<SvmModelRecord> models;  // one per column of the fitted table
    std::optional<StringEncoding> string_encoding;
    // The string columns and the other columns of the last fit whose input
    // carried label-encoding information.
    std::vector<std::uint64_t> cat_cols;
    std::vector<std::uint64_t> num_cols;
    SimpleImputer init;  // the starting fill
    bool is_fitted = false;
    KernelCode kernel;

    static auto fields(auto& self) {
        return std::tie(self.models, self.string_encoding, self.cat_cols, self.num_cols,
                        self.init, self.is_fitted, self.kernel);
    }

    // A new imputer. `kernel_name` is already lower-cased; `encoding` is the
    // option's text. Silences LIBSVM's output for the whole process first.
    static Result<SVMImputer> create(std::string_view kernel_name,
                                     std::optional<std::string_view> encoding);

    // Learns from `data`. `string_columns` is the list of label-encoded
    // columns when the conversion ran the label-encoding path, else absent.
    // A column whose training fails ends the fit with SvmTraining; the
    // models of the columns before it stay stored.
    Status fit(const Matrix& data, const std::optional<std::vector<std::uint64_t>>& string_columns);

    // A copy of `data` whose missing cells hold the models' predictions.
    // `data` must have one column per model.
    Result<Matrix> impute(const Matrix& data) const;
};

// The LIBSVM kernel code of a lower-cased kernel name; "precomputed" is not
// offered.
Result<std::int32_t> kernel_code(std::string_view name);
// The name of a kernel code, "precomputed" included.
std::string_view kernel_name(std::int32_t code);

}  // namespace norvale
