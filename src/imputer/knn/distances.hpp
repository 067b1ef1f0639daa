#pragma once
// Distances between two rows that may both hold missing cells (NaN). Each is
// a single pass over the columns in ascending order without allocation, and
// each exists in two shapes built from one kernel, so both give the same bits:
//
//   pair    distance(x, y) between two rows
//   block   distances from one query row to kBlockLanes donor rows at once;
//           the donors are stored column-major (donor b's value of column j
//           at donors[j * stride + b]), so every lane keeps its own sums in
//           column order while the lanes fill SIMD registers.
//
// None of them rescales the data: values are compared as they stand.
#include <cstddef>
#include <cstdint>
#include <span>

namespace norvale::knn {

using Row = std::span<const double>;

// Number of donors one block call measures.
inline constexpr std::size_t kBlockLanes = 16;

// What gower reads besides the two rows, prepared at fit: the label-encoded
// columns, the other columns, and the span of every column.
struct GowerColumns {
    std::span<const std::uint64_t> cat_cols;
    std::span<const std::uint64_t> num_cols;
    std::span<const double> spans;
};

// Squared Euclidean distance over the columns present in both rows, scaled by
// n / (number of such columns); +inf when there is none. No square root.
double nan_euclid(Row x, Row y);

// Sum of fixed penalties for missing cells (0.333 when both are missing,
// max(v, 1 - v) when only one is, v being the other value) plus the Euclidean
// distance over the columns present in both rows.
double expected_distance(Row x, Row y);

// Mean per-column dissimilarity: min(|x - y|, 1) for label-encoded columns,
// |x / span - y / span| for numeric ones, over the pairs where both values
// are present; +inf when no pair counts. A numeric column of span 0 (constant
// in the fitted data) is passed over like a missing pair, so a constant
// column never makes the distance NaN.
double gower(const GowerColumns& columns, Row x, Row y);

// Block forms: out[b] = distance(query, donor b) for b < kBlockLanes.
void nan_euclid_block(Row query, const double* donors, std::size_t stride, double* out);
void expected_distance_block(Row query, const double* donors, std::size_t stride, double* out);
void gower_block(const GowerColumns& columns, Row query, const double* donors,
                 std::size_t stride, double* out);

// The distance one transform uses, picked once and then called per block.
struct Distance {
    enum class Kind { NanEuclid, ExpectedDistance, Gower };
    Kind kind = Kind::NanEuclid;
    GowerColumns gower;  // read by Gower only

    double pair(Row x, Row y) const;
    void block(Row query, const double* donors, std::size_t stride, double* out) const;
};

}  // namespace norvale::knn
