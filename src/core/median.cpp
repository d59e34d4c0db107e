#include "median.hpp"

#include <algorithm>

#include "vellora/numeric.hpp"

namespace vellora {

float median_of(std::vector<float> values) {
    if (values.empty()) {
        return 0.0f;
    }
    // Entries equal under totalOrder are bit-identical, so the entry at each
    // rank is fully determined: selecting it gives what a full sort would.
    const auto less = [](float a, float b) { return num::total_less(a, b); };
    const std::size_t n = values.size();
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(n / 2);
    std::nth_element(values.begin(), middle, values.end(), less);
    const float upper = *middle;
    if (n % 2 == 1) {
        return upper;
    }
    // The entry just below the middle: the largest of those before it.
    const float lower = *std::max_element(values.begin(), middle, less);
    return (lower + upper) * 0.5f;
}

}  // namespace vellora
