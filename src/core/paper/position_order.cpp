#include "position_order.hpp"

#include <algorithm>
#include <cstddef>
#include <utility>

#include "vellora/numeric.hpp"

namespace vellora::paper {

std::int32_t row_key(const ElementRecord& element, float same_row_tolerance) noexcept {
    return num::saturating_i32(num::centre(element.y1, element.y2) / same_row_tolerance);
}

void sort_by_position(std::vector<ElementRecord>& elements, float same_row_tolerance) {
    if (elements.size() < 2) {
        return;
    }
    struct Keyed {
        std::int32_t row;
        std::int32_t column;  // totalOrder key of the centre x
        std::size_t index;
    };
    std::vector<Keyed> keys;
    keys.reserve(elements.size());
    for (std::size_t i = 0; i < elements.size(); ++i) {
        const ElementRecord& element = elements[i];
        keys.push_back({row_key(element, same_row_tolerance),
                        num::total_order_key(num::centre(element.x1, element.x2)), i});
    }
    std::stable_sort(keys.begin(), keys.end(), [](const Keyed& a, const Keyed& b) {
        if (a.row != b.row) return a.row < b.row;
        return a.column < b.column;
    });
    std::vector<ElementRecord> sorted;
    sorted.reserve(elements.size());
    for (const Keyed& key : keys) {
        sorted.push_back(elements[key.index]);
    }
    elements = std::move(sorted);
}

}  // namespace vellora::paper
