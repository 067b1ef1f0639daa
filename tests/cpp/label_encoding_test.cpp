#include "lib/label_encoding.hpp"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "lib/columns.hpp"

namespace tabseam {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

struct NumberCase {
    double value;
    const char* text;
};

class NumberLabel : public testing::TestWithParam<NumberCase> {};

TEST_P(NumberLabel, ShortestDigitsInPositionalNotation) {
    EXPECT_EQ(number_label(GetParam().value), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Values, NumberLabel,
    testing::Values(NumberCase{1.0, "1"}, NumberCase{2.5, "2.5"}, NumberCase{-2.5, "-2.5"},
                    NumberCase{1e20, "100000000000000000000"}, NumberCase{1e-7, "0.0000001"},
                    NumberCase{0.1, "0.1"}, NumberCase{123.456, "123.456"},
                    NumberCase{-0.0, "-0"}, NumberCase{0.0, "0"}, NumberCase{kNaN, "NaN"},
                    NumberCase{kInf, "inf"}, NumberCase{-kInf, "-inf"},
                    NumberCase{12345678.9, "12345678.9"}, NumberCase{0.000123, "0.000123"}),
    [](const auto& info) { return "value_" + std::to_string(info.index); });

TEST(NumberLabel, ExtremeMagnitudesStayPositional) {
    EXPECT_EQ(number_label(1.5e300), "15" + std::string(299, '0'));
    EXPECT_EQ(number_label(5e-324), "0." + std::string(323, '0') + "5");
}

TEST(LabelEncode, CodesFollowByteOrderAndSkipMissingMarkers) {
    const std::vector<std::string> labels{"b", "a", "b", "nan"};
    const EncodedColumn column = label_encode(labels);
    ASSERT_EQ(column.codes.size(), 4u);
    EXPECT_EQ(column.codes[0], 1.0);
    EXPECT_EQ(column.codes[1], 0.0);
    EXPECT_EQ(column.codes[2], 1.0);
    EXPECT_TRUE(std::isnan(column.codes[3]));
    EXPECT_EQ(column.decode_map, (DecodeMap{{0, "a"}, {1, "b"}}));
    EXPECT_EQ(column.label_map, (LabelMap{{"a", 0}, {"b", 1}, {"nan", std::nullopt}}));
}

TEST(LabelEncode, SortsByteWise) {
    // Upper case before lower case, "10" before "9", a prefix before its extensions,
    // and bytes above 0x7F after ASCII.
    const std::vector<std::string> labels{"a", "B", "9", "10", "ab", "\xC3\xA9"};
    const EncodedColumn column = label_encode(labels);
    EXPECT_EQ(column.codes, (std::vector<double>{3, 2, 1, 0, 4, 5}));
}

TEST(LabelEncode, AllMarkersGiveAllMissing) {
    const std::vector<std::string> labels{"NaN", "<NA>", "nan"};
    const EncodedColumn column = label_encode(labels);
    for (const double code : column.codes) EXPECT_TRUE(std::isnan(code));
    EXPECT_TRUE(column.decode_map.empty());
    EXPECT_EQ(column.label_map.size(), 3u);
}

TEST(MissingMarker, IsExactAndCaseSensitive) {
    for (const char* marker : {"nan", "NaN", "<NA>"}) EXPECT_TRUE(is_missing_marker(marker));
    for (const char* other : {"NAN", "None", "", "na", "<na>"}) EXPECT_FALSE(is_missing_marker(other));
}

struct CodeCase {
    double cell;
    std::uint64_t code;
};

class SaturatingCode : public testing::TestWithParam<CodeCase> {};

TEST_P(SaturatingCode, TruncatesTowardZeroAndSaturates) {
    EXPECT_EQ(saturating_code(GetParam().cell), GetParam().code);
}

INSTANTIATE_TEST_SUITE_P(
    Cells, SaturatingCode,
    testing::Values(CodeCase{1.7, 1}, CodeCase{-3.0, 0}, CodeCase{-0.5, 0}, CodeCase{kNaN, 0},
                    CodeCase{2.0, 2}, CodeCase{1e30, std::numeric_limits<std::uint64_t>::max()},
                    CodeCase{18446744073709551616.0, std::numeric_limits<std::uint64_t>::max()},
                    CodeCase{kInf, std::numeric_limits<std::uint64_t>::max()}),
    [](const auto& info) { return "cell_" + std::to_string(info.index); });

TEST(AllEmptyColumn, ListsColumnsWithoutAnyNumber) {
    const norvale::Matrix matrix(2, 3, std::vector<double>{kNaN, 1, kNaN, kNaN, kNaN, kNaN});
    EXPECT_EQ(all_empty_column(matrix), (std::vector<std::uint64_t>{0, 2}));
    EXPECT_EQ(all_empty_column(norvale::Matrix(0, 3)), (std::vector<std::uint64_t>{0, 1, 2}));
}

}  // namespace
}  // namespace tabseam
