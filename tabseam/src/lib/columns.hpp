#pragma once
#include <cstdint>
#include <vector>

#include "utils/matrix.hpp"

namespace tabseam {

// Columns in which no cell holds a number, ascending. With no rows, every
// column qualifies.
std::vector<std::uint64_t> all_empty_column(const norvale::Matrix& matrix);

}  // namespace tabseam
