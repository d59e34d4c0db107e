// The straightforward XY-cut: every level copies each side into new lists
// and every band search collects and sorts its covered spans. Kept as the
// reference the sort-once XY-cut is compared against.
#pragma once

#include <algorithm>
#include <cmath>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "paper/histogram.hpp"
#include "paper/position_order.hpp"
#include "paper/sites.hpp"
#include "paper/xy_cut.hpp"
#include "vellora/format.hpp"
#include "vellora/numeric.hpp"

namespace vellora::reference::xy_cut_detail {

using namespace vellora::paper;

inline constexpr RecordSite kVerticalHistogramSite = site(Level::Debug, 253);
inline constexpr RecordSite kVerticalGapSite = site(Level::Debug, 264);
inline constexpr RecordSite kColumnFirstCutSite = site(Level::Debug, 142);
inline constexpr RecordSite kColumnFirstSplitSite = site(Level::Debug, 149);
inline constexpr RecordSite kRowCutSite = site(Level::Debug, 164);
inline constexpr RecordSite kRowSplitSite = site(Level::Debug, 171);
inline constexpr RecordSite kColumnCutSite = site(Level::Debug, 185);
inline constexpr RecordSite kColumnSplitSite = site(Level::Debug, 192);
inline constexpr RecordSite kNoCutSite = site(Level::Debug, 205);


enum class Axis { X, Y };

// The bins the span [lo, hi] covers, by floor and ceiling of the offsets.
inline std::optional<CoveredBins> straightforward_coverage(std::uint64_t bins, float lower,
                                                           float bin_width, float lo, float hi) noexcept {
    const float bins_f = static_cast<float>(bins);

    float first = std::floor((lo - lower) / bin_width);
    if (first < 0.0f || num::is_nan(first)) {
        first = 0.0f;
    }
    const std::uint64_t start = num::saturating_u64(first);

    float last = std::ceil((hi - lower) / bin_width);
    if (last > bins_f || num::is_nan(last)) {
        last = bins_f;
    }
    std::uint64_t end = num::saturating_u64(last);
    if (end > bins) {
        end = bins;
    }

    if (start >= end) {
        return std::nullopt;
    }
    return CoveredBins{start, end};
}

inline std::optional<float> find_cut(std::span<const ElementRecord> elements, Axis axis,
                              float min_cut_threshold, float scale, float lower, float upper,
                              const DiagnosticSink* sink) {
    const float range = upper - lower;
    const std::uint64_t bins = bin_count(range, scale);
    check_bin_count(bins);
    const float bins_f = static_cast<float>(bins);
    const float bin_width = range / bins_f;
    std::vector<CoveredBins> covered;
    if (bins > 0) {
        covered.reserve(elements.size());
        for (const ElementRecord& element : elements) {
            const std::optional<CoveredBins> span =
                axis == Axis::X ? straightforward_coverage(bins, lower, bin_width, element.x1, element.x2)
                                : straightforward_coverage(bins, lower, bin_width, element.y1, element.y2);
            if (span) {
                covered.push_back(*span);
            }
        }
    }
    const std::uint64_t min_gap = num::saturating_u64(min_cut_threshold * scale);

    const bool report = sink != nullptr && elements.size() >= 16;
    if (report) {
        sink->emit(kVerticalHistogramSite, [&] {
            return "[Histogram] Vertical: " + std::to_string(bins) +
                   " bins, min_gap=" + std::to_string(min_gap) + ", x_range=" +
                   fmt::fixed(lower, 0) + "-" + fmt::fixed(upper, 0);
        });
    }

    const std::optional<std::uint64_t> position = scan_gaps(std::move(covered), bins, min_gap);
    if (!position) {
        return std::nullopt;
    }
    const float cut = static_cast<float>(*position) / bins_f * range + lower;
    if (report) {
        sink->emit(kVerticalGapSite, [&] {
            return "[Histogram] Found gap at bin " + std::to_string(*position) +
                   ", x=" + fmt::fixed(cut, 0);
        });
    }
    return cut;
}

struct Task {
    std::vector<ElementRecord> elements;
    Region region;
};

struct Split {
    std::vector<ElementRecord> first;   // left of or above the cut
    std::vector<ElementRecord> second;  // right of or below the cut (ties and NaN centres)
};


inline Split split_at(const std::vector<ElementRecord>& elements, Axis axis, float cut) {
    Split split;
    for (const ElementRecord& element : elements) {
        const float middle = axis == Axis::X ? num::centre(element.x1, element.x2)
                                             : num::centre(element.y1, element.y2);
        if (cut > middle) {
            split.first.push_back(element);
        } else {
            split.second.push_back(element);
        }
    }
    return split;
}

// A cut that leaves every element on one side whose region equals the current
// one would repeat the same call forever, so it counts as no cut. That happens
// for a cut on the lower edge (a minimum gap of 0 or 1 bins, or an offset lost
// to rounding next to a large edge) and for one that rounds onto the upper
// edge. A cut rounded past the upper edge widens the region: it is a real cut,
// and one level down it lands on the edge.
inline bool makes_progress(const Split& split, float cut, float lower, float upper) noexcept {
    if (split.first.empty()) {
        return cut != lower;
    }
    if (split.second.empty()) {
        return cut != upper;
    }
    return true;
}


inline IdList recursive_xy_cut(std::vector<ElementRecord> elements, const OrderConfig& config,
                        const Region& region, const DiagnosticSink& sink) {
    IdList order;
    order.reserve(elements.size());

    // Last in, first out: a level pushes its second side, then its first, so
    // the first side (and everything below it) finishes before the second
    // starts, exactly as nested calls would.
    std::vector<Task> work;
    work.push_back({std::move(elements), region});

    const float threshold = config.min_cut_threshold;
    const float scale = config.histogram_resolution_scale;

    while (!work.empty()) {
        Task task = std::move(work.back());
        work.pop_back();
        const std::vector<ElementRecord>& items = task.elements;
        const Region& r = task.region;
        const std::size_t n = items.size();
        if (n == 0) {
            continue;
        }
        if (n == 1) {
            order.push_back(items.front().id);
            continue;
        }

        const auto push_sides = [&](Split& split, const Region& first, const Region& second) {
            work.push_back({std::move(split.second), second});
            work.push_back({std::move(split.first), first});
        };
        const auto column_split = [&](const RecordSite& cut_site, const RecordSite& count_site,
                                      const char* suffix) -> bool {
            const std::optional<float> x =
                find_cut(items, Axis::X, threshold, scale, r.left, r.right, &sink);
            if (!x) {
                return false;
            }
            Split split = split_at(items, Axis::X, *x);
            if (!makes_progress(split, *x, r.left, r.right)) {
                return false;
            }
            sink.emit(cut_site, [&] {
                return "[XYCut] Vertical cut at x=" + fmt::fixed(*x, 0) + ", splitting " +
                       std::to_string(n) + " elements" + suffix;
            });
            sink.emit(count_site, [&] {
                return "  Left: " + std::to_string(split.first.size()) + " elements, Right: " +
                       std::to_string(split.second.size()) + " elements";
            });
            push_sides(split, {r.left, r.top, *x, r.bottom}, {*x, r.top, r.right, r.bottom});
            return true;
        };

        if (vertical_first(items) &&
            column_split(kColumnFirstCutSite, kColumnFirstSplitSite, " (multi-column)")) {
            continue;
        }

        if (const std::optional<float> y =
                find_cut(items, Axis::Y, threshold, scale, r.top, r.bottom, nullptr)) {
            Split split = split_at(items, Axis::Y, *y);
            if (makes_progress(split, *y, r.top, r.bottom)) {
                sink.emit(kRowCutSite, [&] {
                    return "[XYCut] Horizontal cut at y=" + fmt::fixed(*y, 0) + ", splitting " +
                           std::to_string(n) + " elements";
                });
                sink.emit(kRowSplitSite, [&] {
                    return "  Top: " + std::to_string(split.first.size()) +
                           " elements, Bottom: " + std::to_string(split.second.size()) +
                           " elements";
                });
                push_sides(split, {r.left, r.top, r.right, *y}, {r.left, *y, r.right, r.bottom});
                continue;
            }
        }

        // The column search runs again even after a failed column-first
        // attempt; with 16 or more elements its records therefore repeat.
        if (column_split(kColumnCutSite, kColumnSplitSite, "")) {
            continue;
        }

        sink.emit(kNoCutSite, [&] {
            return "[XYCut] No cuts found, sorting " + std::to_string(n) + " elements by position";
        });
        std::vector<ElementRecord> sorted = std::move(task.elements);
        sort_by_position(sorted, config.same_row_tolerance);
        for (const ElementRecord& element : sorted) {
            order.push_back(element.id);
        }
    }
    return order;
}

}  // namespace vellora::reference::xy_cut_detail

namespace vellora::reference {
using xy_cut_detail::recursive_xy_cut;
}  // namespace vellora::reference
