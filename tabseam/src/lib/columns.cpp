#include "lib/columns.hpp"

#include <cmath>

#include "utils/parallel.hpp"

namespace tabseam {

std::vector<std::uint64_t> all_empty_column(const norvale::Matrix& matrix) {
    const auto empty = norvale::parallel_map<char>(matrix.cols(), [&](std::size_t col) {
        for (std::size_t row = 0; row < matrix.rows(); ++row)
            if (!std::isnan(matrix(row, col))) return char{0};
        return char{1};
    });
    std::vector<std::uint64_t> columns;
    for (std::size_t col = 0; col < empty.size(); ++col)
        if (empty[col]) columns.push_back(col);
    return columns;
}

}  // namespace tabseam
