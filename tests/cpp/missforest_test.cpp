// Tree and forest prediction on hand-built trees, forest seeding, and the
// model's fill: predictions land only in missing cells, each column predicted
// from the mean-filled other columns.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "imputer/missforest/backend/decision_tree.hpp"
#include "imputer/missforest/backend/generators.hpp"
#include "imputer/missforest/backend/random_forest.hpp"
#include "imputer/missforest/model/missforest.hpp"
#include "utils/panic.hpp"

namespace norvale {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

DecisionTree tree_of(Node root) { return DecisionTree{std::move(root)}; }

// x[feature] <= threshold gives `left`, anything else `right`.
DecisionTree stump(std::uint64_t feature, double threshold, double left, double right) {
    return tree_of(Node::split(feature, threshold, Node::leaf(left), Node::leaf(right)));
}

Matrix column_of(std::vector<double> values) {
    const std::size_t rows = values.size();
    return Matrix(rows, 1, std::move(values));
}

// Compares cell by cell, NaN equal to NaN.
void expect_same(const std::vector<double>& got, const std::vector<double>& expected) {
    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        if (std::isnan(expected[i]))
            EXPECT_TRUE(std::isnan(got[i])) << "at " << i << ": " << got[i];
        else
            EXPECT_EQ(got[i], expected[i]) << "at " << i;
    }
}

TEST(DecisionTree, LeafPredictsItsValueForEveryRow) {
    const auto tree = tree_of(Node::leaf(7.5));
    expect_same(tree.predict(column_of({1.0, kNaN, -3.0})), {7.5, 7.5, 7.5});
}

TEST(DecisionTree, ThresholdGoesLeftAboveAndNaNGoRight) {
    const auto tree = stump(0, 2.5, -1.0, 1.0);
    expect_same(tree.predict(column_of({2.5, 2.6, kNaN, -100.0})), {-1.0, 1.0, 1.0, -1.0});
}

TEST(DecisionTree, DeeperTreeReadsTheFeatureOfEachSplit) {
    // x1 <= 0 ? (x0 <= 10 ? 1 : 2) : 3
    const auto tree = tree_of(Node::split(
        1, 0.0, Node::split(0, 10.0, Node::leaf(1.0), Node::leaf(2.0)), Node::leaf(3.0)));
    const Matrix rows(4, 2, {5.0, -1.0, 11.0, 0.0, 5.0, 0.5, kNaN, -2.0});
    expect_same(tree.predict(rows), {1.0, 2.0, 3.0, 2.0});
}

TEST(DecisionTree, InvariantFailuresPanic) {
    EXPECT_THROW(DecisionTree{}.predict(column_of({1.0})), Panic);
    EXPECT_THROW(stump(1, 0.0, 0.0, 0.0).predict(column_of({1.0})), Panic);
}

TEST(RandomForest, WithoutTreesPredictsZeroOverTheConfiguredCount) {
    expect_same(RandomForest::create(15, 15, 5, 0).transform(column_of({1.0, kNaN})), {0.0, 0.0});
    expect_same(RandomForest::create(0, 15, 5, 0).transform(column_of({1.0, kNaN})), {kNaN, kNaN});
    EXPECT_TRUE(RandomForest::create(15, 15, 5, 0).transform(Matrix(0, 3)).empty());
}

TEST(RandomForest, SumsTreesAndDividesByNTreesNotByTheTreeCount) {
    auto forest = RandomForest::create(4, 15, 5, 0);
    forest.trees.push_back(tree_of(Node::leaf(1.0)));
    forest.trees.push_back(stump(0, 0.0, 3.0, 7.0));
    expect_same(forest.transform(column_of({-1.0, 1.0})), {1.0, 2.0});
}

std::vector<std::uint64_t> forest_seeds(const MissForest& model) {
    std::vector<std::uint64_t> seeds;
    for (const auto& forest : model.forests) seeds.push_back(forest.seed);
    return seeds;
}

const Matrix kTable(3, 3, {1.0, kNaN, 10.0,
                           3.0, 4.0, kNaN,
                           kNaN, 8.0, 30.0});

TEST(MissForestModel, ForestSeedsAreTheGeneratorsU64sInColumnOrder) {
    auto model = MissForest::create(15, 15, 5, 42, std::nullopt);
    ASSERT_TRUE(model.fit(kTable));
    auto generator = ChaCha12Rng::from_seed(42);
    const std::vector<std::uint64_t> first = {generator.next_u64(), generator.next_u64(),
                                              generator.next_u64()};
    EXPECT_EQ(forest_seeds(model), first);
    for (const auto& forest : model.forests) {
        EXPECT_EQ(forest.n_trees, 15u);
        EXPECT_EQ(forest.max_depth, 15u);
        EXPECT_EQ(forest.min_samples_leaf, 5u);
        EXPECT_TRUE(forest.trees.empty());
    }
    // A further fit continues the sequence instead of starting it again.
    ASSERT_TRUE(model.fit(kTable));
    const std::vector<std::uint64_t> second = {generator.next_u64(), generator.next_u64(),
                                               generator.next_u64()};
    EXPECT_EQ(forest_seeds(model), second);
}

