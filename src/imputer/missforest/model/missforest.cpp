#include "imputer/missforest/model/missforest.hpp"

#include <algorithm>
#include <cmath>
#include <span>

#include "utils/panic.hpp"
#include "utils/parallel.hpp"

namespace norvale {
namespace {

// The rows in which column `target` of `original` is missing, ascending.
std::vector<std::size_t> missing_rows(const Matrix& original, std::size_t target) {
    std::vector<std::size_t> rows;
    for (std::size_t row = 0; row < original.rows(); ++row)
        if (std::isnan(original(row, target))) rows.push_back(row);
    return rows;
}

// The given rows of `filled` without column `target`: the columns before it
// followed by the columns after it.
Matrix predictor_table(const Matrix& filled, std::span<const std::size_t> rows,
                       std::size_t target) {
    const std::size_t width = filled.cols() - 1;
    Matrix table(rows.size(), width);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const auto source = filled.row(rows[i]);
        auto destination = table.row(i);
        std::copy(source.begin(), source.begin() + target, destination.begin());
        std::copy(source.begin() + target + 1, source.end(), destination.begin() + target);
    }
    return table;
}

}  // namespace

MissForest MissForest::create(std::uint64_t n_trees, std::uint64_t max_depth,
                              std::uint64_t min_samples_leaf, std::optional<std::uint64_t> seed,
                              std::optional<StringEncoding> string_encoding) {
    MissForest model{
        .forests = {},
        .mean_imputer = {},
        .n_trees = n_trees,
        .max_depth = max_depth,
        .min_samples_leaf = min_samples_leaf,
        .generator = ChaCha12Rng::from_seed(seed ? *seed : entropy_seed()),
        .is_fitted = false,
        .string_encoding = string_encoding,
    };
    model.mean_imputer.string_encoding = string_encoding;
    return model;
}

Status MissForest::fit(const Matrix& table) {
    std::vector<RandomForest> fresh;
    fresh.reserve(table.cols());
    for (std::size_t column = 0; column < table.cols(); ++column)
        fresh.push_back(
            RandomForest::create(n_trees, max_depth, min_samples_leaf, generator.next_u64()));
    // Every column gets its mean, label-encoded ones too: no modes are asked for.
    NV_RETURN_IF_ERROR(mean_imputer.fit_impl(table, std::nullopt));
    forests = std::move(fresh);
    is_fitted = true;
    return ok();
}

Result<Matrix> MissForest::impute(const Matrix& table) const {
    if (table.cols() != fitted_columns()) panic("column count differs from the fitted table");
    // `filled` is only read from here on: every predictor table is cut from
    // the mean-filled values, never from another column's new values.
    NV_ASSIGN_OR_RETURN(const Matrix filled, mean_imputer.impute(table));
    Matrix result = filled;
    const std::size_t cols = result.cols();
    SendPtr<double> cells(result.cells().data());
    // Only the rows where the column is missing are predicted: observed
    // cells keep the caller's values.
    parallel_for_each(cols, [&](std::size_t target) {
        const auto rows = missing_rows(table, target);
        if (rows.empty()) return;
        const auto predictions = forests[target].transform(predictor_table(filled, rows, target));
        for (std::size_t i = 0; i < rows.size(); ++i)
            cells[rows[i] * cols + target] = predictions[i];
    });
    return result;
}

}  // namespace norvale
