#include "median.hpp"

#include <algorithm>

#include "vellora/numeric.hpp"

namespace vellora {

float median_of(std::vector<float> values) {
    if (values.empty()) {
        return 0.0f;
    }
    // Entries equal under totalOrder are bit-identical, so stability is moot.
    std::sort(values.begin(), values.end(), num::total_less);
    const std::size_t n = values.size();
    if (n % 2 == 1) {
        return values[n / 2];
    }
    return (values[n / 2 - 1] + values[n / 2]) * 0.5f;
}

}  // namespace vellora
