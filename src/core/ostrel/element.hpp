// The sorter's element record, the measures derived from its box, and the
// y-then-x order that every fallback of the sorter lists elements in.
#pragma once

#include <cstdint>
#include <vector>

#include "vellora/numeric.hpp"
#include "vellora/records.hpp"

namespace vellora::ostrel {

// An element without its label: the sorter looks at geometry only. No
// relation between the coordinates is assumed; every rule reads the box
// through the measures below, which take the smaller and the larger of each
// coordinate pair.
struct SorterElement {
    std::uint64_t id = 0;
    float x1 = 0.0f;
    float y1 = 0.0f;
    float x2 = 0.0f;
    float y2 = 0.0f;
};

constexpr SorterElement from_record(const ElementRecord& record) noexcept {
    return SorterElement{record.id, record.x1, record.y1, record.x2, record.y2};
}

// a - b when that is positive, else +0; never NaN, never negative.
constexpr float clamped_diff(float a, float b) noexcept {
    const float d = a - b;
    return d > 0.0f ? d : 0.0f;
}

constexpr float left(const SorterElement& e) noexcept { return num::min_num(e.x1, e.x2); }
constexpr float right(const SorterElement& e) noexcept { return num::max_num(e.x1, e.x2); }
constexpr float top(const SorterElement& e) noexcept { return num::min_num(e.y1, e.y2); }
constexpr float bottom(const SorterElement& e) noexcept { return num::max_num(e.y1, e.y2); }
constexpr float width(const SorterElement& e) noexcept { return clamped_diff(right(e), left(e)); }
constexpr float height(const SorterElement& e) noexcept { return clamped_diff(bottom(e), top(e)); }
// NaN only for an infinite side times a zero side.
constexpr float area(const SorterElement& e) noexcept { return width(e) * height(e); }

constexpr float centre_x(const SorterElement& e) noexcept { return num::centre(e.x1, e.x2); }
constexpr float centre_y(const SorterElement& e) noexcept { return num::centre(e.y1, e.y2); }

// Strict y-then-x comparison: top first, then left, both by IEEE totalOrder
// (-0 before +0; NaN never equal to a number).
bool y_then_x_less(const SorterElement& a, const SorterElement& b) noexcept;

// A stable sort by y-then-x into a new list; `elements` is left unchanged.
std::vector<SorterElement> sort_y_then_x(const std::vector<SorterElement>& elements);

// The same order over references; the referenced elements are not moved.
void sort_refs_y_then_x(std::vector<const SorterElement*>& refs);

}  // namespace vellora::ostrel
