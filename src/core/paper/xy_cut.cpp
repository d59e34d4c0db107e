#include "xy_cut.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <limits>
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

// The row searches of a chain of levels each of which is the first side of
// a row cut of the one before: the first side's list by top edge starts with
// the leading run of the level above unchanged, so on the same bins its
// search goes on from where the search above had got to within that run.
// Only the level a row cut armed this for comes next with the same range: a
// range whose list a split rearranges never comes back, and one that comes
// back with its list unchanged is the same range.
class ResumedRows {
public:
    [[gnu::noinline]] std::optional<float> find(const ElementRecord* base, const std::uint32_t* by_top,
                                                std::uint32_t lo, std::uint32_t hi, float threshold,
                                                float scale, const Region& r) {
        const std::size_t shared = armed_ && lo_ == lo && hi_ == hi ? shared_ : 0;
        armed_ = false;
        return find_row_cut(base, std::span<const std::uint32_t>(by_top + lo, hi - lo), threshold, scale,
                            r.top, r.bottom, memo_, shared);
    }
    // The level just searched was cut into rows, and [lo, hi) is its first
    // side, whose first `shared` elements kept their places.
    void arm(std::size_t lo, std::size_t hi, std::size_t shared) noexcept {
        lo_ = static_cast<std::uint32_t>(lo);
        hi_ = static_cast<std::uint32_t>(hi);
        shared_ = shared;
        armed_ = true;
    }

private:
    RowScanMemo memo_;
    std::uint32_t lo_ = 0;
    std::uint32_t hi_ = 0;
    std::size_t shared_ = 0;
    bool armed_ = false;
};

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

