#include "imputer/simple/simple_imputer.hpp"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

namespace norvale {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

Matrix column(std::vector<double> cells) {
    const std::size_t rows = cells.size();
    return Matrix(rows, 1, std::move(cells));
}

TEST(Means, IgnoreMissingCells) {
    EXPECT_DOUBLE_EQ(SimpleImputer::get_means(column({1, kNaN, 3}), 0), 2.0);
    EXPECT_TRUE(std::isnan(SimpleImputer::get_means(column({kNaN, kNaN}), 0)));
    EXPECT_TRUE(std::isnan(SimpleImputer::get_means(Matrix(0, 1), 0)));
}

struct ModeCase {
    const char* name;
    std::vector<double> cells;
    double mode;
};

class Modes : public testing::TestWithParam<ModeCase> {};

TEST_P(Modes, CountObservedCodesOnly) {
    const auto mode = SimpleImputer::get_modes(column(GetParam().cells), 0);
    ASSERT_TRUE(mode.has_value());
    EXPECT_EQ(*mode, GetParam().mode);
}

INSTANTIATE_TEST_SUITE_P(
    Columns, Modes,
    testing::Values(
        ModeCase{"most_frequent", {0, 1, 1}, 1},
        // Missing cells must not vote for code 0.
        ModeCase{"missing_cells_do_not_count", {0, 1, 1, kNaN, kNaN, kNaN}, 1},
        ModeCase{"tie_takes_smallest_code", {2, 1, 2, 1}, 1},
        ModeCase{"codes_are_truncated", {2.9, 2.1, 0}, 2}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Modes, ColumnWithoutObservedCellIsAnError) {
    const auto mode = SimpleImputer::get_modes(column({kNaN, kNaN}), 0);
    ASSERT_FALSE(mode.has_value());
    EXPECT_EQ(mode.error().render(), "Not a valid operation: computing mode on empty column: 0");
}

TEST(FitImpl, ModesReplaceMeansOfCategoricalColumns) {
    const Matrix matrix(3, 2, std::vector<double>{0, 1, 1, kNaN, 1, 4});
    SimpleImputer imputer;
    const std::vector<std::uint64_t> categorical{0};
    ASSERT_TRUE(imputer.fit_impl(matrix, categorical).has_value());
    EXPECT_EQ(*imputer.sample_means, (std::vector<double>{1.0, 2.5}));
    EXPECT_FALSE(imputer.is_fitted);
}

TEST(FitImpl, FailedModeKeepsEarlierFillValues) {
    SimpleImputer imputer;
    imputer.sample_means = std::vector<double>{7.0};
    const std::vector<std::uint64_t> categorical{0};
    EXPECT_FALSE(imputer.fit_impl(Matrix(0, 1), categorical).has_value());
    EXPECT_EQ(*imputer.sample_means, std::vector<double>{7.0});
}

TEST(Impute, FillsOnlyMissingCells) {
    SimpleImputer imputer;
    imputer.sample_means = std::vector<double>{10.0, 20.0};
    const Matrix input(2, 2, std::vector<double>{kNaN, 1, 2, kNaN});
    const auto filled = imputer.impute(input);
    ASSERT_TRUE(filled.has_value());
    EXPECT_EQ(*filled, Matrix(2, 2, std::vector<double>{10, 1, 2, 20}));
}

TEST(Impute, WithoutFillValuesOnlyCompleteTablesPass) {
    const SimpleImputer imputer;
    const Matrix complete(1, 2, std::vector<double>{1, 2});
    EXPECT_EQ(imputer.impute(complete).value_or(Matrix()), complete);
    const auto missing = imputer.impute(column({kNaN}));
    ASSERT_FALSE(missing.has_value());
    EXPECT_EQ(missing.error().kind_index(), 0u);
}

}  // namespace
}  // namespace norvale
