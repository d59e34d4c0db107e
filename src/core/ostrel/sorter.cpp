// The sorter's driver: sets aside cross-layout elements, measures how
// densely the rest fill their bounding box (which decides ties between
// horizontal and vertical cuts), segments the rest and merges the set-aside
// elements back.
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "median.hpp"
#include "box_tree.hpp"
#include "ostrel/driver.hpp"
#include "ostrel/element.hpp"
#include "ostrel/merge.hpp"
#include "ostrel/segment.hpp"
#include "ostrel/site.hpp"
#include "vellora/format.hpp"
#include "vellora/numeric.hpp"
#include "vellora/ostrel.hpp"

namespace vellora {
namespace ostrel {
namespace {

constexpr RecordSite kStart = sorter_site(Level::Debug, 87);
constexpr RecordSite kPartition = sorter_site(Level::Debug, 110);
constexpr RecordSite kAllCrossLayout = sorter_site(Level::Warn, 117);
constexpr RecordSite kDensity = sorter_site(Level::Debug, 126);

// Up to this many pair tests the plain loop beats building a tree.
constexpr std::size_t kPlainOverlapTests = 4096;
// Elements each candidate looks at before the tree is considered.
constexpr std::size_t kFirstLook = 64;

// Whether `a` and `b` overlap horizontally by at least kOverlapRatioMin of
// the narrower one. Touching boxes and zero-width boxes never do.
bool overlaps_horizontally(const SorterElement& a, const SorterElement& b) {
    const float overlap = clamped_diff(num::min_num(right(a), right(b)), num::max_num(left(a), left(b)));
    const float narrower = num::min_num(width(a), width(b));
    return overlap > 0.0f && narrower > 0.0f && overlap / narrower >= kOverlapRatioMin;
}

IdList ids_of(const std::vector<SorterElement>& elements) {
    IdList ids;
    ids.reserve(elements.size());
    for (const SorterElement& e : elements) ids.push_back(e.id);
    return ids;
}

}  // namespace

float cross_layout_width_threshold(const std::vector<SorterElement>& elements) {
    std::vector<float> widths;
    widths.reserve(elements.size());
    for (const SorterElement& e : elements) widths.push_back(width(e));
    return kBeta * median_of(std::move(widths));
}

std::vector<std::size_t> find_cross_layout(const std::vector<SorterElement>& elements) {
    std::vector<std::size_t> indices;
    if (elements.size() < 3) return indices;
    const float threshold = cross_layout_width_threshold(elements);
    // A zero-width candidate can pair with nobody (the narrower width would
    // be 0), so it is never tested; this keeps pages made mostly of
    // zero-width boxes, whose threshold is 0, from costing n^2 tests.
    std::vector<std::size_t> candidates;
    for (std::size_t i = 0; i < elements.size(); ++i) {
        const float w = width(elements[i]);
        if (w >= threshold && w > 0.0f) candidates.push_back(i);
    }
    // Each candidate first looks at the first few elements (wide elements
    // usually find their two overlaps there); only those still unsettled
    // count again over all elements, through a tree of the extents once the
    // pair tests would be many.
    const std::size_t first_look = candidates.size() * elements.size() <= kPlainOverlapTests
                                       ? elements.size()
                                       : std::min(elements.size(), kFirstLook);
    std::vector<std::size_t> unsettled;
    for (std::size_t i : candidates) {
        int count = 0;
        for (std::size_t j = 0; j < first_look; ++j) {
            if (j == i || !overlaps_horizontally(elements[i], elements[j])) continue;
            if (++count == kMinOverlapCount) break;
        }
        if (count == kMinOverlapCount) {
            indices.push_back(i);
        } else if (first_look < elements.size()) {
            unsettled.push_back(i);
        }
    }
    if (unsettled.empty()) return indices;
    // Only elements of positive width whose extent overlaps the candidate's
    // can count, and the tree finds them without visiting the others.
    std::vector<TreeBox> extents;
    extents.reserve(elements.size());
    for (std::size_t j = 0; j < elements.size(); ++j) {
        const SorterElement& e = elements[j];
        if (width(e) > 0.0f) extents.push_back({left(e), 0.0f, right(e), 0.0f, static_cast<std::uint32_t>(j)});
    }
    const BoxTree tree(std::move(extents));
    for (std::size_t i : unsettled) {
        const float lo = left(elements[i]);
        const float hi = right(elements[i]);
        int count = 0;
        tree.search([&](const EdgeBounds& b) { return b.max_x2 > lo && b.min_x1 < hi ? 0.0f : 1.0f; },
                    [&](float value) { return value > 0.0f || count >= kMinOverlapCount; },
                    [&](const TreeBox& box) {
                        if (count < kMinOverlapCount && box.handle != i &&
                            overlaps_horizontally(elements[i], elements[box.handle])) {
                            ++count;
                        }
                    });
        if (count >= kMinOverlapCount) indices.push_back(i);
    }
    std::sort(indices.begin(), indices.end());
    return indices;
}

float density_ratio(const std::vector<SorterElement>& elements) {
    float box_left = left(elements.front());
    float box_top = top(elements.front());
    float box_right = right(elements.front());
    float box_bottom = bottom(elements.front());
    for (std::size_t i = 1; i < elements.size(); ++i) {
        box_left = num::min_num(box_left, left(elements[i]));
        box_top = num::min_num(box_top, top(elements[i]));
        box_right = num::max_num(box_right, right(elements[i]));
        box_bottom = num::max_num(box_bottom, bottom(elements[i]));
    }
    const float box_area = clamped_diff(box_right, box_left) * clamped_diff(box_bottom, box_top);
    if (box_area <= 0.0f) return 1.0f;
    float covered = -0.0f;
    for (const SorterElement& e : elements) covered += area(e);
    // A NaN quotient (NaN or infinite areas) also gives 1.
    return num::min_num(covered / box_area, 1.0f);
}

IdList order_partitioned(const std::vector<SorterElement>& elements, const std::vector<std::size_t>& cross_indices,
                         const DiagnosticSink& sink) {
    std::vector<bool> is_cross(elements.size(), false);
    std::size_t cross_count = 0;
    for (std::size_t index : cross_indices) {
        if (index < is_cross.size() && !is_cross[index]) {
            is_cross[index] = true;
            ++cross_count;
        }
    }
    std::vector<SorterElement> cross;
    std::vector<SorterElement> main_list;
    cross.reserve(cross_count);
    main_list.reserve(elements.size() - cross_count);
    for (std::size_t i = 0; i < elements.size(); ++i) (is_cross[i] ? cross : main_list).push_back(elements[i]);

    sink.emit(kPartition, [&] {
        return "[sort] cross-layout: " + std::to_string(cross.size()) +
               ", remaining: " + std::to_string(main_list.size());
    });

    if (main_list.empty()) {
        sink.emit(kAllCrossLayout,
                  [] { return std::string("[sort] all elements are cross-layout, falling back to y-then-x sort"); });
        return ids_of(sort_y_then_x(elements));
    }

    const float density = density_ratio(main_list);
    const bool prefer_horizontal_first = density > kDensityThreshold;
    sink.emit(kDensity, [&] {
        return "[sort] density_ratio=" + fmt::fixed(density, 3) +
               ", prefer_horizontal_first=" + fmt::flag(prefer_horizontal_first);
    });

    const std::vector<SorterElement> ordered = segment(main_list, prefer_horizontal_first, sink);
    if (cross.empty()) return ids_of(ordered);
    return ids_of(merge_cross_layout(ordered, cross, sink));
}

}  // namespace ostrel

IdList sort_elements(std::vector<ElementRecord> records, const DiagnosticSink& sink) {
    using namespace ostrel;
    if (records.size() < 2) return records.empty() ? IdList{} : IdList{records.front().id};

    std::vector<SorterElement> elements;
    elements.reserve(records.size());
    for (const ElementRecord& record : records) elements.push_back(from_record(record));
    records = {};

    sink.emit(kStart, [&] {
        return "[sort] " + std::to_string(elements.size()) + " elements (beta=" + fmt::shortest(kBeta) +
               ", density_threshold=" + fmt::shortest(kDensityThreshold) + ")";
    });

    return order_partitioned(elements, find_cross_layout(elements), sink);
}

}  // namespace vellora
