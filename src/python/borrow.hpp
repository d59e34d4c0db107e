// Access counter guarding the native record inside one Python object.
//
// 0 means free, a positive value counts shared holds (reads), -1 is the one
// exclusive hold (an attribute write). Nothing waits: a conflicting request
// fails at once with BorrowConflict, which reaches Python as RuntimeError.
// With the global interpreter lock no conflict can occur; without it two
// threads may touch one object at the same time.
#pragma once

#include <atomic>
#include <cstdint>
#include <stdexcept>

namespace vellora::py {

class BorrowConflict : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class BorrowFlag {
public:
    // Adds a shared hold unless the object is held exclusively.
    bool try_shared() noexcept {
        std::intptr_t current = state_.load(std::memory_order_relaxed);
        do {
            if (current < 0) {
                return false;
            }
        } while (!state_.compare_exchange_weak(current, current + 1, std::memory_order_acquire,
                                               std::memory_order_relaxed));
        return true;
    }

    void release_shared() noexcept { state_.fetch_sub(1, std::memory_order_release); }

    // Takes the exclusive hold if nobody holds the object.
    bool try_exclusive() noexcept {
        std::intptr_t expected = 0;
        return state_.compare_exchange_strong(expected, -1, std::memory_order_acquire,
                                              std::memory_order_relaxed);
    }

    void release_exclusive() noexcept { state_.store(0, std::memory_order_release); }

    std::intptr_t state() const noexcept { return state_.load(std::memory_order_relaxed); }

private:
    std::atomic<std::intptr_t> state_{0};
};

// A shared hold for the duration of a read.
class SharedHold {
public:
    explicit SharedHold(BorrowFlag& flag) : flag_(flag) {
        if (!flag_.try_shared()) {
            throw BorrowConflict("Already mutably borrowed");
        }
    }
    ~SharedHold() { flag_.release_shared(); }
    SharedHold(const SharedHold&) = delete;
    SharedHold& operator=(const SharedHold&) = delete;

private:
    BorrowFlag& flag_;
};

// The exclusive hold for the duration of a write.
class ExclusiveHold {
public:
    explicit ExclusiveHold(BorrowFlag& flag) : flag_(flag) {
        if (!flag_.try_exclusive()) {
            throw BorrowConflict("Already borrowed");
        }
    }
    ~ExclusiveHold() { flag_.release_exclusive(); }
    ExclusiveHold(const ExclusiveHold&) = delete;
    ExclusiveHold& operator=(const ExclusiveHold&) = delete;

private:
    BorrowFlag& flag_;
};

}  // namespace vellora::py
