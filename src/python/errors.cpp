#include "errors.hpp"

#include <exception>
#include <new>

#include "borrow.hpp"
#include "process_slot.hpp"
#include "vellora/errors.hpp"

namespace vellora::py {
namespace {

ProcessSlot internal_fault_slot;

void set_internal_fault(const char* message) noexcept {
    try {
        PyErr_SetString(internal_fault_type(), message);
    } catch (...) {
        // The type could not be created; its creation error stays set.
    }
}

}  // namespace

void raise(PyObject* type, const char* message) {
    PyErr_SetString(type, message);
    throw PythonError{};
}

PyObject* internal_fault_type() {
    return internal_fault_slot.get_or_make([] {
        // BaseException, not Exception: a fault inside the engine must not be
        // swallowed by the caller's ordinary `except Exception` handlers.
        return checked(PyErr_NewExceptionWithDoc(
            "_vellora_core.InternalFault",
            "An internal fault of the ordering engine ended the call.", PyExc_BaseException,
            nullptr));
    });
}

void set_python_error_from_current_exception() noexcept {
    try {
        throw;
    } catch (const PythonError&) {
        if (!PyErr_Occurred()) {
            set_internal_fault("a failure was reported without a Python exception");
        }
    } catch (const BorrowConflict& conflict) {
        PyErr_SetString(PyExc_RuntimeError, conflict.what());
    } catch (const vellora::InternalFault& fault) {
        set_internal_fault(fault.what());
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& error) {
        set_internal_fault(error.what());
    } catch (...) {
        set_internal_fault("unknown internal fault");
    }
}

}  // namespace vellora::py
