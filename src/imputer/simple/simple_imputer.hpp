#pragma once
// Fills each missing cell with a per-column statistic learned at fit: the
// mean of the column's observed values, or for a label-encoded column its
// most frequent code. Also the starting fill of the larger imputers, which
// use fit_impl and impute directly. The struct is also the state record.
#include <cstdint>
#include <optional>
#include <span>
#include <tuple>
#include <vector>

#include "utils/encoding.hpp"
#include "utils/errors.hpp"
#include "utils/matrix.hpp"

namespace norvale {

struct SimpleImputer {
    std::optional<std::vector<double>> sample_means;  // one fill value per column
    std::optional<StringEncoding> string_encoding;
    bool is_fitted = false;  // set by the Python fit only

    static auto fields(auto& self) {
        return std::tie(self.sample_means, self.string_encoding, self.is_fitted);
    }

    // Learns the fill values: means for every column, then modes for the
    // `categorical` columns. On failure `sample_means` is unchanged.
    Status fit_impl(const Matrix& matrix,
                    std::optional<std::span<const std::uint64_t>> categorical);

    // A copy of `matrix` with each NaN of column j replaced by sample_means[j];
    // NotFitted when there are no fill values and some cell is missing.
    Result<Matrix> impute(const Matrix& matrix) const;

    // Mean of the observed cells; NaN when there are none.
    static double get_means(const Matrix& matrix, std::size_t column);

    // Most frequent code among the observed cells, the smallest code on a
    // tie; InvalidOperation when the column has no observed cell.
    static Result<double> get_modes(const Matrix& matrix, std::size_t column);
};

}  // namespace norvale
