#include "imputer/svm/svm_problem.hpp"

#include <climits>
#include <cmath>

namespace norvale {

std::span<const svm_node> SvmProblem::features(std::size_t i) const {
    return std::span(nodes_).subspan(starts_[i], starts_[i + 1] - starts_[i]);
}

svm_problem SvmProblem::view() {
    row_pointers_.resize(size());
    for (std::size_t i = 0; i < size(); ++i) row_pointers_[i] = nodes_.data() + starts_[i];
    // LIBSVM reads through non-const pointers but writes neither labels nor nodes.
    return svm_problem{static_cast<int>(size()), labels_.data(), row_pointers_.data()};
}

SvmProblem create_problem(const Matrix& filled, const Matrix& original, std::size_t column,
                          bool keep_missing) {
    const std::size_t cols = filled.cols();
    if (cols > static_cast<std::size_t>(INT_MAX) + 1) panic("feature index beyond LIBSVM's int");
    auto selected = [&](std::size_t row) { return std::isnan(original(row, column)) == keep_missing; };
    std::size_t count = 0;
    for (std::size_t row = 0; row < original.rows(); ++row) count += selected(row);

    SvmProblem problem;
    problem.labels_.reserve(count);
    problem.source_rows_.reserve(count);
    problem.starts_.reserve(count + 1);
    problem.nodes_.reserve(count * cols);  // at most cols - 1 features and the terminator
    for (std::size_t row = 0; row < original.rows(); ++row) {
        if (!selected(row)) continue;
        const double target = original(row, column);
        problem.labels_.push_back(target);
        problem.source_rows_.push_back(row);
        problem.starts_.push_back(problem.nodes_.size());
        const auto values = filled.row(row);
        for (std::size_t j = 0; j < cols; ++j) {
            // Exact zeros are left out; the filled table holds no NaN.
            if (j == column || values[j] == 0.0 || std::isnan(values[j])) continue;
            const int index = static_cast<int>(j < column ? j + 1 : j);
            problem.nodes_.push_back({index, values[j]});
            if (index > problem.largest_index_) problem.largest_index_ = index;
        }
        problem.nodes_.push_back({-1, 0.0});
    }
    problem.starts_.push_back(problem.nodes_.size());
    return problem;
}

svm_parameter training_parameters(int svm_type, int kernel_type, const SvmProblem& problem) {
    svm_parameter parameters{};
    parameters.svm_type = svm_type;
    parameters.kernel_type = kernel_type;
    parameters.degree = 3;
    parameters.gamma = problem.largest_index() > 0 ? 1.0 / problem.largest_index() : 0.0;
    parameters.coef0 = 0.0;
    parameters.cache_size = 100.0;
    parameters.eps = 0.001;
    parameters.C = 1.0;
    parameters.nr_weight = 0;
    parameters.weight_label = nullptr;
    parameters.weight = nullptr;
    parameters.nu = 0.5;
    parameters.p = 0.1;
    parameters.shrinking = 1;
    parameters.probability = 0;
    return parameters;
}

}  // namespace norvale