TEST(MissForestModel, SameSeedGivesEqualForestSeeds) {
    auto a = MissForest::create(15, 15, 5, 7, std::nullopt);
    auto b = MissForest::create(3, 1, 1, 7, std::nullopt);
    auto c = MissForest::create(15, 15, 5, 8, std::nullopt);
    ASSERT_TRUE(a.fit(kTable) && b.fit(kTable) && c.fit(kTable));
    EXPECT_EQ(forest_seeds(a), forest_seeds(b));
    EXPECT_NE(forest_seeds(a), forest_seeds(c));
}

TEST(MissForestModel, UnseededImputersDrawDifferentSeeds) {
    auto a = MissForest::create(15, 15, 5, std::nullopt, std::nullopt);
    auto b = MissForest::create(15, 15, 5, std::nullopt, std::nullopt);
    ASSERT_TRUE(a.fit(kTable) && b.fit(kTable));
    EXPECT_NE(forest_seeds(a), forest_seeds(b));
}

TEST(MissForestModel, OnlyMissingCellsTakeThePrediction) {
    for (const auto& [n_trees, fill] : {std::pair{15ULL, 0.0}, std::pair{0ULL, kNaN}}) {
        auto model = MissForest::create(n_trees, 15, 5, 1, std::nullopt);
        ASSERT_TRUE(model.fit(kTable));
        const auto filled = model.impute(kTable);
        ASSERT_TRUE(filled);
        expect_same({filled->cells().begin(), filled->cells().end()},
                    {1.0, fill, 10.0, 3.0, 4.0, fill, fill, 8.0, 30.0});
    }
}

TEST(MissForestModel, EachColumnIsPredictedFromTheMeanFilledOtherColumns) {
    // Means 2, 6, 20, so the mean-filled rows are (1, 6, 10), (3, 4, 20) and
    // (2, 8, 30). Each forest is a stump on predictor 1, which is the column
    // after the target once the target is cut out; the thresholds sit where
    // reading the uncut row would go the other way.
    auto model = MissForest::create(1, 15, 5, 1, std::nullopt);
    ASSERT_TRUE(model.fit(Matrix(2, 3, {1.0, 4.0, 10.0, 3.0, 8.0, 30.0})));
    // Row 2, column 0: predictor 1 is column 2 (30), not column 1 (8).
    model.forests[0].trees.push_back(stump(1, 25.0, -1.0, 100.0));
    // Row 0, column 1: predictor 1 is column 2 (10), not the mean 6.
    model.forests[1].trees.push_back(stump(1, 8.0, -2.0, 200.0));
    // Row 1, column 2: predictor 1 is column 1 (4).
    model.forests[2].trees.push_back(stump(1, 5.0, 300.0, -3.0));
    const auto filled = model.impute(kTable);
    ASSERT_TRUE(filled);
    expect_same({filled->cells().begin(), filled->cells().end()},
                {1.0, 200.0, 10.0, 3.0, 4.0, 300.0, 100.0, 8.0, 30.0});
}

TEST(MissForestModel, PredictorsUseMeansNotOtherColumnsPredictions) {
    // Row 0 misses both columns. Column 0's forest predicts 1000 there; if
    // column 1's forest read that instead of the mean (2), it would go right.
    auto model = MissForest::create(1, 15, 5, 1, std::nullopt);
    const Matrix table(3, 2, {kNaN, kNaN, 1.0, 2.0, 3.0, 2.0});
    ASSERT_TRUE(model.fit(table));
    model.forests[0].trees.push_back(tree_of(Node::leaf(1000.0)));
    model.forests[1].trees.push_back(stump(0, 500.0, 7.0, -7.0));
    const auto filled = model.impute(table);
    ASSERT_TRUE(filled);
    expect_same({filled->cells().begin(), filled->cells().end()}, {1000.0, 7.0, 1.0, 2.0, 3.0, 2.0});
}

TEST(MissForestModel, EmptyTablesAndAllMissingColumns) {
    auto model = MissForest::create(15, 15, 5, 1, std::nullopt);
    ASSERT_TRUE(model.fit(Matrix(0, 2)));
    EXPECT_EQ(model.impute(Matrix(0, 2))->rows(), 0u);
    // A column with no observed cell has a NaN mean; its cells still take
    // the forest's prediction.
    const Matrix table(2, 2, {1.0, kNaN, 2.0, kNaN});
    ASSERT_TRUE(model.fit(table));
    const auto filled = model.impute(table);
    ASSERT_TRUE(filled);
    expect_same({filled->cells().begin(), filled->cells().end()}, {1.0, 0.0, 2.0, 0.0});
}

}  // namespace
}  // namespace norvale
