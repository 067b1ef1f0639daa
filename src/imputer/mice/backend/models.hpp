#pragma once
// The operations of each Solver variant, behind the dispatch of solver.cpp.
#include <optional>
#include <span>
#include <vector>

#include "imputer/mice/backend/solver.hpp"

namespace norvale::mice {

Status fit_model(LinearRegression& model, DesignMatrix&& x, std::span<const double> y);
Status fit_model(LogisticRegression& model, DesignMatrix&& x, std::span<const double> y);
Status fit_model(PMM& model, DesignMatrix&& x, std::span<const double> y);
Status fit_model(Ridge& model, DesignMatrix&& x, std::span<const double> y);

Result<std::vector<double>> predict_model(const LinearRegression& model, const DesignMatrix& x);
Result<std::vector<double>> predict_model(const LogisticRegression& model, const DesignMatrix& x);
Result<std::vector<double>> predict_model(const PMM& model, const DesignMatrix& x);
Result<std::vector<double>> predict_model(const Ridge& model, const DesignMatrix& x);

// x · coefficients, with the ones column when `bias`: the prediction of the
// linear and the ridge model. NotFitted without coefficients.
Result<std::vector<double>> linear_predict(const DesignMatrix& x, bool bias,
                                           const std::optional<codec::Array1>& coefficients);

// ShapeMismatch unless a model's weights match the block's column count
// (a restored state can hold weights of any length).
Status check_width(std::size_t weights, std::size_t columns);

}  // namespace norvale::mice
