#include "imputer/knn/metrics.hpp"

#include <array>
#include <limits>
#include <string>

#include "utils/parallel.hpp"

namespace norvale::knn {
namespace {

constexpr std::array<std::string_view, 3> kMetricNames{"nan_euclid", "expected_distance", "gower"};
constexpr std::array<std::string_view, 2> kWeightNames{"uniform", "distance"};

}  // namespace

Result<Metrics> metric_from_text(std::string_view lowered) {
    if (lowered == "nan_euclid") return NanEuclid{};
    if (lowered == "expected_distance") return ExpectedDistance{};
    if (lowered == "gower") return Gower{};
    return std::unexpected(
        Errors::unsupported_value(std::string(lowered), "Knn.Metric", kMetricNames));
}

Result<Weights> weights_from_text(std::string_view lowered) {
    if (lowered == "distance") return Weights::Distance;
    if (lowered == "uniform") return Weights::Uniform;
    return std::unexpected(
        Errors::unsupported_value(std::string(lowered), "Knn.Weights", kWeightNames));
}

std::string_view metric_name(const Metrics& metric) { return kMetricNames[metric.index()]; }

std::string_view weights_name(Weights weights) {
    return weights == Weights::Distance ? "distance" : "uniform";
}

double span(const Matrix& matrix, std::size_t column) {
    double min = std::numeric_limits<double>::infinity();
    double max = -std::numeric_limits<double>::infinity();
    for (std::size_t row = 0; row < matrix.rows(); ++row) {
        // NaN compares false both ways, so missing cells never count.
        const double value = matrix(row, column);
        if (value < min) min = value;
        if (value > max) max = value;
    }
    return max - min;
}

std::vector<double> column_spans(const Matrix& matrix) {
    return parallel_map<double>(matrix.cols(),
                                [&](std::size_t column) { return span(matrix, column); });
}

}  // namespace norvale::knn
