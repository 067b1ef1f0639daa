#pragma once
// Between LIBSVM's svm_model and the stored record: training copies a fresh
// model into a record, prediction assembles an svm_model over a record.
#include <memory>
#include <span>
#include <string>
#include <expected>
#include <vector>

#include <libsvm/svm.h>

#include "imputer/svm/svm_model_record.hpp"
#include "imputer/svm/svm_problem.hpp"

namespace norvale {

// Trains on `problem` and returns the model as a record, or LIBSVM's reason
// ("invalid parameter: ...") when it refuses the parameters. Safe to run for
// distinct problems at once.
std::expected<SvmModelRecord, std::string> train_model(SvmProblem& problem,
                                                       const svm_parameter& parameters);

// A copy of a model svm_train returned. Its support vectors point into the
// training problem, so they are copied out here.
SvmModelRecord record_from_libsvm(const svm_model& model);

// An svm_model over a record that passed validate_model, for svm_predict.
// It points into the record's arrays, so the record must outlive it; it
// copies only what LIBSVM lays out differently (terminated node rows, the
// row pointers, int class counts). Precomputed kernels are refused by the
// callers: LIBSVM would index the query vector by a number from the model.
class LibsvmModel {
public:
    explicit LibsvmModel(const SvmModelRecord& record);
    LibsvmModel(const LibsvmModel&) = delete;
    LibsvmModel& operator=(const LibsvmModel&) = delete;

    // svm_predict on a feature vector closed with the terminating node.
    double predict(std::span<const svm_node> features) const;

private:
    std::vector<svm_node> nodes_;
    std::vector<svm_node*> rows_;
    std::vector<double*> coefficient_rows_;
    std::vector<int> class_sizes_;
    svm_model model_{};
};

}  // namespace norvale
