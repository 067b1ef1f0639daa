#include "imputer/missforest/backend/decision_tree.hpp"

#include "utils/panic.hpp"
#include "utils/parallel.hpp"

namespace norvale {

Node Node::leaf(double value) {
    Node node;
    node.value = value;
    return node;
}

Node Node::split(std::uint64_t feature, double threshold, Node left, Node right) {
    Node node;
    node.feature = feature;
    node.threshold = threshold;
    node.children = std::make_unique<Children>(std::move(left), std::move(right));
    return node;
}

double DecisionTree::predict_row(std::span<const double> row) const {
    if (!root) panic("decision tree has no root");
    const Node* node = &*root;
    while (node->is_split()) {
        if (node->feature >= row.size()) panic("split feature outside the row");
        // `<=` is false for NaN, so a missing value goes right.
        node = row[node->feature] <= node->threshold ? &node->children->left
                                                       : &node->children->right;
    }
    return node->value;
}

std::vector<double> DecisionTree::predict(const Matrix& table) const {
    return parallel_map<double>(table.rows(),
                                [&](std::size_t row) { return predict_row(table.row(row)); });
}

}  // namespace norvale
