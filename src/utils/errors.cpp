#include "utils/errors.hpp"

#include <format>

namespace norvale {
namespace {

// ["a", "b"]: each entry quoted, separated by a comma and a space.
std::string bracketed_list(std::span<const std::string_view> entries) {
    std::string out = "[";
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (i > 0) out += ", ";
        out += '"';
        out += entries[i];
        out += '"';
    }
    out += ']';
    return out;
}

struct Renderer {
    std::string operator()(const NotFitted&) const {
        return "This imputer is not fitted. Call fit before transform.";
    }
    std::string operator()(const InvalidOperation& e) const {
        return std::format("Not a valid operation: {}", e.detail);
    }
    std::string operator()(const UnsupportedValue& e) const {
        auto text = std::format("{}: [{}] is not supported", e.parameter, e.value);
        // The two sentences are joined without a separator.
        if (e.supported) text += std::format("Supported values: {}", bracketed_list(*e.supported));
        return text;
    }
    std::string operator()(const ShapeMismatch& e) const {
        return std::format("Shape Mismatch: {}", e.description);
    }
    std::string operator()(const LeastSquares& e) const {
        return std::format("Unable to compute least squares solution! {}", e.description);
    }
    std::string operator()(const SvmTraining& e) const {
        return std::format("Failed to train SVM at column: {} because {}", e.column, e.reason);
    }
};

}  // namespace

std::string Errors::render() const { return std::visit(Renderer{}, kind_); }

PythonClass Errors::python_class() const {
    if (std::holds_alternative<UnsupportedValue>(kind_) ||
        std::holds_alternative<ShapeMismatch>(kind_))
        return PythonClass::ValueError;
    return PythonClass::RuntimeError;
}

}  // namespace norvale
