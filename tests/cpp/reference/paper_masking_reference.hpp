// The straightforward spanning test: every wide element against every
// element. Kept as the reference the tree search is compared against.
#pragma once

#include <span>
#include <vector>

#include "vellora/records.hpp"

namespace vellora::reference {

inline std::vector<bool> spanning_flags(std::span<const ElementRecord> elements, float threshold) {
    const auto intersects = [](const ElementRecord& a, const ElementRecord& b) {
        return b.x2 > a.x1 && b.y2 > a.y1 && a.x2 > b.x1 && a.y2 > b.y1;
    };
    std::vector<bool> flags(elements.size(), false);
    for (std::size_t i = 0; i < elements.size(); ++i) {
        const ElementRecord& e = elements[i];
        if (!(e.x2 - e.x1 > threshold)) continue;
        int overlaps = 0;
        for (const ElementRecord& o : elements) {
            if (o.id != e.id && intersects(e, o) && ++overlaps == 2) {
                flags[i] = true;
                break;
            }
        }
    }
    return flags;
}

}  // namespace vellora::reference
