#include "ostrel/segment.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <string>
#include <tuple>
#include <utility>

#include "ostrel/cover_tree.hpp"
#include "ostrel/radix.hpp"
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
// Without NaN among the ends (`Clean`), max_num is the plain comparison.
template <bool Clean = false, class It, class Ends>
GapCandidate scan_sorted(It first, It last, Ends ends) {
    GapCandidate best;
    if (first == last) return best;
    float reach = ends(*first).second;
    for (++first; first != last; ++first) {
        const auto [start, end] = ends(*first);
        if (start > reach) {
            const float gap = start - reach;
            // Strictly wider only: of equal bands the first one found stays.
            if (gap > best.gap) {
                best.gap = gap;
                best.position = num::centre(start, reach);
            }
        }
        if constexpr (Clean) {
            reach = reach < end ? end : reach;
        } else {
            reach = num::max_num(reach, end);
        }
    }
    return best;
}

// (start, end) of a packed key.
constexpr std::pair<float, float> unpack(std::uint64_t key) noexcept {
    return {from_ordered_bits(static_cast<std::uint32_t>(key >> 32)), from_ordered_bits(static_cast<std::uint32_t>(key))};
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
    return scan_sorted(keys.begin(), keys.end(), unpack);
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

namespace {

// Coordinates below this magnitude leave at least 1.5 between the middle of
// a band of 5 or more and either of its ends, and never overflow a sum.
constexpr float kCleanLimit = 16777216.0f;

// Every coordinate finite and below kCleanLimit. Then a band found by a scan
// over (start, end) keys in ascending order lies between whole runs of keys,
// and its middle is at least 1.5 from both ends: every element before the
// band has its centre before the middle and every element after it at or
// past it, so the sides of a cut at that band are a prefix and a suffix of
// the keys scanned.
bool clean(const std::vector<SorterElement>& elements) {
    const auto fine = [](float v) { return v > -kCleanLimit && v < kCleanLimit; };
    return std::all_of(elements.begin(), elements.end(), [&](const SorterElement& e) {
        return fine(e.x1) && fine(e.y1) && fine(e.x2) && fine(e.y2);
    });
}

// Lists segment_ranges works in, kept from one call to the next so that the
// many small groups of a large page allocate them once.
struct RangeLists {
    struct Keyed {
        std::uint64_t key;
        std::uint32_t index;
        float start;  // the pair the key packs
        float end;
    };
    // y-then-x compares the totalOrder keys of top, then of left: one
    // unsigned key holding both, with the input position after it.
    struct Placed {
        std::uint64_t key;
        std::uint32_t index;
    };
    struct Range {
        std::size_t lo;
        std::size_t hi;
    };
    std::vector<Keyed> rows;     // (top, bottom) keys
    std::vector<Keyed> columns;  // (left, right) keys
    std::vector<Keyed> scratch;
    std::vector<float> centres_x;
    std::vector<float> centres_y;
    // Which side an element goes to at the current split: an element whose
    // stamp is the split's serial is on the marked side. Serials only grow,
    // so stamps left by an earlier call never match.
    std::vector<std::uint32_t> stamp;
    std::uint32_t serial = 0;
    std::vector<Placed> members;
    std::vector<Range> pending;
};

// Orders `elements` onto the end of `out`, level by level over ranges of
// two sorted lists. `is_clean` is clean(elements).
void segment_ranges(const std::vector<SorterElement>& elements, bool prefer_horizontal_first, bool is_clean,
                    const DiagnosticSink& sink, std::vector<SorterElement>& out, RangeLists& lists) {
    if (elements.empty()) return;
    const std::size_t total = elements.size();
    using Keyed = RangeLists::Keyed;
    using Placed = RangeLists::Placed;
    using Range = RangeLists::Range;

    // The scans of every level need a group's (start, end) keys in ascending
    // order along both axes. They are sorted once; a split partitions both
    // lists stably, so each side's keys stay sorted, and a group is a range
    // of both lists. The members of a group are the same as when each level
    // holds its own lists, and nothing else about them matters: equal keys
    // are interchangeable for the scans, and the fallback order of a group
    // is fixed by y-then-x and then input position.
    const auto by_key = [](const Keyed& a, const Keyed& b) { return a.key < b.key; };
    std::vector<Keyed>& rows = lists.rows;
    std::vector<Keyed>& columns = lists.columns;
    std::vector<float>& centres_x = lists.centres_x;
    std::vector<float>& centres_y = lists.centres_y;
    rows.resize(total);
    columns.resize(total);
    centres_x.resize(total);
    centres_y.resize(total);
    for (std::size_t i = 0; i < total; ++i) {
        centres_x[i] = centre_x(elements[i]);
        centres_y[i] = centre_y(elements[i]);
        const auto index = static_cast<std::uint32_t>(i);
        const SorterElement& e = elements[i];
        rows[i] = {pair_key<top, bottom>(e), index, top(e), bottom(e)};
        columns[i] = {pair_key<left, right>(e), index, left(e), right(e)};
    }
    std::sort(rows.begin(), rows.end(), by_key);
    std::sort(columns.begin(), columns.end(), by_key);
    const auto key_of = [](const Keyed& k) { return std::pair(k.start, k.end); };

    // The scan of scan_sorted over a range of keys, which also tells how many
    // keys lie before the band it found, and the extent and the least width
    // of the range. The extent comes out as the plain min/max fold over the
    // range in its order, and widths are never NaN, so every element is at
    // least a given (non-NaN) width exactly when the least width is. Without
    // NaN (clean coordinates) max_num is the plain comparison, and the least
    // start is the first one.
    struct Scan {
        GapCandidate band;
        std::size_t before = 0;  // keys before the band
        float min_start;
        float max_end;
        float min_width;
    };
    const auto scan = [is_clean](const Keyed* first, const Keyed* last) {
        Scan result{{}, 0, first->start, first->end, clamped_diff(first->end, first->start)};
        float reach = first->end;
        float least_width = result.min_width;
        float gap_found = 0.0f;
        const auto visit = [&](const Keyed* it, float end) {
            const float start = it->start;
            if (start > reach) {
                const float gap = start - reach;
                if (gap > gap_found) {
                    gap_found = gap;
                    result.band.position = num::centre(start, reach);
                    result.before = static_cast<std::size_t>(it - first);
                }
            }
            least_width = std::min(least_width, clamped_diff(end, start));
        };
        if (is_clean) {
            for (const Keyed* it = first + 1; it != last; ++it) {
                const float end = it->end;
                visit(it, end);
                reach = reach < end ? end : reach;
            }
        } else {
            for (const Keyed* it = first + 1; it != last; ++it) {
                visit(it, it->end);
                reach = num::max_num(reach, it->end);
                result.min_start = num::min_num(result.min_start, it->start);
            }
        }
        result.band.gap = gap_found;
        result.max_end = reach;
        result.min_width = least_width;
        return result;
    };

    std::vector<Keyed>& scratch = lists.scratch;
    scratch.resize(total);
    std::vector<std::uint32_t>& stamp = lists.stamp;
    if (stamp.size() < total) stamp.resize(total, 0);
    std::uint32_t& serial = lists.serial;
    std::vector<Placed>& members = lists.members;

    // Lists the range in y-then-x order, input position deciding the rest.
    const auto append_y_then_x = [&](std::size_t lo, std::size_t hi) {
        members.clear();
        for (std::size_t i = lo; i < hi; ++i) {
            const std::uint32_t index = rows[i].index;
            const SorterElement& e = elements[index];
            members.push_back({std::uint64_t{ordered_bits(top(e))} << 32 | ordered_bits(left(e)), index});
        }
        std::sort(members.begin(), members.end(), [](const Placed& a, const Placed& b) {
            return a.key != b.key ? a.key < b.key : a.index < b.index;
        });
        for (const Placed& member : members) out.push_back(elements[member.index]);
    };
    // Stable partition of list[lo, hi): first side, then second side. The
    // leading run of the first side and the trailing run of the second stay
    // where they are; the second side in between goes through the scratch
    // list, sized once.
    const auto partition = [&](std::vector<Keyed>& list, std::size_t lo, std::size_t hi, bool marked_second) {
        Keyed* const data = list.data();
        const auto second = [&](const Keyed& k) { return (stamp[k.index] == serial) == marked_second; };
        while (lo < hi && !second(data[lo])) ++lo;
        while (hi > lo && second(data[hi - 1])) --hi;
        Keyed* const spill = scratch.data();
        std::size_t write = lo;
        std::size_t spilled = 0;
        for (std::size_t i = lo; i < hi; ++i) {
            if (second(data[i])) {
                spill[spilled++] = data[i];
            } else {
                data[write++] = data[i];
            }
        }
        std::copy(spill, spill + spilled, data + write);
    };

    // Groups still to be ordered, the next one on top. A level pushes its
    // second side and then its first, so groups are finished in reading
    // order and their results can be appended to `out` as they come; records
    // appear in the order a recursive descent would give them.
    std::vector<Range>& pending = lists.pending;
    pending.assign(1, Range{0, total});
    while (!pending.empty()) {
        const auto [lo, hi] = pending.back();
        pending.pop_back();
        const std::size_t n = hi - lo;
        if (n <= 1) {
            if (n == 1) out.push_back(elements[rows[lo].index]);
            continue;
        }
        const Keyed* const row_first = rows.data() + lo;
        const Keyed* const row_last = rows.data() + hi;
        const Keyed* const column_first = columns.data() + lo;
        const Keyed* const column_last = columns.data() + hi;

        const Scan horizontal = scan(row_first, row_last);
        const Scan plain_vertical = scan(column_first, column_last);
        GapCandidate vertical = plain_vertical.band;
        bool vertical_of_wide = false;
        if (n > 2 && vertical.gap < kMinGap) {
            // The vertical band once elements narrower than a tenth of the
            // group's horizontal extent are ignored, so that narrow elements
            // lying across a column gap do not hide it; taken only when wider
            // and valid. (The extent does not depend on the order in which
            // the edges are compared.) Nothing is left out when no element
            // is narrower than the limit.
            const float limit = clamped_diff(plain_vertical.max_end, plain_vertical.min_start) * kNarrowFraction;
            if (plain_vertical.min_width < limit) {
                std::size_t wide = 0;
                // (a column key's pair is the element's left and right edge)
                for (const Keyed* it = column_first; it != column_last; ++it) {
                    wide += clamped_diff(it->end, it->start) >= limit ? 1 : 0;
                }
                if (wide >= 2) {
                    std::size_t kept = 0;
                    for (const Keyed* it = column_first; it != column_last; ++it) {
                        if (clamped_diff(it->end, it->start) >= limit) scratch[kept++] = *it;
                    }
                    const GapCandidate candidate =
                        scan_sorted(scratch.begin(), scratch.begin() + static_cast<std::ptrdiff_t>(kept), key_of);
                    if (candidate.gap > vertical.gap && candidate.gap >= kMinGap) {
                        vertical = candidate;
                        vertical_of_wide = true;
                    }
                }
            }
        }

        const Cut cut = choose_cut(horizontal.band.gap, vertical.gap, prefer_horizontal_first);
        if (cut == Cut::None) {
            sink.emit(kNoValidCut, [&] {
                return "[segment] no valid cuts for " + std::to_string(n) + " elements, falling back to y-then-x sort";
            });
            append_y_then_x(lo, hi);
            continue;
        }

        const bool is_horizontal = cut == Cut::Horizontal;
        const GapCandidate chosen = is_horizontal ? horizontal.band : vertical;
        sink.emit(is_horizontal ? kHorizontalCut : kVerticalCut, [&] {
            return std::string(is_horizontal ? "[segment] horizontal cut at y=" : "[segment] vertical cut at x=") +
                   fmt::fixed(chosen.position, 1) + " (gap=" + fmt::fixed(chosen.gap, 1) + ") on " +
                   std::to_string(n) + " elements";
        });

        ++serial;
        std::size_t first_count = 0;
        // Along the list the band was found in, the sides are a prefix and a
        // suffix when the coordinates are clean (see clean()); the band of
        // the wide elements alone was found in a subset, so it is not.
        const bool by_prefix = is_clean && !vertical_of_wide;
        if (by_prefix) {
            first_count = is_horizontal ? horizontal.before : plain_vertical.before;
        } else {
            // By centre: strictly before the cut position goes first; at or
            // past it, or NaN, goes second.
            const std::vector<float>& centres = is_horizontal ? centres_y : centres_x;
            for (const Keyed* it = row_first; it != row_last; ++it) {
                if (centres[it->index] < chosen.position) {
                    ++first_count;
                } else {
                    stamp[it->index] = serial;
                }
            }
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
        if (by_prefix) {
            // Mark the smaller side through the list that holds it as a
            // prefix or a suffix, then partition the other list.
            std::vector<Keyed>& along = is_horizontal ? rows : columns;
            const bool mark_second = n - first_count < first_count;
            const std::size_t from = mark_second ? lo + first_count : lo;
            const std::size_t to = mark_second ? hi : lo + first_count;
            for (std::size_t i = from; i < to; ++i) stamp[along[i].index] = serial;
            partition(is_horizontal ? columns : rows, lo, hi, mark_second);
        } else {
            partition(rows, lo, hi, true);
            partition(columns, lo, hi, true);
        }
        pending.push_back({lo + first_count, hi});
        pending.push_back({lo, lo + first_count});
    }
}


// A split leaving the larger side less than this many times the smaller
// one lets the larger side start afresh rather than keep its trees.
constexpr std::size_t kLopsided = 32;
// Groups of at most this many elements are finished by segment_ranges.
constexpr std::size_t kSmallGroup = 256;
// Large groups, with every coordinate finite and below kCleanLimit.
//
// A chain of cuts that each take a few elements off a large group (a
// staircase, or rows peeled one at a time) would cost the size of the group
// at every level if each level scanned its group. Here a group keeps, per
// axis, a CoverTree of its intervals and its (start, end) keys in ascending
// order, so that the band searches are answered from the trees. A band
// found by them lies between whole runs of intervals, and its middle is at
// least 1.5 from both ends: every element before the band has its centre
// before the middle and every element after it at or past it, so the split
// is a prefix and a suffix of the keys along the cut axis. The smaller side
// is taken out (and gets lists and trees of its own); the larger one keeps
// the group's lists, with the taken elements marked as gone, and its trees
// with their intervals removed. Each element thus moves O(log n) times.
// A band of wide elements only (narrow ones may lie across it) is split by
// centres as usual and both sides start afresh.
class LargeGroups {
public:
    LargeGroups(const std::vector<SorterElement>& elements, bool prefer_horizontal_first,
                const DiagnosticSink& sink, std::vector<SorterElement>& out)
        : elements_(elements), prefer_horizontal_first_(prefer_horizontal_first), sink_(sink), out_(out),
          owner_(elements.size(), 0), row_slots_(elements.size(), 0), column_slots_(elements.size(), 0), width_ranks_(elements.size(), 0),
          widths_(elements.size()) {
        for (std::size_t i = 0; i < elements.size(); ++i) widths_[i] = width(elements[i]);
    }

    void run() {
        std::vector<std::uint32_t> all(elements_.size());
        for (std::size_t i = 0; i < all.size(); ++i) all[i] = static_cast<std::uint32_t>(i);
        pending_.push_back(make_group(all));
        while (!pending_.empty()) {
            Group group = std::move(pending_.back());
            pending_.pop_back();
            step(std::move(group));
        }
    }

private:
    struct Keyed {
        std::uint64_t key;
        std::uint32_t index;
    };
    struct Axis {
        std::vector<Keyed> keys;  // ascending; entries of other groups are gone
        std::size_t begin = 0;
        std::size_t end = 0;
        CoverTree cover;
    };
    struct Group {
        std::uint32_t id = 0;
        std::size_t live = 0;
        bool tracked = false;  // trees and width count built (else lists hold members only)
        Axis rows;     // (top, bottom)
        Axis columns;  // (left, right)
        std::vector<float> by_width;           // the members' widths, ascending
        std::vector<std::int32_t> width_tree;  // Fenwick tree of members of by_width
        // A group small enough for segment_ranges keeps its members only
        // (ascending), without lists.
        bool small = false;
        std::vector<std::uint32_t> small_members;
        // While the rows list holds exactly the members in [begin, end) (the
        // cuts since tracking were all along it, each at one of its bands),
        // the rows' bands are those its scan found when the group was
        // tracked (the first element after a band ends past every element
        // before it), and a tree of the widest ones stands in for the rows'
        // cover tree, which is built only once that stops holding.
        bool banded = false;
        std::vector<float> band_gap;            // per list position: the band just before it (0 if none)
        std::vector<float> band_position;       // and its middle
        std::vector<std::uint32_t> band_tree;   // heap of list positions: the leftmost widest band below
        std::size_t band_leaves = 0;
    };

    static float start_of(std::uint64_t key) { return from_ordered_bits(static_cast<std::uint32_t>(key >> 32)); }

    bool member(const Group& g, std::uint32_t index) const { return owner_[index] == g.id; }

    template <class Visit>
    void for_members(const Group& g, const Axis& axis, std::size_t begin, std::size_t end, Visit&& visit) const {
        for (std::size_t i = begin; i < end; ++i) {
            if (member(g, axis.keys[i].index)) visit(axis.keys[i]);
        }
    }

    Axis make_axis(const std::vector<std::uint32_t>& members, bool vertical) const {
        Axis axis;
        axis.keys.reserve(members.size());
        for (std::uint32_t index : members) {
            const SorterElement& e = elements_[index];
            axis.keys.push_back({vertical ? pair_key<left, right>(e) : pair_key<top, bottom>(e), index});
        }
        std::sort(axis.keys.begin(), axis.keys.end(), [](const Keyed& a, const Keyed& b) { return a.key < b.key; });
        axis.end = axis.keys.size();
        return axis;
    }

    // `members` ascending.
    Group make_group(const std::vector<std::uint32_t>& members) {
        Group g;
        g.id = next_id_++;
        g.live = members.size();
        for (std::uint32_t index : members) owner_[index] = g.id;
        if (members.size() <= kSmallGroup) {
            g.small = true;
            g.small_members = members;
            return g;
        }
        g.rows = make_axis(members, false);
        g.columns = make_axis(members, true);
        return g;
    }

    static constexpr std::uint32_t kNoBand = ~std::uint32_t{0};

    // Of two list positions (a before b; kNoBand for none), the one with the
    // wider band, the first on a tie.
    static std::uint32_t wider(const Group& g, std::uint32_t a, std::uint32_t b) {
        if (b == kNoBand) return a;
        if (a == kNoBand) return b;
        return g.band_gap[b] > g.band_gap[a] ? b : a;
    }

    // Scans the rows list of g, which holds exactly its members in
    // [begin, end), and keeps its bands.
    static void band_rows(Group& g) {
        const std::size_t size = g.rows.keys.size();
        g.band_gap.assign(size, 0.0f);
        g.band_position.assign(size, 0.0f);
        float reach = unpack(g.rows.keys[g.rows.begin].key).second;
        for (std::size_t i = g.rows.begin + 1; i < g.rows.end; ++i) {
            const auto [start, end] = unpack(g.rows.keys[i].key);
            if (start > reach) {
                g.band_gap[i] = start - reach;
                g.band_position[i] = num::centre(start, reach);
            }
            reach = reach < end ? end : reach;  // (clean: no NaN)
        }
        g.band_leaves = std::bit_ceil(size);
        g.band_tree.assign(2 * g.band_leaves, kNoBand);
        for (std::size_t i = 0; i < size; ++i) g.band_tree[g.band_leaves + i] = static_cast<std::uint32_t>(i);
        for (std::size_t k = g.band_leaves - 1; k >= 1; --k) {
            g.band_tree[k] = wider(g, g.band_tree[2 * k], g.band_tree[2 * k + 1]);
        }
        g.banded = true;
    }

    // The leftmost widest band of the rows of a banded group: of the bands
    // just before the elements after the first.
    static GapCandidate banded_gap(const Group& g) {
        std::size_t lo = g.rows.begin + 1 + g.band_leaves;
        std::size_t hi = g.rows.end + g.band_leaves;
        std::uint32_t left = kNoBand;
        std::uint32_t right = kNoBand;
        while (lo < hi) {
            if (lo & 1) left = wider(g, left, g.band_tree[lo++]);
            if (hi & 1) right = wider(g, g.band_tree[--hi], right);
            lo >>= 1;
            hi >>= 1;
        }
        const std::uint32_t best = wider(g, left, right);
        if (best == kNoBand || !(g.band_gap[best] > 0.0f)) return GapCandidate{};
        return GapCandidate{g.band_position[best], g.band_gap[best]};
    }

    // The rows' cover tree of g from its members.
    void build_rows_tree(Group& g) {
        std::vector<std::pair<float, float>> rows;
        rows.reserve(g.live);
        for_members(g, g.rows, g.rows.begin, g.rows.end, [&](const Keyed& k) {
            row_slots_[k.index] = static_cast<std::uint32_t>(rows.size());
            rows.push_back(unpack(k.key));
        });
        g.rows.cover = CoverTree(rows);
        g.banded = false;
        g.band_gap = {};
        g.band_position = {};
        g.band_tree = {};
    }

    // Builds the trees (the rows' bands instead, after a cut along the rows)
    // and the width count of g from its members.
    void track(Group& g, bool cut_along_rows) {
        std::vector<std::pair<float, float>> columns;
        columns.reserve(g.live);
        // Widths (never NaN nor -0, so their totalOrder is their order) with
        // their elements; of equal widths any order will do.
        std::vector<std::uint64_t> widths;
        widths.reserve(g.live);
        // Each tree gets its intervals in the order of its list, where equal
        // ones are neighbours.
        for_members(g, g.columns, g.columns.begin, g.columns.end, [&](const Keyed& k) {
            column_slots_[k.index] = static_cast<std::uint32_t>(columns.size());
            columns.push_back(unpack(k.key));
        });
        for_members(g, g.rows, g.rows.begin, g.rows.end, [&](const Keyed& k) {
            widths.push_back(std::uint64_t{ordered_bits(widths_[k.index])} << 32 | k.index);
        });
        if (cut_along_rows) {
            band_rows(g);
        } else {
            build_rows_tree(g);
        }
        g.columns.cover = CoverTree(columns);
        radix_sort<32>(widths, [](std::uint64_t w) { return w >> 32; });
        g.by_width.resize(widths.size());
        for (std::size_t i = 0; i < widths.size(); ++i) {
            const auto index = static_cast<std::uint32_t>(widths[i]);
            g.by_width[i] = widths_[index];
            width_ranks_[index] = static_cast<std::uint32_t>(i);
        }
        g.width_tree.assign(g.live + 1, 0);
        for (std::size_t i = 1; i <= g.live; ++i) {
            g.width_tree[i] += 1;
            const std::size_t parent = i + (i & (~i + 1));
            if (parent <= g.live) g.width_tree[parent] += g.width_tree[i];
        }
        g.tracked = true;
    }

    static std::int32_t count_before(const Group& g, std::size_t position) {
        std::int32_t sum = 0;
        for (std::size_t i = position; i > 0; i -= i & (~i + 1)) sum += g.width_tree[i];
        return sum;
    }

    // Members at least `limit` wide.
    static std::size_t wide_count(const Group& g, float limit) {
        const auto first = std::lower_bound(g.by_width.begin(), g.by_width.end(), limit);
        const auto position = static_cast<std::size_t>(first - g.by_width.begin());
        return g.live - static_cast<std::size_t>(count_before(g, position));
    }

    // Members of `g` in input order.
    std::vector<std::uint32_t> members_of(const Group& g) const {
        if (g.small) return g.small_members;
        std::vector<std::uint32_t> members;
        members.reserve(g.live);
        for_members(g, g.rows, g.rows.begin, g.rows.end, [&](const Keyed& k) { members.push_back(k.index); });
        std::sort(members.begin(), members.end());
        return members;
    }

    void finish_small(const Group& g) {
        small_group_.clear();
        if (g.small) {
            for (std::uint32_t index : g.small_members) small_group_.push_back(elements_[index]);
        } else {
            for (std::uint32_t index : members_of(g)) small_group_.push_back(elements_[index]);
        }
        segment_ranges(small_group_, prefer_horizontal_first_, true, sink_, out_, range_lists_);
    }

    void finish_y_then_x(const Group& g) {
        std::vector<std::uint32_t> members = members_of(g);
        std::stable_sort(members.begin(), members.end(), [&](std::uint32_t a, std::uint32_t b) {
            return y_then_x_less(elements_[a], elements_[b]);
        });
        for (std::uint32_t index : members) out_.push_back(elements_[index]);
    }

    // Takes `taken` (already handed to another group) out of g: removes
    // them from its trees and its width count; its lists drop them lazily.
    // Along the axis of the cut (if any) the taken elements lie wholly on
    // one side of `position` and the rest on the other: that axis's tree
    // just stops looking at the taken side.
    enum class CutAxisOf { Rows, Columns, Neither };

    void take_out(Group& g, const std::vector<std::uint32_t>& taken, CutAxisOf cut_axis, float position,
                  bool taken_first) {
        g.live -= taken.size();
        if (taken.size() * kLopsided >= g.live + taken.size()) {
            // A fair share left: g starts afresh, with members only.
            compact(g, g.rows, true);
            compact(g, g.columns, true);
            g.tracked = false;
            g.rows.cover = CoverTree();
            g.columns.cover = CoverTree();
            g.by_width = {};
            g.width_tree = {};
            g.banded = false;
            g.band_gap = {};
            g.band_position = {};
            g.band_tree = {};
            return;
        }
        // (A banded group's rows need nothing: the cut moved the list's range.)
        if (cut_axis != CutAxisOf::Neither && g.tracked && !(cut_axis == CutAxisOf::Rows && g.banded)) {
            CoverTree& along = cut_axis == CutAxisOf::Rows ? g.rows.cover : g.columns.cover;
            if (taken_first) {
                along.keep_after(position);
            } else {
                along.keep_before(position);
            }
        }
        if (!g.tracked) {
            track(g, cut_axis == CutAxisOf::Rows);
            compact(g, g.rows, false);
            compact(g, g.columns, false);
            return;
        }
        std::vector<std::uint32_t> slots;
        slots.reserve(taken.size());
        if (cut_axis != CutAxisOf::Rows && g.banded) {
            // The members are no longer a range of the rows list: the rows'
            // cover tree is built now, without the taken elements.
            build_rows_tree(g);
        } else if (cut_axis != CutAxisOf::Rows) {
            for (std::uint32_t index : taken) slots.push_back(row_slots_[index]);
            g.rows.cover.remove_slots(slots);
        }
        if (cut_axis != CutAxisOf::Columns) {
            slots.clear();
            for (std::uint32_t index : taken) slots.push_back(column_slots_[index]);
            g.columns.cover.remove_slots(slots);
        }
        for (std::uint32_t index : taken) {
            for (std::size_t i = std::size_t{width_ranks_[index]} + 1; i < g.width_tree.size();
                 i += i & (~i + 1)) {
                g.width_tree[i] -= 1;
            }
        }
        compact(g, g.rows, false);
        compact(g, g.columns, false);
    }

    // Drops gone entries once they are as many as the members left (or now).
    void compact(const Group& g, Axis& axis, bool now) const {
        if (!now && axis.end - axis.begin <= 2 * g.live) return;
        std::vector<Keyed> kept;
        kept.reserve(g.live);
        for_members(g, axis, axis.begin, axis.end, [&](const Keyed& k) { kept.push_back(k); });
        axis.keys = std::move(kept);
        axis.begin = 0;
        axis.end = axis.keys.size();
    }

    void step(Group g) {
        const std::size_t n = g.live;
        if (n <= kSmallGroup) {
            finish_small(g);
            return;
        }
        const auto key_of = [](const Keyed& k) { return unpack(k.key); };
        const auto range_of = [](const Axis& axis) {
            return std::pair(axis.keys.begin() + static_cast<std::ptrdiff_t>(axis.begin),
                             axis.keys.begin() + static_cast<std::ptrdiff_t>(axis.end));
        };
        // Untracked lists hold members only: their scans are the plain ones.
        const GapCandidate horizontal = g.tracked ? (g.banded ? banded_gap(g) : g.rows.cover.widest_gap())
                                                  : scan_sorted<true>(range_of(g.rows).first, range_of(g.rows).second, key_of);
        GapCandidate vertical = g.tracked ? g.columns.cover.widest_gap()
                                          : scan_sorted<true>(range_of(g.columns).first, range_of(g.columns).second, key_of);
        bool vertical_of_wide = false;
        if (vertical.gap < kMinGap) {
            float min_left = 0.0f;
            float max_right = 0.0f;
            if (g.tracked) {
                std::tie(min_left, max_right) = g.columns.cover.extent();
            } else {
                // Without NaN the least left is the first (the list is in
                // totalOrder of lefts), and max_num the plain comparison.
                std::tie(min_left, max_right) = unpack(g.columns.keys[g.columns.begin].key);
                for (std::size_t i = g.columns.begin + 1; i < g.columns.end; ++i) {
                    const float r = unpack(g.columns.keys[i].key).second;
                    max_right = max_right < r ? r : max_right;
                }
            }
            const float limit = clamped_diff(max_right, min_left) * kNarrowFraction;
            std::size_t wide = 0;
            if (g.tracked) {
                wide = wide_count(g, limit);
            } else {
                for (std::size_t i = g.columns.begin; i < g.columns.end; ++i) {
                    wide += widths_[g.columns.keys[i].index] >= limit ? 1 : 0;
                }
            }
            if (wide >= 2 && wide < n) {
                std::vector<Keyed> subset;
                subset.reserve(wide);
                for_members(g, g.columns, g.columns.begin, g.columns.end, [&](const Keyed& k) {
                    if (widths_[k.index] >= limit) subset.push_back(k);
                });
                const GapCandidate candidate =
                    scan_sorted<true>(subset.begin(), subset.end(), [](const Keyed& k) { return unpack(k.key); });
                if (candidate.gap > vertical.gap && candidate.gap >= kMinGap) {
                    vertical = candidate;
                    vertical_of_wide = true;
                }
            }
        }

        const Cut cut = choose_cut(horizontal.gap, vertical.gap, prefer_horizontal_first_);
        if (cut == Cut::None) {
            sink_.emit(kNoValidCut, [&] {
                return "[segment] no valid cuts for " + std::to_string(n) + " elements, falling back to y-then-x sort";
            });
            finish_y_then_x(g);
            return;
        }
        const bool is_horizontal = cut == Cut::Horizontal;
        const GapCandidate chosen = is_horizontal ? horizontal : vertical;
        sink_.emit(is_horizontal ? kHorizontalCut : kVerticalCut, [&] {
            return std::string(is_horizontal ? "[segment] horizontal cut at y=" : "[segment] vertical cut at x=") +
                   fmt::fixed(chosen.position, 1) + " (gap=" + fmt::fixed(chosen.gap, 1) + ") on " +
                   std::to_string(n) + " elements";
        });

        if (!is_horizontal && vertical_of_wide) {
            split_by_centres(std::move(g), chosen.position);
            return;
        }
        Axis& along = is_horizontal ? g.rows : g.columns;
        const auto split = static_cast<std::size_t>(
            std::partition_point(along.keys.begin() + static_cast<std::ptrdiff_t>(along.begin),
                                 along.keys.begin() + static_cast<std::ptrdiff_t>(along.end),
                                 [&](const Keyed& k) { return start_of(k.key) <= chosen.position; }) -
            along.keys.begin());
        // Collect the side with fewer entries; it is rarely the larger one.
        const bool first_is_shorter = split - along.begin <= along.end - split;
        std::vector<std::uint32_t> taken;
        for_members(g, along, first_is_shorter ? along.begin : split, first_is_shorter ? split : along.end,
                    [&](const Keyed& k) { taken.push_back(k.index); });
        const std::size_t first_count = first_is_shorter ? taken.size() : n - taken.size();
        sink_.emit(kSplit, [&] {
            return "[segment] split into 2 groups: " + std::to_string(first_count) + ", " +
                   std::to_string(n - first_count);
        });
        if (first_is_shorter) {
            along.begin = split;
        } else {
            along.end = split;
        }
        std::sort(taken.begin(), taken.end());
        Group side = make_group(taken);  // the taken elements now belong to it
        take_out(g, taken, is_horizontal ? CutAxisOf::Rows : CutAxisOf::Columns, chosen.position,
                 first_is_shorter);
        if (first_is_shorter) {
            pending_.push_back(std::move(g));
            pending_.push_back(std::move(side));
        } else {
            pending_.push_back(std::move(side));
            pending_.push_back(std::move(g));
        }
    }

    void split_by_centres(Group g, float position) {
        const std::vector<std::uint32_t> members = members_of(g);
        std::vector<std::uint32_t> first;
        std::vector<std::uint32_t> second;
        for (std::uint32_t index : members) {
            (centre_x(elements_[index]) < position ? first : second).push_back(index);
        }
        if (first.empty() || second.empty()) {
            sink_.emit(kOneSideEmpty, [&] {
                return "[segment] cut produced only 1 group for " + std::to_string(g.live) +
                       " elements, falling back to y-then-x sort";
            });
            finish_y_then_x(g);
            return;
        }
        sink_.emit(kSplit, [&] {
            return "[segment] split into 2 groups: " + std::to_string(first.size()) + ", " +
                   std::to_string(second.size());
        });
        Group second_group = make_group(second);
        Group first_group = make_group(first);
        pending_.push_back(std::move(second_group));
        pending_.push_back(std::move(first_group));
    }

    const std::vector<SorterElement>& elements_;
    bool prefer_horizontal_first_;
    const DiagnosticSink& sink_;
    std::vector<SorterElement>& out_;
    std::vector<std::uint32_t> owner_;
    RangeLists range_lists_;
    std::vector<SorterElement> small_group_;
    // Each element's interval slot in the trees of its group, once tracked.
    std::vector<std::uint32_t> row_slots_;
    std::vector<std::uint32_t> column_slots_;
    // Each element's position in the width order of its group, once tracked.
    std::vector<std::uint32_t> width_ranks_;
    std::vector<float> widths_;
    std::vector<Group> pending_;
    std::uint32_t next_id_ = 1;
};

}  // namespace

std::vector<SorterElement> segment(const std::vector<SorterElement>& elements, bool prefer_horizontal_first,
                                   const DiagnosticSink& sink) {
    std::vector<SorterElement> out;
    out.reserve(elements.size());
    const bool is_clean = clean(elements);
    if (elements.size() > kSmallGroup && is_clean) {
        LargeGroups(elements, prefer_horizontal_first, sink, out).run();
    } else {
        RangeLists lists;
        segment_ranges(elements, prefer_horizontal_first, is_clean, sink, out, lists);
    }
    return out;
}

}  // namespace vellora::ostrel
