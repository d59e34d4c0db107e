#include "reinsert.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <bit>
#include <cmath>
#include <cstddef>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "box_tree.hpp"
#include "lanes.hpp"
#include "position_order.hpp"
#include "sites.hpp"
#include "vellora/numeric.hpp"

namespace vellora::paper {
namespace {

constexpr RecordSite kInsertSite = site(Level::Debug, 403);
constexpr RecordSite kAppendSite = site(Level::Warn, 414);

constexpr float kOverlapPenalty = 100.0f;
constexpr float kAbovePenalty = 10.0f;
constexpr int kGroupCount = 4;
constexpr float kInfinity = std::numeric_limits<float>::infinity();

// The record each order entry stands for: the first regular element with
// that id, else the first masked one. Looked up by binary search in a list
// sorted once per call.
class RecordLookup {
public:
    RecordLookup(std::span<const ElementRecord> regular, std::span<const ElementRecord> masked) {
        records_.reserve(regular.size() + masked.size());
        for (const ElementRecord& element : regular) records_.push_back(&element);
        for (const ElementRecord& element : masked) records_.push_back(&element);
        // Stable: of equal ids the first (regular before masked) leads. A
        // small page sorts by insertion, without a merge buffer.
        const auto by_id = [](const ElementRecord* a, const ElementRecord* b) { return a->id < b->id; };
        if (records_.size() < kInsertionBelow) {
            for (std::size_t i = 1; i < records_.size(); ++i) {
                const ElementRecord* const record = records_[i];
                std::size_t at = i;
                for (; at > 0 && by_id(record, records_[at - 1]); --at) records_[at] = records_[at - 1];
                records_[at] = record;
            }
        } else {
            std::stable_sort(records_.begin(), records_.end(), by_id);
        }
    }

    const ElementRecord* find(std::uint64_t id) const noexcept {
        const auto it = std::lower_bound(
            records_.begin(), records_.end(), id,
            [](const ElementRecord* record, std::uint64_t key) { return record->id < key; });
        return it == records_.end() || (*it)->id != id ? nullptr : *it;
    }

private:
    static constexpr std::size_t kInsertionBelow = 64;
    std::vector<const ElementRecord*> records_;
};

// The same lookup for larger pages: through a table indexed by id when the
// ids are small numbers (as they usually are), else as above.
class LargePageLookup {
public:
    LargePageLookup(std::span<const ElementRecord> regular, std::span<const ElementRecord> masked) {
        const std::size_t count = regular.size() + masked.size();
        std::uint64_t largest = 0;
        for (const ElementRecord& element : regular) largest = std::max(largest, element.id);
        for (const ElementRecord& element : masked) largest = std::max(largest, element.id);
        if (largest >= 2 * count) {
            sorted_.emplace(regular, masked);
            return;
        }
        by_id_.assign(static_cast<std::size_t>(largest) + 1, nullptr);
        for (const ElementRecord& element : regular) {
            if (by_id_[element.id] == nullptr) by_id_[element.id] = &element;
        }
        for (const ElementRecord& element : masked) {
            if (by_id_[element.id] == nullptr) by_id_[element.id] = &element;
        }
    }

