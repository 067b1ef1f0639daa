#include "imputer/simple/simple_imputer.hpp"

#include <cmath>
#include <format>
#include <unordered_map>

#include "lib/label_encoding.hpp"
#include "utils/parallel.hpp"

namespace norvale {

double SimpleImputer::get_means(const Matrix& matrix, std::size_t column) {
    double sum = 0.0;
    std::size_t missing = 0;
    for (std::size_t row = 0; row < matrix.rows(); ++row) {
        const double cell = matrix(row, column);
        if (std::isnan(cell))
            ++missing;
        else
            sum += cell;
    }
    // No observed value gives 0 / 0 = NaN.
    return sum / (static_cast<double>(matrix.rows()) - static_cast<double>(missing));
}

Result<double> SimpleImputer::get_modes(const Matrix& matrix, std::size_t column) {
    // Missing cells are not counted: a column that is mostly missing must not
    // be filled with whatever code 0 stands for.
    std::unordered_map<std::uint64_t, std::size_t> counts;
    for (std::size_t row = 0; row < matrix.rows(); ++row) {
        const double cell = matrix(row, column);
        if (!std::isnan(cell)) ++counts[tabseam::saturating_code(cell)];
    }
    if (counts.empty())
        return std::unexpected(
            Errors::invalid_operation(std::format("computing mode on empty column: {}", column)));
    std::uint64_t best_code = 0;
    std::size_t best_count = 0;
    for (const auto [code, count] : counts) {
        if (count > best_count || (count == best_count && code < best_code)) {
            best_code = code;
            best_count = count;
        }
    }
    return static_cast<double>(best_code);
}

Status SimpleImputer::fit_impl(const Matrix& matrix,
                               std::optional<std::span<const std::uint64_t>> categorical) {
    auto means = parallel_map<double>(matrix.cols(),
                                      [&](std::size_t column) { return get_means(matrix, column); });
    if (categorical) {
        const auto columns = *categorical;
        NV_ASSIGN_OR_RETURN(auto modes, try_parallel_map<double>(columns.size(), [&](std::size_t i) {
                                return get_modes(matrix, columns[i]);
                            }));
        for (std::size_t i = 0; i < columns.size(); ++i) {
            if (columns[i] >= means.size()) panic("categorical column beyond the table");
            means[columns[i]] = modes[i];
        }
    }
    sample_means = std::move(means);
    return ok();
}

Result<Matrix> SimpleImputer::impute(const Matrix& matrix) const {
    if (!sample_means) {
        for (const double cell : matrix.cells())
            if (std::isnan(cell)) return std::unexpected(Errors::not_fitted());
        return matrix;
    }
    const auto& fill = *sample_means;
    if (fill.size() < matrix.cols()) panic("fewer fill values than columns");
    Matrix filled = matrix;
    const std::size_t cols = matrix.cols();
    SendPtr<double> cells(filled.cells().data());
    parallel_for_each(filled.rows(), [&](std::size_t row) {
        for (std::size_t col = 0; col < cols; ++col) {
            double& cell = cells[row * cols + col];
            if (std::isnan(cell)) cell = fill[col];
        }
    });
    return filled;
}

}  // namespace norvale
