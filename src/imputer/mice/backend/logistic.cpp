// The one-vs-rest indicator classifier: least squares against a 0/1
// indicator per class, the largest score wins.
#include <algorithm>
#include <bit>
#include <climits>
#include <format>
#include <unordered_set>

#include "imputer/mice/backend/models.hpp"
#include "lib/label_encoding.hpp"
#include "utils/parallel.hpp"

namespace norvale::mice {
namespace {

// A key whose unsigned order is the IEEE-754 total order of the doubles.
std::uint64_t total_order_key(double value) {
    const auto bits = std::bit_cast<std::uint64_t>(value);
    return (bits >> 63) ? ~bits : bits | (std::uint64_t{1} << 63);
}

// Indicator targets per solve are capped at about this many cells, so that a
// column with very many labels solves its classes in several batches instead
// of one huge right-hand side.
constexpr std::size_t kTargetCellsPerSolve = std::size_t{1} << 20;

}  // namespace

Result<std::pair<std::size_t, double>> argmax(std::span<const double> values) {
    if (values.empty())
        return std::unexpected(Errors::invalid_operation("computing argmax on empty array!"));
    std::size_t best = 0;
    for (std::size_t i = 1; i < values.size(); ++i)
        if (total_order_key(values[i]) >= total_order_key(values[best])) best = i;
    return std::pair{best, values[best]};
}

// All classes share one factorisation per batch: DGELSD solves the batch's
// indicator columns as right-hand sides of a single call, which gives each
// class the solution its own solve would.
Status fit_model(LogisticRegression& model, DesignMatrix&& x, std::span<const double> y) {
    const auto labels = parallel_map<std::uint64_t>(
        y.size(), [&](std::size_t i) { return tabseam::saturating_code(y[i]); });
    const std::size_t classes = std::unordered_set<std::uint64_t>(labels.begin(), labels.end()).size();
    model.n_classes = classes;

    const Block block = x.block(model.bias);
    const std::size_t rows = block.rows, width = block.cols;
    const std::size_t per_solve =
        std::max<std::size_t>(1, kTargetCellsPerSolve / std::max<std::size_t>(rows, 1));
    const std::size_t batches = (classes + per_solve - 1) / per_solve;
    Matrix weights(classes, width, 0.0);
    SendPtr<double> out(weights.cells().data());

    auto solve_batch = [&](std::size_t batch) -> Result<bool> {
        const std::size_t first = batch * per_solve;
        const std::size_t count = std::min(per_solve, classes - first);
        std::vector<double> targets(rows * count, 0.0);
        for (std::size_t i = 0; i < rows; ++i)
            if (labels[i] >= first && labels[i] < first + count)
                targets[(labels[i] - first) * rows + i] = 1.0;
        // The only batch may work in x itself; several need their own copy.
        std::vector<double> copy;
        Block a = block;
        if (batches > 1) {
            copy.assign(block.data, block.data + rows * width);
            a.data = copy.data();
        }
        NV_ASSIGN_OR_RETURN(auto solutions, least_squares(a, targets, count));
        for (std::size_t c = 0; c < count; ++c)
            std::copy_n(solutions.data() + c * width, width, &out[(first + c) * width]);
        return true;
    };
    auto solved = try_parallel_map<bool>(batches, solve_batch);
    // Stored even after a failure; the caller discards such a model.
    model.coefficients = std::move(weights);
    if (!solved) return std::unexpected(std::move(solved).error());
    return ok();
}

Result<std::vector<double>> predict_model(const LogisticRegression& model, const DesignMatrix& x) {
    if (!model.coefficients) return std::unexpected(Errors::not_fitted());
    const Matrix& weights = *model.coefficients;
    const ConstBlock block = x.block(model.bias);
    NV_RETURN_IF_ERROR(check_width(weights.cols(), block.cols));
    const std::size_t classes = weights.rows();
    // A restored matrix with no columns can claim any number of rows.
    const auto cells = Matrix::cell_count(block.rows, classes);
    if (!cells || classes > static_cast<std::size_t>(INT_MAX))
        return std::unexpected(Errors::shape_mismatch(
            "IncompatibleShape", std::format("{} classes are more than can be scored", classes)));
    const auto scores_by_row = scores(block, weights.cells(), classes);
    return try_parallel_map<double>(block.rows, [&](std::size_t i) -> Result<double> {
        NV_ASSIGN_OR_RETURN(const auto best,
                            argmax({scores_by_row.data() + i * classes, classes}));
        return static_cast<double>(best.first);
    });
}

}  // namespace norvale::mice
