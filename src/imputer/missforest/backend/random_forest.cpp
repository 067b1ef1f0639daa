#include "imputer/missforest/backend/random_forest.hpp"

namespace norvale {

RandomForest RandomForest::create(std::uint64_t n_trees, std::uint64_t max_depth,
                                  std::uint64_t min_samples_leaf, std::uint64_t seed) {
    return RandomForest{{}, n_trees, max_depth, min_samples_leaf, seed};
}

std::vector<double> RandomForest::transform(const Matrix& table) const {
    std::vector<double> sum(table.rows(), 0.0);
    // Trees are added in list order so the sum does not depend on scheduling.
    for (const DecisionTree& tree : trees) {
        const auto predictions = tree.predict(table);
        for (std::size_t row = 0; row < sum.size(); ++row) sum[row] += predictions[row];
    }
    const auto divisor = static_cast<double>(n_trees);
    for (double& value : sum) value /= divisor;
    return sum;
}

}  // namespace norvale
