#include "imputer/knn/distances.hpp"

#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

// The vector helpers below are always inlined, so the ABI note GCC gives for
// passing vectors by value does not apply.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace norvale::knn {
namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr double kBothMissingPenalty = 0.333;

// The kernels are written once over a lane type L and a group count G:
// G values of L hold G × width(L) donors side by side. A pair is L = double,
// G = 1; a block uses the widest vector the processor has natively (wider
// GCC vectors are split into scalar code), G of them to fill kBlockLanes.
// Donor b's value of column j is donors[j * stride + b].
//
// Every term is computed for all lanes and then kept or dropped by a select,
// so the vector forms have no branches. Exactness relies on three things:
// each lane adds its terms in column order (nothing is reassociated), a
// dropped term adds +0.0, which leaves the non-negative sums unchanged, and
// no product feeds an addition directly (the select sits between them), so
// the FMA-capable form cannot fuse them and rounds like the plain one.

template <class L>
constexpr std::size_t kWidth = sizeof(L) / sizeof(double);

template <class L>
[[gnu::always_inline]] inline L load(const double* at) {
    L lanes;
    std::memcpy(&lanes, at, sizeof lanes);
    return lanes;
}

template <class L>
[[gnu::always_inline]] inline L splat(double value) {
    return L{} + value;
}

// NaN is the one value unequal to itself.
template <class L>
[[gnu::always_inline]] inline auto present(const L& lanes) {
    return lanes == lanes;
}

template <class L>
[[gnu::always_inline]] inline L magnitude(const L& lanes) {
    return lanes < 0.0 ? -lanes : lanes;
}

// max(v, 1 - v): the penalty for a cell whose partner is missing.
template <class L>
[[gnu::always_inline]] inline L one_missing_penalty(const L& v) {
    const L flipped = 1.0 - v;
    return v < flipped ? flipped : v;
}

template <class L, std::size_t G>
[[gnu::always_inline]] inline void nan_euclid_lanes(Row query, const double* donors,
                                                    std::size_t stride, double* out) {
    const L zero = splat<L>(0.0);
    const L one = splat<L>(1.0);
    L sum[G];
    L count[G];
    for (std::size_t g = 0; g < G; ++g) sum[g] = count[g] = zero;
    for (std::size_t j = 0; j < query.size(); ++j) {
        const double x = query[j];
        if (std::isnan(x)) continue;
        for (std::size_t g = 0; g < G; ++g) {
            const L y = load<L>(donors + j * stride + g * kWidth<L>);
            const auto both = present(y);
            const L diff = x - y;
            sum[g] += both ? diff * diff : zero;
            count[g] += both ? one : zero;
        }
    }
    const double n = static_cast<double>(query.size());
    for (std::size_t g = 0; g < G; ++g) {
        const L scaled = sum[g] * (n / count[g]);
        const L result = count[g] == zero ? splat<L>(kInfinity) : scaled;
        std::memcpy(out + g * kWidth<L>, &result, sizeof result);
    }
}

template <class L, std::size_t G>
[[gnu::always_inline]] inline void expected_distance_lanes(Row query, const double* donors,
                                                           std::size_t stride, double* out) {
    const L zero = splat<L>(0.0);
    L penalty[G];
    L squares[G];
    for (std::size_t g = 0; g < G; ++g) penalty[g] = squares[g] = zero;
    for (std::size_t j = 0; j < query.size(); ++j) {
        const double x = query[j];
        for (std::size_t g = 0; g < G; ++g) {
            const L y = load<L>(donors + j * stride + g * kWidth<L>);
            const auto donor_present = present(y);
            if (std::isnan(x)) {
                penalty[g] +=
                    donor_present ? one_missing_penalty(y) : splat<L>(kBothMissingPenalty);
                continue;
            }
            const L diff = x - y;
            penalty[g] += donor_present ? zero : one_missing_penalty(splat<L>(x));
            squares[g] += donor_present ? diff * diff : zero;
        }
    }
    // No portable vector square root; the lanes are finished one by one.
    double penalties[G * kWidth<L>];
    double square_sums[G * kWidth<L>];
    std::memcpy(penalties, penalty, sizeof penalties);
    std::memcpy(square_sums, squares, sizeof square_sums);
    for (std::size_t b = 0; b < G * kWidth<L>; ++b)
        out[b] = penalties[b] + std::sqrt(square_sums[b]);
}

