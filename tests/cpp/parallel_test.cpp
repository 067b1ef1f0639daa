#include "utils/parallel.hpp"

#include <atomic>

#include <gtest/gtest.h>

namespace norvale {
namespace {

TEST(ParallelMap, CollectsInIndexOrder) {
    const auto squares = parallel_map<std::size_t>(1000, [](std::size_t i) { return i * i; });
    ASSERT_EQ(squares.size(), 1000u);
    for (std::size_t i = 0; i < squares.size(); ++i) EXPECT_EQ(squares[i], i * i);
}

TEST(TryParallelMap, ReturnsTheFailureAndStopsScheduling) {
    std::atomic<std::size_t> visited{0};
    const std::size_t n = 1'000'000;
    auto result = try_parallel_map<int>(n, [&](std::size_t i) -> Result<int> {
        ++visited;
        if (i == 10) return std::unexpected(Errors::invalid_operation("item 10"));
        return 1;
    });
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().render(), "Not a valid operation: item 10");
    EXPECT_LT(visited.load(), n);
}

TEST(TryParallelMap, SucceedsWithEveryItem) {
    auto result = try_parallel_map<int>(5, [](std::size_t i) -> Result<int> {
        return static_cast<int>(i);
    });
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(*result, (std::vector<int>{0, 1, 2, 3, 4}));
}

}  // namespace
}  // namespace norvale
