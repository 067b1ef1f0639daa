#include "imputer/svm/svm_imputer.hpp"

#include <algorithm>
#include <array>
#include <climits>
#include <expected>
#include <format>
#include <string>

#include <libsvm/svm.h>
#include <oneapi/tbb/blocked_range.h>
#include <oneapi/tbb/parallel_for.h>
#include <oneapi/tbb/partitioner.h>

#include "imputer/svm/libsvm_model.hpp"
#include "imputer/svm/svm_problem.hpp"
#include "utils/parallel.hpp"

namespace norvale {
namespace {

constexpr std::array<std::string_view, 4> kSupportedKernels{"linear", "rbf", "sigmoid",
                                                            "polynomial"};

// LIBSVM reports progress and warnings (such as a single class in the
// training labels) through one process-wide print function.
void discard_libsvm_output(const char*) {}

using TrainedColumn = std::expected<SvmModelRecord, std::string>;

// Trains the model of one column on the rows where it is observed.
TrainedColumn fit_model(const Matrix& data, const Matrix& filled, std::size_t column,
                        bool categorical, std::int32_t kernel) {
    // LIBSVM would read each training vector by the serial number in its
    // first node, which feature vectors do not hold. Only a loaded state can
    // carry this kernel.
    if (kernel == kPrecomputed)
        return std::unexpected(std::string("a precomputed kernel cannot train on feature vectors"));
    SvmProblem problem = create_problem(filled, data, column, /*keep_missing=*/false);
    if (problem.size() > static_cast<std::size_t>(INT_MAX))
        return std::unexpected(std::format(
            "the training problem has {} rows, more than LIBSVM can hold", problem.size()));
    const std::int32_t svm_type = categorical ? kCSvc : kEpsilonSvr;
    return train_model(problem, training_parameters(svm_type, kernel, problem));
}

// Each column is its own task, so that two long trainings never end up in
// one chunk while another thread idles.
template <class Body>
std::vector<TrainedColumn> train_columns(std::size_t columns, Body&& body) {
    std::vector<std::optional<TrainedColumn>> slots(columns);
    tbb::parallel_for(
        tbb::blocked_range<std::size_t>(0, columns, 1),
        [&](const tbb::blocked_range<std::size_t>& range) {
            for (std::size_t c = range.begin(); c != range.end(); ++c) slots[c].emplace(body(c));
        },
        tbb::simple_partitioner());
    std::vector<TrainedColumn> out;
    out.reserve(columns);
    for (auto& slot : slots) out.push_back(std::move(*slot));
    return out;
}

std::vector<std::uint64_t> other_columns(std::size_t columns,
                                         const std::vector<std::uint64_t>& excluded) {
    std::vector<std::uint64_t> rest;
    for (std::uint64_t c = 0; c < columns; ++c)
        if (!std::ranges::binary_search(excluded, c)) rest.push_back(c);
    return rest;
}

// A loaded state may pair models with a starting fill of another width.
Status check_fill_width(const SimpleImputer& init, std::size_t columns) {
    if (!init.sample_means || init.sample_means->size() >= columns) return ok();
    return std::unexpected(Errors::shape_mismatch(
        "starting fill", std::format("the starting fill holds {} values for {} columns",
                                     init.sample_means->size(), columns)));
}

}  // namespace

Result<std::int32_t> kernel_code(std::string_view name) {
    if (name == "rbf") return kRbf;
    if (name == "linear") return kLinear;
    if (name == "sigmoid") return kSigmoid;
    if (name == "polynomial") return kPolynomial;
    return std::unexpected(
        Errors::unsupported_value(std::string(name), "SVM.Kernel", kSupportedKernels));
}

std::string_view kernel_name(std::int32_t code) {
    switch (code) {
        case kLinear: return "linear";
        case kPolynomial: return "polynomial";
        case kRbf: return "rbf";
        case kSigmoid: return "sigmoid";
        case kPrecomputed: return "precomputed";
        default: panic("kernel code checked when read");
    }
}

Result<SVMImputer> SVMImputer::create(std::string_view kernel_name,
                                      std::optional<std::string_view> encoding) {
    // Before the options are checked: every construction silences LIBSVM.
    svm_set_print_string_function(&discard_libsvm_output);
    NV_ASSIGN_OR_RETURN(const std::int32_t code, kernel_code(kernel_name));
    NV_ASSIGN_OR_RETURN(const auto string_encoding, process_labelencoding(encoding));
    SVMImputer imputer;
    imputer.string_encoding = string_encoding;
    imputer.init.string_encoding = string_encoding;
    imputer.kernel.value = code;
    return imputer;
}

Status SVMImputer::fit(const Matrix& data,
                       const std::optional<std::vector<std::uint64_t>>& string_columns) {
    const std::size_t columns = data.cols();
    if (string_columns) {
        cat_cols = *string_columns;
        num_cols = other_columns(columns, cat_cols);
    }
    // Which columns are categorical is decided by this input alone: lists
    // kept from an earlier fit may not even fit this table, and a table
    // without label-encoding information holds no strings.
    std::vector<bool> categorical(columns, false);
    std::span<const std::uint64_t> strings;
    if (string_columns) strings = *string_columns;
    for (const std::uint64_t c : strings) categorical[c] = true;

    NV_RETURN_IF_ERROR(init.fit_impl(
        data, strings.empty() ? std::nullopt : std::optional<std::span<const std::uint64_t>>(strings)));
    NV_ASSIGN_OR_RETURN(const Matrix filled, init.impute(data));

    models.clear();
    models.reserve(columns);
    const std::int32_t kernel_type = kernel.value;
    auto trained = train_columns(columns, [&](std::size_t c) {
        return fit_model(data, filled, c, categorical[c], kernel_type);
    });
    // Every column was trained; the first failure in column order is reported.
    for (std::size_t c = 0; c < columns; ++c) {
        if (!trained[c]) return std::unexpected(Errors::svm_training(c, std::move(trained[c]).error()));
        models.push_back(std::move(*trained[c]));
    }
    is_fitted = true;
    return ok();
}

Result<Matrix> SVMImputer::impute(const Matrix& data) const {
    const std::size_t columns = data.cols();
    if (models.size() != columns) panic("one model per column is checked by the caller");
    for (const auto& model : models)
        if (model.kernel_type.value == kPrecomputed)
            return std::unexpected(
                Errors::unsupported_value("precomputed", "SVM.Kernel", kSupportedKernels));
    NV_RETURN_IF_ERROR(check_fill_width(init, columns));
    NV_ASSIGN_OR_RETURN(const Matrix filled, init.impute(data));

    Matrix result = data;
    SendPtr<double> cells(result.cells().data());
    parallel_for_each(columns, [&](std::size_t c) {
        const SvmProblem missing = create_problem(filled, data, c, /*keep_missing=*/true);
        if (missing.size() == 0) return;
        const LibsvmModel model(models[c]);
        parallel_for_each(missing.size(), [&](std::size_t i) {
            cells[missing.source_row(i) * columns + c] = model.predict(missing.features(i));
        });
    });
    return result;
}

}  // namespace norvale
