// Distances, neighbour selection, the donor walk and the KNN state record,
// checked against hand-computed values and against a direct transcription of
// the brute-force search (every pair measured, a full sort, then the walk).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <random>
#include <vector>

#include "codec/state_codec.hpp"
#include "imputer/knn/distances.hpp"
#include "imputer/knn/knn_imputer.hpp"
#include "imputer/knn/metrics.hpp"
#include "imputer/knn/neighbours.hpp"

namespace norvale::knn {
namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double Inf = std::numeric_limits<double>::infinity();

std::uint64_t bits(double value) { return std::bit_cast<std::uint64_t>(value); }

// ---- distances on hand-checked rows ----

struct PairCase {
    const char* name;
    Distance::Kind kind;
    std::vector<double> x, y;
    double expected;
};

const std::vector<std::uint64_t> kCat{0};
const std::vector<std::uint64_t> kNum{1};
const std::vector<double> kSpans{1.0, 10.0};

class PairDistance : public testing::TestWithParam<PairCase> {};

TEST_P(PairDistance, MatchesHandValue) {
    const auto& c = GetParam();
    const Distance distance{c.kind, {kCat, kNum, kSpans}};
    const double got = distance.pair(c.x, c.y);
    if (std::isinf(c.expected))
        EXPECT_EQ(got, c.expected);
    else
        EXPECT_DOUBLE_EQ(got, c.expected);
    EXPECT_EQ(bits(got), bits(distance.pair(c.y, c.x))) << "not symmetric";
}

using K = Distance::Kind;
INSTANTIATE_TEST_SUITE_P(
    Knn, PairDistance,
    testing::Values(
        // One shared column contributes 1, scaled by 3 / 1; no square root.
        PairCase{"nan_euclid_scaled", K::NanEuclid, {1, NaN, 3}, {2, 5, NaN}, 3.0},
        PairCase{"nan_euclid_squared", K::NanEuclid, {0, 0}, {3, 4}, 25.0},
        PairCase{"nan_euclid_nothing_shared", K::NanEuclid, {1, NaN}, {NaN, 2}, Inf},
        PairCase{"nan_euclid_empty", K::NanEuclid, {}, {}, Inf},
        PairCase{"expected_penalties", K::ExpectedDistance, {NaN, 0.2, 0.5}, {NaN, NaN, 0.1},
                 0.333 + 0.8 + 0.4},
        PairCase{"expected_empty", K::ExpectedDistance, {}, {}, 0.0},
        PairCase{"gower_mixed", K::Gower, {1, 2}, {3, 7}, 0.75},
        PairCase{"gower_same_code", K::Gower, {4, 2}, {4, 2}, 0.0},
        PairCase{"gower_nothing_shared", K::Gower, {1, NaN}, {NaN, 7}, Inf}),
    [](const auto& info) { return info.param.name; });

TEST(ExpectedDistance, AllMissingRowsAddThePenaltyOncePerColumn) {
    const std::vector<double> missing(4, NaN);
    EXPECT_EQ(bits(expected_distance(missing, missing)), bits(0.333 + 0.333 + 0.333 + 0.333));
}

TEST(Gower, ConstantColumnIsPassedOverInsteadOfGivingNaN) {
    // Column 0 is constant in the fitted data (span 0): 5/0 and 3/0 would be
    // +inf, and inf - inf a NaN distance.
    const std::vector<std::uint64_t> none;
    const std::vector<std::uint64_t> numeric{0, 1};
    const std::vector<double> spans{0.0, 10.0};
    const GowerColumns columns{none, numeric, spans};
    EXPECT_DOUBLE_EQ(gower(columns, std::vector{5.0, 2.0}, std::vector{3.0, 7.0}), 0.5);
    EXPECT_EQ(gower(columns, std::vector{5.0, NaN}, std::vector{3.0, 7.0}), Inf);
}

// ---- the block forms give the pair forms' bits ----

// Values chosen to hit every branch: NaN, ±inf, ±0, equal values, codes.
Matrix awkward_table(std::size_t rows, std::size_t cols, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    const double specials[] = {NaN, Inf, -Inf, 0.0, -0.0, 1.0, 0.5, 2.0};
    std::uniform_int_distribution<int> pick(0, 9);
    std::normal_distribution<double> normal(0.0, 3.0);
    Matrix table(rows, cols);
    for (std::size_t i = 0; i < rows; ++i)
        for (std::size_t j = 0; j < cols; ++j) {
            const int choice = pick(rng);
            table(i, j) = choice < 8 && choice % 3 == 0 ? specials[pick(rng) % 8]
                                                        : std::round(normal(rng) * 4) / 4;
        }
    return table;
}

class BlockDistance : public testing::TestWithParam<Distance::Kind> {};

TEST_P(BlockDistance, EqualsPairBitForBit) {
    const Matrix table = awkward_table(53, 7, 11);  // not a whole number of blocks
    const std::vector<std::uint64_t> cat{1, 4};
    const std::vector<std::uint64_t> num{0, 2, 3, 5, 6};
    const std::vector<double> spans{2.5, 1.0, 0.0, Inf, 7.0, 1.0, 3.0};
    const Distance distance{GetParam(), {cat, num, spans}};
    const DonorColumns donors(table);
    std::vector<double> out(donors.stride());
    for (std::size_t q = 0; q < table.rows(); ++q) {
        for (std::size_t b = 0; b < donors.blocks(); ++b)
            distance.block(table.row(q), donors.block(b), donors.stride(),
                           out.data() + b * kBlockLanes);
        for (std::size_t i = 0; i < table.rows(); ++i)
            ASSERT_EQ(bits(out[i]), bits(distance.pair(table.row(q), table.row(i))))
                << "query " << q << " donor " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Knn, BlockDistance,
                         testing::Values(K::NanEuclid, K::ExpectedDistance, K::Gower));

// ---- ordering and selection ----

TEST(TotalOrder, FollowsIeeeTotalOrder) {
    const double negative_nan = -NaN;
    const std::vector<double> ascending{negative_nan, -Inf, -1.0, -0.0, 0.0, 1e-300, 1.0, Inf,
                                        NaN};
    ASSERT_TRUE(std::signbit(negative_nan));
    for (std::size_t i = 1; i < ascending.size(); ++i)
        EXPECT_LT(total_order_key(ascending[i - 1]), total_order_key(ascending[i])) << i;
}

std::vector<Candidate> full_order(std::span<const double> distances) {
    std::vector<Candidate> all;
    for (std::size_t i = 0; i < distances.size(); ++i)
        all.push_back({total_order_key(distances[i]), i});
    std::ranges::sort(all);
    return all;
}

TEST(Nearest, IsThePrefixOfTheFullOrder) {
    std::mt19937_64 rng(5);
    std::uniform_int_distribution<int> value(0, 40);  // many ties
    std::vector<double> distances(1000);
    for (auto& d : distances) {
        const int v = value(rng);
        d = v == 0 ? NaN : v == 1 ? -NaN : v == 2 ? Inf : v;
    }
    const auto all = full_order(distances);
    for (const std::size_t count : {0, 1, 7, 42, 999, 1000, 5000}) {
        const auto head = nearest(distances, count);
        const std::vector<Candidate> want(all.begin(),
                                          all.begin() + std::min(count, all.size()));
        EXPECT_EQ(head, want) << count;
    }
}

// ---- the donor walk ----

struct WalkCase {
    const char* name;
    std::vector<double> column;     // the fitted values of the column
    std::vector<double> distances;  // the distance of each fitted row
    Weights weights;
    std::uint64_t k;
    double expected;
};

class DonorWalk : public testing::TestWithParam<WalkCase> {};

TEST_P(DonorWalk, AveragesTheFirstKDonors) {
    const auto& c = GetParam();
    const Matrix data(c.column.size(), 1, std::vector<double>(c.column));
    const auto order = full_order(c.distances);
    const auto value = average(data, 0, order, c.distances, c.weights, c.k, true);
    ASSERT_TRUE(value.has_value());
    if (std::isnan(c.expected))
        EXPECT_TRUE(std::isnan(*value)) << *value;
    else
        EXPECT_DOUBLE_EQ(*value, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Knn, DonorWalk,
    testing::Values(
        WalkCase{"uniform_two", {1, 3, 100}, {1, 2, 3}, Weights::Uniform, 2, 2.0},
        // Rows without a value are passed over, the walk goes on.
        WalkCase{"skips_missing", {NaN, 1, NaN, 3}, {0, 1, 2, 3}, Weights::Uniform, 2, 2.0},
        WalkCase{"fewer_than_k", {NaN, 4, 8}, {1, 2, 3}, Weights::Uniform, 5, 6.0},
        WalkCase{"k_zero_takes_one", {7, 1}, {1, 2}, Weights::Uniform, 0, 7.0},
        WalkCase{"no_donor", {NaN, NaN}, {1, 2}, Weights::Uniform, 3, NaN},
        WalkCase{"distance_weights", {1, 3}, {1, 3}, Weights::Distance, 2,
                 (1 * 1 + 3 * (1.0 / 3)) / (1 + 1.0 / 3)},
        // Weight 2^52 at distance 0, also for a NaN distance.
        WalkCase{"zero_distance_dominates", {10, 20}, {0, 1}, Weights::Distance, 2,
                 (10 * 4503599627370496.0 + 20) / (4503599627370496.0 + 1)},
        WalkCase{"nan_distance_takes_floor", {10, 20}, {NaN, 1}, Weights::Distance, 2,
                 (10 * 4503599627370496.0 + 20) / (4503599627370496.0 + 1)},
        // Weight 0 for every donor: 0 / 0.
        WalkCase{"all_infinite_distance", {1, 3}, {Inf, Inf}, Weights::Distance, 2, NaN},
        // Uniform weights count infinitely far donors once they are reached.
        WalkCase{"uniform_reaches_infinite", {NaN, 5, 9}, {1, Inf, Inf}, Weights::Uniform, 2,
                 7.0}),
    [](const auto& info) { return info.param.name; });

TEST(DonorWalk, HeadThatRunsOutAsksForMore) {
    const Matrix data(3, 1, std::vector<double>{NaN, 1, 2});
    const std::vector<double> distances{0, 1, 2};
    const auto order = full_order(distances);
    const auto head = std::span(order).first(2);
    EXPECT_FALSE(average(data, 0, head, distances, Weights::Uniform, 2, false).has_value());
    EXPECT_EQ(average(data, 0, head, distances, Weights::Uniform, 2, true), 1.0);
}

// ---- whole rows against a direct transcription of the search ----

Matrix brute_force_reference(const Matrix& x, const Matrix& data, const Distance& distance,
                             Weights weights, std::uint64_t k) {
    Matrix out = x;
    for (std::size_t r = 0; r < x.rows(); ++r) {
        std::vector<double> distances(data.rows());
        for (std::size_t i = 0; i < data.rows(); ++i)
            distances[i] = distance.pair(x.row(r), data.row(i));
        const auto order = full_order(distances);
        for (std::size_t j = 0; j < x.cols(); ++j)
            if (std::isnan(x(r, j)))
                out(r, j) = *average(data, j, order, distances, weights, k, true);
    }
    return out;
}

Matrix random_table(std::size_t rows, std::size_t cols, std::vector<double> missing_share,
                    std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::normal_distribution<double> normal;
    std::uniform_real_distribution<double> unit;
    Matrix table(rows, cols);
    for (std::size_t i = 0; i < rows; ++i)
        for (std::size_t j = 0; j < cols; ++j)
            table(i, j) = unit(rng) < missing_share[j % missing_share.size()] ? NaN : normal(rng);
    return table;
}

struct RowsCase {
    const char* name;
    std::size_t rows, cols;
    std::vector<double> missing_share;  // per column, repeating
    Weights weights;
    std::uint64_t k;
};

class ImputeRows : public testing::TestWithParam<RowsCase> {};

TEST_P(ImputeRows, EqualsFullSortSearch) {
    const auto& c = GetParam();
    const Matrix data = random_table(c.rows, c.cols, c.missing_share, 3);
    const Matrix x = random_table(60, c.cols, c.missing_share, 4);
    const std::vector<std::uint64_t> cat;
    std::vector<std::uint64_t> num(c.cols);
    std::iota(num.begin(), num.end(), 0);
    const auto spans = column_spans(data);
    for (const auto kind : {K::NanEuclid, K::ExpectedDistance, K::Gower}) {
        const Distance distance{kind, {cat, num, spans}};
        const Matrix got = impute_rows(x, data, distance, c.weights, c.k);
        const Matrix want = brute_force_reference(x, data, distance, c.weights, c.k);
        for (std::size_t i = 0; i < got.size(); ++i)
            ASSERT_EQ(bits(got.cells()[i]), bits(want.cells()[i]))
                << "metric " << static_cast<int>(kind) << " cell " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Knn, ImputeRows,
    testing::Values(
        RowsCase{"typical", 300, 6, {0.1}, Weights::Uniform, 5},
        // Column 0 has few donors, so the first selection runs out and grows.
        RowsCase{"sparse_column_grows_selection", 700, 4, {0.97, 0.1}, Weights::Distance, 5},
        RowsCase{"k_zero", 100, 3, {0.2}, Weights::Uniform, 0},
        RowsCase{"k_beyond_rows", 50, 3, {0.3}, Weights::Distance, 1000},
        // More than 100 missing columns in a row: averaged in parallel.
        RowsCase{"many_missing_columns", 80, 130, {0.9}, Weights::Uniform, 3}),
    [](const auto& info) { return info.param.name; });

TEST(ImputeRows, NoFittedRowsLeavesCellsMissing) {
    const Matrix x(2, 2, std::vector<double>{1, NaN, 3, 4});
    const Matrix empty(0, 2);
    const Matrix out = impute_rows(x, empty, {K::NanEuclid, {}}, Weights::Uniform, 5);
    EXPECT_TRUE(std::isnan(out(0, 1)));
    EXPECT_EQ(out(1, 1), 4.0);
}

// ---- options and fit-time preparation ----

TEST(Options, TextsMatchExactlyAndRejectionsListTheChoices) {
    EXPECT_EQ(metric_from_text("gower")->index(), 2u);
    EXPECT_EQ(metric_name(*metric_from_text("expected_distance")), "expected_distance");
    EXPECT_EQ(*weights_from_text("distance"), Weights::Distance);
    EXPECT_EQ(metric_from_text("manhattan").error().render(),
              "Knn.Metric: [manhattan] is not supportedSupported values: "
              "[\"nan_euclid\", \"expected_distance\", \"gower\"]");
    EXPECT_EQ(weights_from_text("").error().render(),
              "Knn.Weights: [] is not supportedSupported values: [\"uniform\", \"distance\"]");
}

TEST(Spans, LargestMinusSmallestPresentValue) {
    const Matrix table(3, 3, std::vector<double>{1, NaN, 5, -2, NaN, 5, NaN, 4, 5});
    EXPECT_EQ(column_spans(table), (std::vector<double>{3.0, 0.0, 0.0}));
}

TEST(KnnImputerFit, GowerSplitsColumnsOtherMetricsKeepTheirLists) {
    const Matrix table(2, 4, std::vector<double>{0, 1, 2, 3, 1, 5, 0, 3});
    const std::vector<std::uint64_t> categorical{0, 2};

    KnnImputer gower;
    gower.metric = Gower{};
    gower.fit(table, categorical);
    EXPECT_TRUE(gower.is_fitted);
    EXPECT_EQ(gower.cat_cols, categorical);
    EXPECT_EQ(gower.num_cols, (std::vector<std::uint64_t>{1, 3}));
    EXPECT_EQ(std::get<Gower>(gower.metric).spans, (std::vector<double>{1, 4, 2, 0}));

    KnnImputer euclid;
    euclid.cat_cols = std::vector<std::uint64_t>{9};
    euclid.fit(table, categorical);
    EXPECT_EQ(euclid.cat_cols, std::vector<std::uint64_t>{9});
    EXPECT_FALSE(euclid.num_cols.has_value());
}

TEST(KnnImputerImpute, NotFittedWithoutTableOrSpans) {
    const Matrix x(1, 1, std::vector<double>{NaN});
    EXPECT_EQ(KnnImputer{}.impute(x).error().kind_index(), 0u);
    KnnImputer gower;
    gower.data = Matrix(1, 1, 1.0);
    gower.is_fitted = true;
    gower.metric = Gower{};
    EXPECT_EQ(gower.impute(x).error().kind_index(), 0u);
}

// ---- state record ----

TEST(KnnState, RoundTripsAndRejectsGowerStatesThatReachOutsideTheTable) {
    KnnImputer fitted;
    fitted.k = 3;
    fitted.metric = Gower{};
    fitted.weights = Weights::Distance;
    fitted.fit(Matrix(2, 2, std::vector<double>{1, NaN, 3, 4}), std::vector<std::uint64_t>{1});
    const auto bytes = codec::encode(fitted);
    const auto back = codec::decode<KnnImputer>(bytes);
    ASSERT_TRUE(back.has_value()) << back.error();
    EXPECT_EQ(codec::encode(*back), bytes);

    const auto reason = [](KnnImputer state) {
        return codec::decode<KnnImputer>(codec::encode(state)).error();
    };
    KnnImputer short_spans = fitted;
    std::get<Gower>(short_spans.metric).spans->pop_back();
    EXPECT_EQ(reason(short_spans), "1 gower spans for 2 columns");
    KnnImputer bad_index = fitted;
    bad_index.num_cols->push_back(2);
    EXPECT_EQ(reason(bad_index), "column index 2 out of range for 2 columns");
    KnnImputer no_lists = fitted;
    no_lists.cat_cols.reset();
    EXPECT_EQ(reason(no_lists), "gower spans without column lists");
    KnnImputer no_table = fitted;
    no_table.data.reset();
    EXPECT_EQ(reason(no_table), "gower spans without a fitted table");
}

}  // namespace
}  // namespace norvale::knn
