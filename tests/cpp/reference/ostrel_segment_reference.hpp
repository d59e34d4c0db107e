// The straightforward segmentation: every level copies its group into new
// lists and sorts them again for each gap search. Kept as the reference the
// sort-once segmentation is compared against.
#pragma once

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "ostrel/segment.hpp"
#include "ostrel/site.hpp"
#include "vellora/format.hpp"
#include "vellora/numeric.hpp"

namespace vellora::reference::ostrel_detail {

using namespace vellora::ostrel;

inline constexpr RecordSite kNoValidCut = sorter_site(Level::Debug, 254);
inline constexpr RecordSite kHorizontalCut = sorter_site(Level::Debug, 263);
inline constexpr RecordSite kVerticalCut = sorter_site(Level::Debug, 270);
inline constexpr RecordSite kOneSideEmpty = sorter_site(Level::Warn, 279);
inline constexpr RecordSite kSplit = sorter_site(Level::Debug, 287);


enum class Cut { None, Horizontal, Vertical };

inline Cut choose_cut(float hgap, float vgap, bool prefer_horizontal_first) {
    const bool h_valid = hgap >= kMinGap;
    const bool v_valid = vgap >= kMinGap;
    if (h_valid && v_valid) {
        if (std::fabs(hgap - vgap) < kGapTieTolerance) {
            return prefer_horizontal_first ? Cut::Horizontal : Cut::Vertical;
        }
        return hgap > vgap ? Cut::Horizontal : Cut::Vertical;
    }
    if (h_valid) return Cut::Horizontal;
    if (v_valid) return Cut::Vertical;
    return Cut::None;
}

// The vertical band once elements narrower than a tenth of the group's
// horizontal extent are ignored, so that narrow elements lying across a
// column gap do not hide it. Returns `current` unless the new band is both
// wider and valid.
inline GapCandidate vertical_gap_of_wide_elements(const std::vector<const SorterElement*>& group, GapCandidate current) {
    float max_right = right(*group.front());
    float min_left = left(*group.front());
    for (std::size_t i = 1; i < group.size(); ++i) {
        max_right = num::max_num(max_right, right(*group[i]));
        min_left = num::min_num(min_left, left(*group[i]));
    }
    const float limit = clamped_diff(max_right, min_left) * kNarrowFraction;

    std::vector<const SorterElement*> wide;
    for (const SorterElement* e : group) {
        if (width(*e) >= limit) wide.push_back(e);
    }
    if (wide.size() < 2 || wide.size() >= group.size()) return current;
    const GapCandidate candidate = find_vertical_gap(wide);
    if (candidate.gap > current.gap && candidate.gap >= kMinGap) return candidate;
    return current;
}

inline void append_y_then_x(std::vector<const SorterElement*>& group, std::vector<SorterElement>& out) {
    sort_refs_y_then_x(group);
    for (const SorterElement* e : group) out.push_back(*e);
}

}  // namespace vellora::reference::ostrel_detail

namespace vellora::reference {

inline std::vector<ostrel::SorterElement> segment(const std::vector<ostrel::SorterElement>& elements, bool prefer_horizontal_first,
                                   const DiagnosticSink& sink) {
    using namespace ostrel_detail;
    std::vector<SorterElement> out;
    out.reserve(elements.size());

    // Groups still to be ordered, the next one on top. A level pushes its
    // second side and then its first, so groups are finished in reading
    // order and their results can be appended to `out` as they come; records
    // appear in the order a recursive descent would give them. Pending
    // groups are disjoint, so the stack never holds more than n references.
    using Group = std::vector<const SorterElement*>;
    std::vector<Group> pending;
    {
        Group all;
        all.reserve(elements.size());
        for (const SorterElement& e : elements) all.push_back(&e);
        pending.push_back(std::move(all));
    }

    while (!pending.empty()) {
        Group group = std::move(pending.back());
        pending.pop_back();
        const std::size_t n = group.size();
        if (n <= 1) {
            if (n == 1) out.push_back(*group.front());
            continue;
        }

        const GapCandidate horizontal = find_horizontal_gap(group);
        GapCandidate vertical = find_vertical_gap(group);
        if (n > 2 && vertical.gap < kMinGap) {
            vertical = vertical_gap_of_wide_elements(group, vertical);
        }

        const Cut cut = choose_cut(horizontal.gap, vertical.gap, prefer_horizontal_first);
        if (cut == Cut::None) {
            sink.emit(kNoValidCut, [&] {
                return "[segment] no valid cuts for " + std::to_string(n) + " elements, falling back to y-then-x sort";
            });
            append_y_then_x(group, out);
            continue;
        }

        const bool is_horizontal = cut == Cut::Horizontal;
        const GapCandidate chosen = is_horizontal ? horizontal : vertical;
        sink.emit(is_horizontal ? kHorizontalCut : kVerticalCut, [&] {
            return std::string(is_horizontal ? "[segment] horizontal cut at y=" : "[segment] vertical cut at x=") +
                   fmt::fixed(chosen.position, 1) + " (gap=" + fmt::fixed(chosen.gap, 1) + ") on " +
                   std::to_string(n) + " elements";
        });

        // By centre: strictly before the cut position goes first; at or past
        // it, or NaN, goes second.
        Group first;
        Group second;
        first.reserve(n / 2);
        second.reserve(n / 2);
        for (const SorterElement* e : group) {
            const float c = is_horizontal ? centre_y(*e) : centre_x(*e);
            (c < chosen.position ? first : second).push_back(e);
        }

        if (first.empty() || second.empty()) {
            sink.emit(kOneSideEmpty, [&] {
                return "[segment] cut produced only 1 group for " + std::to_string(n) +
                       " elements, falling back to y-then-x sort";
            });
            append_y_then_x(group, out);
            continue;
        }

        sink.emit(kSplit, [&] {
            return "[segment] split into 2 groups: " + std::to_string(first.size()) + ", " +
                   std::to_string(second.size());
        });
        group = Group{};  // release the parent before descending
        pending.push_back(std::move(second));
        pending.push_back(std::move(first));
    }
    return out;
}

}  // namespace vellora::reference
