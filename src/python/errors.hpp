// How failures travel inside the binding and how they reach Python.
//
// Inside the binding, C++ exceptions carry every failure: PythonError means
// "a Python exception is already set", everything else is a C++ error. The
// entry points called by the interpreter run their bodies through
// `guard_object` / `guard_status`, the one place where C++ errors become
// Python exceptions.
#pragma once

#include <Python.h>

#include <utility>

#include "owned_ref.hpp"

namespace vellora::py {

// Thrown after a C API call failed and left its exception set.
struct PythonError {};

// New reference from the C API, or PythonError when it returned null.
inline OwnedRef checked(PyObject* result) {
    if (result == nullptr) {
        throw PythonError{};
    }
    return OwnedRef::steal(result);
}

// Status from the C API (negative on failure).
inline int checked_status(int status) {
    if (status < 0) {
        throw PythonError{};
    }
    return status;
}

// Result of the PyArg_Parse* family, which returns 0 (not -1) on failure.
inline void checked_parse(int parsed) {
    if (parsed == 0) {
        throw PythonError{};
    }
}

// Sets the Python exception `type(message)` and throws PythonError.
[[noreturn]] void raise(PyObject* type, const char* message);

// The internal-fault exception type ("_vellora_core.InternalFault", derived
// directly from BaseException), created on first use and kept for the life of
// the process. Throws PythonError if it cannot be created.
PyObject* internal_fault_type();

// Translates the C++ exception being handled into a Python exception. Must be
// called from inside a catch block.
void set_python_error_from_current_exception() noexcept;

// Runs `body` (returning an OwnedRef) and hands its reference to the
// interpreter, or null with a Python exception set.
template <class Body>
PyObject* guard_object(Body&& body) noexcept {
    try {
        return std::forward<Body>(body)().release();
    } catch (...) {
        set_python_error_from_current_exception();
        return nullptr;
    }
}

// Runs `body` (returning nothing): 0 on success, -1 with an exception set.
template <class Body>
int guard_status(Body&& body) noexcept {
    try {
        std::forward<Body>(body)();
        return 0;
    } catch (...) {
        set_python_error_from_current_exception();
        return -1;
    }
}

}  // namespace vellora::py
