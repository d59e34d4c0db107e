// Conversion of Python arguments into native numbers, and the argument-name
// prefix that TypeErrors get on their way out.
#pragma once

#include <Python.h>

#include <cstdint>

#include "errors.hpp"
#include "owned_ref.hpp"

namespace vellora::py {

// Nearest single-precision value of `value`, ties to even. Finite values past
// the single-precision range become infinities of their sign; NaN stays NaN.
float narrow_to_float(double value) noexcept;

// A real number as a single-precision float: an exact `float` is read
// directly, anything else goes through the interpreter's float conversion.
// Throws PythonError.
float to_float(PyObject* object);

// An integer in 0 ..= 2**64-1, through `__index__` for non-int objects.
// Throws PythonError (TypeError for non-integers, OverflowError out of range).
std::uint64_t to_u64(PyObject* object);

OwnedRef from_u64(std::uint64_t value);
OwnedRef from_float(float value);

// When the pending exception is a TypeError, replaces it with
// TypeError("argument '<name>': <message>") keeping the original's cause.
// Other exceptions are left untouched.
void prefix_type_error(const char* name) noexcept;

// Runs one argument's conversion; a TypeError it raises gets the prefix.
template <class Convert>
auto convert_argument(const char* name, Convert&& convert) -> decltype(convert()) {
    try {
        return convert();
    } catch (const PythonError&) {
        prefix_type_error(name);
        throw;
    }
}

}  // namespace vellora::py
