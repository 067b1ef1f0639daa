#pragma once
// An owned value on the heap with value semantics: copying a Box copies what
// it holds. Lets a type contain itself (a model that wraps another model).
#include <memory>
#include <utility>

namespace norvale {

template <class T>
class Box {
public:
    Box() : value_(std::make_unique<T>()) {}
    explicit Box(T value) : value_(std::make_unique<T>(std::move(value))) {}

    Box(const Box& other) : value_(std::make_unique<T>(*other.value_)) {}
    Box& operator=(const Box& other) {
        if (this != &other) value_ = std::make_unique<T>(*other.value_);
        return *this;
    }
    // A moved-from Box holds nothing and may only be destroyed or assigned to.
    Box(Box&&) noexcept = default;
    Box& operator=(Box&&) noexcept = default;

    T& operator*() { return *value_; }
    const T& operator*() const { return *value_; }
    T* operator->() { return value_.get(); }
    const T* operator->() const { return value_.get(); }

private:
    std::unique_ptr<T> value_;
};

}  // namespace norvale