    const ElementRecord* find(std::uint64_t id) const noexcept {
        if (sorted_) return sorted_->find(id);
        return id < by_id_.size() ? by_id_[id] : nullptr;
    }

private:
    std::vector<const ElementRecord*> by_id_;
    std::optional<RecordLookup> sorted_;
};

// Distance between two intervals on one axis: the gap when one lies wholly
// after the other, else 0.
float axis_gap(float m1, float m2, float c1, float c2) noexcept {
    if (c1 > m2) return c1 - m2;
    if (m1 > c2) return m1 - c2;
    return 0.0f;
}

}  // namespace

CostWeights weights_for(const ElementRecord& masked) noexcept {
    switch (masked.label) {
    case SemanticLabel::CrossLayout: return {1.0f, 1.0f, 0.1f, 1.0f};
    case SemanticLabel::HorizontalTitle:
    case SemanticLabel::VerticalTitle:
        if (masked.x2 - masked.x1 > masked.y2 - masked.y1) {
            return {1.0f, 0.1f, 0.1f, 1.0f};
        }
        return {0.2f, 0.1f, 1.0f, 1.0f};
    case SemanticLabel::Vision:
    case SemanticLabel::Regular: return {1.0f, 1.0f, 1.0f, 0.1f};
    }
    return {1.0f, 1.0f, 1.0f, 0.1f};
}

// The factors of a masked element's cost that do not depend on the
// candidate, each formed exactly as the cost forms it.
struct MaskedTerms {
    const ElementRecord* m;
    bool cross_layout;
    float overlap;   // (size * size) * weight
    float per_gap;   // weight * size
    float vertical;  // weight
    float per_left;  // (1 / size) * weight
};

[[gnu::always_inline]] inline MaskedTerms terms_of(const ElementRecord& m, const CostWeights& weights) noexcept {
    const float size = num::max_num(m.x2 - m.x1, m.y2 - m.y1);
    return {&m, m.label == SemanticLabel::CrossLayout, (size * size) * weights.overlap, weights.gap * size,
            weights.vertical, (1.0f / size) * weights.left};
}

// The cost, inlined into the scans.
[[gnu::always_inline]] inline Cost cost_with(const MaskedTerms& t, const ElementRecord& c, float best) noexcept {
    const ElementRecord& m = *t.m;
    const bool intersects = c.x2 > m.x1 && m.x2 > c.x1 && c.y2 > m.y1 && m.y2 > c.y1;
    float sum = t.overlap * (intersects ? 0.0f : kOverlapPenalty);
    if (sum > best) return {true, sum};

    const float dx = axis_gap(m.x1, m.x2, c.x1, c.x2);
    const float dy = axis_gap(m.y1, m.y2, c.y1, c.y2);
    const float distance = t.cross_layout ? dx + dy : num::min_num(dx, dy);
    sum += t.per_gap * distance;
    if (sum > best) return {true, sum};

    float rise;
    if (t.cross_layout) {
        rise = m.y1 > c.y2 ? m.y1 - c.y2 : -m.y2;
    } else {
        rise = c.y1 >= m.y2 ? c.y1 - m.y1 : (m.y2 - c.y1) * kAbovePenalty;
    }
    sum += t.vertical * rise;
    if (sum > best) return {true, sum};

    sum += c.x1 * t.per_left;
    return {false, sum};
}

[[gnu::always_inline]] inline Cost cost_of(const ElementRecord& m, const ElementRecord& c,
                                           const CostWeights& weights, float best) noexcept {
    return cost_with(terms_of(m, weights), c, best);
}

Cost insertion_cost(const ElementRecord& m, const ElementRecord& c, const CostWeights& weights,
                    float best) noexcept {
    return cost_of(m, c, weights, best);
}

namespace {

// The four partial sums of insertion_cost without early rejection: the
// largest of the first three and the full cost. Same operations, same order.
struct FullCost {
    float most;   // max of the sums after the first, second and third term
    float total;  // the cost
};

FullCost full_cost(const ElementRecord& m, const ElementRecord& c,
                   const CostWeights& weights) noexcept {
    const bool cross_layout = m.label == SemanticLabel::CrossLayout;
    const float size = num::max_num(m.x2 - m.x1, m.y2 - m.y1);
    const bool intersects = c.x2 > m.x1 && m.x2 > c.x1 && c.y2 > m.y1 && m.y2 > c.y1;
    float sum = (size * size) * weights.overlap * (intersects ? 0.0f : kOverlapPenalty);
    float most = sum;
    const float dx = axis_gap(m.x1, m.x2, c.x1, c.x2);
    const float dy = axis_gap(m.y1, m.y2, c.y1, c.y2);
    const float distance = cross_layout ? dx + dy : num::min_num(dx, dy);
    sum += (weights.gap * size) * distance;
    most = std::max(most, sum);
    float rise;
    if (cross_layout) {
        rise = m.y1 > c.y2 ? m.y1 - c.y2 : -m.y2;
    } else {
        rise = c.y1 >= m.y2 ? c.y1 - m.y1 : (m.y2 - c.y1) * kAbovePenalty;
    }
    sum += weights.vertical * rise;
    most = std::max(most, sum);
    sum += c.x1 * ((1.0f / size) * weights.left);
    return {most, sum};
}

// One masked element with the constants of its cost, and whether the cost
// of a whole group of candidates can be bounded from the edges of their
// boxes: the element's box is finite and upright and every constant is a
// positive finite number.
struct Probe {
    const ElementRecord& m;
    CostWeights weights;
    bool cross_layout;
    float apart;     // the overlap term of a candidate that does not intersect
    float per_gap;   // gap weight times size
    float per_left;  // (1 / size) times the left weight
    bool bounded;
    MaskedTerms terms;

