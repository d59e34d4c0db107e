// How a set of closed intervals covers a line, kept under removals: the
// widest empty band between them and their overall extent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "ostrel/segment.hpp"

namespace vellora::ostrel {

// Intervals must be finite and upright (start <= end). The line is cut into
// units at the distinct end points: unit 2j is the point v_j, unit 2j + 1
// the open stretch between v_j and v_(j+1). A segment tree counts how many
// intervals cover each unit.
class CoverTree {
public:
    CoverTree() = default;
    explicit CoverTree(const std::vector<std::pair<float, float>>& intervals);

    // Takes away the intervals at `slots` in the constructor's list, each
    // one at most once over the life of the tree.
    void remove_slots(const std::vector<std::uint32_t>& slots);

    // The distinct end points, ascending (of -0 and +0, one stands for both).
    const std::vector<float>& points() const noexcept { return points_; }
    // The units of the start and of the end of the interval at `slot`.
    std::pair<std::int32_t, std::int32_t> units_of_slot(std::size_t slot) const noexcept {
        return {slot_units_[2 * slot], slot_units_[2 * slot + 1]};
    }

    // Leaves out of every later answer the part of the line at or before
    // `value` (keep_after) or at or after it (keep_before). Cheaper than
    // removing the intervals that lie wholly there, and the same for the
    // answers, when every interval left lies wholly on the other side.
    void keep_after(float value) noexcept;
    void keep_before(float value) noexcept;

    // The leftmost of the widest bands between two covered points with
    // nothing covered in between: its extent (right end minus left end) and
    // its middle ((right end + left end) * 0.5). (0, 0) when there is none.
    GapCandidate widest_gap() const noexcept;

    // The smallest and the largest covered point.
    std::pair<float, float> extent() const noexcept;

private:
    // Only the nodes of the tree are ever written or read, each written
    // before it is read, so the array is allocated without initialising.
    struct Node {
        std::int32_t min;   // least count in the range
        std::int32_t lazy;  // pending for the children
        // Relative to the units at the least count: the first and last unit
        // above it (-1 if none) and the widest band of least-count units
        // with units above it on both sides.
        std::int32_t first;
        std::int32_t last;
        float gap;
        float position;
    };

    struct Info {
        std::int32_t min;
        std::int32_t lo;
        std::int32_t hi;
        std::int32_t first;
        std::int32_t last;
        float gap;
        float position;
    };

    Info combine(const Info& left, const Info& right) const noexcept;
    Info query(std::size_t node, std::int32_t lo, std::int32_t hi, std::int32_t pending) const noexcept;
    Info window() const noexcept { return query(1, 0, units_ - 1, 0); }

    void build(std::size_t node, std::int32_t lo, std::int32_t hi, const std::vector<std::int32_t>& counts);
    void add(std::size_t node, std::int32_t lo, std::int32_t hi, std::int32_t from, std::int32_t to,
             std::int32_t delta);
    void pull(std::size_t node, std::int32_t lo, std::int32_t mid, std::int32_t hi);
    void collect(std::size_t node, std::int32_t lo, std::int32_t hi, std::int32_t pending,
                 std::vector<std::int32_t>& counts) const;
    void remove_slot(std::size_t slot);

    std::vector<float> points_;
    std::vector<std::int32_t> slot_units_;  // start and end unit per interval
    std::unique_ptr<Node[]> nodes_;
    std::int32_t units_ = 0;
    std::int32_t from_ = 0;  // the units still looked at
    std::int32_t to_ = -1;
};

}  // namespace vellora::ostrel
