// Ordinary least squares through LAPACK's minimum-norm solver.
#include "imputer/mice/backend/models.hpp"

namespace norvale::mice {

Status fit_model(LinearRegression& model, DesignMatrix&& x, std::span<const double> y) {
    NV_ASSIGN_OR_RETURN(auto weights, least_squares(x.block(model.bias), y, 1));
    model.coefficients = codec::Array1{std::move(weights)};
    return ok();
}

Result<std::vector<double>> predict_model(const LinearRegression& model, const DesignMatrix& x) {
    return linear_predict(x, model.bias, model.coefficients);
}

}  // namespace norvale::mice
