#include "imputer/svm/svm_model_record.hpp"

#include <climits>
#include <cmath>
#include <format>
#include <span>

#include "lib/label_encoding.hpp"

namespace norvale {
namespace {

using Failure = std::unexpected<std::string>;

// LIBSVM's svm_predict sizes its decision values as nr_class * (nr_class - 1)
// / 2 in int arithmetic, so a classifier may have at most this many classes
// before that product overflows: 46341 * 46340 still fits in an int.
constexpr std::uint64_t kMaxClassifierClasses = 46341;
// LIBSVM counts classes and support vectors in int.
constexpr std::uint64_t kMaxLibsvmCount = INT_MAX;
// A support vector's nodes plus the terminating node LIBSVM needs.
constexpr std::uint64_t kMaxNodes = INT_MAX - 1;

// Floats in messages: shortest round-trip digits, positional, "NaN", "inf".
std::string shown(double value) { return tabseam::number_label(value); }

// A classifier trained on a single class has no class pairs: no rho, no
// sv_coef row, one label and one count. It predicts that label, so it is a
// model like any other.
bool is_single_class_model(const SvmModelRecord& record) {
    return record.is_classification() && record.nr_class == 1 && record.rho.empty() &&
           record.sv_coef.empty() && record.label.size() == 1 && record.nSV.size() == 1;
}

// k (k - 1) / 2 without overflow: the even factor is halved before the
// product, and a product beyond 64 bits is caught rather than wrapped.
std::uint64_t class_pair_count(std::uint64_t k) {
    if (k == 0) return 0;
    const std::uint64_t a = k % 2 == 0 ? k / 2 : k;
    const std::uint64_t b = k % 2 == 0 ? k - 1 : (k - 1) / 2;
    std::uint64_t pairs = 0;
    if (__builtin_mul_overflow(a, b, &pairs)) panic("class count checked against LIBSVM's limit first");
    return pairs;
}

// The counts LIBSVM will hold in an int, checked before any length is
// compared with them.
codec::Status check_libsvm_counts(const SvmModelRecord& record) {
    const std::uint64_t class_limit =
        record.is_classification() ? kMaxClassifierClasses : kMaxLibsvmCount;
    if (record.nr_class > class_limit)
        return Failure(std::format("nr_class must be <= {} for svm_type {}, got {}", class_limit,
                                   svm_type_name(record.svm_type.value), record.nr_class));
    if (record.total_sv() > kMaxLibsvmCount)
        return Failure(
            std::format("total_sv must be <= {}, got {}", kMaxLibsvmCount, record.total_sv()));
    return {};
}

codec::Status check_classification_counts(const SvmModelRecord& record) {
    const auto type = svm_type_name(record.svm_type.value);
    const std::uint64_t k = record.nr_class;
    if (record.label.size() != k)
        return Failure(std::format("label has {} entries, expected nr_class ({}) for svm_type {}",
                                   record.label.size(), k, type));
    if (record.nSV.size() != k)
        return Failure(std::format("nr_sv has {} entries, expected nr_class ({}) for svm_type {}",
                                   record.nSV.size(), k, type));
    std::uint64_t sum = 0;
    for (const std::uint64_t count : record.nSV)
        if (__builtin_add_overflow(sum, count, &sum))
            return Failure("nr_sv entries overflow usize when summed");
    if (sum != record.total_sv())
        return Failure(std::format("sum of nr_sv entries ({}) does not match total_sv ({})", sum,
                                   record.total_sv()));
    return {};
}

codec::Status check_no_class_arrays(const SvmModelRecord& record) {
    const auto type = svm_type_name(record.svm_type.value);
    if (!record.label.empty())
        return Failure(
            std::format("label is only valid for classification, got {} entries on svm_type {}",
                        record.label.size(), type));
    if (!record.nSV.empty())
        return Failure(
            std::format("nr_sv is only valid for classification, got {} entries on svm_type {}",
                        record.nSV.size(), type));
    return {};
}

// Probability arrays are optional: empty, or one entry per rho.
codec::Status check_optional_length(std::string_view name, std::size_t length,
                                    std::uint64_t expected) {
    if (length != 0 && length != expected)
        return Failure(std::format("{} has {} entries, expected {}", name, length, expected));
    return {};
}

codec::Status check_finite(std::string_view name, std::span<const double> values) {
    for (const double value : values)
        if (!std::isfinite(value))
            return Failure(std::format("{} must be finite, got {}", name, shown(value)));
    return {};
}

codec::Status check_sv_coef(const SvmModelRecord& record) {
    for (std::size_t row = 0; row < record.sv_coef.size(); ++row) {
        const auto& coefficients = record.sv_coef[row];
        if (coefficients.size() != record.total_sv())
            return Failure(std::format("sv_coef row {} has {} entries, expected {}", row,
                                       coefficients.size(), record.total_sv()));
        NV_RETURN_IF_ERROR(check_finite("sv_coef", coefficients));
    }
    return {};
}

// Finite values and strictly ascending indices; `line` counts from 1.
codec::Status check_support_vector(const SupportVector& vector, std::size_t line) {
    if (vector.size() > kMaxNodes)
        return Failure(std::format("support vector {} must have <= {} nodes, got {}", line,
                                   kMaxNodes, vector.size()));
    if (vector.empty()) return {};
    if (!std::isfinite(vector[0].second))
        return Failure(std::format("feature value must be finite, got {}", shown(vector[0].second)));
    for (std::size_t i = 1; i < vector.size(); ++i) {
        const auto [index, value] = vector[i];
        if (index <= vector[i - 1].first)
            return Failure(
                std::format("support vector {} feature indices must be ascending: {} follows {}",
                            line, index, vector[i - 1].first));
        if (!std::isfinite(value))
            return Failure(std::format("feature value must be finite, got {}", shown(value)));
    }
    return {};
}

}  // namespace

std::string_view svm_type_name(std::int32_t code) {
    switch (code) {
        case kCSvc: return "c_svc";
        case kNuSvc: return "nu_svc";
        case kOneClass: return "one_class";
        case kEpsilonSvr: return "epsilon_svr";
        case kNuSvr: return "nu_svr";
        default: panic("svm_type code checked when read");
    }
}

std::expected<std::uint64_t, std::string> validate_model_header(const SvmModelRecord& record) {
    const std::uint64_t k = record.nr_class;
    if (k < 2 && !is_single_class_model(record))
        return Failure(std::format("nr_class must be >= 2, got {}", k));
    NV_RETURN_IF_ERROR(check_libsvm_counts(record));

    const auto type = svm_type_name(record.svm_type.value);
    const bool classification = record.is_classification();
    const std::uint64_t expected_rho = classification ? class_pair_count(k) : 1;
    if (record.rho.size() != expected_rho)
        return Failure(std::format("rho has {} entries, expected {} for svm_type {}",
                                   record.rho.size(), expected_rho, type));
    NV_RETURN_IF_ERROR(classification ? check_classification_counts(record)
                                      : check_no_class_arrays(record));
    NV_RETURN_IF_ERROR(check_optional_length("probA", record.probA.size(), expected_rho));
    NV_RETURN_IF_ERROR(check_optional_length("probB", record.probB.size(), expected_rho));
    if (record.svm_type.value != kOneClass && !record.prob_density_marks.empty())
        return Failure(std::format(
            "prob_density_marks is only valid for one-class SVM, got {} entries on svm_type {}",
            record.prob_density_marks.size(), type));
    if (record.sv_coef.size() != k - 1)
        return Failure(
            std::format("sv_coef has {} rows, expected {}", record.sv_coef.size(), k - 1));
    return expected_rho;
}

codec::Status validate_precomputed_row(const SupportVector& vector, std::size_t line) {
    if (vector.empty())
        return Failure(std::format(
            "line {}: precomputed kernel support vector is missing 0:sample_serial_number", line));
    const auto [index, serial] = vector[0];
    if (index != 0 || !std::isfinite(serial) || serial < 1 || serial != std::trunc(serial))
        return Failure(std::format(
            "line {}: precomputed kernel support vector must start with 0:sample_serial_number",
            line));
    return {};
}

codec::Status validate_model(const SvmModelRecord& record) {
    if (record.degree < 0)
        return Failure(std::format("degree must be >= 0, got {}", record.degree));
    if (!std::isfinite(record.gamma))
        return Failure(std::format("gamma must be finite, got {}", shown(record.gamma)));
    const auto kernel = record.kernel_type.value;
    const bool uses_gamma = kernel == kPolynomial || kernel == kRbf || kernel == kSigmoid;
    if (uses_gamma && record.gamma < 0)
        return Failure(std::format("gamma must be >= 0, got {}", shown(record.gamma)));
    if (!std::isfinite(record.coef0))
        return Failure(std::format("coef0 must be finite, got {}", shown(record.coef0)));

    NV_RETURN_IF_ERROR(validate_model_header(record));
    NV_RETURN_IF_ERROR(check_sv_coef(record));
    NV_RETURN_IF_ERROR(check_finite("rho", record.rho));
    NV_RETURN_IF_ERROR(check_finite("probA", record.probA));
    NV_RETURN_IF_ERROR(check_finite("probB", record.probB));
    NV_RETURN_IF_ERROR(check_finite("prob_density_marks", record.prob_density_marks));

    for (std::size_t i = 0; i < record.SV.size(); ++i) {
        NV_RETURN_IF_ERROR(check_support_vector(record.SV[i], i + 1));
        if (kernel == kPrecomputed) NV_RETURN_IF_ERROR(validate_precomputed_row(record.SV[i], i + 1));
    }
    return {};
}

codec::Status SvmModelRecord::check(const SvmModelRecord& record) {
    auto valid = validate_model(record);
    if (!valid) return Failure("model format error: " + valid.error());
    return {};
}

}  // namespace norvale
