// Process-wide Python objects (type objects, label members, the internal-fault
// exception type). Each slot is filled once, by compare-and-swap, and its
// reference is never released: these objects live until the process ends.
#pragma once

#include <Python.h>

#include <atomic>

#include "owned_ref.hpp"

namespace vellora::py {

class ProcessSlot {
public:
    constexpr ProcessSlot() noexcept = default;
    ProcessSlot(const ProcessSlot&) = delete;
    ProcessSlot& operator=(const ProcessSlot&) = delete;

    // The stored object (borrowed), or null while the slot is empty.
    PyObject* get() const noexcept { return object_.load(std::memory_order_acquire); }

    // Stores `candidate` unless another thread got there first; returns the
    // object that ends up in the slot (borrowed). A losing candidate is dropped.
    PyObject* fill(OwnedRef candidate) noexcept {
        PyObject* expected = nullptr;
        if (object_.compare_exchange_strong(expected, candidate.get(), std::memory_order_acq_rel,
                                            std::memory_order_acquire)) {
            return candidate.release();
        }
        return expected;
    }

    // The stored object, created by `make()` (which returns an OwnedRef or
    // throws) the first time it is asked for.
    template <class Make>
    PyObject* get_or_make(Make&& make) {
        if (PyObject* existing = get()) {
            return existing;
        }
        return fill(make());
    }

private:
    // Trivially destructible on purpose: nothing is released at exit, when the
    // interpreter may already be gone.
    std::atomic<PyObject*> object_{nullptr};
};

}  // namespace vellora::py
