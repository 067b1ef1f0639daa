// Ridge regression in closed form through a singular value decomposition of
// the centred features: w = V · diag(s / (s² + α)) · Uᵀ · y. Only the first
// min(n, p) left singular vectors enter w, so only those are computed: the
// full n × n factor would cost memory quadratic in the row count.
#include <vector>

#include "imputer/mice/backend/models.hpp"

namespace norvale::mice {

Status fit_model(Ridge& model, DesignMatrix&& x, std::span<const double> y) {
    const std::size_t n = x.rows(), p = x.features();
    if (n == 0) return std::unexpected(Errors::invalid_operation("compute mean on empty array"));

    std::vector<double> means(p);
    for (std::size_t j = 0; j < p; ++j) {
        auto column = x.feature(j);
        double sum = 0.0;
        for (const double cell : column) sum += cell;
        means[j] = sum / static_cast<double>(n);
        for (double& cell : column) cell -= means[j];
    }
    NV_ASSIGN_OR_RETURN(const ThinSvd svd, thin_svd(x.block(false)));

    // z = d ∘ (Uᵀ y), then w = Vᵀᵀ z. y enters uncentred: the columns of U
    // span the centred feature space, so the result is that of centred y.
    std::vector<double> z(svd.k);
    gemv({svd.u.data(), n, svd.k}, true, y, z);
    for (std::size_t i = 0; i < svd.k; ++i) {
        const double s = svd.s[i];
        z[i] *= s / (s * s + model.alpha);
    }
    std::vector<double> w(p);
    gemv({svd.vt.data(), svd.k, p}, true, z, w);

    if (!model.bias) {
        model.coefficients = codec::Array1{std::move(w)};
        return ok();
    }
    if (y.empty())
        return std::unexpected(Errors::invalid_operation("Computing mean on empty list!"));
    double sum = 0.0;
    for (const double target : y) sum += target;
    std::vector<double> coefficients;
    coefficients.reserve(p + 1);
    coefficients.push_back(sum / static_cast<double>(y.size()) - dot(means, w));
    coefficients.insert(coefficients.end(), w.begin(), w.end());
    model.coefficients = codec::Array1{std::move(coefficients)};
    return ok();
}

Result<std::vector<double>> predict_model(const Ridge& model, const DesignMatrix& x) {
    return linear_predict(x, model.bias, model.coefficients);
}

}  // namespace norvale::mice
