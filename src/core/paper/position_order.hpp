// Row-major position order: rows of height `same_row_tolerance`, then centre x.
#pragma once

#include <cstdint>
#include <vector>

#include "vellora/records.hpp"

namespace vellora::paper {

// Row of an element: centre y / tolerance, truncated toward zero and
// saturated to 32 bits; NaN gives row 0.
std::int32_t row_key(const ElementRecord& element, float same_row_tolerance) noexcept;

// Stable sort by row, then by centre x in IEEE totalOrder.
void sort_by_position(std::vector<ElementRecord>& elements, float same_row_tolerance);

}  // namespace vellora::paper
