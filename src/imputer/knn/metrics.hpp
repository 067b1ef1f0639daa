#pragma once
// The options of the KNN imputer that pick a distance and a weighting, their
// text forms, and the column spans the Gower distance reads.
#include <cstdint>
#include <optional>
#include <string_view>
#include <tuple>
#include <variant>
#include <vector>

#include "utils/errors.hpp"
#include "utils/matrix.hpp"

namespace norvale::knn {

struct NanEuclid {
    static auto fields(auto&) { return std::tuple<>(); }
    friend bool operator==(const NanEuclid&, const NanEuclid&) = default;
};
struct ExpectedDistance {
    static auto fields(auto&) { return std::tuple<>(); }
    friend bool operator==(const ExpectedDistance&, const ExpectedDistance&) = default;
};
struct Gower {
    // The span of every column in column order; absent until the first fit.
    std::optional<std::vector<double>> spans;
    static auto fields(auto& self) { return std::tie(self.spans); }
    friend bool operator==(const Gower&, const Gower&) = default;
};

// The variant index is the stored form: 0 nan_euclid, 1 expected_distance, 2 gower.
using Metrics = std::variant<NanEuclid, ExpectedDistance, Gower>;

enum class Weights : std::uint32_t { Uniform = 0, Distance = 1 };
constexpr std::uint32_t variant_count(Weights) { return 2; }

// Both parsers take the text already lower-cased and match it exactly; any
// other text is UnsupportedValue naming "Knn.Metric" / "Knn.Weights".
Result<Metrics> metric_from_text(std::string_view lowered);
Result<Weights> weights_from_text(std::string_view lowered);

std::string_view metric_name(const Metrics& metric);
std::string_view weights_name(Weights weights);

// Largest minus smallest present value of `column`; missing cells are passed
// over.
double span(const Matrix& matrix, std::size_t column);

// The spans of all columns, computed in parallel, in column order.
std::vector<double> column_spans(const Matrix& matrix);

}  // namespace norvale::knn
