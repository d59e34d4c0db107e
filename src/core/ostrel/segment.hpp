// Gap segmentation: orders a group by cutting it at its widest empty band,
// horizontal or vertical, and ordering both sides the same way.
#pragma once

#include <vector>

#include "ostrel/element.hpp"
#include "vellora/diagnostics.hpp"

namespace vellora::ostrel {

inline constexpr float kMinGap = 5.0f;
inline constexpr float kNarrowFraction = 0.1f;
// Two gaps closer than this count as equal (single-precision epsilon).
inline constexpr float kGapTieTolerance = 1.1920929e-7f;

// An empty band: `position` is its middle, `gap` its extent. (0, 0) when the
// elements leave no band.
struct GapCandidate {
    float position = 0.0f;
    float gap = 0.0f;
};

// Widest empty horizontal band (between rows); of equal bands the topmost.
GapCandidate find_horizontal_gap(const std::vector<const SorterElement*>& elements);

// Widest empty vertical band (between columns); of equal bands the leftmost.
GapCandidate find_vertical_gap(const std::vector<const SorterElement*>& elements);

// `elements` in reading order: top before bottom, left before right. A group
// without a band of at least kMinGap is listed in y-then-x order.
// `prefer_horizontal_first` decides between a horizontal and a vertical band
// of equal extent. Works without recursion, so any nesting depth is safe.
std::vector<SorterElement> segment(const std::vector<SorterElement>& elements, bool prefer_horizontal_first,
                                   const DiagnosticSink& sink);

}  // namespace vellora::ostrel