template <class L, std::size_t G>
[[gnu::always_inline]] inline void gower_lanes(const GowerColumns& columns, Row query,
                                               const double* donors, std::size_t stride,
                                               double* out) {
    const L zero = splat<L>(0.0);
    const L one = splat<L>(1.0);
    L sum[G];
    L count[G];
    for (std::size_t g = 0; g < G; ++g) sum[g] = count[g] = zero;
    // Label codes: 0 for equal codes, 1 for different ones. min(|d|, 1) is
    // written so that a NaN difference counts 1, as fmin does.
    for (const std::uint64_t j : columns.cat_cols) {
        const double x = query[j];
        if (std::isnan(x)) continue;
        for (std::size_t g = 0; g < G; ++g) {
            const L y = load<L>(donors + j * stride + g * kWidth<L>);
            const auto both = present(y);
            const L term = magnitude<L>(x - y);
            sum[g] += both ? (term < 1.0 ? term : one) : zero;
            count[g] += both ? one : zero;
        }
    }
    // Numbers: both values are divided by the span first, then subtracted.
    for (const std::uint64_t j : columns.num_cols) {
        const double span = columns.spans[j];
        if (span == 0.0) continue;
        const double x = query[j] / span;
        if (std::isnan(x)) continue;
        for (std::size_t g = 0; g < G; ++g) {
            const L y = load<L>(donors + j * stride + g * kWidth<L>) / span;
            const auto both = present(y);
            sum[g] += both ? magnitude<L>(x - y) : zero;
            count[g] += both ? one : zero;
        }
    }
    for (std::size_t g = 0; g < G; ++g) {
        const L mean = sum[g] / count[g];
        const L result = count[g] == zero ? splat<L>(kInfinity) : mean;
        std::memcpy(out + g * kWidth<L>, &result, sizeof result);
    }
}

// The block forms for one instruction set: L is its widest native vector.
struct BlockKernels {
    void (*nan_euclid)(Row, const double*, std::size_t, double*);
    void (*expected_distance)(Row, const double*, std::size_t, double*);
    void (*gower)(const GowerColumns&, Row, const double*, std::size_t, double*);
};

#define NV_BLOCK_KERNELS(name, L, ...)                                                         \
    namespace name {                                                                           \
    static_assert(kBlockLanes % kWidth<L> == 0);                                               \
    constexpr std::size_t kGroups = kBlockLanes / kWidth<L>;                                   \
    __VA_ARGS__ void nan_euclid(Row query, const double* donors, std::size_t stride,           \
                                double* out) {                                                 \
        nan_euclid_lanes<L, kGroups>(query, donors, stride, out);                              \
    }                                                                                          \
    __VA_ARGS__ void expected_distance(Row query, const double* donors, std::size_t stride,    \
                                       double* out) {                                          \
        expected_distance_lanes<L, kGroups>(query, donors, stride, out);                       \
    }                                                                                          \
    __VA_ARGS__ void gower(const GowerColumns& columns, Row query, const double* donors,       \
                           std::size_t stride, double* out) {                                  \
        gower_lanes<L, kGroups>(columns, query, donors, stride, out);                          \
    }                                                                                          \
    constexpr BlockKernels kernels{&nan_euclid, &expected_distance, &gower};                   \
    }

#if defined(__GNUC__)
#define NV_VECTOR(bytes) __attribute__((vector_size(bytes)))
using Vector2 = double NV_VECTOR(16);
NV_BLOCK_KERNELS(baseline, Vector2)
#else
NV_BLOCK_KERNELS(baseline, double)
#endif

#if defined(__GNUC__) && defined(__x86_64__)
// AVX2 registers, four doubles each; used when the processor has x86-64-v3.
using Vector4 = double NV_VECTOR(32);
NV_BLOCK_KERNELS(avx2, Vector4, [[gnu::target("arch=x86-64-v3")]])

// (An AVX-512 form of the same source comes out scalar with GCC 16: its
// vector selects are lowered before the target is known.)
const BlockKernels& block_kernels() {
    static const BlockKernels& chosen =
        __builtin_cpu_supports("x86-64-v3") ? avx2::kernels : baseline::kernels;
    return chosen;
}
#else
const BlockKernels& block_kernels() { return baseline::kernels; }
#endif

}  // namespace

double nan_euclid(Row x, Row y) {
    double out;
    nan_euclid_lanes<double, 1>(x, y.data(), 1, &out);
    return out;
}

double expected_distance(Row x, Row y) {
    double out;
    expected_distance_lanes<double, 1>(x, y.data(), 1, &out);
    return out;
}

double gower(const GowerColumns& columns, Row x, Row y) {
    double out;
    gower_lanes<double, 1>(columns, x, y.data(), 1, &out);
    return out;
}

void nan_euclid_block(Row query, const double* donors, std::size_t stride, double* out) {
    block_kernels().nan_euclid(query, donors, stride, out);
}

void expected_distance_block(Row query, const double* donors, std::size_t stride, double* out) {
    block_kernels().expected_distance(query, donors, stride, out);
}

void gower_block(const GowerColumns& columns, Row query, const double* donors,
                 std::size_t stride, double* out) {
    block_kernels().gower(columns, query, donors, stride, out);
}

double Distance::pair(Row x, Row y) const {
    switch (kind) {
        case Kind::NanEuclid: return nan_euclid(x, y);
        case Kind::ExpectedDistance: return expected_distance(x, y);
        case Kind::Gower: return knn::gower(gower, x, y);
    }
    std::unreachable();
}

void Distance::block(Row query, const double* donors, std::size_t stride, double* out) const {
    switch (kind) {
        case Kind::NanEuclid: return nan_euclid_block(query, donors, stride, out);
        case Kind::ExpectedDistance: return expected_distance_block(query, donors, stride, out);
        case Kind::Gower: return gower_block(gower, query, donors, stride, out);
    }
    std::unreachable();
}

}  // namespace norvale::knn