    explicit Probe(const ElementRecord& masked)
        : m(masked), weights(weights_for(masked)),
          cross_layout(masked.label == SemanticLabel::CrossLayout), terms(terms_of(masked, weights)) {
        const float size = num::max_num(m.x2 - m.x1, m.y2 - m.y1);
        apart = (size * size) * weights.overlap * kOverlapPenalty;
        per_gap = weights.gap * size;
        per_left = (1.0f / size) * weights.left;
        const auto positive = [](float v) { return std::isfinite(v) && v > 0.0f; };
        bounded = std::isfinite(m.x1) && std::isfinite(m.y1) && std::isfinite(m.x2) &&
                  std::isfinite(m.y2) && m.x1 <= m.x2 && m.y1 <= m.y2 && positive(size) &&
                  positive(apart) && positive(per_gap) && positive(per_left) &&
                  positive(weights.vertical);
    }

    // A value no candidate whose box lies within `e` can cost less than (a
    // cost that is NaN aside). Each term is bounded from below by the same
    // operations as the cost itself, and rounding is monotonic, so the sum of
    // the bounds stays below the sum of the terms. NaN when the bounds do not
    // add up (infinities of both signs): such a group is never pruned.
    float lower_bound(const EdgeBounds& e) const noexcept {
        const bool may_intersect =
            e.max_x2 > m.x1 && m.x2 > e.min_x1 && e.max_y2 > m.y1 && m.y2 > e.min_y1;
        float sum = may_intersect ? 0.0f : apart;
        const float dx = e.min_x1 > m.x2 ? e.min_x1 - m.x2 : e.max_x2 < m.x1 ? m.x1 - e.max_x2 : 0.0f;
        const float dy = e.min_y1 > m.y2 ? e.min_y1 - m.y2 : e.max_y2 < m.y1 ? m.y1 - e.max_y2 : 0.0f;
        sum += per_gap * (cross_layout ? dx + dy : std::min(dx, dy));
        float rise;
        if (cross_layout) {
            if (e.max_y2 < m.y1) {
                rise = m.y1 - e.max_y2;  // every candidate wholly above
            } else if (e.min_y2 >= m.y1) {
                rise = -m.y2;  // none wholly above
            } else {
                rise = std::min(0.0f, -m.y2);  // the rest are positive
            }
        } else {
            if (e.min_y1 >= m.y2) {
                rise = e.min_y1 - m.y1;  // every candidate starts at or below m
            } else if (e.max_y1 < m.y2) {
                rise = (m.y2 - e.max_y1) * kAbovePenalty;  // every one starts above m's bottom
            } else {
                rise = 0.0f;  // both kinds, and both are at least 0
            }
        }
        sum += weights.vertical * rise;
        sum += e.min_x1 * per_left;
        return sum;
    }
};

// Boxes whose edges a bound can use: finite and upright.
bool boundable(const ElementRecord& r) noexcept {
    return std::isfinite(r.x1) && std::isfinite(r.y1) && std::isfinite(r.x2) &&
           std::isfinite(r.y2) && r.x1 <= r.x2 && r.y1 <= r.y2;
}

// The order entries as the small-page scan reads them, one array per field:
// the edges of each entry's record and its eligibility rank (-1 when its id
// resolves to nothing, so that it is never eligible). Each array has room for
// every entry to come, rounded up to a whole group of four.
class EntryColumns {
public:
    explicit EntryColumns(std::size_t capacity) : stride_((capacity + 3) / 4 * 4), edges_(4 * stride_), rank_(stride_) {}

    void insert(std::size_t at, const ElementRecord* record) noexcept {
        const bool known = record != nullptr;
        const float values[4] = {known ? record->x1 : 0.0f, known ? record->y1 : 0.0f,
                                 known ? record->x2 : 0.0f, known ? record->y2 : 0.0f};
        const std::size_t after = size_ - at;
        for (std::size_t k = 0; k < 4; ++k) {
            float* const column = edges_.data() + k * stride_;
            if (after > 0) std::memmove(column + at + 1, column + at, after * sizeof(float));
            column[at] = values[k];
        }
        if (after > 0) std::memmove(rank_.data() + at + 1, rank_.data() + at, after * sizeof(std::int32_t));
        rank_[at] = known ? mask_priority(record->label) : -1;
        ++size_;
    }

