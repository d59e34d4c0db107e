#include "ostrel/segment.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <string>
#include <utility>

#include "ostrel/site.hpp"
#include "vellora/format.hpp"
#include "vellora/numeric.hpp"

namespace vellora::ostrel {
namespace {

constexpr RecordSite kNoValidCut = sorter_site(Level::Debug, 254);
constexpr RecordSite kHorizontalCut = sorter_site(Level::Debug, 263);
constexpr RecordSite kVerticalCut = sorter_site(Level::Debug, 270);
constexpr RecordSite kOneSideEmpty = sorter_site(Level::Warn, 279);
constexpr RecordSite kSplit = sorter_site(Level::Debug, 287);

// The totalOrder key of a float as an unsigned number: unsigned order of the
// result is the IEEE totalOrder of the float, and the mapping is invertible.
constexpr std::uint32_t ordered_bits(float value) noexcept {
    return static_cast<std::uint32_t>(num::total_order_key(value)) ^ 0x8000'0000u;
}

constexpr float from_ordered_bits(std::uint32_t bits) noexcept {
    // total_order_key keeps the sign bit and is its own inverse.
    const auto key = static_cast<std::int32_t>(bits ^ 0x8000'0000u);
    return std::bit_cast<float>(num::total_order_key(std::bit_cast<float>(key)));
}

// The scan over keys sorted ascending: an element is reduced to its (start,
// end) pair, packed into one 64-bit key that sorts by start, then end, both
// in totalOrder; elements with equal pairs are interchangeable for the scan.
template <class It, class KeyOf>
GapCandidate scan_sorted(It first, It last, KeyOf key_of) {
    GapCandidate best;
    if (first == last) return best;
    const auto end_of = [](std::uint64_t key) { return from_ordered_bits(static_cast<std::uint32_t>(key)); };
    const auto start_of = [](std::uint64_t key) { return from_ordered_bits(static_cast<std::uint32_t>(key >> 32)); };

    float reach = end_of(key_of(*first));
    for (++first; first != last; ++first) {
        const std::uint64_t key = key_of(*first);
        const float start = start_of(key);
        if (start > reach) {
            const float gap = start - reach;
            // Strictly wider only: of equal bands the first one found stays.
            if (gap > best.gap) {
                best.gap = gap;
                best.position = num::centre(start, reach);
            }
        }
        reach = num::max_num(reach, end_of(key));
    }
    return best;
}

template <float (*Start)(const SorterElement&) noexcept, float (*End)(const SorterElement&) noexcept>
constexpr std::uint64_t pair_key(const SorterElement& e) noexcept {
    return static_cast<std::uint64_t>(ordered_bits(Start(e))) << 32 | ordered_bits(End(e));
}

// One search along an axis over an unsorted group.
template <float (*Start)(const SorterElement&) noexcept, float (*End)(const SorterElement&) noexcept>
GapCandidate find_gap(const std::vector<const SorterElement*>& elements) {
    std::vector<std::uint64_t> keys;
    keys.reserve(elements.size());
    for (const SorterElement* e : elements) keys.push_back(pair_key<Start, End>(*e));
    std::sort(keys.begin(), keys.end());
    return scan_sorted(keys.begin(), keys.end(), [](std::uint64_t key) { return key; });
}

enum class Cut { None, Horizontal, Vertical };

Cut choose_cut(float hgap, float vgap, bool prefer_horizontal_first) {
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

}  // namespace

GapCandidate find_horizontal_gap(const std::vector<const SorterElement*>& elements) {
    return find_gap<top, bottom>(elements);
}

GapCandidate find_vertical_gap(const std::vector<const SorterElement*>& elements) {
    return find_gap<left, right>(elements);
}

std::vector<SorterElement> segment(const std::vector<SorterElement>& elements, bool prefer_horizontal_first,
                                   const DiagnosticSink& sink) {
    std::vector<SorterElement> out;
    out.reserve(elements.size());
    if (elements.empty()) return out;
    const std::size_t total = elements.size();

    // The scans of every level need a group's (start, end) keys in ascending
    // order along both axes. They are sorted once; a split partitions both
    // lists stably, so each side's keys stay sorted, and a group is a range
    // of both lists. The members of a group are the same as when each level
    // holds its own lists, and nothing else about them matters: equal keys
    // are interchangeable for the scans, and the fallback order of a group
    // is fixed by y-then-x and then input position.
    struct Keyed {
        std::uint64_t key;
        std::uint32_t index;
    };
    const auto by_key = [](const Keyed& a, const Keyed& b) { return a.key < b.key; };
    std::vector<Keyed> rows(total);     // (top, bottom) keys
    std::vector<Keyed> columns(total);  // (left, right) keys
    std::vector<float> widths(total);
    for (std::size_t i = 0; i < total; ++i) {
        const auto index = static_cast<std::uint32_t>(i);
        rows[i] = {pair_key<top, bottom>(elements[i]), index};
        columns[i] = {pair_key<left, right>(elements[i]), index};
        widths[i] = width(elements[i]);
    }
    std::sort(rows.begin(), rows.end(), by_key);
    std::sort(columns.begin(), columns.end(), by_key);
    const auto key_of = [](const Keyed& k) { return k.key; };

    std::vector<Keyed> scratch;
    scratch.reserve(total);
    std::vector<std::uint8_t> second_side(total);
    std::vector<std::uint32_t> members;

    // Lists the range in y-then-x order, input position deciding the rest.
    const auto append_y_then_x = [&](std::size_t lo, std::size_t hi) {
        members.clear();
        for (std::size_t i = lo; i < hi; ++i) members.push_back(rows[i].index);
        std::sort(members.begin(), members.end(), [&](std::uint32_t a, std::uint32_t b) {
            if (y_then_x_less(elements[a], elements[b])) return true;
            if (y_then_x_less(elements[b], elements[a])) return false;
            return a < b;
        });
        for (std::uint32_t index : members) out.push_back(elements[index]);
    };
    // Stable partition of list[lo, hi): first side, then second side.
    const auto partition = [&](std::vector<Keyed>& list, std::size_t lo, std::size_t hi) {
        scratch.clear();
        std::size_t write = lo;
        for (std::size_t i = lo; i < hi; ++i) {
            if (second_side[list[i].index]) {
                scratch.push_back(list[i]);
            } else {
                list[write++] = list[i];
            }
        }
        std::copy(scratch.begin(), scratch.end(), list.begin() + static_cast<std::ptrdiff_t>(write));
    };

    // Groups still to be ordered, the next one on top. A level pushes its
    // second side and then its first, so groups are finished in reading
    // order and their results can be appended to `out` as they come; records
    // appear in the order a recursive descent would give them.
    struct Range {
        std::size_t lo;
        std::size_t hi;
    };
    std::vector<Range> pending{{0, total}};
    while (!pending.empty()) {
        const auto [lo, hi] = pending.back();
        pending.pop_back();
        const std::size_t n = hi - lo;
        if (n <= 1) {
            if (n == 1) out.push_back(elements[rows[lo].index]);
            continue;
        }
        const auto row_first = rows.begin() + static_cast<std::ptrdiff_t>(lo);
        const auto row_last = rows.begin() + static_cast<std::ptrdiff_t>(hi);
        const auto column_first = columns.begin() + static_cast<std::ptrdiff_t>(lo);
        const auto column_last = columns.begin() + static_cast<std::ptrdiff_t>(hi);

        const GapCandidate horizontal = scan_sorted(row_first, row_last, key_of);
        GapCandidate vertical = scan_sorted(column_first, column_last, key_of);
        if (n > 2 && vertical.gap < kMinGap) {
            // The vertical band once elements narrower than a tenth of the
            // group's horizontal extent are ignored, so that narrow elements
            // lying across a column gap do not hide it; taken only when wider
            // and valid. (The extent does not depend on the order in which
            // the edges are compared.)
            const SorterElement& front = elements[columns[lo].index];
            float max_right = right(front);
            float min_left = left(front);
            for (auto it = column_first + 1; it != column_last; ++it) {
                max_right = num::max_num(max_right, right(elements[it->index]));
                min_left = num::min_num(min_left, left(elements[it->index]));
            }
            const float limit = clamped_diff(max_right, min_left) * kNarrowFraction;
            std::size_t wide = 0;
            for (auto it = column_first; it != column_last; ++it) wide += widths[it->index] >= limit ? 1 : 0;
            if (wide >= 2 && wide < n) {
                scratch.clear();
                for (auto it = column_first; it != column_last; ++it) {
                    if (widths[it->index] >= limit) scratch.push_back(*it);
                }
                const GapCandidate candidate = scan_sorted(scratch.begin(), scratch.end(), key_of);
                if (candidate.gap > vertical.gap && candidate.gap >= kMinGap) vertical = candidate;
            }
        }

        const Cut cut = choose_cut(horizontal.gap, vertical.gap, prefer_horizontal_first);
        if (cut == Cut::None) {
            sink.emit(kNoValidCut, [&] {
                return "[segment] no valid cuts for " + std::to_string(n) + " elements, falling back to y-then-x sort";
            });
            append_y_then_x(lo, hi);
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
        std::size_t first_count = 0;
        for (auto it = row_first; it != row_last; ++it) {
            const SorterElement& e = elements[it->index];
            const float c = is_horizontal ? centre_y(e) : centre_x(e);
            const bool first = c < chosen.position;
            second_side[it->index] = first ? 0 : 1;
            first_count += first ? 1 : 0;
        }

        if (first_count == 0 || first_count == n) {
            sink.emit(kOneSideEmpty, [&] {
                return "[segment] cut produced only 1 group for " + std::to_string(n) +
                       " elements, falling back to y-then-x sort";
            });
            append_y_then_x(lo, hi);
            continue;
        }

        sink.emit(kSplit, [&] {
            return "[segment] split into 2 groups: " + std::to_string(first_count) + ", " +
                   std::to_string(n - first_count);
        });
        partition(rows, lo, hi);
        partition(columns, lo, hi);
        pending.push_back({lo + first_count, hi});
        pending.push_back({lo, lo + first_count});
    }
    return out;
}

}  // namespace vellora::ostrel
