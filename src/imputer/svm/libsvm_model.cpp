#include "imputer/svm/libsvm_model.hpp"

#include <format>
#include <type_traits>

namespace norvale {
namespace {

static_assert(std::is_same_v<std::int32_t, int>, "labels are handed to LIBSVM in place");

// svm_train's models point into their training problem, so freeing one
// releases LIBSVM's arrays but not the support-vector nodes.
struct FreeTrainedModel {
    void operator()(svm_model* model) const { svm_free_and_destroy_model(&model); }
};

template <class T>
std::vector<T> copied(const T* values, std::size_t count) {
    if (!values) return {};
    return std::vector<T>(values, values + count);
}

// LIBSVM's arrays are non-const; svm_predict only reads them. An empty
// array is handed over as absent.
template <class T>
T* absent_if_empty(const std::vector<T>& values) {
    return values.empty() ? nullptr : const_cast<T*>(values.data());
}

svm_parameter parameters_of(const SvmModelRecord& record) {
    svm_parameter parameters{};
    parameters.svm_type = record.svm_type.value;
    parameters.kernel_type = record.kernel_type.value;
    parameters.degree = record.degree;
    parameters.gamma = record.gamma;
    parameters.coef0 = record.coef0;
    parameters.cache_size = record.cache_size;
    parameters.eps = record.eps;
    parameters.C = record.C;
    // Class weights only steer training; prediction never reads them.
    parameters.nr_weight = 0;
    parameters.nu = record.nu;
    parameters.p = record.p;
    parameters.shrinking = record.shrinking ? 1 : 0;
    parameters.probability = record.probability ? 1 : 0;
    return parameters;
}

}  // namespace

std::expected<SvmModelRecord, std::string> train_model(SvmProblem& problem,
                                                       const svm_parameter& parameters) {
    const svm_problem view = problem.view();
    if (const char* reason = svm_check_parameter(&view, &parameters))
        return std::unexpected(std::format("invalid parameter: {}", reason));
    const std::unique_ptr<svm_model, FreeTrainedModel> model(svm_train(&view, &parameters));
    if (!model) panic("svm_train returned no model");
    return record_from_libsvm(*model);
}

SvmModelRecord record_from_libsvm(const svm_model& model) {
    const svm_parameter& parameters = model.param;
    SvmModelRecord record;
    record.svm_type.value = parameters.svm_type;
    record.kernel_type.value = parameters.kernel_type;
    record.degree = parameters.degree;
    record.gamma = parameters.gamma;
    record.coef0 = parameters.coef0;
    record.cache_size = parameters.cache_size;
    record.eps = parameters.eps;
    record.C = parameters.C;
    for (int i = 0; i < parameters.nr_weight; ++i)
        record.weight.emplace_back(parameters.weight_label[i], parameters.weight[i]);
    record.nu = parameters.nu;
    record.p = parameters.p;
    record.shrinking = parameters.shrinking != 0;
    record.probability = parameters.probability != 0;

    const auto classes = static_cast<std::size_t>(model.nr_class);
    const auto total_sv = static_cast<std::size_t>(model.l);
    record.nr_class = classes;
    record.SV.reserve(total_sv);
    for (std::size_t i = 0; i < total_sv; ++i) {
        SupportVector& vector = record.SV.emplace_back();
        for (const svm_node* node = model.SV[i]; node->index != -1; ++node)
            vector.emplace_back(node->index, node->value);
    }
    if (model.sv_coef)
        for (std::size_t row = 0; row + 1 < classes; ++row)
            record.sv_coef.push_back(copied(model.sv_coef[row], total_sv));
    const std::size_t pairs = record.is_classification() ? classes * (classes - 1) / 2 : 1;
    record.rho = copied(model.rho, pairs);
    record.probA = copied(model.probA, pairs);
    record.probB = copied(model.probB, pairs);
    for (const int index : copied(model.sv_indices, total_sv))
        record.sv_indices.push_back(static_cast<std::uint64_t>(index));
    record.label = copied(model.label, classes);
    for (const int count : copied(model.nSV, classes))
        record.nSV.push_back(static_cast<std::uint64_t>(count));
    return record;
}

LibsvmModel::LibsvmModel(const SvmModelRecord& record) {
    if (record.kernel_type.value == kPrecomputed)
        panic("a precomputed kernel cannot predict from feature vectors");
    std::size_t node_count = 0;
    for (const auto& vector : record.SV) node_count += vector.size() + 1;
    // Reserved in full, so the row pointers taken below stay valid.
    nodes_.reserve(node_count);
    rows_.reserve(record.SV.size());
    for (const auto& vector : record.SV) {
        rows_.push_back(nodes_.data() + nodes_.size());
        for (const auto& [index, value] : vector) nodes_.push_back({index, value});
        nodes_.push_back({-1, 0.0});
    }
    for (const auto& row : record.sv_coef) coefficient_rows_.push_back(const_cast<double*>(row.data()));
    for (const std::uint64_t count : record.nSV) class_sizes_.push_back(static_cast<int>(count));

    // validate_model has bounded nr_class and the support-vector count to int.
    model_.param = parameters_of(record);
    model_.nr_class = static_cast<int>(record.nr_class);
    model_.l = static_cast<int>(record.SV.size());
    model_.SV = absent_if_empty(rows_);
    model_.sv_coef = absent_if_empty(coefficient_rows_);
    model_.rho = absent_if_empty(record.rho);
    model_.probA = absent_if_empty(record.probA);
    model_.probB = absent_if_empty(record.probB);
    model_.sv_indices = nullptr;  // positions in the training data; prediction never reads them
    model_.label = absent_if_empty(record.label);
    model_.nSV = absent_if_empty(class_sizes_);
    model_.free_sv = 0;
}

double LibsvmModel::predict(std::span<const svm_node> features) const {
    if (features.empty() || features.back().index != -1) panic("feature vector is not terminated");
    return svm_predict(&model_, features.data());
}

}  // namespace norvale
