#include "imputer/knn/neighbours.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <memory>

#include <oneapi/tbb/parallel_sort.h>

#include "utils/parallel.hpp"

namespace norvale::knn {
namespace {

// Donor blocks measured by one task of the nested distance loop: large
// enough that the loop costs nothing when the row loop already keeps every
// worker busy, small enough to spread a few rows over a large table.
constexpr std::size_t kBlocksPerTask = 64;

// Missing columns of one row beyond which their averages run in parallel.
constexpr std::size_t kSequentialColumns = 100;

// Rows the selection scan compares with its bound at once.
constexpr std::size_t kScanChunk = 16;

// Full sorts of at least this many rows use the parallel sort.
constexpr std::size_t kParallelSortRows = 1 << 15;

// How many nearest rows to select first: enough that a column with a tenth
// of its cells missing almost never runs out of donors.
std::size_t initial_selection(std::uint64_t k, std::size_t rows) {
    const std::uint64_t wanted = std::max<std::uint64_t>(k, 1);
    if (wanted >= rows / 4) return rows;
    return std::min<std::size_t>(rows, 2 * wanted + 32);
}

std::size_t grown_selection(std::size_t current, std::size_t rows) {
    return current >= rows / 4 ? rows : current * 4;
}

std::vector<std::size_t> missing_columns(Row row) {
    std::vector<std::size_t> missing;
    for (std::size_t j = 0; j < row.size(); ++j)
        if (std::isnan(row[j])) missing.push_back(j);
    return missing;
}

// out[i] = distance(query, fitted row i), for the padded rows too.
void measure(const Distance& distance, Row query, const DonorColumns& donors, double* out) {
    tbb::parallel_for(tbb::blocked_range<std::size_t>(0, donors.blocks(), kBlocksPerTask),
                      [&](const tbb::blocked_range<std::size_t>& range) {
                          for (std::size_t b = range.begin(); b != range.end(); ++b)
                              distance.block(query, donors.block(b), donors.stride(),
                                             out + b * kBlockLanes);
                      });
}

struct RowTask {
    const Matrix& x;
    const Matrix& data;
    const DonorColumns& donors;
    const Distance& distance;
    Weights weights;
    std::uint64_t k;
    SendPtr<double> out;

    // Fills the missing cells of row r of the output, and only those.
    void fill(std::size_t r) const {
        const Row query = x.row(r);
        const auto missing = missing_columns(query);
        if (missing.empty()) return;
        const auto buffer = std::make_unique_for_overwrite<double[]>(donors.stride());
        measure(distance, query, donors, buffer.get());
        const std::span<const double> distances(buffer.get(), donors.rows());

        std::size_t selected = initial_selection(k, distances.size());
        while (true) {
            const auto order = nearest(distances, selected);
            const bool complete = selected == distances.size();
            const auto values = averages(missing, order, distances, complete);
            if (std::ranges::all_of(values, [](const auto& v) { return v.has_value(); })) {
                for (std::size_t i = 0; i < missing.size(); ++i)
                    out[r * x.cols() + missing[i]] = *values[i];
                return;
            }
            selected = grown_selection(selected, distances.size());
        }
    }

