#include "imputer/mice/model/mice.hpp"

#include <cmath>
#include <format>

#include "utils/parallel.hpp"

namespace norvale::mice {

codec::Status Mice::check(const Mice& mice) {
    if (!mice.is_fitted || !mice.init.sample_means) return {};
    const std::size_t fills = mice.init.sample_means->size();
    if (fills == mice.models.size()) return {};
    return std::unexpected(std::format(
        "invalid value: a fitted imputer with {} models has {} starting fill values",
        mice.models.size(), fills));
}

ColumnRows partition_rows(const Matrix& raw, std::size_t column) {
    ColumnRows rows;
    for (std::size_t row = 0; row < raw.rows(); ++row)
        (std::isnan(raw(row, column)) ? rows.missing : rows.observed).push_back(row);
    return rows;
}

// Reads each source row once and spreads it over the block's columns: the
// block is column-major, the table row-major.
DesignMatrix gather_features(const Matrix& imputed, std::span<const std::size_t> rows,
                             std::size_t skip) {
    const std::size_t cols = imputed.cols();
    if (skip >= cols) panic("skipped column beyond the table");
    const std::size_t n = rows.size();
    DesignMatrix block(n, cols - 1);
    // Column 0 of the whole block is the ones column; source column j lands
    // in block column j + 1 before `skip` and in column j after it.
    double* const base = block.block(true).data;
    for (std::size_t k = 0; k < n; ++k) {
        const std::span<const double> source = imputed.row(rows[k]);
        for (std::size_t j = 0; j < skip; ++j) base[(j + 1) * n + k] = source[j];
        for (std::size_t j = skip + 1; j < cols; ++j) base[j * n + k] = source[j];
    }
    return block;
}

Split split(const Matrix& imputed, const Matrix& raw, std::size_t column, const ColumnRows& rows) {
    Split out{gather_features(imputed, rows.observed, column), {},
              gather_features(imputed, rows.missing, column)};
    out.y_obs.reserve(rows.observed.size());
    for (const std::size_t row : rows.observed) out.y_obs.push_back(raw(row, column));
    return out;
}

void update_imputed(Matrix& imputed, std::span<const ColumnUpdate> updates,
                    std::span<const ColumnRows> rows) {
    const std::size_t cols = imputed.cols();
    if (updates.size() != cols || rows.size() != cols) panic("one update per column expected");
    SendPtr<double> cells(imputed.cells().data());
    parallel_for_each(cols, [&](std::size_t c) {
        const auto& missing = rows[c].missing;
        const auto& values = updates[c].values;
        if (values.empty()) return;
        if (values.size() != missing.size()) panic("one prediction per missing cell expected");
        for (std::size_t k = 0; k < missing.size(); ++k) cells[missing[k] * cols + c] = values[k];
    });
}

namespace {

std::vector<ColumnRows> partition_all(const Matrix& raw) {
    return parallel_map<ColumnRows>(raw.cols(),
                                    [&](std::size_t c) { return partition_rows(raw, c); });
}

}  // namespace

// Every iteration fits and predicts all columns against the same snapshot
// of `imputed` and writes back only afterwards, so the values written in
// iteration t are first seen in iteration t + 1.
Status Mice::fit_impl(const Matrix& raw, std::optional<std::vector<std::uint64_t>> categorical) {
    cat_columns = std::move(categorical);
    std::optional<std::span<const std::uint64_t>> encoded;
    if (cat_columns) encoded = *cat_columns;
    NV_RETURN_IF_ERROR(init.fit_impl(raw, encoded));
    NV_ASSIGN_OR_RETURN(Matrix imputed, init.impute(raw));

    const std::size_t cols = raw.cols();
    std::vector<bool> is_encoded(cols, false);
    if (encoded)
        for (const std::uint64_t c : *encoded) {
            if (c >= cols) panic("categorical column beyond the table");
            is_encoded[c] = true;
        }
    std::vector<Solver> fitted;
    fitted.reserve(cols);
    for (std::size_t c = 0; c < cols; ++c) fitted.push_back(is_encoded[c] ? cat_backend : backend);

    const auto rows = partition_all(raw);
    PoolBlasThreads blas_threads;
    for (std::uint64_t iteration = 0; iteration < max_iter; ++iteration) {
        const bool last = iteration + 1 == max_iter;
        NV_ASSIGN_OR_RETURN(
            const auto updates,
            try_parallel_map<ColumnUpdate>(cols, [&](std::size_t c) -> Result<ColumnUpdate> {
                // A complete column's model only predicts after fit, so the
                // fit of the last iteration is the only one that shows.
                if (rows[c].missing.empty() && !last) return ColumnUpdate{};
                Split parts = split(imputed, raw, c, rows[c]);
                NV_RETURN_IF_ERROR(fit(fitted[c], std::move(parts.x_obs), parts.y_obs));
                NV_ASSIGN_OR_RETURN(auto values, predict(fitted[c], parts.x_miss));
                return ColumnUpdate{std::move(values)};
            }));
        update_imputed(imputed, updates, rows);
    }
    models = std::move(fitted);
    n_iter = max_iter;
    is_fitted = true;
    return ok();
}

Result<Matrix> Mice::impute(const Matrix& raw) const {
    if (!is_fitted) return std::unexpected(Errors::not_fitted());
    const std::size_t cols = raw.cols();
    if (cols != models.size())
        return std::unexpected(Errors::shape_mismatch(
            "IncompatibleShape",
            std::format("{} columns given to {} column models", cols, models.size())));
    NV_ASSIGN_OR_RETURN(Matrix imputed, init.impute(raw));
    const auto rows = partition_all(raw);
    PoolBlasThreads blas_threads;
    for (std::uint64_t iteration = 0; iteration < max_iter; ++iteration) {
        NV_ASSIGN_OR_RETURN(
            const auto updates,
            try_parallel_map<ColumnUpdate>(cols, [&](std::size_t c) -> Result<ColumnUpdate> {
                if (rows[c].missing.empty()) return ColumnUpdate{};
                const DesignMatrix x_miss = gather_features(imputed, rows[c].missing, c);
                NV_ASSIGN_OR_RETURN(auto values, predict(models[c], x_miss));
                return ColumnUpdate{std::move(values)};
            }));
        update_imputed(imputed, updates, rows);
    }
    return imputed;
}

}  // namespace norvale::mice
