// The one owner of a strong Python reference in this extension.
//
// An OwnedRef holds at most one strong reference and drops it when it goes
// away. It must only be destroyed, reset or assigned while the calling thread
// is attached to the interpreter; the logging bridge, which may drop logger
// references from unattached threads, moves them out first (see log_bridge.cpp).
#pragma once

#include <Python.h>

#include <utility>

namespace vellora::py {

class OwnedRef {
public:
    constexpr OwnedRef() noexcept = default;

    // Takes over a reference the caller already owns (a "new reference" from
    // the C API). A null pointer gives an empty OwnedRef.
    static OwnedRef steal(PyObject* object) noexcept { return OwnedRef(object); }

    // Adds a reference to a borrowed object.
    static OwnedRef borrow(PyObject* object) noexcept {
        Py_XINCREF(object);
        return OwnedRef(object);
    }

    OwnedRef(const OwnedRef&) = delete;
    OwnedRef& operator=(const OwnedRef&) = delete;

    OwnedRef(OwnedRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}

    OwnedRef& operator=(OwnedRef&& other) noexcept {
        if (this != &other) {
            PyObject* old = std::exchange(object_, std::exchange(other.object_, nullptr));
            Py_XDECREF(old);
        }
        return *this;
    }

    ~OwnedRef() { Py_XDECREF(object_); }

    PyObject* get() const noexcept { return object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }

    // Hands the reference to the caller (for C API calls that steal, and for
    // returning a new reference to the interpreter).
    [[nodiscard]] PyObject* release() noexcept { return std::exchange(object_, nullptr); }

    // A second strong reference to the same object.
    OwnedRef clone() const noexcept { return borrow(object_); }

    void reset() noexcept { *this = OwnedRef(); }

private:
    explicit OwnedRef(PyObject* object) noexcept : object_(object) {}

    PyObject* object_ = nullptr;
};

}  // namespace vellora::py
