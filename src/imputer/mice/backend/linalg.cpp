#include "imputer/mice/backend/linalg.hpp"

#include <cblas.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <format>
#include <mutex>

// LAPACK's Fortran entry points; the trailing lengths are gfortran's hidden
// CHARACTER arguments.
extern "C" {
void dgelsd_(const blasint* m, const blasint* n, const blasint* nrhs, double* a,
             const blasint* lda, double* b, const blasint* ldb, double* s, const double* rcond,
             blasint* rank, double* work, const blasint* lwork, blasint* iwork, blasint* info);
void dgesvd_(const char* jobu, const char* jobvt, const blasint* m, const blasint* n, double* a,
             const blasint* lda, double* s, double* u, const blasint* ldu, double* vt,
             const blasint* ldvt, double* work, const blasint* lwork, blasint* info,
             std::size_t jobu_length, std::size_t jobvt_length);
}

namespace norvale::mice {
namespace {

std::atomic<std::uint64_t> linalg_nanoseconds{0};
std::atomic<int> task_blas_threads{1};

// Adds the lifetime of the scope to the LAPACK/BLAS time.
class LinalgClock {
public:
    LinalgClock() : start_(std::chrono::steady_clock::now()) {}
    ~LinalgClock() {
        const auto elapsed = std::chrono::steady_clock::now() - start_;
        linalg_nanoseconds.fetch_add(
            static_cast<std::uint64_t>(
                std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count()),
            std::memory_order_relaxed);
    }

private:
    std::chrono::steady_clock::time_point start_;
};

Errors lapack_failure(blasint info) {
    if (info < 0)
        return Errors::least_squares(
            std::format("Invalid value for LAPACK subroutine {}-th argument", -info));
    return Errors::least_squares(
        std::format("Computational failure in LAPACK subroutine: return_code = {}", info));
}

// A dimension as LAPACK's integer; `position` is the argument it is passed as.
Result<blasint> lapack_int(std::size_t value, blasint position) {
    if (value > static_cast<std::size_t>(INT_MAX)) return std::unexpected(lapack_failure(-position));
    return static_cast<blasint>(value);
}

// Leading dimensions must be at least 1 even for empty blocks.
blasint leading(std::size_t rows) { return static_cast<blasint>(std::max<std::size_t>(rows, 1)); }

// The optimal work size a workspace query reports in work[0].
blasint work_size(double reported) { return std::max<blasint>(1, static_cast<blasint>(reported)); }

}  // namespace

Result<std::vector<double>> least_squares(Block a, std::span<const double> t,
                                          std::size_t targets) {
    NV_ASSIGN_OR_RETURN(const blasint m, lapack_int(a.rows, 1));
    NV_ASSIGN_OR_RETURN(const blasint n, lapack_int(a.cols, 2));
    NV_ASSIGN_OR_RETURN(const blasint nrhs, lapack_int(targets, 3));
    // b holds the targets on entry and the solutions on return, so it needs
    // max(rows, cols) rows.
    const std::size_t ldb_rows = std::max<std::size_t>({a.rows, a.cols, 1});
    NV_ASSIGN_OR_RETURN(const blasint ldb, lapack_int(ldb_rows, 7));
    std::vector<double> solutions(a.cols * targets, 0.0);
    // With no rows or no columns every minimum-norm solution is zero.
    if (a.rows == 0 || a.cols == 0 || targets == 0) return solutions;

    std::vector<double> b(ldb_rows * targets, 0.0);
    for (std::size_t j = 0; j < targets; ++j)
        std::copy_n(t.data() + j * a.rows, a.rows, b.data() + j * ldb_rows);
    std::vector<double> singular(std::min(a.rows, a.cols));
    const double rcond = -1.0;
    const blasint lda = leading(a.rows);
    blasint rank = 0, info = 0, query = -1, iwork_query = 0;
    double work_query = 0.0;
    {
        LinalgClock clock;
        dgelsd_(&m, &n, &nrhs, a.data, &lda, b.data(), &ldb, singular.data(), &rcond, &rank,
                &work_query, &query, &iwork_query, &info);
    }
    if (info != 0) return std::unexpected(lapack_failure(info));
    const blasint lwork = work_size(work_query);
    std::vector<double> work(static_cast<std::size_t>(lwork));
    std::vector<blasint> iwork(static_cast<std::size_t>(std::max<blasint>(1, iwork_query)));
    {
        LinalgClock clock;
        dgelsd_(&m, &n, &nrhs, a.data, &lda, b.data(), &ldb, singular.data(), &rcond, &rank,
                work.data(), &lwork, iwork.data(), &info);
    }
    if (info != 0) return std::unexpected(lapack_failure(info));
    for (std::size_t j = 0; j < targets; ++j)
        std::copy_n(b.data() + j * ldb_rows, a.cols, solutions.data() + j * a.cols);
    return solutions;
}

Result<ThinSvd> thin_svd(Block a) {
    NV_ASSIGN_OR_RETURN(const blasint m, lapack_int(a.rows, 3));
    NV_ASSIGN_OR_RETURN(const blasint n, lapack_int(a.cols, 4));
    ThinSvd svd;
    svd.k = std::min(a.rows, a.cols);
    svd.u.assign(a.rows * svd.k, 0.0);
    svd.s.assign(svd.k, 0.0);
    svd.vt.assign(svd.k * a.cols, 0.0);
    if (svd.k == 0) return svd;

    const char job = 'S';  // the first k singular vectors on each side
    const blasint lda = leading(a.rows), ldu = leading(a.rows), ldvt = leading(svd.k);
    blasint info = 0, query = -1;
    double work_query = 0.0;
    {
        LinalgClock clock;
        dgesvd_(&job, &job, &m, &n, a.data, &lda, svd.s.data(), svd.u.data(), &ldu,
                svd.vt.data(), &ldvt, &work_query, &query, &info, 1, 1);
    }
    if (info != 0) return std::unexpected(lapack_failure(info));
    const blasint lwork = work_size(work_query);
    std::vector<double> work(static_cast<std::size_t>(lwork));
    {
        LinalgClock clock;
        dgesvd_(&job, &job, &m, &n, a.data, &lda, svd.s.data(), svd.u.data(), &ldu,
                svd.vt.data(), &ldvt, work.data(), &lwork, &info, 1, 1);
    }
    if (info != 0) return std::unexpected(lapack_failure(info));
    return svd;
}

void gemv(ConstBlock a, bool transpose, std::span<const double> x, std::span<double> out) {
    const std::size_t out_size = transpose ? a.cols : a.rows;
    if (x.size() != (transpose ? a.rows : a.cols) || out.size() != out_size)
        panic("gemv operands do not match the block");
    if (a.rows == 0 || a.cols == 0) {
        std::fill(out.begin(), out.end(), 0.0);
        return;
    }
    LinalgClock clock;
    cblas_dgemv(CblasColMajor, transpose ? CblasTrans : CblasNoTrans,
                static_cast<blasint>(a.rows), static_cast<blasint>(a.cols), 1.0, a.data,
                leading(a.rows), x.data(), 1, 0.0, out.data(), 1);
}

std::vector<double> scores(ConstBlock a, std::span<const double> b, std::size_t classes) {
    if (b.size() != classes * a.cols) panic("score weights do not match the block");
    std::vector<double> out(a.rows * classes, 0.0);
    if (a.rows == 0 || classes == 0 || a.cols == 0) return out;
    // Column-major, out is sᵀ (classes × m) = b (classes × q) · aᵀ; b's
    // row-major storage is the column-major q × classes matrix bᵀ.
    LinalgClock clock;
    cblas_dgemm(CblasColMajor, CblasTrans, CblasTrans, static_cast<blasint>(classes),
                static_cast<blasint>(a.rows), static_cast<blasint>(a.cols), 1.0, b.data(),
                leading(a.cols), a.data, leading(a.rows), 0.0, out.data(), leading(classes));
    return out;
}

double dot(std::span<const double> x, std::span<const double> y) {
    if (x.size() != y.size()) panic("dot operands differ in length");
    if (x.empty()) return 0.0;
    LinalgClock clock;
    return cblas_ddot(static_cast<blasint>(x.size()), x.data(), 1, y.data(), 1);
}

namespace {
std::mutex pool_blas_mutex;
std::size_t pool_blas_scopes = 0;
int pool_blas_saved = 0;
bool pool_blas_changed = false;
}  // namespace

PoolBlasThreads::PoolBlasThreads() {
    std::lock_guard lock(pool_blas_mutex);
    if (pool_blas_scopes++ > 0) return;
    pool_blas_saved = openblas_get_num_threads();
    const int threads = task_blas_threads.load(std::memory_order_relaxed);
    pool_blas_changed = threads > 0;
    if (pool_blas_changed) openblas_set_num_threads(threads);
}

PoolBlasThreads::~PoolBlasThreads() {
    std::lock_guard lock(pool_blas_mutex);
    if (--pool_blas_scopes > 0) return;
    if (pool_blas_changed) openblas_set_num_threads(pool_blas_saved);
}

}  // namespace norvale::mice

extern "C" {
std::uint64_t norvale_linalg_nanoseconds() {
    return norvale::mice::linalg_nanoseconds.load(std::memory_order_relaxed);
}
void norvale_set_task_blas_threads(int threads) {
    norvale::mice::task_blas_threads.store(threads, std::memory_order_relaxed);
}
int norvale_task_blas_threads() {
    return norvale::mice::task_blas_threads.load(std::memory_order_relaxed);
}
}
