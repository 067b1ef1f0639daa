#pragma once
// A forest of regression trees whose prediction is the sum of its trees'
// predictions divided by the configured tree count. Nothing grows trees yet,
// so a new forest has none and predicts 0 ÷ n_trees for every row.
#include <cstdint>
#include <vector>

#include "imputer/missforest/backend/decision_tree.hpp"
#include "utils/matrix.hpp"

namespace norvale {

struct RandomForest {
    std::vector<DecisionTree> trees;
    std::uint64_t n_trees = 0;  // the divisor, whatever `trees` holds
    std::uint64_t max_depth = 0;
    std::uint64_t min_samples_leaf = 0;
    std::uint64_t seed = 0;

    // A forest without trees.
    static RandomForest create(std::uint64_t n_trees, std::uint64_t max_depth,
                               std::uint64_t min_samples_leaf, std::uint64_t seed);

    // One prediction per row of `table`: the trees' sum over `n_trees`
    // (0 when n_trees ≥ 1 and there are no trees, NaN when n_trees is 0).
    std::vector<double> transform(const Matrix& table) const;
};

}  // namespace norvale
