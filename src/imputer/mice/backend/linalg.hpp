#pragma once
// The dense linear algebra of the MICE models, on column-major blocks as
// LAPACK takes them. Every LAPACK and BLAS call goes through here, so the
// time spent inside them can be counted (see linalg_nanoseconds).
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "utils/errors.hpp"
#include "utils/panic.hpp"

namespace norvale::mice {

// A column-major rows × cols block with leading dimension `rows`.
struct ConstBlock {
    const double* data;
    std::size_t rows;
    std::size_t cols;
};
struct Block {
    double* data;
    std::size_t rows;
    std::size_t cols;
    operator ConstBlock() const { return {data, rows, cols}; }
};

// Minimum-norm least-squares solutions of min ‖a·w − t‖₂ for each of the
// `targets` columns of t (rows × targets, column-major), through DGELSD with
// RCOND = −1: singular values at or below machine precision times the largest
// count as zero, so rank-deficient and under-determined blocks succeed.
// Destroys `a`. Returns the solutions, cols × targets, column-major.
Result<std::vector<double>> least_squares(Block a, std::span<const double> t,
                                          std::size_t targets);

// The thin singular value decomposition a = u · diag(s) · vt through DGESVD:
// k = min(rows, cols), u rows × k, vt k × cols (both column-major), s
// non-increasing. Destroys `a`.
struct ThinSvd {
    std::size_t k = 0;
    std::vector<double> u;
    std::vector<double> s;
    std::vector<double> vt;
};
Result<ThinSvd> thin_svd(Block a);

// out = a · x (or aᵀ · x when `transpose`), through cblas_dgemv.
void gemv(ConstBlock a, bool transpose, std::span<const double> x, std::span<double> out);

// Scores s = a · bᵀ for a block a (m × q) and a row-major b (c × q); s is
// returned row-major m × c, through cblas_dgemm.
std::vector<double> scores(ConstBlock a, std::span<const double> b, std::size_t classes);

// x · y through cblas_ddot.
double dot(std::span<const double> x, std::span<const double> y);

// OpenBLAS runs threads of its own. LAPACK calls made from pool tasks that
// run side by side would oversubscribe the cores, so while a scope of this
// kind lives OpenBLAS is limited to norvale_task_blas_threads() threads (0
// leaves it alone). OpenBLAS's setting is process-wide: the first of
// overlapping scopes saves it and the last one restores it.
class PoolBlasThreads {
public:
    PoolBlasThreads();
    ~PoolBlasThreads();
    PoolBlasThreads(const PoolBlasThreads&) = delete;
    PoolBlasThreads& operator=(const PoolBlasThreads&) = delete;
};

}  // namespace norvale::mice

// Profiling hooks, reachable with ctypes from the loaded extension (they are
// not part of the Python interface): total time spent inside LAPACK and BLAS
// calls since the process started, summed over the calling threads, and the
// OpenBLAS thread count used inside pool tasks (default 1).
extern "C" {
[[gnu::visibility("default")]] std::uint64_t norvale_linalg_nanoseconds();
[[gnu::visibility("default")]] void norvale_set_task_blas_threads(int threads);
[[gnu::visibility("default")]] int norvale_task_blas_threads();
}
