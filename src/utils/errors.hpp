#pragma once
// The error value of all numeric code. Numeric functions return Result<T> or
// Status; the Python boundary renders the value and raises the class that
// `python_class` names. Success costs nothing beyond std::expected.
#include <cstddef>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "utils/try.hpp"

namespace norvale {

struct NotFitted {};
struct InvalidOperation {
    std::string detail;
};
struct UnsupportedValue {
    std::string value;
    std::string_view parameter;
    // Absent: the message stops after "is not supported".
    std::optional<std::span<const std::string_view>> supported;
};
// A shape error of the array layer: what failed and a description of it.
struct ShapeMismatch {
    std::string kind;
    std::string description;
};
// A failed least-squares solve; the description is the linear-algebra error.
struct LeastSquares {
    std::string description;
};
struct SvmTraining {
    std::size_t column;
    std::string reason;
};

enum class PythonClass { RuntimeError, ValueError };

class Errors {
public:
    // The order is the kind index.
    using Kind = std::variant<NotFitted, InvalidOperation, UnsupportedValue, ShapeMismatch,
                              LeastSquares, SvmTraining>;

    static Errors not_fitted() { return Errors(NotFitted{}); }
    static Errors invalid_operation(std::string detail) {
        return Errors(InvalidOperation{std::move(detail)});
    }
    static Errors unsupported_value(std::string value, std::string_view parameter) {
        return Errors(UnsupportedValue{std::move(value), parameter, std::nullopt});
    }
    static Errors unsupported_value(std::string value, std::string_view parameter,
                                    std::span<const std::string_view> supported) {
        return Errors(UnsupportedValue{std::move(value), parameter, supported});
    }
    static Errors shape_mismatch(std::string kind, std::string description) {
        return Errors(ShapeMismatch{std::move(kind), std::move(description)});
    }
    static Errors least_squares(std::string description) {
        return Errors(LeastSquares{std::move(description)});
    }
    static Errors svm_training(std::size_t column, std::string reason) {
        return Errors(SvmTraining{column, std::move(reason)});
    }

    Errors(Errors&&) noexcept = default;
    Errors& operator=(Errors&&) noexcept = default;
    // Values are moved to the boundary, never shared.
    Errors(const Errors&) = delete;
    Errors& operator=(const Errors&) = delete;

    const Kind& kind() const { return kind_; }
    std::size_t kind_index() const { return kind_.index(); }

    // The one-line message of this error.
    std::string render() const;
    // The Python exception class the boundary raises for this error.
    PythonClass python_class() const;

private:
    explicit Errors(Kind kind) : kind_(std::move(kind)) {}
    Kind kind_;
};

template <class T>
using Result = std::expected<T, Errors>;
using Status = Result<void>;

inline Status ok() { return {}; }

}  // namespace norvale
