#pragma once
// The borrow flag of an instance: many shared borrows or one exclusive borrow,
// kept with atomic operations so that a nested or concurrent call can never
// see a model that is being replaced.
#include <atomic>
#include <cstdint>
#include <utility>

#include "python/exceptions.hpp"
#include "python/ref.hpp"

namespace tabseam::py {

class BorrowFlag {
public:
    bool try_shared() {
        std::int64_t state = state_.load(std::memory_order_relaxed);
        while (state >= 0) {
            if (state_.compare_exchange_weak(state, state + 1, std::memory_order_acquire))
                return true;
        }
        return false;
    }
    void release_shared() { state_.fetch_sub(1, std::memory_order_release); }

    bool try_exclusive() {
        std::int64_t expected = 0;
        return state_.compare_exchange_strong(expected, kExclusive, std::memory_order_acquire);
    }
    void release_exclusive() { state_.store(0, std::memory_order_release); }

private:
    static constexpr std::int64_t kExclusive = -1;
    std::atomic<std::int64_t> state_{0};
};

// Read-only access for one call; refused while an exclusive borrow is held.
class SharedBorrow {
public:
    static PyResult<SharedBorrow> take(BorrowFlag& flag) {
        if (!flag.try_shared()) return raise(PyExc_RuntimeError, "Already mutably borrowed");
        return SharedBorrow(flag);
    }
    SharedBorrow(SharedBorrow&& other) noexcept : flag_(std::exchange(other.flag_, nullptr)) {}
    SharedBorrow& operator=(SharedBorrow&&) = delete;
    ~SharedBorrow() {
        if (flag_) flag_->release_shared();
    }

private:
    explicit SharedBorrow(BorrowFlag& flag) : flag_(&flag) {}
    BorrowFlag* flag_;
};

// Write access for one call; refused while any borrow is held.
class ExclusiveBorrow {
public:
    static PyResult<ExclusiveBorrow> take(BorrowFlag& flag) {
        if (!flag.try_exclusive()) return raise(PyExc_RuntimeError, "Already borrowed");
        return ExclusiveBorrow(flag);
    }
    // For fit and fit_transform, which must never be re-entered: a conflict
    // there is an internal failure, not a recoverable error.
    static PyResult<ExclusiveBorrow> take_or_panic(BorrowFlag& flag) {
        if (!flag.try_exclusive()) return raise_panic("Already borrowed");
        return ExclusiveBorrow(flag);
    }
    ExclusiveBorrow(ExclusiveBorrow&& other) noexcept
        : flag_(std::exchange(other.flag_, nullptr)) {}
    ExclusiveBorrow& operator=(ExclusiveBorrow&&) = delete;
    ~ExclusiveBorrow() {
        if (flag_) flag_->release_exclusive();
    }

private:
    explicit ExclusiveBorrow(BorrowFlag& flag) : flag_(&flag) {}
    BorrowFlag* flag_;
};

}  // namespace tabseam::py
