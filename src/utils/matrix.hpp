#pragma once
// The dense table every imputer works on: rows are samples, columns features,
// row-major f64 cells, NaN for a missing cell.
#include <cmath>
#include <cstddef>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "utils/panic.hpp"

namespace norvale {

class Matrix {
public:
    Matrix() = default;
    Matrix(std::size_t rows, std::size_t cols, double fill = 0.0)
        : rows_(rows), cols_(cols), cells_(checked_size(rows, cols), fill) {}
    // Takes `cells` in row-major order; their count must be rows × cols.
    Matrix(std::size_t rows, std::size_t cols, std::vector<double> cells)
        : rows_(rows), cols_(cols), cells_(std::move(cells)) {
        if (cells_.size() != checked_size(rows, cols)) panic("matrix cells do not match its shape");
    }

    std::size_t rows() const { return rows_; }
    std::size_t cols() const { return cols_; }
    std::size_t size() const { return cells_.size(); }

    double& operator()(std::size_t r, std::size_t c) { return cells_[r * cols_ + c]; }
    double operator()(std::size_t r, std::size_t c) const { return cells_[r * cols_ + c]; }

    std::span<double> cells() { return cells_; }
    std::span<const double> cells() const { return cells_; }
    std::span<double> row(std::size_t r) { return {cells_.data() + r * cols_, cols_}; }
    std::span<const double> row(std::size_t r) const { return {cells_.data() + r * cols_, cols_}; }

    // rows × cols, or nothing when the product does not fit in a size_t.
    static std::optional<std::size_t> cell_count(std::size_t rows, std::size_t cols) {
        std::size_t product = 0;
        if (__builtin_mul_overflow(rows, cols, &product)) return std::nullopt;
        return product;
    }

    friend bool operator==(const Matrix&, const Matrix&) = default;

private:
    static std::size_t checked_size(std::size_t rows, std::size_t cols) {
        auto product = cell_count(rows, cols);
        if (!product) panic("matrix shape overflows");
        return *product;
    }

    std::size_t rows_ = 0;
    std::size_t cols_ = 0;
    std::vector<double> cells_;
};

}  // namespace norvale
