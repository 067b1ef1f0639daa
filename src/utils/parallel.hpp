#pragma once
// Parallel loops on the process-wide oneTBB pool. Workers never touch Python
// objects: they read shared immutable data and write disjoint cells of one
// output buffer through SendPtr.
#include <cstddef>
#include <mutex>
#include <optional>
#include <vector>

#include <oneapi/tbb/blocked_range.h>
#include <oneapi/tbb/parallel_for.h>
#include <oneapi/tbb/task_group.h>

#include "utils/errors.hpp"

namespace norvale {

// Raw storage of one output buffer, handed to tasks that write disjoint parts
// of it. The buffer must outlive the loop; the handle owns nothing.
template <class T>
class SendPtr {
public:
    explicit SendPtr(T* base) : base_(base) {}
    T& operator[](std::size_t i) const { return base_[i]; }
    T* get() const { return base_; }

private:
    T* base_;
};

// Runs body(i) for every i in [0, n).
template <class Body>
void parallel_for_each(std::size_t n, Body&& body) {
    tbb::parallel_for(tbb::blocked_range<std::size_t>(0, n),
                      [&](const tbb::blocked_range<std::size_t>& range) {
                          for (std::size_t i = range.begin(); i != range.end(); ++i) body(i);
                      });
}

// Collects body(i) for i in [0, n) in index order.
template <class T, class Body>
std::vector<T> parallel_map(std::size_t n, Body&& body) {
    std::vector<std::optional<T>> slots(n);
    parallel_for_each(n, [&](std::size_t i) { slots[i].emplace(body(i)); });
    std::vector<T> out;
    out.reserve(n);
    for (auto& slot : slots) out.push_back(std::move(*slot));
    return out;
}

// Like parallel_map for fallible items: stops scheduling new items after the
// first failure and returns the first error recorded. Which error is first
// depends on scheduling when several items fail.
template <class T, class Body>
Result<std::vector<T>> try_parallel_map(std::size_t n, Body&& body) {
    std::vector<std::optional<T>> slots(n);
    std::optional<Errors> first_error;
    std::mutex error_mutex;
    tbb::task_group_context context;
    tbb::parallel_for(
        tbb::blocked_range<std::size_t>(0, n),
        [&](const tbb::blocked_range<std::size_t>& range) {
            for (std::size_t i = range.begin(); i != range.end(); ++i) {
                if (context.is_group_execution_cancelled()) return;
                Result<T> item = body(i);
                if (item) {
                    slots[i].emplace(std::move(*item));
                    continue;
                }
                std::lock_guard lock(error_mutex);
                if (!first_error) first_error.emplace(std::move(item).error());
                context.cancel_group_execution();
                return;
            }
        },
        context);
    if (first_error) return std::unexpected(std::move(*first_error));
    std::vector<T> out;
    out.reserve(n);
    for (auto& slot : slots) out.push_back(std::move(*slot));
    return out;
}

}  // namespace norvale
