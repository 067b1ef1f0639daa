#pragma once
// One-line propagation for any std::expected: numeric Result/Status values and
// the binding layer's PyResult alike.

#define NV_CONCAT_INNER(a, b) a##b
#define NV_CONCAT(a, b) NV_CONCAT_INNER(a, b)

// Return the error of an expected-valued expression from the enclosing function.
#define NV_RETURN_IF_ERROR(expr)                                       \
    do {                                                               \
        if (auto nv_status = (expr); !nv_status)                       \
            return std::unexpected(std::move(nv_status).error());      \
    } while (0)

// `NV_ASSIGN_OR_RETURN(auto x, f())`: bind the value, or return the error.
#define NV_ASSIGN_OR_RETURN(lhs, expr) \
    NV_ASSIGN_OR_RETURN_IMPL(NV_CONCAT(nv_result_, __LINE__), lhs, expr)
#define NV_ASSIGN_OR_RETURN_IMPL(tmp, lhs, expr)               \
    auto tmp = (expr);                                         \
    if (!tmp) return std::unexpected(std::move(tmp).error()); \
    lhs = std::move(*tmp)
