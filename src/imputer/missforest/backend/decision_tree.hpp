#pragma once
// A regression tree: splits send a row left when its feature value is at most
// the threshold and right otherwise (NaN fails the comparison and goes
// right); the leaf reached holds the prediction.
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "utils/matrix.hpp"

namespace norvale {

struct Node {
    struct Children;

    static Node leaf(double value);
    // Both children are owned by the split and allocated together.
    static Node split(std::uint64_t feature, double threshold, Node left, Node right);

    bool is_split() const { return children != nullptr; }

    double value = 0.0;          // prediction of a leaf
    std::uint64_t feature = 0;   // column of the predictor table a split reads
    double threshold = 0.0;
    std::unique_ptr<Children> children;  // present exactly for a split
};

struct Node::Children {
    Node left;
    Node right;
};

struct DecisionTree {
    std::optional<Node> root;

    // The leaf value `row` reaches. A tree without a root, or a split reading
    // past the end of the row, is an internal invariant failure.
    double predict_row(std::span<const double> row) const;
    // One prediction per row of `table`, in row order.
    std::vector<double> predict(const Matrix& table) const;
};

}  // namespace norvale
