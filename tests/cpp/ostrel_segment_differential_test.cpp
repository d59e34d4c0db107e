// The sort-once segmentation and the tree search for cross-layout elements
// against the straightforward versions kept in reference/, on random and
// hostile pages.
#include <gtest/gtest.h>

#include <vector>

#include "ostrel/driver.hpp"
#include "ostrel/segment.hpp"
#include "recording_sink.hpp"
#include "reference/ostrel_cross_layout_reference.hpp"
#include "reference/ostrel_segment_reference.hpp"
#include "reference/random_pages.hpp"

namespace vellora::ostrel {
namespace {

std::vector<std::uint64_t> ids(const std::vector<SorterElement>& elements) {
    std::vector<std::uint64_t> out;
    for (const SorterElement& e : elements) out.push_back(e.id);
    return out;
}

TEST(SegmentDifferential, SameOrderAndRecordsAsLevelByLevel) {
    testing::PageGenerator gen(99);
    int compared = 0;
    for (int c = 0; c < 1500; ++c) {
        const std::size_t n = gen.below(c % 20 == 0 ? 2000 : 120);
        std::vector<SorterElement> elements;
        for (const ElementRecord& r : gen.page(n, c % 3 == 0 ? 6 : 0)) elements.push_back(from_record(r));
        const bool prefer_horizontal_first = gen.chance(50);
        testing::RecordingSink expected_records;
        const auto expected = reference::segment(elements, prefer_horizontal_first, expected_records.sink());
        testing::RecordingSink actual_records;
        const auto actual = segment(elements, prefer_horizontal_first, actual_records.sink());
        ASSERT_EQ(ids(actual), ids(expected)) << "case " << c;
        ASSERT_EQ(actual_records.messages(), expected_records.messages()) << "case " << c;
        ++compared;
    }
    RecordProperty("compared", compared);
}

TEST(CrossLayoutDifferential, SameElementsAsThePairLoop) {
    testing::PageGenerator gen(1234);
    int compared = 0;
    for (int c = 0; c < 600; ++c) {
        const std::size_t n = gen.below(c % 10 == 0 ? 3000 : 300);
        std::vector<SorterElement> elements;
        for (const ElementRecord& r : gen.page(n, c % 3 == 0 ? 5 : 0)) elements.push_back(from_record(r));
        if (c % 4 == 1) {
            // Mostly narrow slivers, so that many elements are candidates.
            for (std::size_t i = 0; i < elements.size(); i += 2) elements[i].x2 = elements[i].x1 + 0.5f;
        }
        ASSERT_EQ(find_cross_layout(elements), reference::find_cross_layout(elements)) << "case " << c;
        ++compared;
    }
    RecordProperty("compared", compared);
}

}  // namespace
}  // namespace vellora::ostrel
