// Single-precision helpers with the comparison and conversion rules both
// algorithms share. Every comparison involving NaN is false; min/max ignore a
// single NaN operand; float-to-integer conversions truncate and saturate.
#pragma once

#include <bit>
#include <cstdint>
#include <limits>

namespace vellora::num {

constexpr bool is_nan(float value) noexcept { return value != value; }

// Key whose signed integer order is the IEEE 754 totalOrder of the float:
// -NaN < -inf < ... < -0 < +0 < ... < +inf < +NaN.
constexpr std::int32_t total_order_key(float value) noexcept {
    const auto bits = std::bit_cast<std::int32_t>(value);
    // Negative floats order backwards; flipping the magnitude bits fixes that.
    return bits ^ static_cast<std::int32_t>(static_cast<std::uint32_t>(bits >> 31) >> 1);
}

constexpr bool total_less(float a, float b) noexcept {
    return total_order_key(a) < total_order_key(b);
}

// IEEE minNum / maxNum: the other operand when exactly one is NaN. (A NaN
// `b` needs no test of its own: the comparison with it is false, so `a`
// comes out.)
constexpr float min_num(float a, float b) noexcept {
    if (is_nan(a)) return b;
    return b < a ? b : a;
}

constexpr float max_num(float a, float b) noexcept {
    if (is_nan(a)) return b;
    return a < b ? b : a;
}

// Midpoint with the sum formed first, as every centre is computed. When both
// operands are NaN, a + b yields the NaN of `a` on x86 and ARM alike; the
// compiler may swap the operands of +, so that choice is made explicit here
// (the sign of a NaN centre decides where a totalOrder sort puts it).
constexpr float centre(float a, float b) noexcept {
    const float sum = is_nan(a) ? a + a : a + b;
    return sum * 0.5f;
}

// Truncation toward zero; NaN gives 0; out-of-range values saturate.
constexpr std::int32_t saturating_i32(float value) noexcept {
    if (is_nan(value)) return 0;
    if (value >= 2147483648.0f) return std::numeric_limits<std::int32_t>::max();
    if (value <= -2147483648.0f) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(value);
}

// Truncation toward zero; NaN and negative values give 0; too large saturates.
constexpr std::uint64_t saturating_u64(float value) noexcept {
    if (!(value > 0.0f)) return 0;
    // Below 2^63 the signed conversion (one instruction on common targets)
    // gives the same number.
    if (value < 9223372036854775808.0f) return static_cast<std::uint64_t>(static_cast<std::int64_t>(value));
    if (value >= 18446744073709551616.0f) return std::numeric_limits<std::uint64_t>::max();
    return static_cast<std::uint64_t>(value);
}

}  // namespace vellora::num
