#pragma once

#include <mutex>
#include <utility>

// A value read and replaced as a whole from any thread: readers get a copy, never a torn value.
template <typename T> class AtomicValue {
public:
    AtomicValue() = default;
    explicit AtomicValue(T value)
        : value_(std::move(value)) {}
    AtomicValue(const AtomicValue&) = delete;
    AtomicValue& operator=(const AtomicValue&) = delete;

    T get() const {
        std::lock_guard lock(mutex_);
        return value_;
    }
    void set(T value) {
        std::lock_guard lock(mutex_);
        value_ = std::move(value);
    }
    // Replaces the value and gives back the one it had.
    T exchange(T value) {
        std::lock_guard lock(mutex_);
        std::swap(value_, value);
        return value;
    }

private:
    mutable std::mutex mutex_;
    T value_{};
};
