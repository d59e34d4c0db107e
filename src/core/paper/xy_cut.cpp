#include "xy_cut.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "histogram.hpp"
#include "position_order.hpp"
#include "sites.hpp"
#include "vellora/format.hpp"
#include "vellora/numeric.hpp"

namespace vellora::paper {
namespace {

constexpr RecordSite kColumnFirstCutSite = site(Level::Debug, 142);
constexpr RecordSite kColumnFirstSplitSite = site(Level::Debug, 149);
constexpr RecordSite kRowCutSite = site(Level::Debug, 164);
constexpr RecordSite kRowSplitSite = site(Level::Debug, 171);
constexpr RecordSite kColumnCutSite = site(Level::Debug, 185);
constexpr RecordSite kColumnSplitSite = site(Level::Debug, 192);
constexpr RecordSite kNoCutSite = site(Level::Debug, 205);

// A cut that leaves every element on one side whose region equals the current
// one would repeat the same call forever, so it counts as no cut. That happens
// for a cut on the lower edge (a minimum gap of 0 or 1 bins, or an offset lost
// to rounding next to a large edge) and for one that rounds onto the upper
// edge. A cut rounded past the upper edge widens the region: it is a real cut,
// and one level down it lands on the edge.
bool makes_progress(std::size_t first, std::size_t second, float cut, float lower,
                    float upper) noexcept {
    if (first == 0) {
        return cut != lower;
    }
    if (second == 0) {
        return cut != upper;
    }
    return true;
}

}  // namespace

namespace {

template <class Members, class Get>
bool vertical_first_of(const Members& members, Get get) noexcept {
    float cross_layout_sum = 0.0f;
    float other_sum = 0.0f;
    for (const auto& member : members) {
        const ElementRecord& element = get(member);
        const float height = element.y2 - element.y1;
        if (height == 0.0f) {
            continue;
        }
        const float aspect = (element.x2 - element.x1) / height;
        if (element.label == SemanticLabel::CrossLayout) {
            cross_layout_sum += aspect;
        } else {
            other_sum += aspect;
        }
    }
    return other_sum == 0.0f || cross_layout_sum / other_sum > kVerticalFirstRatio;
}

}  // namespace

bool vertical_first(std::span<const ElementRecord> elements) noexcept {
    return vertical_first_of(elements, [](const ElementRecord& e) -> const ElementRecord& { return e; });
}

bool vertical_first(const ElementRecord* base, std::span<const std::uint32_t> members) noexcept {
    return vertical_first_of(members, [base](std::uint32_t i) -> const ElementRecord& { return base[i]; });
}

IdList recursive_xy_cut(std::vector<ElementRecord> elements, const OrderConfig& config,
                        const Region& region, const DiagnosticSink& sink) {
    IdList order;
    order.reserve(elements.size());
    if (elements.empty()) return order;
    const std::size_t total = elements.size();
    const ElementRecord* const base = elements.data();

    // Each level works on a range of three lists of element indices: in
    // input order (the aspect sums and the position sort depend on it), and
    // by ascending left and top edge (the order the band searches need).
    // They are built once; a split partitions all three stably, so each side
    // is again a range holding the same elements, in the same relative
    // order, as a list copied per level would.
    std::vector<std::uint32_t> inputs(total);
    for (std::size_t i = 0; i < total; ++i) inputs[i] = static_cast<std::uint32_t>(i);
    std::vector<std::uint32_t> by_left = ascending_order(elements, CutAxis::X);
    std::vector<std::uint32_t> by_top = ascending_order(elements, CutAxis::Y);
    std::vector<std::uint8_t> second_side(total);

    // Each element's aspect ratio, worked out once as vertical_first does;
    // a level only sums them, in input order.
    enum Kind : std::uint8_t { Flat, Cross, Other };
    std::vector<float> aspects(total);
    std::vector<Kind> kinds(total);
    // When every element counts as Other with a positive aspect, a level's
    // cross-layout sum stays 0 and its other sum (of at least two positive
    // terms) is positive: no level goes columns first, and none need sum.
    bool all_plain = true;
    for (std::size_t i = 0; i < total; ++i) {
        const ElementRecord& element = base[i];
        const float height = element.y2 - element.y1;
        if (height == 0.0f) {
            kinds[i] = Flat;
            all_plain = false;
            continue;
        }
        aspects[i] = (element.x2 - element.x1) / height;
        kinds[i] = element.label == SemanticLabel::CrossLayout ? Cross : Other;
        all_plain = all_plain && kinds[i] == Other && aspects[i] > 0.0f;
    }
    const auto vertical_first_level = [&](std::span<const std::uint32_t> members) {
        if (all_plain) return false;
        float cross_layout_sum = 0.0f;
        float other_sum = 0.0f;
        for (std::uint32_t index : members) {
            if (kinds[index] == Cross) {
                cross_layout_sum += aspects[index];
            } else if (kinds[index] == Other) {
                other_sum += aspects[index];
            }
        }
        return other_sum == 0.0f || cross_layout_sum / other_sum > kVerticalFirstRatio;
    };
    std::vector<std::uint32_t> scratch(total);
    std::vector<ElementRecord> group;

    // Stable: the first side moves down in place, the second side goes
    // through the scratch list (sized once) and follows it.
    const auto partition = [&](std::vector<std::uint32_t>& list, std::size_t lo, std::size_t hi) {
        std::uint32_t* const data = list.data();
        std::uint32_t* const spill = scratch.data();
        std::size_t write = lo;
        std::size_t spilled = 0;
        for (std::size_t i = lo; i < hi; ++i) {
            const std::uint32_t index = data[i];
            if (second_side[index]) {
                spill[spilled++] = index;
            } else {
                data[write++] = index;
            }
        }
        std::copy(spill, spill + spilled, data + write);
    };

    struct Task {
        std::size_t lo;
        std::size_t hi;
        Region region;
    };
    // Last in, first out: a level pushes its second side, then its first, so
    // the first side (and everything below it) finishes before the second
    // starts, exactly as nested calls would.
    std::vector<Task> work{{0, total, region}};

    const float threshold = config.min_cut_threshold;
    const float scale = config.histogram_resolution_scale;

    while (!work.empty()) {
        const Task task = work.back();
        work.pop_back();
        const std::size_t lo = task.lo;
        const std::size_t hi = task.hi;
        const Region& r = task.region;
        const std::size_t n = hi - lo;
        if (n == 0) {
            continue;
        }
        if (n == 1) {
            order.push_back(base[inputs[lo]].id);
            continue;
        }
        const auto range = [&](const std::vector<std::uint32_t>& list) {
            return std::span<const std::uint32_t>(list.data() + lo, n);
        };

        // Marks the sides of a cut at `cut` by centre (ties and NaN centres
        // go second) and returns the size of the first side.
        const auto mark_sides = [&](CutAxis axis, float cut) {
            std::size_t first = 0;
            for (std::uint32_t index : range(inputs)) {
                const ElementRecord& e = base[index];
                const float middle =
                    axis == CutAxis::X ? num::centre(e.x1, e.x2) : num::centre(e.y1, e.y2);
                const bool before = cut > middle;
                second_side[index] = before ? 0 : 1;
                first += before ? 1 : 0;
            }
            return first;
        };
        const auto push_sides = [&](std::size_t first, const Region& first_region,
                                    const Region& second_region) {
            partition(inputs, lo, hi);
            partition(by_left, lo, hi);
            partition(by_top, lo, hi);
            work.push_back({lo + first, hi, second_region});
            work.push_back({lo, lo + first, first_region});
        };
        const auto column_split = [&](const RecordSite& cut_site, const RecordSite& count_site,
                                      const char* suffix) -> bool {
            const std::optional<float> x = find_cut(base, range(by_left), CutAxis::X, threshold,
                                                    scale, r.left, r.right, &sink);
            if (!x) {
                return false;
            }
            const std::size_t first = mark_sides(CutAxis::X, *x);
            if (!makes_progress(first, n - first, *x, r.left, r.right)) {
                return false;
            }
            sink.emit(cut_site, [&] {
                return "[XYCut] Vertical cut at x=" + fmt::fixed(*x, 0) + ", splitting " +
                       std::to_string(n) + " elements" + suffix;
            });
            sink.emit(count_site, [&] {
                return "  Left: " + std::to_string(first) + " elements, Right: " +
                       std::to_string(n - first) + " elements";
            });
            push_sides(first, {r.left, r.top, *x, r.bottom}, {*x, r.top, r.right, r.bottom});
            return true;
        };

        if (vertical_first_level(range(inputs)) &&
            column_split(kColumnFirstCutSite, kColumnFirstSplitSite, " (multi-column)")) {
            continue;
        }

        if (const std::optional<float> y = find_cut(base, range(by_top), CutAxis::Y, threshold,
                                                    scale, r.top, r.bottom, nullptr)) {
            const std::size_t first = mark_sides(CutAxis::Y, *y);
            if (makes_progress(first, n - first, *y, r.top, r.bottom)) {
                sink.emit(kRowCutSite, [&] {
                    return "[XYCut] Horizontal cut at y=" + fmt::fixed(*y, 0) + ", splitting " +
                           std::to_string(n) + " elements";
                });
                sink.emit(kRowSplitSite, [&] {
                    return "  Top: " + std::to_string(first) + " elements, Bottom: " +
                           std::to_string(n - first) + " elements";
                });
                push_sides(first, {r.left, r.top, r.right, *y}, {r.left, *y, r.right, r.bottom});
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
        group.clear();
        for (std::uint32_t index : range(inputs)) group.push_back(base[index]);
        sort_by_position(group, config.same_row_tolerance);
        for (const ElementRecord& element : group) {
            order.push_back(element.id);
        }
    }
    return order;
}

}  // namespace vellora::paper
