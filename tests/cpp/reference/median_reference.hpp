// The median by a full sort, kept as the reference the selection-based one
// is compared against.
#pragma once

#include <algorithm>
#include <vector>

#include "vellora/numeric.hpp"

namespace vellora::reference {

inline float median_of(std::vector<float> values) {
    if (values.empty()) {
        return 0.0f;
    }
    std::sort(values.begin(), values.end(), num::total_less);
    const std::size_t n = values.size();
    if (n % 2 == 1) {
        return values[n / 2];
    }
    return (values[n / 2 - 1] + values[n / 2]) * 0.5f;
}

}  // namespace vellora::reference
