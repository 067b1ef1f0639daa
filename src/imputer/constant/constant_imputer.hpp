#pragma once
// Fills every missing cell with one fixed number. Fitting learns nothing but
// the column count. The struct is also the state record.
#include <cstdint>
#include <optional>
#include <tuple>

#include "utils/encoding.hpp"
#include "utils/matrix.hpp"

namespace norvale {

struct ConstantImputer {
    double value = 0.0;
    std::uint64_t ncols = 0;  // column count of the table last passed to fit
    bool is_fitted = false;
    std::optional<StringEncoding> string_encoding;

    static auto fields(auto& self) {
        return std::tie(self.value, self.ncols, self.is_fitted, self.string_encoding);
    }

    // A copy of `matrix` with every NaN replaced by `value`.
    Matrix impute(const Matrix& matrix) const;
};

}  // namespace norvale
