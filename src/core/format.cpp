#include "vellora/format.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <string_view>
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
    // Shortest round-trip digits come from the scientific form ("1.25e+02");
    // they are then written out positionally, padding with zeros, so 1e20f
    // prints as a 1 and twenty zeros rather than its exact binary expansion.
    std::array<char, 32> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                      std::chars_format::scientific);
    const std::string_view text(buffer.data(), static_cast<std::size_t>(result.ptr - buffer.data()));
    const auto e = text.find('e');
    std::string_view mantissa = text.substr(0, e);
    int exponent = 0;
    std::from_chars(text.data() + e + 1 + (text[e + 1] == '+' ? 1 : 0), text.data() + text.size(),
                    exponent);
    if (!mantissa.empty() && mantissa.front() == '-') {
        out.push_back('-');
        mantissa.remove_prefix(1);
    }
    std::string digits;
    for (const char c : mantissa) {
        if (c != '.') digits.push_back(c);
    }
    // The decimal point sits after digit number `point` (may be <= 0 or past the end).
    const int point = exponent + 1;
    const int count = static_cast<int>(digits.size());
    if (point <= 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-point), '0');
        out += digits;
    } else if (point >= count) {
        out += digits;
        out.append(static_cast<std::size_t>(point - count), '0');
    } else {
        out.append(digits, 0, static_cast<std::size_t>(point));
        out.push_back('.');
        out.append(digits, static_cast<std::size_t>(point), std::string::npos);
    }
    return out;
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
