#pragma once
// Fills each missing cell with a weighted mean of the same column taken from
// the nearest rows of the fitted table. Fitting stores the table (and, for
// Gower, the column spans and the split into label-encoded and numeric
// columns); all the searching happens in impute. The struct is also the state
// record.
#include <cstdint>
#include <optional>
#include <span>
#include <tuple>
#include <vector>

#include "codec/state_codec.hpp"
#include "imputer/knn/distances.hpp"
#include "imputer/knn/metrics.hpp"
#include "utils/encoding.hpp"
#include "utils/errors.hpp"
#include "utils/matrix.hpp"

namespace norvale {

struct KnnImputer {
    std::uint64_t k = 5;  // donors averaged per missing cell
    std::optional<Matrix> data;  // the fitted table, missing cells kept
    std::optional<StringEncoding> string_encoding;
    // Label-encoded and all other columns; set by fits with the Gower metric.
    std::optional<std::vector<std::uint64_t>> cat_cols;
    std::optional<std::vector<std::uint64_t>> num_cols;
    bool is_fitted = false;
    knn::Metrics metric = knn::NanEuclid{};
    knn::Weights weights = knn::Weights::Uniform;

    static auto fields(auto& self) {
        return std::tie(self.k, self.data, self.string_encoding, self.cat_cols, self.num_cols,
                        self.is_fitted, self.metric, self.weights);
    }

    // A restored state must not let gower read outside the fitted table: its
    // spans, when present, come with the table, one span per column and both
    // column lists holding indices of that table.
    static codec::Status check(const KnnImputer& state);

    // Stores `fitted` and sets is_fitted. With the Gower metric also learns
    // the spans and takes `categorical` (the label-encoded columns, ascending)
    // as cat_cols and every other column as num_cols.
    void fit(Matrix fitted, std::span<const std::uint64_t> categorical);

    // A copy of `x` (as many columns as the fitted table) with its missing
    // cells filled; cells no fitted row can fill stay NaN. NotFitted without
    // a fitted table or, for Gower, without spans.
    Result<Matrix> impute(const Matrix& x) const;

    // The distance impute uses; NotFitted for Gower without spans.
    Result<knn::Distance> distance() const;

    // What gower reads; an internal failure unless the metric is Gower with
    // spans and both column lists are present.
    knn::GowerColumns gower_columns() const;
};

}  // namespace norvale
