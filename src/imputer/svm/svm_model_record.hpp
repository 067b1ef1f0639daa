#pragma once
// The stored form of one trained LIBSVM model: a field-by-field image of
// `svm_model` with its `svm_parameter`, minus the support-vector count (it is
// the number of stored vectors) and LIBSVM's ownership flag. Reading checks
// the two type codes as they arrive and then the whole record, because a
// record that reaches `svm_predict` must never make it read out of bounds.
#include <cstdint>
#include <expected>
#include <format>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "codec/state_codec.hpp"
#include "utils/try.hpp"

namespace norvale {

// LIBSVM's own numbering, which is also what the state stores.
enum SvmTypeNumber : std::int32_t { kCSvc = 0, kNuSvc = 1, kOneClass = 2, kEpsilonSvr = 3, kNuSvr = 4 };
enum KernelNumber : std::int32_t {
    kLinear = 0,
    kPolynomial = 1,
    kRbf = 2,
    kSigmoid = 3,
    kPrecomputed = 4,
};

// An i32 code between 0 and 4, rejected with "unknown {Word} code {}" as soon
// as it is read. `Word` is SvmTypeWord or KernelTypeWord.
template <class Word>
struct LibsvmCode {
    std::int32_t value = 0;

    static auto fields(auto& self) { return std::tie(self.value); }
    static codec::Status check(const LibsvmCode& code) {
        // Read as unsigned so that negative codes are unknown too.
        if (static_cast<std::uint32_t>(code.value) > 4)
            return std::unexpected(std::format("unknown {} code {}", Word::text, code.value));
        return {};
    }
    friend bool operator==(const LibsvmCode&, const LibsvmCode&) = default;
};
struct SvmTypeWord {
    static constexpr std::string_view text = "SvmType";
};
struct KernelTypeWord {
    static constexpr std::string_view text = "KernelType";
};
using SvmTypeCode = LibsvmCode<SvmTypeWord>;
using KernelCode = LibsvmCode<KernelTypeWord>;

// One support vector: (feature index, value) nodes in stored order, without
// LIBSVM's terminating node.
using SupportVector = std::vector<std::pair<std::int32_t, double>>;

struct SvmModelRecord {
    // The parameter block (`svm_parameter`).
    SvmTypeCode svm_type;
    KernelCode kernel_type;
    std::int32_t degree = 3;
    double gamma = 0.0;  // the value actually used in training
    double coef0 = 0.0;
    double cache_size = 100.0;
    double eps = 0.001;
    double C = 1.0;
    std::vector<std::pair<std::int32_t, double>> weight;  // (class label, weight)
    double nu = 0.5;
    double p = 0.1;
    bool shrinking = true;
    bool probability = false;
    // The model proper. An array LIBSVM leaves absent is stored empty.
    std::uint64_t nr_class = 0;  // 2 for regression and one-class models
    std::vector<SupportVector> SV;
    std::vector<std::vector<double>> sv_coef;  // nr_class - 1 rows of SV.size() values
    std::vector<double> rho;
    std::vector<double> probA;
    std::vector<double> probB;
    std::vector<double> prob_density_marks;
    std::vector<std::uint64_t> sv_indices;  // 1-based positions in the training problem
    std::vector<std::int32_t> label;
    std::vector<std::uint64_t> nSV;  // "nr_sv" in messages

    static auto fields(auto& self) {
        return std::tie(self.svm_type, self.kernel_type, self.degree, self.gamma, self.coef0,
                        self.cache_size, self.eps, self.C, self.weight, self.nu, self.p,
                        self.shrinking, self.probability, self.nr_class, self.SV, self.sv_coef,
                        self.rho, self.probA, self.probB, self.prob_density_marks,
                        self.sv_indices, self.label, self.nSV);
    }
    // Runs as soon as the record's fields are read: "model format error: "
    // followed by the first failing check of validate_model.
    static codec::Status check(const SvmModelRecord& record);

    bool is_classification() const {
        return svm_type.value == kCSvc || svm_type.value == kNuSvc;
    }
    std::size_t total_sv() const { return SV.size(); }

    friend bool operator==(const SvmModelRecord&, const SvmModelRecord&) = default;
};

// "c_svc", "nu_svc", "one_class", "epsilon_svr" or "nu_svr".
std::string_view svm_type_name(std::int32_t code);

// The record checks, in their fixed order; the first failure's text (without
// the "model format error: " prefix). A record that passes can be handed to
// svm_predict: every array LIBSVM indexes has the length it assumes and
// every count fits LIBSVM's int.
codec::Status validate_model(const SvmModelRecord& record);

// Class counts and array lengths. On success, the number of `rho` entries
// the record has (the count probA and probB are held to as well).
std::expected<std::uint64_t, std::string> validate_model_header(const SvmModelRecord& record);

// A precomputed-kernel support vector must start with its sample serial
// number at index 0; `line` counts support vectors from 1.
codec::Status validate_precomputed_row(const SupportVector& vector, std::size_t line);

}  // namespace norvale
