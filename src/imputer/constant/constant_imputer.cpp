#include "imputer/constant/constant_imputer.hpp"

#include <cmath>

#include "utils/parallel.hpp"

namespace norvale {

Matrix ConstantImputer::impute(const Matrix& matrix) const {
    Matrix filled = matrix;
    SendPtr<double> cells(filled.cells().data());
    const double fill = value;
    parallel_for_each(filled.size(), [&](std::size_t i) {
        if (std::isnan(cells[i])) cells[i] = fill;
    });
    return filled;
}

}  // namespace norvale
