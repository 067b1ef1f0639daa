#pragma once
// The per-column regression models of the MICE imputer. Every model is a
// value of `Solver`; `fit` and `predict` dispatch on it. The structs are also
// their state records (the variant index is the persisted tag).
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string_view>
#include <tuple>
#include <utility>
#include <variant>
#include <vector>

#include "codec/state_codec.hpp"
#include "imputer/mice/backend/linalg.hpp"
#include "imputer/mice/backend/xoshiro.hpp"
#include "utils/box.hpp"
#include "utils/errors.hpp"
#include "utils/matrix.hpp"

namespace norvale::mice {

// A feature block as the models take it: column-major, column 0 all ones and
// columns 1..p the features. A model with an intercept uses the whole block,
// one without only the feature columns, so the ones column costs no copy.
class DesignMatrix {
public:
    DesignMatrix() = default;
    // Ones in column 0, zeros in the feature columns.
    DesignMatrix(std::size_t rows, std::size_t features);

    std::size_t rows() const { return rows_; }
    std::size_t features() const { return features_; }
    std::span<double> feature(std::size_t j) { return {cells_.data() + (j + 1) * rows_, rows_}; }
    std::span<const double> feature(std::size_t j) const {
        return {cells_.data() + (j + 1) * rows_, rows_};
    }

    // With `bias`, the whole block; otherwise the feature columns alone.
    Block block(bool bias) { return {cells_.data() + (bias ? 0 : rows_), rows_, features_ + bias}; }
    ConstBlock block(bool bias) const {
        return {cells_.data() + (bias ? 0 : rows_), rows_, features_ + bias};
    }

private:
    std::size_t rows_ = 0;
    std::size_t features_ = 0;
    std::vector<double> cells_;
};

// x (n × p, row-major) with a column of ones put first.
DesignMatrix add_bias_column(const Matrix& x);

// Ordinary least squares.
struct LinearRegression {
    std::optional<codec::Array1> coefficients;  // intercept first when `bias`
    bool bias = true;

    static auto fields(auto& self) { return std::tie(self.coefficients, self.bias); }
};

// One-vs-rest indicator regression: class c gets a least-squares fit to the
// indicator of label c, and a row goes to the class with the largest score.
struct LogisticRegression {
    std::optional<Matrix> coefficients;  // n_classes rows, intercept in column 0 when `bias`
    std::uint64_t n_classes = 0;
    bool bias = true;

    static auto fields(auto& self) {
        return std::tie(self.coefficients, self.n_classes, self.bias);
    }
};

// L2-penalised least squares on centred features; the intercept is not
// penalised.
struct Ridge {
    double alpha = 1.0;
    std::optional<codec::Array1> coefficients;  // intercept first when `bias`
    bool bias = true;

    static auto fields(auto& self) { return std::tie(self.alpha, self.coefficients, self.bias); }
};

// The donor generator of one PMM model. Draws lock the mutex, so a model
// shared read-only between tasks still draws in a well-defined order; a copy
// takes over the generator state with a fresh mutex.
class GuardedRng {
public:
    GuardedRng() = default;
    GuardedRng(const GuardedRng& other) : generator_(other.snapshot()) {}
    GuardedRng& operator=(const GuardedRng& other) {
        if (this != &other) {
            const auto state = other.snapshot();
            std::lock_guard lock(mutex_);
            generator_ = state;
        }
        return *this;
    }

    // A uniform index below n ≥ 1.
    std::uint64_t index_below(std::uint64_t n) const {
        std::lock_guard lock(mutex_);
        return generator_.index_below(n);
    }
    Xoshiro256pp snapshot() const {
        std::lock_guard lock(mutex_);
        return generator_;
    }

private:
    mutable std::mutex mutex_;
    mutable Xoshiro256pp generator_;
};

struct PMM;
using Solver = std::variant<LinearRegression, LogisticRegression, PMM, Ridge>;

// Predictive mean matching: each prediction of the wrapped model is replaced
// by an observed value drawn from the `n_neighbors` observed values closest
// to it, so imputed cells only take values that occur in the data.
struct PMM {
    std::uint64_t n_neighbors = 5;
    std::optional<codec::Array1> pool;  // observed targets of the last fit, in row order
    Box<Solver> model;
    GuardedRng rng;  // not persisted: a restored model starts from the initial state

    static auto fields(auto& self) { return std::tie(self.n_neighbors, self.pool, self.model); }

    // A PMM around a new LinearRegression ("linear") or Ridge ("ridge",
    // with `alpha`); names are compared in lower case.
    static Result<PMM> create(std::uint64_t n_neighbors, std::string_view backend, double alpha);
};

// Fits `model` on the block x (rows without missing cells) and the observed
// targets y. Consumes x: LAPACK works in its storage.
Status fit(Solver& model, DesignMatrix&& x, std::span<const double> y);

// One prediction per row of x.
Result<std::vector<double>> predict(const Solver& model, const DesignMatrix& x);

// Index and value of the largest element under the IEEE-754 total order,
// the last of equal maxima; InvalidOperation for an empty slice.
Result<std::pair<std::size_t, double>> argmax(std::span<const double> values);

// The donors of one prediction among `pool` for k = n_neighbors < pool size:
// the k closest values in slot order (slots fill from k − 1 down, then a
// strictly closer value replaces the farthest, highest-numbered slot).
std::vector<double> select_donors(std::span<const double> pool, double prediction,
                                  std::size_t k);

// One of `donors` drawn uniformly; NaN without a draw when there are none.
double sample(const PMM& model, std::span<const double> donors);

}  // namespace norvale::mice
