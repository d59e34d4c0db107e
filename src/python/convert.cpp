#include "convert.hpp"

#include <cmath>
#include <limits>

namespace vellora::py {

float narrow_to_float(double value) noexcept {
    if (std::isnan(value)) {
        const float nan = std::numeric_limits<float>::quiet_NaN();
        return std::signbit(value) ? -nan : nan;
    }
    const double magnitude = std::fabs(value);
    constexpr double largest = static_cast<double>(std::numeric_limits<float>::max());
    if (magnitude > largest) {
        // Converting an out-of-range double is undefined in C++, so round by
        // hand: up to the midpoint between FLT_MAX and 2**128 the nearest
        // value is FLT_MAX; from the midpoint on (the tie goes to the even
        // neighbour, 2**128) it is infinity.
        constexpr double overflow_midpoint = 0x1.ffffffp127;
        const float rounded = magnitude >= overflow_midpoint
                                  ? std::numeric_limits<float>::infinity()
                                  : std::numeric_limits<float>::max();
        return value < 0.0 ? -rounded : rounded;
    }
    // In range (infinities were caught above), so the conversion is defined
    // and rounds to nearest, ties to even.
    return static_cast<float>(value);
}

float to_float(PyObject* object) {
    if (PyFloat_CheckExact(object)) {
        return narrow_to_float(PyFloat_AS_DOUBLE(object));
    }
    const double value = PyFloat_AsDouble(object);
    if (value == -1.0 && PyErr_Occurred()) {
        throw PythonError{};
    }
    return narrow_to_float(value);
}

std::uint64_t to_u64(PyObject* object) {
    OwnedRef index;
    if (!PyLong_Check(object)) {
        index = checked(PyNumber_Index(object));
        object = index.get();
    }
    const unsigned long long value = PyLong_AsUnsignedLongLong(object);
    // All ones is also a valid id; only a pending exception makes it an error.
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
        throw PythonError{};
    }
    return static_cast<std::uint64_t>(value);
}

OwnedRef from_u64(std::uint64_t value) {
    return checked(PyLong_FromUnsignedLongLong(static_cast<unsigned long long>(value)));
}

OwnedRef from_float(float value) { return checked(PyFloat_FromDouble(static_cast<double>(value))); }

void prefix_type_error(const char* name) noexcept {
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) {
        return;
    }
    OwnedRef caught = OwnedRef::steal(PyErr_GetRaisedException());
    OwnedRef text = OwnedRef::steal(PyObject_Str(caught.get()));
    if (!text) {
        // str() of the exception failed: keep the original exception.
        PyErr_Clear();
        PyErr_SetRaisedException(caught.release());
        return;
    }
    OwnedRef message = OwnedRef::steal(PyUnicode_FromFormat("argument '%s': %U", name, text.get()));
    if (!message) {
        return;  // MemoryError is now pending instead.
    }
    OwnedRef replacement = OwnedRef::steal(PyObject_CallOneArg(PyExc_TypeError, message.get()));
    if (!replacement) {
        return;
    }
    // The new error takes over the original's cause (not the original itself).
    PyException_SetCause(replacement.get(), PyException_GetCause(caught.get()));
    PyErr_SetRaisedException(replacement.release());
}

}  // namespace vellora::py
