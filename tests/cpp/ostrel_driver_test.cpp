// The sorter's driver: cross-layout test, density, and whole-page orders
// with their records.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "ostrel/driver.hpp"
#include "recording_sink.hpp"
#include "vellora/ostrel.hpp"

namespace vellora::ostrel {
namespace {

using testing::RecordingSink;
using Ids = std::vector<std::uint64_t>;
using Messages = std::vector<std::string>;

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

ElementRecord rec(std::uint64_t id, float x1, float y1, float x2, float y2,
                  SemanticLabel label = SemanticLabel::Regular) {
    return ElementRecord{id, x1, y1, x2, y2, label};
}

std::vector<SorterElement> sorter_elements(const std::vector<ElementRecord>& records) {
    std::vector<SorterElement> out;
    for (const auto& r : records) out.push_back(from_record(r));
    return out;
}

struct Sorted {
    Ids order;
    Messages messages;
};

Sorted run(const std::vector<ElementRecord>& records) {
    RecordingSink recorder;
    Ids order = sort_elements(records, recorder.sink());
    return {order, recorder.messages()};
}

// A title and a footer across two columns of two rows each.
std::vector<ElementRecord> two_column_page() {
    return {
        rec(1, 0, 0, 200, 20),       // title, cross-layout
        rec(2, 0, 30, 90, 60),       // left column
        rec(4, 110, 30, 200, 60),    // right column
        rec(3, 0, 70, 90, 100),      // left column
        rec(5, 110, 70, 200, 100),   // right column
        rec(6, 0, 110, 200, 130),    // footer, cross-layout
    };
}

// ---- whole pages ----------------------------------------------------------

TEST(OstrelDriverPage, TwoColumnsWithTitleAndFooter) {
    const auto result = run(two_column_page());
    EXPECT_EQ(result.order, (Ids{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(result.messages,
              (Messages{"[sort] 6 elements (beta=2, density_threshold=0.9)",
                        "[sort] cross-layout: 2, remaining: 4",
                        "[sort] density_ratio=0.771, prefer_horizontal_first=false",
                        "[segment] vertical cut at x=100.0 (gap=20.0) on 4 elements",
                        "[segment] split into 2 groups: 2, 2",
                        "[segment] horizontal cut at y=65.0 (gap=10.0) on 2 elements",
                        "[segment] split into 2 groups: 1, 1",
                        "[segment] horizontal cut at y=65.0 (gap=10.0) on 2 elements",
                        "[segment] split into 2 groups: 1, 1",
                        "[merge] merging 2 cross-layout elements into 4 main elements",
                        "[merge] result: 6 elements total"}));
}

TEST(OstrelDriverPage, StartRecordShowsTheConstantsInShortestForm) {
    std::vector<ElementRecord> records;
    for (std::uint64_t i = 0; i < 12; ++i) records.push_back(rec(i, 0, static_cast<float>(i) * 3, 10, 1));
    EXPECT_EQ(run(records).messages.front(), "[sort] 12 elements (beta=2, density_threshold=0.9)");
}

TEST(OstrelDriverPage, EmptyAndSingleInputsAreSilent) {
    const auto empty = run({});
    EXPECT_TRUE(empty.order.empty());
    EXPECT_TRUE(empty.messages.empty());
    const auto single = run({rec(42, kNaN, 0, 1, 1)});
    EXPECT_EQ(single.order, Ids{42});
    EXPECT_TRUE(single.messages.empty());
}

TEST(OstrelDriverPage, DriverRecordsCarryTheirLinesAndLevels) {
    RecordingSink recorder;
    sort_elements(two_column_page(), recorder.sink());
    const auto& records = recorder.records();
    ASSERT_GE(records.size(), 3u);
    EXPECT_EQ(records[0].line, 87u);
    EXPECT_EQ(records[1].line, 110u);
    EXPECT_EQ(records[2].line, 126u);
    for (const auto& record : records) {
        EXPECT_EQ(record.level, Level::Debug) << record.message;
        EXPECT_EQ(record.target, "velloray::ostrel");
        EXPECT_EQ(record.module_path, "vellora_sorter");
        EXPECT_EQ(record.file, std::string("src\\ostrel\\vellora_sorter\\src\\lib"));
    }
}

TEST(OstrelDriverPage, LabelsDoNotChangeTheOrder) {
    const auto page = two_column_page();
    const Ids expected = run(page).order;
    for (int code = 0; code < kLabelCount; ++code) {
        auto relabelled = page;
        for (std::size_t i = 0; i < relabelled.size(); ++i) {
            relabelled[i].label = static_cast<SemanticLabel>((static_cast<std::size_t>(code) + i) % kLabelCount);
        }
        EXPECT_EQ(run(relabelled).order, expected) << code;
    }
}

TEST(OstrelDriverPage, DuplicateIdsStay) {
    const auto result = run({rec(7, 0, 40, 10, 50), rec(7, 0, 0, 10, 10), rec(7, 0, 20, 10, 30)});
    EXPECT_EQ(result.order, (Ids{7, 7, 7}));
}

TEST(OstrelDriverPage, DisabledRecordsDoNotChangeTheOrder) {
    RecordingSink warn_only(Level::Warn);
    EXPECT_EQ(sort_elements(two_column_page(), warn_only.sink()), run(two_column_page()).order);
    EXPECT_TRUE(warn_only.records().empty());
    EXPECT_EQ(sort_elements(two_column_page(), DiagnosticSink::none()), run(two_column_page()).order);
}

// ---- cross-layout test ----------------------------------------------------

// A 100-wide element over narrow ones 20 wide; median 20, threshold 40.
std::vector<SorterElement> wide_over(std::vector<SorterElement> narrow) {
    narrow.insert(narrow.begin(), SorterElement{1, 0, 0, 100, 10});
    return narrow;
}

TEST(OstrelCrossLayout, TwoElementsAreNeverCrossLayout) {
    EXPECT_TRUE(find_cross_layout(sorter_elements({rec(1, 0, 0, 100, 10), rec(2, 0, 20, 100, 30)})).empty());
    EXPECT_EQ(run({rec(1, 0, 0, 1000, 10), rec(2, 0, 20, 1, 30)}).messages.at(1),
              "[sort] cross-layout: 0, remaining: 2");
}

TEST(OstrelCrossLayout, WideElementOverlappingTwoOthersIsSetAside) {
    const auto elements = wide_over({{2, 0, 20, 20, 30}, {3, 50, 20, 70, 30}, {4, 200, 20, 220, 30}});
    EXPECT_EQ(cross_layout_width_threshold(elements), 40.0f);
    EXPECT_EQ(find_cross_layout(elements), (std::vector<std::size_t>{0}));
}

TEST(OstrelCrossLayout, OneOverlapIsNotEnough) {
    const auto elements = wide_over({{2, 0, 20, 20, 30}, {3, 300, 20, 320, 30}, {4, 200, 20, 220, 30}});
    EXPECT_TRUE(find_cross_layout(elements).empty());
}

TEST(OstrelCrossLayout, TouchingDoesNotCount) {
    const auto elements = wide_over({{2, 0, 20, 20, 30}, {3, 100, 20, 120, 30}, {4, 200, 20, 220, 30}});
    EXPECT_TRUE(find_cross_layout(elements).empty());
}

TEST(OstrelCrossLayout, OverlapOfATenthOfTheNarrowerWidthCountsAndLessDoesNot) {
    // 2 of 20 is exactly the single-precision 0.1; 1.9 of 20 is below it.
    const auto tenth = wide_over({{2, 0, 20, 20, 30}, {3, 98, 20, 118, 30}, {4, 200, 20, 220, 30}});
    EXPECT_EQ(find_cross_layout(tenth), (std::vector<std::size_t>{0}));
    const auto less = wide_over({{2, 0, 20, 20, 30}, {3, 98.1f, 20, 118.1f, 30}, {4, 200, 20, 220, 30}});
    EXPECT_TRUE(find_cross_layout(less).empty());
}

TEST(OstrelCrossLayout, WidthEqualToTheThresholdIsACandidate) {
    const std::vector<SorterElement> elements{
        {1, 0, 0, 40, 10}, {2, 0, 20, 20, 30}, {3, 20, 40, 40, 50}, {4, 10, 60, 30, 70}};
    EXPECT_EQ(cross_layout_width_threshold(elements), 40.0f);
    EXPECT_EQ(find_cross_layout(elements), (std::vector<std::size_t>{0}));
}

TEST(OstrelCrossLayout, ZeroWidthElementsCountForNobody) {
    // Median width 0 makes the threshold 0, so every element is a candidate,
    // but a zero-width partner never counts.
    const auto elements = wide_over({{2, 50, 20, 50, 30}, {3, 60, 20, 60, 30}, {4, 70, 20, 70, 30}});
    EXPECT_EQ(cross_layout_width_threshold(elements), 0.0f);
    EXPECT_TRUE(find_cross_layout(elements).empty());
}

TEST(OstrelCrossLayout, ThresholdUsesTheEvenMedianOfClampedWidths) {
    // Widths 100 and 300 (the second box given inverted, which still counts
    // 300 wide) and two of width 0 (the last one's inf - inf clamped to 0):
    // median (0 + 100) / 2, threshold 100.
    const std::vector<SorterElement> elements{
        {1, 0, 0, 100, 1}, {2, 300, 0, 0, 1}, {3, 5, 0, 5, 1}, {4, kInf, 0, kInf, 1}};
    EXPECT_EQ(cross_layout_width_threshold(elements), 100.0f);
}

TEST(OstrelCrossLayout, IndicesAreAscendingInInputOrder) {
    const std::vector<SorterElement> elements{
        {1, 0, 0, 20, 10}, {2, 0, 20, 100, 30}, {3, 50, 40, 70, 50},
        {4, 0, 60, 20, 70}, {5, 0, 80, 100, 90}, {6, 80, 100, 100, 110}, {7, 30, 120, 50, 130}};
    EXPECT_EQ(find_cross_layout(elements), (std::vector<std::size_t>{1, 4}));
}

TEST(OstrelCrossLayout, InfiniteWidthsNeverPairWithEachOther) {
    const std::vector<SorterElement> elements{
        {1, -kInf, 0, kInf, 10}, {2, -kInf, 20, kInf, 30}, {3, -kInf, 40, kInf, 50}};
    EXPECT_EQ(cross_layout_width_threshold(elements), kInf);
    EXPECT_TRUE(find_cross_layout(elements).empty());
}

// ---- partition fallback -----------------------------------------------------

TEST(OstrelPartition, EverythingCrossLayoutFallsBackToYThenXWithAWarning) {
    // Not reachable through the width threshold (the narrowest element is
    // never wide enough), so the partition is given directly.
    const auto elements = sorter_elements({rec(3, 0, 50, 10, 60), rec(1, 5, 0, 15, 10), rec(2, 0, 0, 10, 10)});
    RecordingSink recorder;
    const Ids order = order_partitioned(elements, {0, 1, 2}, recorder.sink());
    EXPECT_EQ(order, (Ids{2, 1, 3}));
    ASSERT_EQ(recorder.records().size(), 2u);
    EXPECT_EQ(recorder.records()[0].message, "[sort] cross-layout: 3, remaining: 0");
    EXPECT_EQ(recorder.records()[1].message,
              "[sort] all elements are cross-layout, falling back to y-then-x sort");
    EXPECT_EQ(recorder.records()[1].level, Level::Warn);
    EXPECT_EQ(recorder.records()[1].line, 117u);
}

TEST(OstrelPartition, NarrowestElementIsNeverCrossLayout) {
    // Elements wide enough to be candidates are at least twice the median
    // width, so the narrowest element always stays to be segmented.
    std::mt19937 random(7);
    std::uniform_real_distribution<float> coordinate(0.0f, 100.0f);
    for (int round = 0; round < 200; ++round) {
        std::vector<SorterElement> elements;
        for (std::uint64_t id = 0; id < 6; ++id) {
            elements.push_back({id, coordinate(random), coordinate(random), coordinate(random), coordinate(random)});
        }
        EXPECT_LT(find_cross_layout(elements).size(), elements.size());
    }
}

TEST(OstrelPartition, OneRemainingElementHasDensityOne) {
    const auto elements = sorter_elements({rec(1, 0, 0, 10, 10), rec(2, 0, 20, 100, 30)});
    RecordingSink recorder;
    EXPECT_EQ(order_partitioned(elements, {1}, recorder.sink()), (Ids{1, 2}));
    EXPECT_EQ(recorder.messages(), (Messages{"[sort] cross-layout: 1, remaining: 1",
                                             "[sort] density_ratio=1.000, prefer_horizontal_first=true",
                                             "[merge] merging 1 cross-layout elements into 1 main elements",
                                             "[merge] result: 2 elements total"}));
}

// ---- density --------------------------------------------------------------

TEST(OstrelDensity, OverlappingBoxesAreCappedAtOne) {
    const auto elements = sorter_elements({rec(1, 0, 0, 10, 10), rec(2, 0, 0, 10, 10), rec(3, 5, 5, 10, 10)});
    EXPECT_EQ(density_ratio(elements), 1.0f);
    const auto result = run({rec(1, 0, 0, 10, 10), rec(2, 0, 0, 10, 10)});
    EXPECT_EQ(result.messages.at(2), "[sort] density_ratio=1.000, prefer_horizontal_first=true");
}

TEST(OstrelDensity, ElementsOnOneLineHaveDensityOne) {
    EXPECT_EQ(density_ratio(sorter_elements({rec(1, 0, 5, 10, 5), rec(2, 20, 5, 30, 5)})), 1.0f);
}

TEST(OstrelDensity, ExactlyNineTenthsDoesNotPreferHorizontal) {
    const std::vector<ElementRecord> records{rec(1, 0, 0, 10, 1), rec(2, 0, 2, 10, 10)};
    EXPECT_EQ(density_ratio(sorter_elements(records)), 0.9f);
    EXPECT_EQ(run(records).messages.at(2), "[sort] density_ratio=0.900, prefer_horizontal_first=false");
}

TEST(OstrelDensity, RatioIsAreaOverBoundingBox) {
    // Box 25 x 12 = 300, areas 100 + 100.
    const std::vector<ElementRecord> records{rec(1, 0, 2, 10, 12), rec(2, 15, 0, 25, 10)};
    EXPECT_EQ(density_ratio(sorter_elements(records)), 200.0f / 300.0f);
    EXPECT_EQ(run(records).messages.at(2), "[sort] density_ratio=0.667, prefer_horizontal_first=false");
}

TEST(OstrelDensity, NaNQuotientGivesOne) {
    // Infinite box and infinite area: inf / inf.
    EXPECT_EQ(density_ratio(sorter_elements({rec(1, 0, 0, kInf, 10), rec(2, 0, 20, 10, 30)})), 1.0f);
}

TEST(OstrelDensity, BoundingBoxIgnoresSingleNaNCoordinates) {
    // The NaN x1 leaves the second box as the line x = 50: box 50 x 30.
    const auto elements = sorter_elements({rec(1, 0, 0, 10, 10), rec(2, kNaN, 20, 50, 30)});
    EXPECT_EQ(density_ratio(elements), 100.0f / 1500.0f);
}

// ---- every input is ordered ----------------------------------------------

TEST(OstrelDriverInvariant, ResultIsAPermutationOfTheInputIds) {
    const float pool[] = {0.0f, -0.0f, 1.0f, 5.0f, 10.0f, 12.5f, 50.0f, 100.0f, 1e30f, -7.0f,
                          kInf, -kInf, kNaN, -kNaN, 3e38f, 1e-40f};
    std::mt19937 random(12345);
    std::uniform_int_distribution<std::size_t> pick(0, std::size(pool) - 1);
    std::uniform_real_distribution<float> smooth(0.0f, 200.0f);
    std::bernoulli_distribution degenerate(0.2);
    for (int round = 0; round < 400; ++round) {
        const std::size_t count = static_cast<std::size_t>(round % 17);
        std::vector<ElementRecord> records;
        for (std::size_t i = 0; i < count; ++i) {
            const auto coordinate = [&] { return degenerate(random) ? pool[pick(random)] : smooth(random); };
            const float x1 = coordinate();
            const float y1 = coordinate();
            records.push_back(rec(i % 5, x1, y1, x1 + coordinate() * 0.5f, y1 + coordinate() * 0.2f));
        }
        Ids expected;
        for (const auto& r : records) expected.push_back(r.id);
        RecordingSink recorder;
        Ids order = sort_elements(records, recorder.sink());
        std::sort(order.begin(), order.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(order, expected) << "round " << round;
    }
}

// 200,000 rows peel off one at a time: a scan of every remaining row per
// level would be about 2 * 10^10 visits; the segmentation's trees keep it to
// a fraction of a second.
TEST(OstrelDriverInvariant, TwoHundredThousandPeelingRows) {
    constexpr std::uint64_t kRows = 200'000;
    std::vector<ElementRecord> records;
    records.reserve(kRows);
    for (std::uint64_t i = 0; i < kRows; ++i) {
        const float y = static_cast<float>(i) * 10.0f;
        records.push_back(rec(kRows - i, 0, y, 100, y + 5));
    }
    const Ids order = sort_elements(std::move(records), DiagnosticSink::none());
    ASSERT_EQ(order.size(), kRows);
    for (std::uint64_t i = 0; i < kRows; ++i) ASSERT_EQ(order[i], kRows - i);
}

}  // namespace
}  // namespace vellora::ostrel
