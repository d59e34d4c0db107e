// The straightforward cross-layout test: every candidate against every
// element. Kept as the reference the tree search is compared against.
#pragma once

#include <vector>

#include "ostrel/driver.hpp"
#include "ostrel/element.hpp"

namespace vellora::reference {

inline std::vector<std::size_t> find_cross_layout(const std::vector<ostrel::SorterElement>& elements) {
    using namespace ostrel;
    const auto overlaps_horizontally = [](const SorterElement& a, const SorterElement& b) {
        const float overlap = clamped_diff(num::min_num(right(a), right(b)), num::max_num(left(a), left(b)));
        const float narrower = num::min_num(width(a), width(b));
        return overlap > 0.0f && narrower > 0.0f && overlap / narrower >= kOverlapRatioMin;
    };
    std::vector<std::size_t> indices;
    if (elements.size() < 3) return indices;
    const float threshold = cross_layout_width_threshold(elements);
    for (std::size_t i = 0; i < elements.size(); ++i) {
        const float w = width(elements[i]);
        if (!(w >= threshold) || !(w > 0.0f)) continue;
        int count = 0;
        for (std::size_t j = 0; j < elements.size(); ++j) {
            if (j == i || !overlaps_horizontally(elements[i], elements[j])) continue;
            if (++count == kMinOverlapCount) {
                indices.push_back(i);
                break;
            }
        }
    }
    return indices;
}

}  // namespace vellora::reference