IdList recursive_xy_cut(const std::vector<ElementRecord>& elements, const OrderConfig& config,
                        const Region& region, const DiagnosticSink& sink) {
    IdList order;
    order.reserve(elements.size());
    if (elements.empty()) return order;
    const std::size_t total = elements.size();
    const ElementRecord* const base = elements.data();

    // The per-element numbers and the index lists live in two buffers
    // allocated once.
    std::vector<float> numbers(3 * total);
    float* const centre_x = numbers.data();
    float* const centre_y = centre_x + total;
    float* const aspects = centre_y + total;
    std::vector<std::uint32_t> lists(4 * total);

    // Every element's centres, worked out once as the sides of a cut need
    // them: before the cut when it lies past the centre, else (ties and NaN
    // centres) after it.
    for (std::size_t i = 0; i < total; ++i) {
        centre_x[i] = num::centre(base[i].x1, base[i].x2);
        centre_y[i] = num::centre(base[i].y1, base[i].y2);
    }
    const auto centres_along = [&](CutAxis axis) { return axis == CutAxis::X ? centre_x : centre_y; };

    // Each level works on a range of element indices by ascending top edge,
    // the order the row search needs and the one list every level reads. A
    // split partitions that range stably, so each side is again a range
    // holding its elements in the same relative order as a list copied per
    // level would.
    //
    // Two more lists hold the same ranges in other orders: by ascending left
    // edge (for the column search) and in input order (for the aspect sums
    // and the position sort). Most levels read neither, so they follow the
    // splits only on demand: every split is kept as a node, and a level that
    // needs one of them first replays the splits above it that this list has
    // not gone through yet, from the highest one down. Each split is replayed
    // at most once per list, so the work never exceeds partitioning at every
    // level, and splits whose sides never read a list cost nothing for it.
    // Indices by ascending lower edge along an axis: packed keys sorted.
    std::vector<std::uint64_t> left_keys(total);
    std::vector<std::uint64_t> sorted_keys(total);
    std::vector<std::uint64_t> spare_keys;
    const auto fill_ascending = [&](std::uint32_t* out, CutAxis axis) {
        for (std::size_t i = 0; i < total; ++i) sorted_keys[i] = packed_lower_edge(base[i], axis, i);
        if (axis == CutAxis::X) std::copy(sorted_keys.begin(), sorted_keys.end(), left_keys.begin());
        sort_packed(sorted_keys, spare_keys);
        for (std::size_t i = 0; i < total; ++i) out[i] = static_cast<std::uint32_t>(sorted_keys[i]);
    };
    std::uint32_t* const by_top = lists.data();
    fill_ascending(by_top, CutAxis::Y);

    constexpr std::uint32_t kTop = std::numeric_limits<std::uint32_t>::max();
    struct Split {
        std::uint32_t lo;
        std::uint32_t hi;
        std::uint32_t parent;  // the split whose side this one cut, or kTop
        float cut;
        CutAxis axis;
        bool replayed[2];  // by the list by left edge, by the list in input order
    };
    std::vector<Split> splits;
    splits.reserve(total);

    struct FollowingList {
        std::uint32_t* items;
        int which;  // its flag in Split::replayed
    };
    FollowingList by_left{lists.data() + total, 0};
    fill_ascending(by_left.items, CutAxis::X);
    FollowingList inputs{lists.data() + 2 * total, 1};
    for (std::size_t i = 0; i < total; ++i) inputs.items[i] = static_cast<std::uint32_t>(i);
    std::uint32_t* const scratch = lists.data() + 3 * total;
    std::vector<std::uint32_t> path;
    path.reserve(64);

    // A level may sort its own elements by left edge instead, when they are
    // few or when that is cheaper than bringing the list up to date (below a
    // long run of rows peeled off one sheet at a time): their packed keys
    // order them as that list does.
    constexpr std::size_t kSortedLocally = 16;
    std::array<std::uint32_t, kSortedLocally> small;
    std::vector<std::uint64_t> large_keys;
    std::vector<std::uint32_t> large;

    // Stable. The leading run of the first side stays where it is, and so
    // does a second side that follows it unbroken (a row cut at an empty
    // band usually leaves the list by top edge like that). From the first
    // element out of place on, branch-free: every index is written to both
    // the next place of the first side (in place) and the next place of the
    // spill list, and only the side it belongs to moves on; the spill list
    // follows the first side. Returns the size of the first side and the
    // length of that leading run.
    struct Sides {
        std::size_t first;
        std::size_t leading;
    };
    const auto partition = [&](std::uint32_t* data, std::size_t lo, std::size_t hi, float cut,
                               CutAxis axis) -> Sides {
        const float* const centres = centres_along(axis);
        std::size_t first_end = lo;
        while (first_end < hi && cut > centres[data[first_end]]) ++first_end;
        std::size_t second_end = first_end;
        while (second_end < hi && !(cut > centres[data[second_end]])) ++second_end;
        if (second_end == hi) return {first_end - lo, first_end - lo};
        std::uint32_t* const spill = scratch;
        std::copy(data + first_end, data + second_end, spill);
        std::size_t write = first_end;
        std::size_t spilled = second_end - first_end;
        for (std::size_t i = second_end; i < hi; ++i) {
            const std::uint32_t index = data[i];
            const bool before = cut > centres[index];
            data[write] = index;
            spill[spilled] = index;
            write += before ? 1 : 0;
            spilled += before ? 0 : 1;
        }
        std::copy(spill, spill + spilled, data + write);
        return {write - lo, first_end - lo};
    };

    // Whether bringing `list` up to date for the sides of split `parent`
    // would partition more than `limit` entries in all.
    const auto replay_costs_more = [&](const FollowingList& list, std::uint32_t parent, std::size_t limit) {
        std::size_t cost = 0;
        for (std::uint32_t at = parent; at != kTop && !splits[at].replayed[list.which]; at = splits[at].parent) {
            cost += splits[at].hi - splits[at].lo;
            if (cost > limit) return true;
        }
        return false;
    };

    // Brings `list` up to date for the sides of split `parent`.
    const auto follow = [&](FollowingList& list, std::uint32_t parent) {
        if (parent == kTop || splits[parent].replayed[list.which]) return;
        path.clear();
        for (std::uint32_t at = parent;;) {
            path.push_back(at);
            const std::uint32_t up = splits[at].parent;
            if (up == kTop || splits[up].replayed[list.which]) break;
            at = up;
        }
        for (auto it = path.rbegin(); it != path.rend(); ++it) {
            Split& s = splits[*it];
            partition(list.items, s.lo, s.hi, s.cut, s.axis);
            s.replayed[list.which] = true;
        }
    };

    // Each element's aspect ratio, worked out once as vertical_first does;
    // a level only sums them, in input order.
    enum Kind : std::uint8_t { Flat, Cross, Other };
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
    std::vector<ElementRecord> group;

    struct Task {
        std::uint32_t lo;
        std::uint32_t hi;
        std::uint32_t parent;  // the split that made this side, or kTop
        // The row search over these elements between these top and bottom
        // edges is known to find no cut that makes progress.
        bool rows_fail;
        Region region;
    };
    // Last in, first out: a level pushes its second side, then its first, so
    // the first side (and everything below it) finishes before the second
    // starts, exactly as nested calls would.
    std::vector<Task> work;
    work.reserve(64);
    work.push_back({0, static_cast<std::uint32_t>(total), kTop, false, region});

    // Row searches resume from the search a level above from this many
    // elements on.
    constexpr std::size_t kResumedFrom = 256;
    ResumedRows resumed;

    const float threshold = config.min_cut_threshold;
    const float scale = config.histogram_resolution_scale;

    while (!work.empty()) {
        const Task task = work.back();
        work.pop_back();
        const std::uint32_t lo = task.lo;
        const std::uint32_t hi = task.hi;
        const Region& r = task.region;
        const std::size_t n = hi - lo;
        if (n == 0) {
            continue;
        }
        if (n == 1) {
            order.push_back(base[by_top[lo]].id);
            continue;
        }
        const auto range = [&](const std::uint32_t* list) { return std::span<const std::uint32_t>(list + lo, n); };

        // Splits the range at `cut` along `axis` and returns the size of the
        // first side. With every element on one side nothing moves.
        const auto split_at = [&](CutAxis axis, float cut) {
            return partition(by_top, lo, hi, cut, axis);
        };
        // `rows_failed`: the row search over this level failed. A column
        // cut that keeps every element on one side leaves that side the
        // same elements between the same top and bottom, where it fails
        // again.
        const auto push_sides = [&](CutAxis axis, float cut, std::size_t first, bool rows_failed,
                                    const Region& first_region, const Region& second_region) {
            if (first == 0 || first == n) {
                // One side holds every element, in the same order: the
                // lists need no replay for it, and the other side has
                // nothing to order.
                work.push_back({lo, hi, task.parent, rows_failed, first == 0 ? second_region : first_region});
                return;
            }
            const auto id = static_cast<std::uint32_t>(splits.size());
            const auto mid = static_cast<std::uint32_t>(lo + first);
            splits.push_back({lo, hi, task.parent, cut, axis, {false, false}});
            work.push_back({mid, hi, id, false, second_region});
            work.push_back({lo, mid, id, false, first_region});
        };
        const auto column_split = [&](const RecordSite& cut_site, const RecordSite& count_site,
                                      const char* suffix, bool rows_failed) -> bool {
            std::span<const std::uint32_t> members;
            // Sorting n keys costs about n log n; bringing the list up to
            // date costs the sizes of the splits it has not gone through.
            const std::size_t sort_cost = n * static_cast<std::size_t>(std::bit_width(n));
            if (n <= kSortedLocally) {
                // The same order as the list by left edge would hold
                // (insertion sort: the keys are distinct).
                std::array<std::uint64_t, kSortedLocally> keys;
                for (std::size_t i = 0; i < n; ++i) {
                    const std::uint64_t key = left_keys[by_top[lo + i]];
                    std::size_t at = i;
                    for (; at > 0 && keys[at - 1] > key; --at) keys[at] = keys[at - 1];
                    keys[at] = key;
                }
                for (std::size_t i = 0; i < n; ++i) small[i] = static_cast<std::uint32_t>(keys[i]);
                members = std::span<const std::uint32_t>(small.data(), n);
            } else if (replay_costs_more(by_left, task.parent, sort_cost)) {
                large_keys.resize(n);
                for (std::size_t i = 0; i < n; ++i) large_keys[i] = left_keys[by_top[lo + i]];
                std::sort(large_keys.begin(), large_keys.end());
                large.resize(n);
                for (std::size_t i = 0; i < n; ++i) large[i] = static_cast<std::uint32_t>(large_keys[i]);
                members = std::span<const std::uint32_t>(large.data(), n);
            } else {
                follow(by_left, task.parent);
                members = range(by_left.items);
            }
            const std::optional<float> x = find_cut(base, members, CutAxis::X, threshold, scale,
                                                    r.left, r.right, &sink);
            if (!x) {
                return false;
            }
            const std::size_t first = split_at(CutAxis::X, *x).first;
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
            push_sides(CutAxis::X, *x, first, rows_failed, {r.left, r.top, *x, r.bottom},
                       {*x, r.top, r.right, r.bottom});
            return true;
        };

        bool columns_first = false;
        if (!all_plain) {
            follow(inputs, task.parent);
            columns_first = vertical_first_level(range(inputs.items));
        }
        if (columns_first &&
            column_split(kColumnFirstCutSite, kColumnFirstSplitSite, " (multi-column)", false)) {
            continue;
        }

        if (const std::optional<float> y =
                task.rows_fail          ? std::nullopt
                : n >= kResumedFrom     ? resumed.find(base, by_top, lo, hi, threshold, scale, r)
                                        : find_cut(base, range(by_top), CutAxis::Y, threshold, scale,
                                                   r.top, r.bottom, nullptr)) {
            const auto [first, first_leading] = split_at(CutAxis::Y, *y);
            if (makes_progress(first, n - first, *y, r.top, r.bottom)) {
                sink.emit(kRowCutSite, [&] {
                    return "[XYCut] Horizontal cut at y=" + fmt::fixed(*y, 0) + ", splitting " +
                           std::to_string(n) + " elements";
                });
                sink.emit(kRowSplitSite, [&] {
                    return "  Top: " + std::to_string(first) + " elements, Bottom: " +
                           std::to_string(n - first) + " elements";
                });
                push_sides(CutAxis::Y, *y, first, false, {r.left, r.top, r.right, *y},
                           {r.left, *y, r.right, r.bottom});
                if (n >= kResumedFrom) resumed.arm(lo, lo + first, first_leading);
                continue;
            }
        }

        // The column search runs again even after a failed column-first
        // attempt; with 16 or more elements its records therefore repeat.
        if (column_split(kColumnCutSite, kColumnSplitSite, "", true)) {
            continue;
        }

        sink.emit(kNoCutSite, [&] {
            return "[XYCut] No cuts found, sorting " + std::to_string(n) + " elements by position";
        });
        follow(inputs, task.parent);
        group.clear();
        for (std::uint32_t index : range(inputs.items)) group.push_back(base[index]);
        sort_by_position(group, config.same_row_tolerance);
        for (const ElementRecord& element : group) {
            order.push_back(element.id);
        }
    }
    return order;
}

}  // namespace vellora::paper
