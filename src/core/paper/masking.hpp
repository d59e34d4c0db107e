// Which elements the XY-cut leaves out: titles, figures and elements that
// span several columns.
#pragma once

#include <span>
#include <vector>

#include "vellora/records.hpp"

namespace vellora::paper {

// Single-precision value nearest to 1.3.
inline constexpr float kSpanWidthFactor = 1.3f;

// Median width of all elements times kSpanWidthFactor.
float span_threshold(std::span<const ElementRecord> elements);

// One flag per element: wider than `threshold` and overlapping (with positive
// area) at least two elements whose id differs from its own.
std::vector<bool> spanning_flags(std::span<const ElementRecord> elements, float threshold);

struct Partition {
    std::vector<ElementRecord> masked;
    std::vector<ElementRecord> regular;
};

// Titles, Vision and spanning elements are masked; both lists keep input order.
Partition partition_elements(std::span<const ElementRecord> elements, float threshold);

}  // namespace vellora::paper