    std::size_t size() const noexcept { return size_; }
    // Entries in whole groups of four (the last one padded).
    std::size_t groups() const noexcept { return (size_ + 3) / 4; }
    const float* column(std::size_t k) const noexcept { return edges_.data() + k * stride_; }
    const std::int32_t* ranks() const noexcept { return rank_.data(); }

private:
    std::size_t stride_;
    std::size_t size_ = 0;
    std::vector<float> edges_;  // x1, y1, x2, y2, each `stride_` long
    std::vector<std::int32_t> rank_;
};

// The cost of placing the masked element in front of every entry, without
// early rejection, as `total` (the cost) and `most` (the largest of the sums
// after the first three terms): the same operations in the same order as
// cost_with, four entries at a time; NaN for entries of a rank below
// `rank`, which are not eligible. A gap between intervals is never NaN (it is
// taken only when one edge lies strictly past the other), so the smaller of
// the two gaps is a plain comparison.
template <bool kCrossLayout>
void costs_of_entries(const MaskedTerms& t, int rank, const EntryColumns& entries, float* most,
                      float* total) noexcept {
    const Mask lowest = {rank, rank, rank, rank};
    const Lanes not_eligible = splat(std::numeric_limits<float>::quiet_NaN());
    const ElementRecord& m = *t.m;
    const Lanes mx1 = splat(m.x1), my1 = splat(m.y1), mx2 = splat(m.x2), my2 = splat(m.y2);
    const Lanes zero = splat(0.0f);
    const Lanes apart = splat(kOverlapPenalty);
    const Lanes overlap = splat(t.overlap), per_gap = splat(t.per_gap);
    const Lanes vertical = splat(t.vertical), per_left = splat(t.per_left);
    const float* const x1 = entries.column(0);
    const float* const y1 = entries.column(1);
    const float* const x2 = entries.column(2);
    const float* const y2 = entries.column(3);
    for (std::size_t i = 0; i < 4 * entries.groups(); i += 4) {
        const Lanes cx1 = load(x1 + i), cy1 = load(y1 + i);
        const Lanes cx2 = load(x2 + i), cy2 = load(y2 + i);
        Mask ranks;
        std::memcpy(&ranks, entries.ranks() + i, sizeof ranks);
        const Mask intersects = (cx2 > mx1) & (mx2 > cx1) & (cy2 > my1) & (my2 > cy1);
        const Lanes first = overlap * select(intersects, zero, apart);
        const Lanes dx = select(cx1 > mx2, cx1 - mx2, select(mx1 > cx2, mx1 - cx2, zero));
        const Lanes dy = select(cy1 > my2, cy1 - my2, select(my1 > cy2, my1 - cy2, zero));
        const Lanes distance = kCrossLayout ? dx + dy : select(dy < dx, dy, dx);
        const Lanes second = first + per_gap * distance;
        const Lanes rise = kCrossLayout ? select(my1 > cy2, my1 - cy2, -my2)
                                        : select(cy1 >= my2, cy1 - my1, (my2 - cy1) * splat(kAbovePenalty));
        const Lanes third = second + vertical * rise;
        const Lanes cost = select(ranks >= lowest, third + cx1 * per_left, not_eligible);
        const Lanes larger = select(second > first, second, first);
        const Lanes largest = select(third > larger, third, larger);
        std::memcpy(total + i, &cost, sizeof cost);
        std::memcpy(most + i, &largest, sizeof largest);
    }
}

// Small pages: the scan of the whole order list per masked element, with the
// entries resolved once and kept beside the ids. The running best of the scan
// takes an entry when no partial sum of its cost passed the best so far and
// its cost is below it. A cost that is not NaN has no NaN partial sum (each
// sum adds to the one before), so that is `most` not above the best and
// `total` below it; a NaN cost never wins.
void place_by_scan(IdList& order, const std::array<std::vector<ElementRecord>, kGroupCount>& groups,
                   const RecordLookup& lookup, const DiagnosticSink& sink) {
    const std::size_t capacity = order.size() + groups[0].size() + groups[1].size() + groups[2].size() +
                                 groups[3].size();
    EntryColumns entries(capacity);
    for (std::uint64_t id : order) entries.insert(entries.size(), lookup.find(id));
    std::vector<float> most(capacity + 4);
    std::vector<float> total(capacity + 4);
    for (const std::vector<ElementRecord>& group : groups) {
        for (const ElementRecord& m : group) {
            const int rank = mask_priority(m.label);
            const MaskedTerms terms = terms_of(m, weights_for(m));
            if (terms.cross_layout) {
                costs_of_entries<true>(terms, rank, entries, most.data(), total.data());
            } else {
                costs_of_entries<false>(terms, rank, entries, most.data(), total.data());
            }
            float best = kInfinity;
            std::size_t chosen = 0;
            bool found = false;
            for (std::size_t position = 0; position < entries.size(); ++position) {
                if (most[position] > best || !(best > total[position])) continue;
                best = total[position];
                chosen = position;
                found = true;
            }
            if (found) {
                sink.emit(kInsertSite, [&] {
                    return "[INSERT] Masked element " + std::to_string(m.id) + " (" +
                           label_name(m.label) + ") -> position " + std::to_string(chosen) +
                           " (before element " + std::to_string(order[chosen]) + ")";
                });
                order.insert(order.begin() + static_cast<std::ptrdiff_t>(chosen), m.id);
                entries.insert(chosen, lookup.find(m.id));
            } else {
                sink.emit(kAppendSite, [&] {
                    return "No valid insertion for element " + std::to_string(m.id) + " (" +
                           label_name(m.label) + "), appending";
                });
                order.push_back(m.id);
                entries.insert(entries.size(), lookup.find(m.id));
            }
        }
    }
}

// The order list as a sequence of small blocks, so that an insertion moves
// at most one block and two entries compare by (block rank, offset).
class BlockList {
public:
    static constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

