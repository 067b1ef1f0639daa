#include "imputer/knn/knn_imputer.hpp"

#include <algorithm>
#include <format>

#include "imputer/knn/neighbours.hpp"

namespace norvale {
namespace {

std::optional<std::uint64_t> out_of_range(const std::vector<std::uint64_t>& columns,
                                          std::size_t count) {
    const auto found = std::ranges::find_if(columns, [&](std::uint64_t j) { return j >= count; });
    if (found == columns.end()) return std::nullopt;
    return *found;
}

}  // namespace

codec::Status KnnImputer::check(const KnnImputer& state) {
    const auto* gower = std::get_if<knn::Gower>(&state.metric);
    if (!gower || !gower->spans) return {};
    if (!state.data) return std::unexpected("gower spans without a fitted table");
    const std::size_t cols = state.data->cols();
    if (gower->spans->size() != cols)
        return std::unexpected(
            std::format("{} gower spans for {} columns", gower->spans->size(), cols));
    if (!state.cat_cols || !state.num_cols)
        return std::unexpected("gower spans without column lists");
    for (const auto* list : {&*state.cat_cols, &*state.num_cols})
        if (const auto bad = out_of_range(*list, cols))
            return std::unexpected(
                std::format("column index {} out of range for {} columns", *bad, cols));
    return {};
}

void KnnImputer::fit(Matrix fitted, std::span<const std::uint64_t> categorical) {
    if (auto* gower = std::get_if<knn::Gower>(&metric)) {
        gower->spans = knn::column_spans(fitted);
        cat_cols.emplace(categorical.begin(), categorical.end());
        std::vector<std::uint64_t> numeric;
        for (std::uint64_t j = 0; j < fitted.cols(); ++j)
            if (!std::ranges::binary_search(categorical, j)) numeric.push_back(j);
        num_cols = std::move(numeric);
    }
    data = std::move(fitted);
    is_fitted = true;
}

Result<knn::Distance> KnnImputer::distance() const {
    using Kind = knn::Distance::Kind;
    switch (metric.index()) {
        case 0: return knn::Distance{Kind::NanEuclid, {}};
        case 1: return knn::Distance{Kind::ExpectedDistance, {}};
        default:
            if (!std::get<knn::Gower>(metric).spans) return std::unexpected(Errors::not_fitted());
            return knn::Distance{Kind::Gower, gower_columns()};
    }
}

knn::GowerColumns KnnImputer::gower_columns() const {
    const auto* gower = std::get_if<knn::Gower>(&metric);
    if (!gower) panic("Set distance to gower when calling gower!");
    if (!gower->spans) panic("Make sure to call fit first, or provide ranges any other way!");
    if (!cat_cols || !num_cols) panic("called gower without its column lists");
    return {*cat_cols, *num_cols, *gower->spans};
}

Result<Matrix> KnnImputer::impute(const Matrix& x) const {
    if (!data) return std::unexpected(Errors::not_fitted());
    NV_ASSIGN_OR_RETURN(const knn::Distance chosen, distance());
    return knn::impute_rows(x, *data, chosen, weights, k);
}

}  // namespace norvale
