#pragma once
// The per-column problems handed to LIBSVM. Column c is predicted from every
// other column of the mean/mode-filled table: those columns are numbered
// from 1 without a gap (column j is feature j + 1 before c and j after it),
// and only non-zero values are listed, so each feature vector is a strictly
// ascending sparse list closed by LIBSVM's terminating node.
#include <cstddef>
#include <span>
#include <vector>

#include <libsvm/svm.h>

#include "utils/matrix.hpp"

namespace norvale {

class SvmProblem {
public:
    // Rows of the problem, in ascending table row order.
    std::size_t size() const { return labels_.size(); }
    // The value of the predicted column in the unfilled table (NaN for the
    // rows of a query problem).
    double label(std::size_t i) const { return labels_[i]; }
    // The table row the problem row came from.
    std::size_t source_row(std::size_t i) const { return source_rows_[i]; }
    // The feature nodes of row i, terminating node included.
    std::span<const svm_node> features(std::size_t i) const;
    // The largest feature index occurring in any row; 0 when no row has one.
    int largest_index() const { return largest_index_; }

    // LIBSVM's view of the problem. It points into this object, which must
    // stay alive and unchanged while the view is used.
    svm_problem view();

private:
    friend SvmProblem create_problem(const Matrix&, const Matrix&, std::size_t, bool);

    std::vector<double> labels_;
    std::vector<std::size_t> source_rows_;
    std::vector<svm_node> nodes_;
    std::vector<std::size_t> starts_;  // first node of each row, then one past the last
    std::vector<svm_node*> row_pointers_;
    int largest_index_ = 0;
};

// The problem for `column`: features from `filled`, labels from `original`.
// keep_missing false takes the rows where the column is observed (training),
// true the rows where it is missing (prediction).
SvmProblem create_problem(const Matrix& filled, const Matrix& original, std::size_t column,
                          bool keep_missing);

// The training parameters, the same for every column but the SVM type.
// gamma is 1 / (largest feature index of the problem), 0 without features.
svm_parameter training_parameters(int svm_type, int kernel_type, const SvmProblem& problem);

}  // namespace norvale
