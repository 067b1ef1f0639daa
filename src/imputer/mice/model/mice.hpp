#pragma once
// Multivariate imputation by chained equations: every column gets a model
// trained on all the other columns, and the models are refitted and applied
// for a fixed number of iterations, starting from a mean/mode fill, so that
// imputed values feed the models of the other columns. The struct is also
// the state record.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <tuple>
#include <vector>

#include "codec/state_codec.hpp"
#include "imputer/mice/backend/solver.hpp"
#include "imputer/simple/simple_imputer.hpp"
#include "utils/encoding.hpp"
#include "utils/errors.hpp"
#include "utils/matrix.hpp"

namespace norvale::mice {

struct Mice {
    std::uint64_t max_iter = 10;
    std::uint64_t n_iter = 0;             // iterations of the last successful fit
    Solver backend = LinearRegression{};  // template of the numeric columns' models
    Solver cat_backend = LogisticRegression{};  // template of the label-encoded columns' models
    std::vector<Solver> models;           // one per column after fit
    bool is_fitted = false;
    SimpleImputer init;                   // the starting fill
    std::optional<StringEncoding> string_encoding;
    std::optional<std::vector<std::uint64_t>> cat_columns;  // label-encoded columns of the last fit

    static auto fields(auto& self) {
        return std::tie(self.max_iter, self.n_iter, self.backend, self.cat_backend, self.models,
                        self.is_fitted, self.init, self.string_encoding, self.cat_columns);
    }

    // A restored fitted state must have a starting fill value for each model,
    // or transform could not fill the columns the models expect.
    static codec::Status check(const Mice& mice);

    // The iterations of fit on the converted table `raw`. `cat_columns` and
    // `init` are replaced first; `models`, `n_iter` and `is_fitted` only once
    // every iteration succeeded.
    Status fit_impl(const Matrix& raw, std::optional<std::vector<std::uint64_t>> categorical);

    // The prediction passes of transform with the fitted models; `raw` has as
    // many columns as there are models.
    Result<Matrix> impute(const Matrix& raw) const;
};

// The rows whose cell in one column is observed and those where it is
// missing, both ascending.
struct ColumnRows {
    std::vector<std::size_t> observed;
    std::vector<std::size_t> missing;
};
ColumnRows partition_rows(const Matrix& raw, std::size_t column);

// The rows `rows` of `imputed` without column `skip`, as a feature block.
DesignMatrix gather_features(const Matrix& imputed, std::span<const std::size_t> rows,
                             std::size_t skip);

// What one column task of fit works on: the features and targets of the
// observed rows, and the features of the missing rows.
struct Split {
    DesignMatrix x_obs;
    std::vector<double> y_obs;
    DesignMatrix x_miss;
};
Split split(const Matrix& imputed, const Matrix& raw, std::size_t column, const ColumnRows& rows);

// The predictions of one column for its missing rows.
struct ColumnUpdate {
    std::vector<double> values;
};

// Writes each column's predictions into its missing rows of `imputed`.
void update_imputed(Matrix& imputed, std::span<const ColumnUpdate> updates,
                    std::span<const ColumnRows> rows);

}  // namespace norvale::mice
