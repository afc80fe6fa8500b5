// A value shared between threads without a lock: every access is a relaxed atomic one.
// Reads and writes look like those of a plain field.
#pragma once

#include <atomic>

namespace qv {

template <typename T>
class Relaxed {
  public:
    Relaxed(T value = T{}) : value_(value) {}  // NOLINT: implicit on purpose
    Relaxed(const Relaxed&) = delete;
    // Copies the value, not the atomicity of the pair: one relaxed load, one relaxed store.
    Relaxed& operator=(const Relaxed& other) {
        Store(other.Load());
        return *this;
    }

    operator T() const { return value_.load(std::memory_order_relaxed); }  // NOLINT
    Relaxed& operator=(T value) {
        value_.store(value, std::memory_order_relaxed);
        return *this;
    }
    T operator+=(T delta) {
        return static_cast<T>(value_.fetch_add(delta, std::memory_order_relaxed) + delta);
    }
    T operator-=(T delta) {
        return static_cast<T>(value_.fetch_sub(delta, std::memory_order_relaxed) - delta);
    }
    T Load() const { return value_.load(std::memory_order_relaxed); }
    void Store(T value) { value_.store(value, std::memory_order_relaxed); }

  private:
    std::atomic<T> value_;
};

}  // namespace qv
