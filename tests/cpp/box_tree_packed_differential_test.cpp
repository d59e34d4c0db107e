// The packed box tree against the tree split at medians and against a plain
// loop: the same boxes found by overlap searches and the same least distance
// by searches that tighten their limit, on grids full of ties, duplicates,
// inverted boxes and non-NaN hostile values.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "box_tree.hpp"
#include "reference/random_pages.hpp"

namespace vellora {
namespace {

float finite_or_infinite(testing::PageGenerator& gen, float value) {
    if (!gen.chance(3)) return value;
    const float h = gen.hostile();
    return std::isnan(h) ? -value : h;
}

std::vector<TreeBox> random_boxes(testing::PageGenerator& gen, std::size_t n) {
    std::vector<TreeBox> boxes;
    for (std::size_t i = 0; i < n; ++i) {
        const float x1 = finite_or_infinite(gen, gen.grid(1000.0f, gen.chance(50) ? 10.0f : 0.5f));
        const float y1 = finite_or_infinite(gen, gen.grid(gen.chance(30) ? 30000.0f : 1000.0f, 5.0f));
        const float x2 = finite_or_infinite(gen, x1 + gen.grid(300.0f, 10.0f) - (gen.chance(5) ? 200.0f : 0.0f));
        const float y2 = finite_or_infinite(gen, y1 + gen.grid(60.0f, 5.0f));
        boxes.push_back({x1, y1, x2, y2, static_cast<std::uint32_t>(i)});
        if (gen.chance(10)) boxes.push_back({x1, y1, x2, y2, static_cast<std::uint32_t>(++i)});
    }
    return boxes;
}

bool overlaps(const TreeBox& a, const TreeBox& q) {
    return a.x2 > q.x1 && a.y2 > q.y1 && q.x2 > a.x1 && q.y2 > a.y1;
}

std::vector<std::uint32_t> overlapping(const BoxTree& tree, const TreeBox& q) {
    std::vector<std::uint32_t> found;
    tree.search(
        [&](const EdgeBounds& b) {
            return b.max_x2 > q.x1 && b.max_y2 > q.y1 && q.x2 > b.min_x1 && q.y2 > b.min_y1 ? 0.0f : 1.0f;
        },
        [](float value) { return value > 0.0f; },
        [&](const TreeBox& box) {
            if (overlaps(box, q)) found.push_back(box.handle);
        });
    std::sort(found.begin(), found.end());
    return found;
}

// Least vertical gap to the top edge of q, pruned by the running least.
float least_gap(const BoxTree& tree, const TreeBox& q) {
    float least = INFINITY;
    tree.search([&](const EdgeBounds& b) { return q.y1 > b.max_y2 ? q.y1 - b.max_y2 : 0.0f; },
                [&](float value) { return value > least; },
                [&](const TreeBox& box) {
                    if (box.y2 <= q.y1) least = std::min(least, q.y1 - box.y2);
                });
    return least;
}

TEST(PackedBoxTreeDifferential, SameBoxesAsTheMedianTreeAndThePlainLoop) {
    testing::PageGenerator gen(9091);
    int compared = 0;
    for (int c = 0; c < 400; ++c) {
        const auto boxes = random_boxes(gen, gen.below(c % 10 == 0 ? 3000 : 200));
        const BoxTree median(boxes);
        const BoxTree packed = BoxTree::packed(boxes);
        std::vector<std::uint32_t> handles;
        for (const TreeBox& box : packed.boxes()) handles.push_back(box.handle);
        std::sort(handles.begin(), handles.end());
        ASSERT_EQ(handles.size(), boxes.size()) << "case " << c;
        for (std::size_t i = 0; i < handles.size(); ++i) ASSERT_EQ(handles[i], boxes[i].handle) << "case " << c;
        for (int q = 0; q < 20; ++q) {
            const TreeBox probe = random_boxes(gen, 1)[0];
            const auto found = overlapping(packed, probe);
            ASSERT_EQ(found, overlapping(median, probe)) << "case " << c << ", probe " << q;
            std::vector<std::uint32_t> plain;
            for (const TreeBox& box : boxes) {
                if (overlaps(box, probe)) plain.push_back(box.handle);
            }
            ASSERT_EQ(found, plain) << "case " << c << ", probe " << q;
            ASSERT_EQ(least_gap(packed, probe), least_gap(median, probe)) << "case " << c << ", probe " << q;
            ++compared;
        }
    }
    RecordProperty("compared", compared);
}

}  // namespace
}  // namespace vellora
