#include <algorithm>
#include <format>

#include "imputer/mice/backend/models.hpp"

namespace norvale::mice {

DesignMatrix::DesignMatrix(std::size_t rows, std::size_t features)
    : rows_(rows), features_(features), cells_(rows * (features + 1), 0.0) {
    std::fill_n(cells_.begin(), rows, 1.0);
}

DesignMatrix add_bias_column(const Matrix& x) {
    DesignMatrix block(x.rows(), x.cols());
    for (std::size_t j = 0; j < x.cols(); ++j) {
        auto column = block.feature(j);
        for (std::size_t i = 0; i < x.rows(); ++i) column[i] = x(i, j);
    }
    return block;
}

Status fit(Solver& model, DesignMatrix&& x, std::span<const double> y) {
    if (x.rows() != y.size()) panic("targets do not match the feature rows");
    return std::visit([&](auto& variant) { return fit_model(variant, std::move(x), y); }, model);
}

Result<std::vector<double>> predict(const Solver& model, const DesignMatrix& x) {
    return std::visit([&](const auto& variant) { return predict_model(variant, x); }, model);
}

Status check_width(std::size_t weights, std::size_t columns) {
    if (weights == columns) return ok();
    return std::unexpected(Errors::shape_mismatch(
        "IncompatibleShape",
        std::format("the model has {} weights per row but the feature block has {} columns",
                    weights, columns)));
}

Result<std::vector<double>> linear_predict(const DesignMatrix& x, bool bias,
                                           const std::optional<codec::Array1>& coefficients) {
    if (!coefficients) return std::unexpected(Errors::not_fitted());
    const ConstBlock block = x.block(bias);
    NV_RETURN_IF_ERROR(check_width(coefficients->values.size(), block.cols));
    std::vector<double> out(block.rows);
    gemv(block, false, coefficients->values, out);
    return out;
}

}  // namespace norvale::mice
