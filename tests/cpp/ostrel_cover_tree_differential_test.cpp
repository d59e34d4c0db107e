// The end points and units of the cover tree, found by a radix sort, against
// the sort-and-search version kept in reference/.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "ostrel/cover_tree.hpp"
#include "reference/ostrel_cover_points_reference.hpp"
#include "reference/random_pages.hpp"

namespace vellora::ostrel {
namespace {

// Finite values full of ties: small grids, both zeros, huge and tiny
// magnitudes of both signs.
float finite_value(testing::PageGenerator& gen) {
    constexpr float kEdgeValues[] = {0.0f, -0.0f, 1e-45f, -1e-45f, 3.0e38f, -3.0e38f, 16777216.0f, -16777217.0f};
    if (gen.chance(20)) return kEdgeValues[gen.below(8)];
    const float v = static_cast<float>(gen.below(40)) * 0.5f;
    return gen.chance(30) ? -v : v;
}

TEST(CoverTreeDifferential, SamePointsAndUnitsAsSortAndSearch) {
    testing::PageGenerator gen(31);
    int compared = 0;
    for (int c = 0; c < 400; ++c) {
        std::vector<std::pair<float, float>> intervals(1 + gen.below(c % 10 == 0 ? 3000 : 60));
        for (auto& [start, end] : intervals) {
            start = finite_value(gen);
            end = finite_value(gen);
            if (end < start) std::swap(start, end);
        }
        const CoverTree tree(intervals);
        const std::vector<float> expected = reference::cover_points(intervals);
        // Values compare equal (of -0 and +0 either may stand for both).
        ASSERT_EQ(tree.points(), expected) << "case " << c;
        for (std::size_t i = 0; i < intervals.size(); ++i) {
            const auto [start_unit, end_unit] = tree.units_of_slot(i);
            ASSERT_EQ(start_unit, reference::cover_unit(expected, intervals[i].first)) << "case " << c;
            ASSERT_EQ(end_unit, reference::cover_unit(expected, intervals[i].second)) << "case " << c;
        }
        ++compared;
    }
    RecordProperty("compared", compared);
}

// Removing intervals, a few at a time (one path per interval) or many at once
// (the tree refilled from its counts), answers as a tree never given them
// (on the coordinates the segmentation gives it: finite, below 2^24).
TEST(CoverTreeDifferential, RemovalsAnswerAsATreeBuiltWithoutThem) {
    testing::PageGenerator gen(32);
    for (int c = 0; c < 300; ++c) {
        std::vector<std::pair<float, float>> intervals(2 + gen.below(c % 10 == 0 ? 2000 : 80));
        const bool few_points = gen.chance(50);
        for (auto& [start, end] : intervals) {
            start = static_cast<float>(gen.below(few_points ? 6 : 400)) * (few_points ? 40.0f : 2.5f) - 100.0f;
            end = start + static_cast<float>(gen.below(4)) * (few_points ? 20.0f : 0.5f);
        }
        CoverTree tree(intervals);
        std::vector<bool> gone(intervals.size(), false);
        std::size_t left = intervals.size();
        while (left > 1) {
            std::vector<std::uint32_t> slots;
            const std::size_t batch = 1 + gen.below(static_cast<std::uint32_t>(gen.chance(50) ? 3 : left - 1));
            for (std::size_t i = 0; i < intervals.size() && slots.size() < batch && slots.size() + 1 < left; ++i) {
                if (!gone[i] && gen.chance(40)) {
                    gone[i] = true;
                    slots.push_back(static_cast<std::uint32_t>(i));
                }
            }
            if (slots.empty()) continue;
            tree.remove_slots(slots);
            left -= slots.size();
            std::vector<std::pair<float, float>> kept;
            for (std::size_t i = 0; i < intervals.size(); ++i) {
                if (!gone[i]) kept.push_back(intervals[i]);
            }
            const CoverTree fresh(kept);
            const GapCandidate expected = fresh.widest_gap();
            const GapCandidate actual = tree.widest_gap();
            ASSERT_EQ(actual.gap, expected.gap) << "case " << c;
            ASSERT_EQ(actual.position, expected.position) << "case " << c;
            ASSERT_EQ(tree.extent(), fresh.extent()) << "case " << c;
        }
    }
}

}  // namespace
}  // namespace vellora::ostrel
