#include "ostrel/element.hpp"

#include <algorithm>

namespace vellora::ostrel {

bool y_then_x_less(const SorterElement& a, const SorterElement& b) noexcept {
    const auto top_a = num::total_order_key(top(a));
    const auto top_b = num::total_order_key(top(b));
    if (top_a != top_b) return top_a < top_b;
    return num::total_order_key(left(a)) < num::total_order_key(left(b));
}

std::vector<SorterElement> sort_y_then_x(const std::vector<SorterElement>& elements) {
    std::vector<SorterElement> sorted = elements;
    std::stable_sort(sorted.begin(), sorted.end(), y_then_x_less);
    return sorted;
}

void sort_refs_y_then_x(std::vector<const SorterElement*>& refs) {
    std::stable_sort(refs.begin(), refs.end(),
                     [](const SorterElement* a, const SorterElement* b) { return y_then_x_less(*a, *b); });
}

}  // namespace vellora::ostrel