    std::vector<std::optional<double>> averages(std::span<const std::size_t> missing,
                                                std::span<const Candidate> order,
                                                std::span<const double> distances,
                                                bool complete) const {
        const auto one = [&](std::size_t i) {
            return average(data, missing[i], order, distances, weights, k, complete);
        };
        if (missing.size() > kSequentialColumns)
            return parallel_map<std::optional<double>>(missing.size(), one);
        std::vector<std::optional<double>> values;
        values.reserve(missing.size());
        for (std::size_t i = 0; i < missing.size(); ++i) values.push_back(one(i));
        return values;
    }
};

}  // namespace

std::int64_t total_order_key(double value) {
    // Negative values have their magnitude bits flipped, so that a larger
    // magnitude gives a smaller integer; non-negative ones keep their bits.
    const auto bits = std::bit_cast<std::int64_t>(value);
    return bits ^ static_cast<std::int64_t>(static_cast<std::uint64_t>(bits >> 63) >> 1);
}

std::vector<Candidate> nearest(std::span<const double> distances, std::size_t count) {
    const std::size_t rows = distances.size();
    count = std::min(count, rows);
    std::vector<Candidate> best;
    best.reserve(count);
    for (std::size_t i = 0; i < count; ++i) best.push_back({total_order_key(distances[i]), i});
    if (count == rows) {
        if (rows >= kParallelSortRows)
            tbb::parallel_sort(best.begin(), best.end());
        else
            std::sort(best.begin(), best.end());
        return best;
    }
    if (count == 0) return best;
    // A max-heap of the best so far; a later row with an equal key is never
    // nearer, because its index is larger.
    std::make_heap(best.begin(), best.end());
    const auto offer = [&](std::size_t i) {
        const std::int64_t key = total_order_key(distances[i]);
        if (key >= best.front().key) return;
        std::pop_heap(best.begin(), best.end());
        best.back() = {key, i};
        std::push_heap(best.begin(), best.end());
    };
    // Most rows are farther than the worst kept one. A chunk is looked at
    // row by row only when one of its distances is not plainly greater than
    // that one's (NaN never is), so the common case is a vectorised scan.
    for (std::size_t first = count; first < rows; first += kScanChunk) {
        const std::size_t end = std::min(rows, first + kScanChunk);
        const double bound = distances[best.front().row];
        bool candidates = false;
        for (std::size_t i = first; i < end; ++i) candidates |= !(distances[i] > bound);
        if (!candidates) continue;
        for (std::size_t i = first; i < end; ++i) offer(i);
    }
    std::sort_heap(best.begin(), best.end());
    return best;
}

double donor_weight(double distance, Weights weights) {
    if (weights == Weights::Uniform) return 1.0;
    // fmax takes the floor for NaN; an infinite distance gives weight 0.
    return 1.0 / std::fmax(distance, kWeightFloor);
}

std::optional<double> average(const Matrix& data, std::size_t column,
                              std::span<const Candidate> order, std::span<const double> distances,
                              Weights weights, std::uint64_t k, bool order_is_complete) {
    double total = 0.0;
    double weight_sum = 0.0;
    std::uint64_t count = 0;
    for (const Candidate& candidate : order) {
        const double value = data(candidate.row, column);
        if (std::isnan(value)) continue;
        const double weight = donor_weight(distances[candidate.row], weights);
        total += value * weight;
        weight_sum += weight;
        ++count;
        // Tested after each accepted donor, so k = 0 takes one.
        if (count >= k) return total / weight_sum;
    }
    if (!order_is_complete) return std::nullopt;
    return total / weight_sum;  // 0 / 0 = NaN when no row has a value
}

DonorColumns::DonorColumns(const Matrix& data)
    : rows_(data.rows()),
      stride_((data.rows() + kBlockLanes - 1) / kBlockLanes * kBlockLanes),
      // Never empty, so that block pointers stay valid for a table without columns.
      cells_(std::max<std::size_t>(1, data.cols() * stride_),
             std::numeric_limits<double>::quiet_NaN()) {
    for (std::size_t i = 0; i < rows_; ++i)
        for (std::size_t j = 0; j < data.cols(); ++j) cells_[j * stride_ + i] = data(i, j);
}

Matrix impute_rows(const Matrix& x, const Matrix& data, const Distance& distance, Weights weights,
                   std::uint64_t k) {
    if (x.cols() != data.cols()) panic("rows to impute and fitted rows differ in columns");
    Matrix out = x;
    const DonorColumns donors(data);
    const RowTask task{x, data, donors, distance, weights, k, SendPtr<double>(out.cells().data())};
    parallel_for_each(x.rows(), [&](std::size_t r) { task.fill(r); });
    return out;
}

}  // namespace norvale::knn