    std::uint32_t block_of(std::uint32_t entry) const { return block_[entry]; }

    void append(std::uint32_t entry) {
        if (sequence_.empty() || items_[sequence_.back()].size() >= kTarget) new_block_at(sequence_.size());
        place(entry, sequence_.back(), items_[sequence_.back()].size());
    }

    void insert_before(std::uint32_t entry, std::uint32_t before) {
        const std::uint32_t block = block_[before];
        place(entry, block, offset_of(before));
    }

    // (rank of the block, offset within it): increasing along the list.
    std::pair<std::uint32_t, std::size_t> key(std::uint32_t entry) const {
        return {rank_[block_[entry]], offset_of(entry)};
    }

    std::size_t position(std::uint32_t entry) const {
        const std::uint32_t rank = rank_[block_[entry]];
        std::size_t before = 0;
        for (std::uint32_t r = 0; r < rank; ++r) before += items_[sequence_[r]].size();
        return before + offset_of(entry);
    }

    template <class Visit>
    void for_each(Visit&& visit) const {
        for (std::uint32_t block : sequence_) {
            for (std::uint32_t entry : items_[block]) visit(entry);
        }
    }

private:
    static constexpr std::size_t kTarget = 128;

    std::size_t offset_of(std::uint32_t entry) const {
        const std::vector<std::uint32_t>& items = items_[block_[entry]];
        return static_cast<std::size_t>(std::find(items.begin(), items.end(), entry) - items.begin());
    }

    std::uint32_t new_block_at(std::size_t rank) {
        const auto block = static_cast<std::uint32_t>(items_.size());
        items_.emplace_back();
        items_.back().reserve(2 * kTarget + 1);
        rank_.push_back(0);
        sequence_.insert(sequence_.begin() + static_cast<std::ptrdiff_t>(rank), block);
        for (std::size_t r = rank; r < sequence_.size(); ++r) {
            rank_[sequence_[r]] = static_cast<std::uint32_t>(r);
        }
        return block;
    }

    void place(std::uint32_t entry, std::uint32_t block, std::size_t offset) {
        if (block_.size() <= entry) block_.resize(entry + 1, kNone);
        std::vector<std::uint32_t>& items = items_[block];
        items.insert(items.begin() + static_cast<std::ptrdiff_t>(offset), entry);
        block_[entry] = block;
        if (items.size() <= 2 * kTarget) return;
        // Split: the second half moves to a new block right after this one.
        const std::uint32_t fresh = new_block_at(rank_[block] + std::size_t{1});
        std::vector<std::uint32_t>& full = items_[block];
        const auto half = static_cast<std::ptrdiff_t>(full.size() / 2);
        items_[fresh].assign(full.begin() + half, full.end());
        full.erase(full.begin() + half, full.end());
        for (std::uint32_t moved : items_[fresh]) block_[moved] = fresh;
    }

