#include "ostrel/cover_tree.hpp"

#include <algorithm>
#include <bit>

#include "ostrel/radix.hpp"
#include "vellora/numeric.hpp"

namespace vellora::ostrel {

namespace {

// The totalOrder key of a float as an unsigned number (ascending keys are
// ascending values; -0 just before +0).
std::uint32_t ordered_key(float value) noexcept {
    return static_cast<std::uint32_t>(num::total_order_key(value)) ^ 0x8000'0000u;
}

}  // namespace

CoverTree::CoverTree(const std::vector<std::pair<float, float>>& intervals) {
    // Every end point with its slot (2i: start of interval i, 2i + 1: its
    // end), in ascending order. Equal values are neighbours, -0 and +0
    // included: they share a point, as bounds of a band they give the same
    // extent and middle.
    // An interval equal to the one before it (as intervals listed in order
    // often are) shares its units and adds no end points.
    const std::size_t slots = 2 * intervals.size();
    std::vector<std::uint64_t> entries;
    entries.reserve(slots);
    for (std::size_t i = 0; i < intervals.size(); ++i) {
        if (i > 0 && intervals[i] == intervals[i - 1]) continue;
        entries.push_back(std::uint64_t{ordered_key(intervals[i].first)} << 32 | (2 * i));
        entries.push_back(std::uint64_t{ordered_key(intervals[i].second)} << 32 | (2 * i + 1));
    }
    radix_sort<32>(entries, [](std::uint64_t entry) { return entry >> 32; });
    points_.reserve(entries.size());
    slot_units_.resize(slots);
    for (std::uint64_t entry : entries) {
        const auto slot = static_cast<std::uint32_t>(entry);
        const float value = slot % 2 == 0 ? intervals[slot / 2].first : intervals[slot / 2].second;
        if (points_.empty() || points_.back() != value) points_.push_back(value);
        slot_units_[slot] = static_cast<std::int32_t>(2 * (points_.size() - 1));
    }
    for (std::size_t i = 1; i < intervals.size(); ++i) {
        if (intervals[i] == intervals[i - 1]) {
            slot_units_[2 * i] = slot_units_[2 * i - 2];
            slot_units_[2 * i + 1] = slot_units_[2 * i - 1];
        }
    }
    units_ = static_cast<std::int32_t>(2 * points_.size() - 1);
    std::vector<std::int32_t> counts(static_cast<std::size_t>(units_) + 1, 0);
    for (std::size_t i = 0; i < intervals.size(); ++i) {
        ++counts[static_cast<std::size_t>(slot_units_[2 * i])];
        --counts[static_cast<std::size_t>(slot_units_[2 * i + 1]) + 1];
    }
    for (std::size_t u = 1; u < counts.size(); ++u) counts[u] += counts[u - 1];
    // Node indices of the halving tree stay below twice the next power of two.
    nodes_ = std::make_unique_for_overwrite<Node[]>(2 * std::bit_ceil(static_cast<std::size_t>(units_)));
    build(1, 0, units_ - 1, counts);
    from_ = 0;
    to_ = units_ - 1;
}

void CoverTree::keep_after(float value) noexcept {
    const auto it = std::upper_bound(points_.begin(), points_.end(), value);
    from_ = std::max(from_, static_cast<std::int32_t>(2 * (it - points_.begin())));
}

void CoverTree::keep_before(float value) noexcept {
    const auto it = std::lower_bound(points_.begin(), points_.end(), value);
    to_ = std::min(to_, static_cast<std::int32_t>(2 * (it - points_.begin())) - 2);
}

// Two adjacent ranges of units as one: used to fill the tree and to answer
// a window from its pieces.
[[gnu::always_inline]] inline CoverTree::Info CoverTree::combine(const Info& left, const Info& right) const noexcept {
    const std::int32_t least = std::min(left.min, right.min);
    // A side whose least count is above the other's counts as wholly above.
    const std::int32_t left_first = left.min > least ? left.lo : left.first;
    const std::int32_t left_last = left.min > least ? left.hi : left.last;
    const std::int32_t right_first = right.min > least ? right.lo : right.first;
    const std::int32_t right_last = right.min > least ? right.hi : right.last;
    Info out{least, left.lo, right.hi, left_first >= 0 ? left_first : right_first,
             right_last >= 0 ? right_last : left_last, 0.0f, 0.0f};
    // Left to right, a band replacing the best only when strictly wider.
    if (left.min == least && left.gap > out.gap) {
        out.gap = left.gap;
        out.position = left.position;
    }
    if (left_last >= 0 && right_first > left_last + 1) {
        // Both bounds are points: a covered stretch covers its end points.
        const float reach = points_[static_cast<std::size_t>(left_last / 2)];
        const float start = points_[static_cast<std::size_t>(right_first / 2)];
        const float gap = start - reach;
        if (gap > out.gap) {
            out.gap = gap;
            out.position = num::centre(start, reach);
        }
    }
    if (right.min == least && right.gap > out.gap) {
        out.gap = right.gap;
        out.position = right.position;
    }
    return out;
}

CoverTree::Info CoverTree::query(std::size_t node, std::int32_t lo, std::int32_t hi,
                                 std::int32_t pending) const noexcept {
    const Node& n = nodes_[node];
    if (from_ <= lo && hi <= to_) return Info{n.min + pending, lo, hi, n.first, n.last, n.gap, n.position};
    const std::int32_t mid = lo + (hi - lo) / 2;
    if (to_ <= mid) return query(2 * node, lo, mid, pending + n.lazy);
    if (from_ > mid) return query(2 * node + 1, mid + 1, hi, pending + n.lazy);
    return combine(query(2 * node, lo, mid, pending + n.lazy), query(2 * node + 1, mid + 1, hi, pending + n.lazy));
}

void CoverTree::remove_slot(std::size_t slot) {
    add(1, 0, units_ - 1, slot_units_[2 * slot], slot_units_[2 * slot + 1], -1);
}

void CoverTree::remove_slots(const std::vector<std::uint32_t>& slots) {
    // A removal walks about two paths from the root. Once the removals would
    // walk more nodes than the tree holds, it is cheaper to read the counts
    // out, take the intervals off them and fill the tree again: every answer
    // depends on the counts alone.
    const auto units = static_cast<std::size_t>(units_);
    if (slots.size() * static_cast<std::size_t>(std::bit_width(units)) < 2 * units) {
        for (std::uint32_t slot : slots) remove_slot(slot);
        return;
    }
    std::vector<std::int32_t> counts(units + 1, 0);
    std::vector<std::int32_t> removed(units + 1, 0);
    for (std::uint32_t slot : slots) {
        ++removed[static_cast<std::size_t>(slot_units_[2 * std::size_t{slot}])];
        --removed[static_cast<std::size_t>(slot_units_[2 * std::size_t{slot} + 1]) + 1];
    }
    collect(1, 0, units_ - 1, 0, counts);
    std::int32_t running = 0;
    for (std::size_t u = 0; u < units; ++u) {
        running += removed[u];
        counts[u] -= running;
    }
    build(1, 0, units_ - 1, counts);
}

void CoverTree::collect(std::size_t node, std::int32_t lo, std::int32_t hi, std::int32_t pending,
                        std::vector<std::int32_t>& counts) const {
    const Node& n = nodes_[node];
    if (lo == hi) {
        counts[static_cast<std::size_t>(lo)] = n.min + pending;
        return;
    }
    const std::int32_t mid = lo + (hi - lo) / 2;
    collect(2 * node, lo, mid, pending + n.lazy, counts);
    collect(2 * node + 1, mid + 1, hi, pending + n.lazy, counts);
}

void CoverTree::build(std::size_t node, std::int32_t lo, std::int32_t hi,
                      const std::vector<std::int32_t>& counts) {
    if (lo == hi) {
        nodes_[node] = Node{counts[static_cast<std::size_t>(lo)], 0, -1, -1, 0.0f, 0.0f};
        return;
    }
    const std::int32_t mid = lo + (hi - lo) / 2;
    // Leaf children are filled here, saving a call for half of the nodes.
    if (mid == lo) {
        nodes_[2 * node] = Node{counts[static_cast<std::size_t>(lo)], 0, -1, -1, 0.0f, 0.0f};
    } else {
        build(2 * node, lo, mid, counts);
    }
    if (mid + 1 == hi) {
        nodes_[2 * node + 1] = Node{counts[static_cast<std::size_t>(hi)], 0, -1, -1, 0.0f, 0.0f};
    } else {
        build(2 * node + 1, mid + 1, hi, counts);
    }
    nodes_[node].lazy = 0;  // (a refill replaces what was pending)
    pull(node, lo, mid, hi);
}

void CoverTree::add(std::size_t node, std::int32_t lo, std::int32_t hi, std::int32_t from, std::int32_t to,
                    std::int32_t delta) {
    if (to < lo || hi < from) return;
    if (from <= lo && hi <= to) {
        nodes_[node].min += delta;
        nodes_[node].lazy += delta;
        return;
    }
    for (std::size_t child : {2 * node, 2 * node + 1}) {
        nodes_[child].min += nodes_[node].lazy;
        nodes_[child].lazy += nodes_[node].lazy;
    }
    nodes_[node].lazy = 0;
    const std::int32_t mid = lo + (hi - lo) / 2;
    add(2 * node, lo, mid, from, to, delta);
    add(2 * node + 1, mid + 1, hi, from, to, delta);
    pull(node, lo, mid, hi);
}

void CoverTree::pull(std::size_t node, std::int32_t lo, std::int32_t mid, std::int32_t hi) {
    const Node& left = nodes_[2 * node];
    const Node& right = nodes_[2 * node + 1];
    const Info merged = combine(Info{left.min, lo, mid, left.first, left.last, left.gap, left.position},
                                Info{right.min, mid + 1, hi, right.first, right.last, right.gap, right.position});
    Node& out = nodes_[node];
    out.min = merged.min;
    out.first = merged.first;
    out.last = merged.last;
    out.gap = merged.gap;
    out.position = merged.position;
}

GapCandidate CoverTree::widest_gap() const noexcept {
    const Info all = window();
    if (all.min > 0 || all.gap <= 0.0f) return GapCandidate{};
    return GapCandidate{all.position, all.gap};
}

std::pair<float, float> CoverTree::extent() const noexcept {
    const Info all = window();
    const std::int32_t first = all.min > 0 ? all.lo : all.first;
    const std::int32_t last = all.min > 0 ? all.hi : all.last;
    return {points_[static_cast<std::size_t>(first / 2)], points_[static_cast<std::size_t>(last / 2)]};
}

}  // namespace vellora::ostrel
