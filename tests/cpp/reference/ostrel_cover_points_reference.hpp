// The straightforward way to cut a line at the end points of intervals:
// every end point sorted by value and repeated values dropped; an end point's
// unit found by binary search. Kept as the reference the radix-sorted points
// of CoverTree are compared against.
#pragma once

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

namespace vellora::reference {

inline std::vector<float> cover_points(const std::vector<std::pair<float, float>>& intervals) {
    std::vector<float> points;
    for (const auto& [start, end] : intervals) {
        points.push_back(start);
        points.push_back(end);
    }
    std::sort(points.begin(), points.end());
    points.erase(std::unique(points.begin(), points.end()), points.end());
    return points;
}

// Unit 2j is the point points[j].
inline std::int32_t cover_unit(const std::vector<float>& points, float value) {
    return static_cast<std::int32_t>(2 * (std::lower_bound(points.begin(), points.end(), value) - points.begin()));
}

}  // namespace vellora::reference
