// Stages of the sorter's driver, exposed for tests: the cross-layout test
// and the fill density that decides ties between horizontal and vertical cuts.
#pragma once

#include <cstddef>
#include <vector>

#include "ostrel/element.hpp"
#include "vellora/diagnostics.hpp"
#include "vellora/records.hpp"

namespace vellora::ostrel {

inline constexpr float kBeta = 2.0f;
inline constexpr float kDensityThreshold = 0.9f;
inline constexpr float kOverlapRatioMin = 0.1f;
inline constexpr int kMinOverlapCount = 2;

// kBeta times the median of the clamped widths of all elements.
float cross_layout_width_threshold(const std::vector<SorterElement>& elements);

// Positions, ascending, of the elements that are at least the width threshold
// wide and overlap at least two others horizontally by a tenth of the
// narrower width or more. Always empty for fewer than three elements.
std::vector<std::size_t> find_cross_layout(const std::vector<SorterElement>& elements);

// Summed element area over the area of the common bounding box, at most 1;
// 1 for an empty box. `elements` must not be empty.
float density_ratio(const std::vector<SorterElement>& elements);

// Everything after the cross-layout test: sets aside the elements at
// `cross_indices` (ascending positions into `elements`), orders the rest by
// segmentation and merges the set-aside ones back. With nothing left to
// segment, all elements are listed in y-then-x order instead.
IdList order_partitioned(const std::vector<SorterElement>& elements, const std::vector<std::size_t>& cross_indices,
                         const DiagnosticSink& sink);

}  // namespace vellora::ostrel