    std::vector<std::vector<std::uint32_t>> items_;  // entries of each block
    std::vector<std::uint32_t> sequence_;            // blocks in list order
    std::vector<std::uint32_t> rank_;                // place of each block in sequence_
    std::vector<std::uint32_t> block_;               // block of each entry
};

// Larger pages: the same choice as the scan, found without costing every
// entry.
//
// The scan keeps a running best and lets an entry win when its cost is below
// it and no partial sum passed it. Whatever the running best is when an
// entry c comes, afterwards it is at most max(partial sums of c, cost of c)
// =: K(c), so the final best is at most U = min K. Entries costing more than
// a limit T >= U, or NaN, change the running best only while it is above T;
// entries costing at most T whose partial sums stay at most T win whenever
// the running best is above T. Taking T as the least value >= U at or above
// the largest partial sum of every entry costing at most T, the scan over
// only the entries costing at most T therefore ends with the same running
// best and the same last winner as the scan over all of them. Both U and
// that set are found through box trees of the entries, pruned by bounds on
// the cost of every box in a subtree.
class IndexedPlacement {
public:
    IndexedPlacement(const IdList& order, const LargePageLookup& lookup) : lookup_(lookup) {
        std::array<std::vector<TreeBox>, kGroupCount> initial;
        entries_.reserve(order.size());
        for (std::uint64_t id : order) {
            const auto entry = new_entry(id);
            blocks_.append(entry);
            const ElementRecord* record = entries_[entry].record;
            if (record == nullptr) continue;
            const auto group = static_cast<std::size_t>(mask_priority(record->label));
            if (boundable(*record)) {
                initial[group].push_back({record->x1, record->y1, record->x2, record->y2, entry});
            } else {
                unbounded_[group].push_back(entry);
            }
        }
        for (std::size_t g = 0; g < kGroupCount; ++g) {
            indexes_[g] = GrowingBoxIndex(std::move(initial[g]));
        }
    }

    void place(const ElementRecord& m, const DiagnosticSink& sink) {
        const Probe probe(m);
        const std::uint32_t chosen = probe.bounded ? choose_indexed(probe) : choose_by_scan(probe);
        const auto entry = new_entry(m.id);
        if (chosen != BlockList::kNone) {
            sink.emit(kInsertSite, [&] {
                return "[INSERT] Masked element " + std::to_string(m.id) + " (" + label_name(m.label) +
                       ") -> position " + std::to_string(blocks_.position(chosen)) +
                       " (before element " + std::to_string(entries_[chosen].id) + ")";
            });
            blocks_.insert_before(entry, chosen);
        } else {
            sink.emit(kAppendSite, [&] {
                return "No valid insertion for element " + std::to_string(m.id) + " (" +
                       label_name(m.label) + "), appending";
            });
            blocks_.append(entry);
        }
        const ElementRecord* record = entries_[entry].record;
        const auto group = static_cast<std::size_t>(mask_priority(record->label));
        if (boundable(*record)) {
            indexes_[group].add({record->x1, record->y1, record->x2, record->y2, entry});
        } else {
            unbounded_[group].push_back(entry);
        }
    }

    IdList ids() const {
        IdList out;
        out.reserve(entries_.size());
        blocks_.for_each([&](std::uint32_t entry) { out.push_back(entries_[entry].id); });
        return out;
    }

private:
    struct Entry {
        std::uint64_t id;
        const ElementRecord* record;
    };

    std::uint32_t new_entry(std::uint64_t id) {
        entries_.push_back({id, lookup_.find(id)});
        return static_cast<std::uint32_t>(entries_.size() - 1);
    }

    // Visits every eligible entry that may cost at most what `limit()`
    // returns, as (entry, its record).
    template <class Limit, class Visit>
    void search(const Probe& probe, bool inclusive, Limit&& limit, Visit&& visit) const {
        const auto bound = [&](const EdgeBounds& e) { return probe.lower_bound(e); };
        const auto prune = [&](float value) { return inclusive ? value > limit() : value >= limit(); };
        const auto visit_box = [&](const TreeBox& box) {
            visit(box.handle, *entries_[box.handle].record);
        };
        for (std::size_t g = static_cast<std::size_t>(mask_priority(probe.m.label)); g < kGroupCount; ++g) {
            for (std::uint32_t entry : unbounded_[g]) visit(entry, *entries_[entry].record);
            indexes_[g].search(bound, prune, visit_box);
        }
    }

