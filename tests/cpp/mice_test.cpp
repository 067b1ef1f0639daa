// The MICE backends and the Mice record on small hand-checked problems.
// Comparisons with numpy and scikit-learn live in tests/python/test_mice.py.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "codec/state_codec.hpp"
#include "imputer/mice/backend/solver.hpp"
#include "imputer/mice/model/mice.hpp"

namespace norvale::mice {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

Matrix rows_of(std::size_t rows, std::size_t cols, std::vector<double> cells) {
    return Matrix(rows, cols, std::move(cells));
}

std::vector<double> coefficients(const Solver& model) {
    if (const auto* linear = std::get_if<LinearRegression>(&model)) return linear->coefficients->values;
    return std::get<Ridge>(model).coefficients->values;
}

// Fits on x (row-major) and y, failing the test on an error.
void fit_ok(Solver& model, const Matrix& x, const std::vector<double>& y) {
    auto status = fit(model, add_bias_column(x), y);
    ASSERT_TRUE(status) << status.error().render();
}

std::vector<double> predict_ok(const Solver& model, const Matrix& x) {
    auto out = predict(model, add_bias_column(x));
    EXPECT_TRUE(out) << out.error().render();
    return out ? *out : std::vector<double>{};
}

std::string fit_error(Solver model, const Matrix& x, const std::vector<double>& y) {
    auto status = fit(model, add_bias_column(x), y);
    return status ? "" : status.error().render();
}

TEST(DesignMatrix, OnesFirstThenTheFeatures) {
    const DesignMatrix block = add_bias_column(rows_of(3, 2, {1, 2, 3, 4, 5, 6}));
    const ConstBlock whole = block.block(true);
    EXPECT_EQ(whole.cols, 3u);
    EXPECT_EQ(std::vector<double>(whole.data, whole.data + 9),
              (std::vector<double>{1, 1, 1, 1, 3, 5, 2, 4, 6}));
    EXPECT_EQ(block.block(false).data, whole.data + 3);  // without the ones column
    EXPECT_EQ(add_bias_column(Matrix(2, 0)).block(true).cols, 1u);
}

// Linear and ridge models through the same fit/predict dispatch.
class RegressionModels : public testing::TestWithParam<Solver> {};

TEST_P(RegressionModels, ExactLineGivesInterceptFirst) {
    Solver model = GetParam();
    fit_ok(model, rows_of(4, 1, {0, 1, 2, 3}), {3, 5, 7, 9});
    const auto w = coefficients(model);
    ASSERT_EQ(w.size(), 2u);
    EXPECT_NEAR(w[0], 3.0, 1e-6);
    EXPECT_NEAR(w[1], 2.0, 1e-6);
    const auto out = predict_ok(model, rows_of(2, 1, {10, -1}));
    EXPECT_NEAR(out[0], 23.0, 1e-5);
    EXPECT_NEAR(out[1], 1.0, 1e-5);
}

TEST_P(RegressionModels, NoFeaturesPredictsTheMean) {
    Solver model = GetParam();
    fit_ok(model, Matrix(3, 0), {1, 2, 6});
    for (const double value : predict_ok(model, Matrix(2, 0))) EXPECT_NEAR(value, 3.0, 1e-12);
}

TEST_P(RegressionModels, PredictBeforeFitIsNotFitted) {
    auto out = predict(GetParam(), add_bias_column(Matrix(1, 1)));
    ASSERT_FALSE(out);
    EXPECT_EQ(out.error().render(), "This imputer is not fitted. Call fit before transform.");
}

TEST_P(RegressionModels, WeightsOfAnotherWidthAreAShapeError) {
    Solver model = GetParam();
    fit_ok(model, rows_of(3, 1, {0, 1, 2}), {1, 2, 3});
    auto out = predict(model, add_bias_column(Matrix(2, 3)));
    ASSERT_FALSE(out);
    EXPECT_EQ(out.error().python_class(), PythonClass::ValueError);
}

INSTANTIATE_TEST_SUITE_P(Mice, RegressionModels,
                         testing::Values(Solver(LinearRegression{}),
                                         Solver(Ridge{1e-9, std::nullopt, true})),
                         [](const auto& info) {
                             return std::string(info.param.index() == 0 ? "Linear" : "Ridge");
                         });

TEST(LinearRegression, MinimumNormOnRankDeficientAndWideBlocks) {
    Solver twins = LinearRegression{};
    fit_ok(twins, rows_of(4, 2, {0, 0, 1, 1, 2, 2, 3, 3}), {1, 3, 5, 7});
    const auto w = coefficients(twins);
    EXPECT_NEAR(w[1], 1.0, 1e-12);  // the common slope 2 split evenly
    EXPECT_NEAR(w[2], 1.0, 1e-12);

    Solver wide = LinearRegression{};
    fit_ok(wide, rows_of(2, 3, {1, 0, 0, 0, 1, 0}), {2, 4});
    const auto out = predict_ok(wide, rows_of(2, 3, {1, 0, 0, 0, 1, 0}));
    EXPECT_NEAR(out[0], 2.0, 1e-12);
    EXPECT_NEAR(out[1], 4.0, 1e-12);
}

TEST(LinearRegression, WithoutBiasFitsNoIntercept) {
    Solver model = LinearRegression{std::nullopt, false};
    fit_ok(model, rows_of(2, 1, {1, 2}), {2, 4});
    EXPECT_EQ(coefficients(model).size(), 1u);
    EXPECT_NEAR(coefficients(model)[0], 2.0, 1e-12);
}

TEST(Ridge, LargePenaltyPredictsTheMeanAndZeroPenaltyIsLeastSquares) {
    const Matrix x = rows_of(4, 2, {0, 1, 1, 0, 2, 2, 3, 1});
    const std::vector<double> y = {1, 2, 4, 3};
    Solver heavy = Ridge{1e12, std::nullopt, true};
    fit_ok(heavy, x, y);
    for (const double value : predict_ok(heavy, x)) EXPECT_NEAR(value, 2.5, 1e-9);

    Solver plain = Ridge{0.0, std::nullopt, true};
    Solver least = LinearRegression{};
    fit_ok(plain, x, y);
    fit_ok(least, x, y);
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_NEAR(coefficients(plain)[i], coefficients(least)[i], 1e-12);
}

TEST(Ridge, ZeroPenaltyOnAZeroSingularValueGivesNaN) {
    Solver model = Ridge{0.0, std::nullopt, true};
    fit_ok(model, rows_of(3, 2, {1, 5, 2, 5, 3, 5}), {1, 2, 3});  // a constant column
    EXPECT_TRUE(std::isnan(coefficients(model)[0]));
}

TEST(Ridge, EmptyBlockIsAnInvalidOperation) {
    EXPECT_EQ(fit_error(Ridge{}, Matrix(0, 2), {}),
              "Not a valid operation: compute mean on empty array");
}

TEST(Argmax, LastOfEqualMaximaUnderTheTotalOrder) {
    const std::vector<double> ties = {1, 3, 3};
    EXPECT_EQ(argmax(ties)->first, 2u);
    const std::vector<double> zeros = {0.0, -0.0};  // −0 ranks below +0
    EXPECT_EQ(argmax(zeros)->first, 0u);
    const std::vector<double> with_nan = {kNaN, std::numeric_limits<double>::infinity()};
    EXPECT_EQ(argmax(with_nan)->first, 0u);  // +NaN ranks above +∞
    auto empty = argmax(std::span<const double>{});
    ASSERT_FALSE(empty);
    EXPECT_EQ(empty.error().render(), "Not a valid operation: computing argmax on empty array!");
}

LogisticRegression fitted_classifier(const Matrix& x, const std::vector<double>& labels) {
    Solver model = LogisticRegression{};
    auto status = fit(model, add_bias_column(x), labels);
    EXPECT_TRUE(status);
    return std::get<LogisticRegression>(model);
}

TEST(LogisticRegression, OneRowOfWeightsPerClassAndSeparatedClassesPredicted) {
    const Matrix x = rows_of(6, 2, {0, 0, 0.1, 0, 5, 0, 5.1, 0.1, 0, 5, 0.1, 5.1});
    const auto model = fitted_classifier(x, {0, 0, 1, 1, 2, 2});
    EXPECT_EQ(model.n_classes, 3u);
    EXPECT_EQ(model.coefficients->rows(), 3u);
    EXPECT_EQ(model.coefficients->cols(), 3u);
    const auto out = predict(Solver(model), add_bias_column(x));
    EXPECT_EQ(*out, (std::vector<double>{0, 0, 1, 1, 2, 2}));
}

// Classes are the codes 0 … n_classes − 1, so no prediction reaches beyond.
TEST(LogisticRegression, LabelsAreTruncatedSaturatingCodes) {
    struct Case {
        std::vector<double> labels;
        std::uint64_t classes;
    };
    const Matrix x = rows_of(4, 1, {0, 1, 2, 3});
    for (const Case& c : {Case{{0, 0, 0, 0}, 1},
                          Case{{0, 0, 2, 2}, 2},  // class 1 fits an all-zero indicator
                          Case{{-1, -1, 2.7, 2.7}, 2}}) {
        const auto model = fitted_classifier(x, c.labels);
        EXPECT_EQ(model.n_classes, c.classes);
        for (const double label : *predict(Solver(model), add_bias_column(x)))
            EXPECT_LT(label, static_cast<double>(c.classes));
    }
}

// 40 000 rows put 26 classes in one solve, so 40 classes take two batches;
// each row of weights must still be its class's own least-squares fit.
TEST(LogisticRegression, BatchedClassesEqualTheirOwnSolves) {
    const std::size_t rows = 40000, classes = 40;
    Matrix x(rows, 1);
    std::vector<double> labels(rows);
    for (std::size_t i = 0; i < rows; ++i) {
        x(i, 0) = static_cast<double>(i % 97);
        labels[i] = static_cast<double>(i % classes);
    }
    const auto model = fitted_classifier(x, labels);
    ASSERT_EQ(model.coefficients->rows(), classes);
    for (const std::size_t c : {std::size_t{0}, std::size_t{25}, std::size_t{26}, classes - 1}) {
        std::vector<double> indicator(rows);
        for (std::size_t i = 0; i < rows; ++i) indicator[i] = labels[i] == c ? 1.0 : 0.0;
        Solver own = LinearRegression{};
        fit_ok(own, x, indicator);
        for (std::size_t j = 0; j < 2; ++j)
            EXPECT_NEAR((*model.coefficients)(c, j), coefficients(own)[j], 1e-12) << c;
    }
}

TEST(LogisticRegression, NoClassesCannotPredictARow) {
    LogisticRegression model;
    model.coefficients = Matrix(0, 2);
    auto out = predict(Solver(model), add_bias_column(Matrix(1, 1)));
    ASSERT_FALSE(out);
    EXPECT_EQ(out.error().render(), "Not a valid operation: computing argmax on empty array!");
}

TEST(Pmm, BackendNamesInLowerCase) {
    EXPECT_TRUE(std::holds_alternative<Ridge>(*PMM::create(5, "Ridge", 2.0)->model));
    auto lasso = PMM::create(5, "Lasso", 1.0);
    ASSERT_FALSE(lasso);
    EXPECT_EQ(lasso.error().render(),
              "PMM.Backend: [lasso] is not supportedSupported values: [\"linear\", \"ridge\"]");
}

TEST(Pmm, DonorSlotWalk) {
    struct Case {
        std::vector<double> pool;
        double prediction;
        std::size_t k;
        std::vector<double> donors;
    };
    for (const Case& c : {
             Case{{1, 2, 9}, 10, 2, {2, 9}},        // 9 replaces the farthest donor 1
             Case{{4, 6, 5}, 5, 2, {6, 5}},         // 5 replaces 6's twin 4 in the higher slot
             Case{{3, 7, 3, 7}, 5, 2, {7, 3}},      // later equals never displace earlier ones
             Case{{1, 2, 3}, kNaN, 2, {}},          // nothing is closer than an empty slot
             Case{{1, kNaN, 2}, 0, 1, {1}},
         }) {
        EXPECT_EQ(select_donors(c.pool, c.prediction, c.k), c.donors);
    }
}

TEST(Pmm, CopiesDrawAlikeAndNoDonorsMeansNoDraw) {
    auto made = PMM::create(2, "linear", 1.0);
    Solver first = std::move(*made);
    Solver second = first;
    const Matrix x = rows_of(5, 1, {0, 1, 2, 3, 4});
    fit_ok(first, x, {0, 1, 2, 3, 4});
    fit_ok(second, x, {0, 1, 2, 3, 4});
    const Matrix query = rows_of(4, 1, {0.4, 2.5, 1, 3});
    const auto drawn = predict_ok(first, query);
    EXPECT_EQ(drawn, predict_ok(second, query));
    const auto& model = std::get<PMM>(first);
    const auto before = model.rng.snapshot().state();
    EXPECT_TRUE(std::isnan(sample(model, {})));
    EXPECT_EQ(model.rng.snapshot().state(), before);
}

TEST(Pmm, ZeroNeighboursWithAPoolIsAnInvalidOperation) {
    Solver model = *PMM::create(0, "linear", 1.0);
    fit_ok(model, rows_of(2, 1, {0, 1}), {0, 1});
    auto out = predict(model, add_bias_column(rows_of(1, 1, {0})));
    ASSERT_FALSE(out);
    EXPECT_EQ(out.error().render(), "Not a valid operation: computing argmax on empty array!");
}

TEST(Xoshiro, FirstOutputsFromTheInitialState) {
    // Computed with Python integers from the reference step (the same
    // generator drives the draws checked in tests/python/test_mice.py).
    Xoshiro256pp generator;
    for (const std::uint64_t expected : {0xd0764d4f4476689fULL, 0x519e4174576f3791ULL,
                                         0xfbe07cfb0c24ed8cULL, 0xb37d9f600cd835b8ULL})
        EXPECT_EQ(generator.next_u64(), expected);
}

TEST(Xoshiro, SingleDonorStillConsumesAnOutput) {
    Xoshiro256pp counted, reference;
    EXPECT_EQ(counted.index_below(1), 0u);
    reference.next_u64();
    EXPECT_EQ(counted.state(), reference.state());
    // Indices stay in range on both the 32- and the 64-bit path.
    for (int i = 0; i < 1000; ++i) {
        EXPECT_LT(counted.index_below(3), 3u);
        EXPECT_LT(counted.index_below((std::uint64_t{1} << 40) + 7), (std::uint64_t{1} << 40) + 7);
    }
}

// ---- persisted form ----

Solver nested_pmm(std::size_t depth) {
    Solver model = LinearRegression{};
    for (std::size_t i = 0; i < depth; ++i) {
        PMM wrapper;
        wrapper.model = Box<Solver>(std::move(model));
        model = std::move(wrapper);
    }
    return model;
}

TEST(SolverState, RoundTripKeepsNestedModels) {
    PMM pmm = *PMM::create(5, "ridge", 0.5);
    pmm.pool = codec::Array1{{1, 2}};
    std::get<Ridge>(*pmm.model).coefficients = codec::Array1{{0.5, -1}};
    const std::vector<Solver> models = {pmm, LinearRegression{codec::Array1{{1, 2}}, true}};
    const auto bytes = codec::encode(models);
    auto decoded = codec::decode<std::vector<Solver>>(bytes);
    ASSERT_TRUE(decoded);
    const auto& back = std::get<PMM>((*decoded)[0]);
    EXPECT_EQ(back.pool->values, (std::vector<double>{1, 2}));
    EXPECT_EQ(std::get<Ridge>(*back.model).alpha, 0.5);
    EXPECT_EQ(std::get<Ridge>(*back.model).coefficients->values, (std::vector<double>{0.5, -1}));
    EXPECT_EQ(codec::encode(*decoded), bytes);
}

TEST(SolverState, NestingIsBounded) {
    EXPECT_TRUE(codec::decode<Solver>(codec::encode(nested_pmm(codec::kMaxBoxDepth))));
    auto deep = codec::decode<Solver>(codec::encode(nested_pmm(codec::kMaxBoxDepth + 1)));
    ASSERT_FALSE(deep);
    EXPECT_EQ(deep.error(), "nesting deeper than 32 levels");
}

TEST(MiceState, FittedStateNeedsOneFillValuePerModel) {
    Mice mice;
    mice.is_fitted = true;
    mice.models = {LinearRegression{}, LinearRegression{}};
    mice.init.sample_means = std::vector<double>{1.0};
    EXPECT_FALSE(codec::decode<Mice>(codec::encode(mice)));
    mice.init.sample_means->push_back(2.0);
    EXPECT_TRUE(codec::decode<Mice>(codec::encode(mice)));
}

// ---- the chained iterations ----

TEST(Mice, SplitAndWriteBack) {
    const Matrix raw = rows_of(3, 3, {1, 2, 3, kNaN, 5, 6, 7, kNaN, 9});
    const Matrix imputed = rows_of(3, 3, {1, 2, 3, 4, 5, 6, 7, 3.5, 9});
    const ColumnRows rows = partition_rows(raw, 0);
    EXPECT_EQ(rows.observed, (std::vector<std::size_t>{0, 2}));
    EXPECT_EQ(rows.missing, (std::vector<std::size_t>{1}));
    const Split parts = split(imputed, raw, 0, rows);
    EXPECT_EQ(parts.y_obs, (std::vector<double>{1, 7}));
    const ConstBlock obs = parts.x_obs.block(false);
    EXPECT_EQ(std::vector<double>(obs.data, obs.data + 4), (std::vector<double>{2, 3.5, 3, 9}));
    const ConstBlock miss = parts.x_miss.block(false);
    EXPECT_EQ(std::vector<double>(miss.data, miss.data + 2), (std::vector<double>{5, 6}));

    Matrix target = imputed;
    const std::vector<ColumnRows> all = {rows, partition_rows(raw, 1), partition_rows(raw, 2)};
    const std::vector<ColumnUpdate> updates = {{{-4}}, {{-3.5}}, {}};
    update_imputed(target, updates, all);
    EXPECT_EQ(target, rows_of(3, 3, {1, 2, 3, -4, 5, 6, 7, -3.5, 9}));
}

TEST(Mice, ZeroIterationsKeepTheStartingFill) {
    Mice mice;
    mice.max_iter = 0;
    const Matrix raw = rows_of(3, 2, {1, kNaN, 3, 4, kNaN, 8});
    ASSERT_TRUE(mice.fit_impl(raw, std::nullopt));
    EXPECT_TRUE(mice.is_fitted);
    EXPECT_EQ(mice.models.size(), 2u);
    EXPECT_FALSE(std::get<LinearRegression>(mice.models[0]).coefficients);
    EXPECT_EQ(*mice.impute(raw), rows_of(3, 2, {1, 6, 3, 4, 2, 8}));
}

TEST(Mice, EncodedColumnsGetTheClassifier) {
    Mice mice;
    mice.max_iter = 2;
    const Matrix raw = rows_of(4, 2, {0, 1, 1, 2, 0, kNaN, 1, 2.5});
    ASSERT_TRUE(mice.fit_impl(raw, std::vector<std::uint64_t>{0}));
    EXPECT_TRUE(std::holds_alternative<LogisticRegression>(mice.models[0]));
    EXPECT_TRUE(std::holds_alternative<LinearRegression>(mice.models[1]));
    EXPECT_EQ(mice.n_iter, 2u);
}

}  // namespace
}  // namespace norvale::mice
