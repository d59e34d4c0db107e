// Number formatting for diagnostic messages.
#pragma once

#include <cstdint>
#include <string>

namespace vellora::fmt {

// Shortest decimal that reads back to the same single-precision value, never
// with an exponent and without a trailing ".0": 2.0f -> "2", 0.9f -> "0.9",
// 1e20f -> "100000000000000000000", -0.0f -> "-0", NaN -> "NaN", inf -> "inf".
std::string shortest(float value);

// The exact value of `value` rounded to `decimals` places, halfway cases to
// even: fixed(0.5f, 0) -> "0", fixed(2.5f, 0) -> "2", fixed(20.0f, 1) -> "20.0".
std::string fixed(float value, int decimals);

// A flag as "true" or "false".
inline const char* flag(bool value) { return value ? "true" : "false"; }

}  // namespace vellora::fmt