    std::uint32_t choose_indexed(const Probe& probe) {
        // U: the least max(partial sums, cost) over the eligible entries.
        // Groups are pruned only when bounded above the running least, so
        // the search sees every entry costing at most U; it keeps those
        // costing at most the running least for the next step.
        float least = kInfinity;
        seen_.clear();
        search(probe, true, [&] { return least; }, [&](std::uint32_t entry, const ElementRecord& c) {
            const FullCost cost = full_cost(probe.m, c, probe.weights);
            if (num::is_nan(cost.total)) return;
            least = std::min(least, std::max(cost.most, cost.total));
            if (cost.total <= least) seen_.push_back({entry, cost});
        });
        // T and the entries costing at most T. While T is U they are among
        // those seen; a raised T takes another search.
        float limit = least;
        kept_.clear();
        float raised = limit;
        for (const auto& [entry, cost] : seen_) {
            if (!(cost.total <= limit)) continue;
            kept_.push_back(entry);
            raised = std::max(raised, cost.most);
        }
        while (raised > limit) {
            limit = raised;
            kept_.clear();
            search(probe, true, [&] { return limit; }, [&](std::uint32_t entry, const ElementRecord& c) {
                const FullCost cost = full_cost(probe.m, c, probe.weights);
                if (!(cost.total <= limit)) return;
                kept_.push_back(entry);
                raised = std::max(raised, cost.most);
            });
        }
        keyed_.clear();
        for (std::uint32_t entry : kept_) keyed_.push_back({blocks_.key(entry), entry});
        std::sort(keyed_.begin(), keyed_.end());
        float best = kInfinity;
        std::uint32_t chosen = BlockList::kNone;
        for (const auto& [key, entry] : keyed_) {
            const Cost cost = cost_with(probe.terms, *entries_[entry].record, best);
            if (!cost.rejected && best > cost.value) {
                best = cost.value;
                chosen = entry;
            }
        }
        return chosen;
    }

    // Every entry in list order, as the small-page scan does.
    std::uint32_t choose_by_scan(const Probe& probe) const {
        const int rank = mask_priority(probe.m.label);
        float best = kInfinity;
        std::uint32_t chosen = BlockList::kNone;
        blocks_.for_each([&](std::uint32_t entry) {
            const ElementRecord* candidate = entries_[entry].record;
            if (candidate == nullptr || mask_priority(candidate->label) < rank) return;
            const Cost cost = cost_with(probe.terms, *candidate, best);
            if (!cost.rejected && best > cost.value) {
                best = cost.value;
                chosen = entry;
            }
        });
        return chosen;
    }

    const LargePageLookup& lookup_;
    std::vector<Entry> entries_;
    BlockList blocks_;
    std::array<GrowingBoxIndex, kGroupCount> indexes_;
    std::array<std::vector<std::uint32_t>, kGroupCount> unbounded_;
    std::vector<std::pair<std::uint32_t, FullCost>> seen_;
    std::vector<std::uint32_t> kept_;
    std::vector<std::pair<std::pair<std::uint32_t, std::size_t>, std::uint32_t>> keyed_;
};

// Below this many entries plus masked elements the plain scan is cheaper.
constexpr std::size_t kIndexedFrom = 128;

}  // namespace

void reinsert_masked(IdList& order, std::span<const ElementRecord> masked,
                     std::span<const ElementRecord> regular, float same_row_tolerance,
                     const DiagnosticSink& sink) {
    if (masked.empty()) return;
    std::array<std::vector<ElementRecord>, kGroupCount> groups;
    for (const ElementRecord& element : masked) {
        groups[static_cast<std::size_t>(mask_priority(element.label))].push_back(element);
    }
    for (std::vector<ElementRecord>& group : groups) sort_by_position(group, same_row_tolerance);

    if (order.size() + masked.size() < kIndexedFrom) {
        const RecordLookup lookup(regular, masked);
        place_by_scan(order, groups, lookup, sink);
        return;
    }
    const LargePageLookup lookup(regular, masked);
    IndexedPlacement placement(order, lookup);
    for (const std::vector<ElementRecord>& group : groups) {
        for (const ElementRecord& m : group) placement.place(m, sink);
    }
    order = placement.ids();
}

}  // namespace vellora::paper
