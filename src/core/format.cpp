#include "vellora/format.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <system_error>

namespace vellora::fmt {
namespace {

// Texts for the values that have no digits; shared by both formats.
bool special(float value, std::string& out) {
    if (std::isnan(value)) {
        out = "NaN";
        return true;
    }
    if (std::isinf(value)) {
        out = value < 0.0f ? "-inf" : "inf";
        return true;
    }
    return false;
}

}  // namespace

std::string shortest(float value) {
    std::string out;
    if (special(value, out)) {
        return out;
    }
    // Fixed notation without a precision is the shortest round-trip form; the
    // largest float needs 39 digits before the point.
    std::array<char, 64> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                      std::chars_format::fixed);
    return std::string(buffer.data(), result.ptr);
}

std::string fixed(float value, int decimals) {
    std::string out;
    if (special(value, out)) {
        return out;
    }
    if (decimals < 0) {
        decimals = 0;
    }
    // Rounds the exact binary value, ties to even. 39 integer digits, the point
    // and the requested decimals always fit.
    std::string buffer(static_cast<std::size_t>(decimals) + 48, '\0');
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                      std::chars_format::fixed, decimals);
    buffer.resize(static_cast<std::size_t>(result.ptr - buffer.data()));
    return buffer;
}

}  // namespace vellora::fmt
