#pragma once
// The brute-force neighbour search of the KNN imputer: every row with a
// missing cell is compared with every fitted row, the fitted rows are ordered
// by distance, and each missing column takes the weighted mean of the first
// k rows in that order that have a value there.
//
// Only as much of the order is built as the walk needs: the nearest few rows
// are selected first and the selection grows when a column runs out of
// donors, so the result is that of a full sort. Equal distances are ordered
// by row index, which makes the output independent of scheduling.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "imputer/knn/distances.hpp"
#include "imputer/knn/metrics.hpp"
#include "utils/matrix.hpp"

namespace norvale::knn {

// Distances below this count as this for weighting (the f64 epsilon), so a
// donor at distance 0 or NaN gets weight 4503599627370496.
inline constexpr double kWeightFloor = 2.220446049250313e-16;

// The IEEE 754 totalOrder of doubles as signed integers: -NaN < -inf < ...
// < -0 < +0 < ... < +inf < +NaN, a NaN placed by its sign bit.
std::int64_t total_order_key(double value);

// A fitted row and its distance, ordered by (distance, row).
struct Candidate {
    std::int64_t key;  // total_order_key of the distance
    std::size_t row;
    friend auto operator<=>(const Candidate&, const Candidate&) = default;
};

// The `count` nearest rows in ascending order (all rows when count is at
// least their number).
std::vector<Candidate> nearest(std::span<const double> distances, std::size_t count);

double donor_weight(double distance, Weights weights);

// The weighted mean of `column` over the first k rows of `order` that have a
// value there (k = 0 acts as 1): NaN when no row has one. Nothing when
// `order` is only the head of the full order and ran out before k donors.
std::optional<double> average(const Matrix& data, std::size_t column,
                              std::span<const Candidate> order, std::span<const double> distances,
                              Weights weights, std::uint64_t k, bool order_is_complete);

// The fitted rows column-major, padded with NaN rows to whole blocks, as the
// block distances read them.
class DonorColumns {
public:
    explicit DonorColumns(const Matrix& data);
    std::size_t rows() const { return rows_; }
    std::size_t blocks() const { return stride_ / kBlockLanes; }
    std::size_t stride() const { return stride_; }
    const double* block(std::size_t index) const { return cells_.data() + index * kBlockLanes; }

private:
    std::size_t rows_;
    std::size_t stride_;  // rows rounded up to whole blocks
    std::vector<double> cells_;
};

// A copy of `x` whose missing cells hold the weighted means of their nearest
// rows of `data` (same column count), rows filled in parallel.
Matrix impute_rows(const Matrix& x, const Matrix& data, const Distance& distance, Weights weights,
                   std::uint64_t k);

}  // namespace norvale::knn
