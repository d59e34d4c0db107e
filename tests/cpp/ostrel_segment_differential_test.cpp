// The sort-once segmentation and the tree search for cross-layout elements
// against the straightforward versions kept in reference/, on random and
// hostile pages.
#include <gtest/gtest.h>

#include <algorithm>
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

// Both segmentations of one page: the same ids, and the same records.
::testing::AssertionResult same_as_reference(const std::vector<SorterElement>& elements,
                                             bool prefer_horizontal_first) {
    testing::RecordingSink expected_records;
    const auto expected = reference::segment(elements, prefer_horizontal_first, expected_records.sink());
    testing::RecordingSink actual_records;
    const auto actual = segment(elements, prefer_horizontal_first, actual_records.sink());
    if (ids(actual) != ids(expected)) {
        return ::testing::AssertionFailure() << "ids " << ::testing::PrintToString(ids(actual))
                                             << " against " << ::testing::PrintToString(ids(expected));
    }
    if (actual_records.messages() != expected_records.messages()) {
        return ::testing::AssertionFailure() << "records " << ::testing::PrintToString(actual_records.messages())
                                             << " against " << ::testing::PrintToString(expected_records.messages());
    }
    return ::testing::AssertionSuccess();
}

TEST(SegmentDifferential, SameOrderAndRecordsAsLevelByLevel) {
    testing::PageGenerator gen(99);
    int compared = 0;
    for (int c = 0; c < 1500; ++c) {
        const std::size_t n = gen.below(c % 20 == 0 ? 2000 : 120);
        std::vector<SorterElement> elements;
        for (const ElementRecord& r : gen.page(n, c % 3 == 0 ? 6 : 0)) elements.push_back(from_record(r));
        const bool prefer_horizontal_first = gen.chance(50);
        ASSERT_TRUE(same_as_reference(elements, prefer_horizontal_first)) << "case " << c;
        ++compared;
    }
    RecordProperty("compared", compared);
}

// Large groups that are cut a few elements at a time: staircases, rows peeled
// from the top or from the bottom, columns of narrow and wide boxes, columns
// whose gap only the wide boxes show, nested blocks; equal gaps, touching and
// zero-size boxes included.
std::vector<SorterElement> chain_page(testing::PageGenerator& gen, int flavour, std::size_t n) {
    std::vector<SorterElement> out;
    float x = 0.0f;
    float y = 0.0f;
    for (std::size_t i = 0; i < n; ++i) {
        const float step = gen.chance(70) ? 20.0f : static_cast<float>(gen.below(30));
        SorterElement e{i, 0, 0, 0, 0};
        switch (flavour) {
        case 0:  // staircase
            x += step;
            y += gen.chance(80) ? step : 0.0f;
            e = {i, x, y, x + 10.0f, y + 10.0f};
            break;
        case 1:  // rows, full width or nearly
            y += step + 5.0f;
            e = {i, static_cast<float>(gen.below(3)), y, 900.0f, y + (gen.chance(10) ? 0.0f : 10.0f)};
            break;
        case 2:  // narrow and wide boxes side by side, a few rows
            x += gen.chance(50) ? 100.0f : 3.0f;
            e = {i, x, static_cast<float>(gen.below(4)) * 30.0f, x + (i % 2 == 0 ? 1.0f : 90.0f),
                 static_cast<float>(gen.below(4)) * 30.0f + 20.0f};
            break;
        case 4:  // rows whose gaps widen downwards: every cut takes the last row
            y += 6.0f + static_cast<float>(i) * 0.25f;
            e = {i, 0.0f, y, 500.0f, y + 2.0f};
            break;
        case 5:  // two columns of overlapping rows, their gap covered by narrow boxes
            if (i % 10 == 0) {
                const float nx = 396.0f + static_cast<float>(i / 10 % 5) * 6.0f;
                e = {i, nx, static_cast<float>(gen.below(2000)), nx + 7.0f, static_cast<float>(gen.below(2000)) + 30.0f};
            } else {
                const float cx = i % 2 == 0 ? 0.0f : 420.0f;
                y += 4.0f;
                e = {i, cx, y, cx + 400.0f, y + 10.0f};
            }
            break;
        default: {  // blocks of columns stacked, with stray narrow boxes
            const float block = static_cast<float>(i / 40) * 400.0f;
            const float column = static_cast<float>(gen.below(3)) * 300.0f;
            const float line = static_cast<float>(gen.below(30)) * 12.0f;
            e = gen.chance(5) ? SorterElement{i, column + 270.0f, block + line, column + 275.0f, block + line + 200.0f}
                              : SorterElement{i, column, block + line, column + 250.0f, block + line + 10.0f};
            break;
        }
        }
        if (gen.chance(3)) std::swap(e.x1, e.x2);
        out.push_back(e);
    }
    if (gen.chance(50)) std::shuffle(out.begin(), out.end(), gen.engine());
    return out;
}

TEST(SegmentDifferential, LargeGroupsCutAFewAtATime) {
    testing::PageGenerator gen(7);
    int compared = 0;
    for (int c = 0; c < 60; ++c) {
        const auto elements = chain_page(gen, c % 6, 1025 + gen.below(2500));
        const bool prefer_horizontal_first = gen.chance(50);
        ASSERT_TRUE(same_as_reference(elements, prefer_horizontal_first)) << "case " << c;
        ++compared;
    }
    RecordProperty("compared", compared);
}

// Large groups cut along the rows first and then across them while still
// lopsided: a title row above (or below) a long column of rows, beside a few
// tall boxes that a wide vertical band sets apart; the column then goes on
// being peeled row by row.
std::vector<SorterElement> rows_then_across_page(testing::PageGenerator& gen, std::size_t n) {
    std::vector<SorterElement> out;
    const bool title_below = gen.chance(50);
    const bool side_left = gen.chance(50);
    const std::size_t side = 1 + gen.below(12);
    const float column_x = side_left ? 400.0f : 0.0f;
    const float side_x = side_left ? 0.0f : 400.0f + 100.0f + static_cast<float>(gen.below(200));
    float y = 100.0f;
    for (std::size_t i = 0; i + side + 1 < n; ++i) {
        const float height = gen.chance(20) ? 0.0f : static_cast<float>(1 + gen.below(12));
        out.push_back({i, column_x + static_cast<float>(gen.below(5)), y, column_x + 100.0f, y + height});
        y += height + (gen.chance(80) ? 6.0f : static_cast<float>(4 + gen.below(6)));
    }
    const float span = y / static_cast<float>(side);
    for (std::size_t k = 0; k < side; ++k) {
        const float top = 100.0f + span * static_cast<float>(k);
        out.push_back({out.size(), side_x, top, side_x + 50.0f, top + span});
    }
    const float title_y = title_below ? y + 300.0f : 0.0f;
    out.push_back({out.size(), 0.0f, title_y, 700.0f, title_y + 40.0f});
    if (gen.chance(50)) std::shuffle(out.begin(), out.end(), gen.engine());
    return out;
}

TEST(SegmentDifferential, LargeGroupsCutAcrossAfterRows) {
    testing::PageGenerator gen(8);
    int compared = 0;
    for (int c = 0; c < 24; ++c) {
        const auto elements = rows_then_across_page(gen, 600 + gen.below(1500));
        ASSERT_TRUE(same_as_reference(elements, gen.chance(50))) << "case " << c;
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
