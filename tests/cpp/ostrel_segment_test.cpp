// Gap searches and recursive gap segmentation, with their records.
#include <gtest/gtest.h>

#include <pthread.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "ostrel/segment.hpp"
#include "recording_sink.hpp"

namespace vellora::ostrel {
namespace {

using testing::RecordingSink;
using Ids = std::vector<std::uint64_t>;
using Messages = std::vector<std::string>;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

std::vector<const SorterElement*> refs(const std::vector<SorterElement>& elements) {
    std::vector<const SorterElement*> out;
    for (const auto& e : elements) out.push_back(&e);
    return out;
}

Ids ids(const std::vector<SorterElement>& elements) {
    Ids out;
    for (const auto& e : elements) out.push_back(e.id);
    return out;
}

struct Segmented {
    Ids order;
    Messages messages;
};

Segmented run(const std::vector<SorterElement>& elements, bool prefer_horizontal_first) {
    RecordingSink recorder;
    const auto ordered = segment(elements, prefer_horizontal_first, recorder.sink());
    return {ids(ordered), recorder.messages()};
}

// ---- gap searches -------------------------------------------------------

TEST(OstrelGapSearch, NoBandGivesZeroPair) {
    const std::vector<SorterElement> overlapping{{1, 0, 0, 10, 10}, {2, 5, 5, 15, 15}};
    const auto h = find_horizontal_gap(refs(overlapping));
    EXPECT_EQ(h.position, 0.0f);
    EXPECT_EQ(h.gap, 0.0f);
    const auto v = find_vertical_gap(refs(overlapping));
    EXPECT_EQ(v.position, 0.0f);
    EXPECT_EQ(v.gap, 0.0f);
}

TEST(OstrelGapSearch, WidestBandWinsRegardlessOfInputOrder) {
    const std::vector<SorterElement> rows{
        {1, 0, 60, 10, 70}, {2, 0, 0, 10, 10}, {3, 0, 13, 10, 20}, {4, 0, 30, 10, 40}};
    const auto h = find_horizontal_gap(refs(rows));
    EXPECT_EQ(h.gap, 20.0f);
    EXPECT_EQ(h.position, 50.0f);
}

TEST(OstrelGapSearch, OfEqualBandsTheTopmostAndTheLeftmostWin) {
    const std::vector<SorterElement> rows{{1, 0, 40, 10, 50}, {2, 0, 20, 10, 30}, {3, 0, 0, 10, 10}};
    const auto h = find_horizontal_gap(refs(rows));
    EXPECT_EQ(h.gap, 10.0f);
    EXPECT_EQ(h.position, 15.0f);
    const std::vector<SorterElement> columns{{1, 40, 0, 50, 10}, {2, 20, 0, 30, 10}, {3, 0, 0, 10, 10}};
    const auto v = find_vertical_gap(refs(columns));
    EXPECT_EQ(v.gap, 10.0f);
    EXPECT_EQ(v.position, 15.0f);
}

TEST(OstrelGapSearch, TouchingElementsLeaveNoBand) {
    const std::vector<SorterElement> touching{{1, 0, 0, 10, 10}, {2, 0, 10, 10, 20}};
    EXPECT_EQ(find_horizontal_gap(refs(touching)).gap, 0.0f);
}

TEST(OstrelGapSearch, TallElementHidesTheBandsBesideIt) {
    const std::vector<SorterElement> right_column{{2, 12, 0, 30, 10}, {3, 12, 50, 30, 60}};
    const auto alone = find_horizontal_gap(refs(right_column));
    EXPECT_EQ(alone.gap, 40.0f);
    EXPECT_EQ(alone.position, 30.0f);

    std::vector<SorterElement> with_tall = right_column;
    with_tall.push_back({1, 0, 0, 10, 100});
    EXPECT_EQ(find_horizontal_gap(refs(with_tall)).gap, 0.0f);
}

TEST(OstrelGapSearch, InvertedBoxesAreReadThroughTheirTrueEdges) {
    const std::vector<SorterElement> inverted{{1, 10, 10, 0, 0}, {2, 10, 30, 0, 20}};
    const auto h = find_horizontal_gap(refs(inverted));
    EXPECT_EQ(h.gap, 10.0f);
    EXPECT_EQ(h.position, 15.0f);
}

TEST(OstrelGapSearch, NaNEdgesOpenNoBandAndDoNotStopTheScan) {
    // A box with all coordinates NaN sorts last and opens nothing; a box with
    // NaN as its first element's bottom leaves reach to the next element.
    const std::vector<SorterElement> rows{{1, 0, 0, 10, 10}, {2, kNaN, kNaN, kNaN, kNaN}, {3, 0, 30, 10, 40}};
    const auto h = find_horizontal_gap(refs(rows));
    EXPECT_EQ(h.gap, 20.0f);
    EXPECT_EQ(h.position, 20.0f);
}

// ---- choice of cut ------------------------------------------------------

// Two elements overlapping vertically, `distance` apart horizontally. The
// right one starts higher, so the y-then-x fallback lists it first.
std::vector<SorterElement> side_by_side(float distance) {
    return {{2, 10 + distance, 0, 20 + distance, 10}, {1, 0, 2, 10, 12}};
}

TEST(OstrelSegmentChoice, GapOfExactlyFiveIsAValidCut) {
    const auto result = run(side_by_side(5.0f), false);
    EXPECT_EQ(result.order, (Ids{1, 2}));
    EXPECT_EQ(result.messages, (Messages{"[segment] vertical cut at x=12.5 (gap=5.0) on 2 elements",
                                         "[segment] split into 2 groups: 1, 1"}));
}

TEST(OstrelSegmentChoice, GapOfFourPointNineFallsBackToYThenX) {
    const auto result = run(side_by_side(4.9f), false);
    EXPECT_EQ(result.order, (Ids{2, 1}));
    EXPECT_EQ(result.messages,
              (Messages{"[segment] no valid cuts for 2 elements, falling back to y-then-x sort"}));
}

TEST(OstrelSegmentChoice, TouchingElementsFallBack) {
    const std::vector<SorterElement> touching{{2, 0, 10, 10, 20}, {1, 0, 0, 10, 10}};
    const auto result = run(touching, true);
    EXPECT_EQ(result.order, (Ids{1, 2}));
    EXPECT_EQ(result.messages,
              (Messages{"[segment] no valid cuts for 2 elements, falling back to y-then-x sort"}));
}

// A 2 x 2 grid whose row gap is 10 and whose column gap is `column_gap`.
std::vector<SorterElement> grid(float column_gap) {
    const float x = 10 + column_gap;
    return {{1, 0, 0, 10, 10}, {2, x, 0, x + 10, 10}, {3, 0, 20, 10, 30}, {4, x, 20, x + 10, 30}};
}

TEST(OstrelSegmentChoice, EqualGapsFollowThePreferenceBothWays) {
    const auto rows_first = run(grid(10.0f), true);
    EXPECT_EQ(rows_first.order, (Ids{1, 2, 3, 4}));
    EXPECT_EQ(rows_first.messages.front(), "[segment] horizontal cut at y=15.0 (gap=10.0) on 4 elements");

    const auto columns_first = run(grid(10.0f), false);
    EXPECT_EQ(columns_first.order, (Ids{1, 3, 2, 4}));
    EXPECT_EQ(columns_first.messages.front(), "[segment] vertical cut at x=15.0 (gap=10.0) on 4 elements");
}

TEST(OstrelSegmentChoice, WiderGapWinsWhateverThePreference) {
    for (const bool prefer : {true, false}) {
        EXPECT_EQ(run(grid(12.0f), prefer).order, (Ids{1, 3, 2, 4})) << prefer;
        EXPECT_EQ(run(grid(8.0f), prefer).order, (Ids{1, 2, 3, 4})) << prefer;
    }
}

TEST(OstrelSegmentChoice, OneUlpApartIsNotATie) {
    // Gaps of at least 5 differ by at least 4.8e-7 when they differ at all,
    // which is above the tie tolerance: the wider one wins.
    const float x = std::nextafter(20.0f, 30.0f);  // column gap 10 + 2^-19
    const std::vector<SorterElement> elements{
        {1, 0, 0, 10, 10}, {2, x, 0, x + 10, 10}, {3, 0, 20, 10, 30}, {4, x, 20, x + 10, 30}};
    ASSERT_GT(x - 10.0f, 10.0f);
    const auto result = run(elements, true);
    EXPECT_EQ(result.order, (Ids{1, 3, 2, 4}));
    EXPECT_EQ(result.messages.front(), "[segment] vertical cut at x=15.0 (gap=10.0) on 4 elements");
}

TEST(OstrelSegmentChoice, OnlyValidGapIsCutEvenWhenNarrowerThanTheOther) {
    // The horizontal gap 4 is invalid, the vertical gap 6 valid.
    const std::vector<SorterElement> elements{{1, 0, 0, 10, 10}, {2, 16, 14, 26, 24}};
    const auto result = run(elements, true);
    EXPECT_EQ(result.messages.front(), "[segment] vertical cut at x=13.0 (gap=6.0) on 2 elements");
}

// ---- the second vertical search -----------------------------------------

// Two tall columns whose gap is bridged by a chain of narrow elements.
std::vector<SorterElement> bridged_columns() {
    return {
        {4, 46, 30, 55, 40},  // narrow, centre 50.5: right side
        {1, 0, 0, 40, 100},   // left column
        {5, 54, 50, 62, 60},  // narrow, centre 58: right side
        {3, 60, 0, 100, 100}, // right column
        {2, 38, 10, 47, 20},  // narrow, centre 42.5: left side
    };
}

TEST(OstrelSegmentNarrow, ColumnGapBridgedByNarrowElementsIsFound) {
    const auto elements = bridged_columns();
    EXPECT_EQ(find_vertical_gap(refs(elements)).gap, 0.0f);
    const auto result = run(elements, false);
    EXPECT_EQ(result.order, (Ids{1, 2, 3, 4, 5}));
    EXPECT_EQ(result.messages,
              (Messages{"[segment] vertical cut at x=50.0 (gap=20.0) on 5 elements",
                        "[segment] split into 2 groups: 2, 3",
                        "[segment] no valid cuts for 2 elements, falling back to y-then-x sort",
                        "[segment] no valid cuts for 3 elements, falling back to y-then-x sort"}));
}

TEST(OstrelSegmentNarrow, WiderHorizontalGapStillBeatsTheNarrowColumnGap) {
    auto elements = bridged_columns();
    elements.push_back({6, 0, 130, 100, 140});  // a footer 30 below everything
    const auto result = run(elements, false);
    EXPECT_EQ(result.messages.front(), "[segment] horizontal cut at y=115.0 (gap=30.0) on 6 elements");
    EXPECT_EQ(result.order, (Ids{1, 2, 3, 4, 5, 6}));
}

TEST(OstrelSegmentNarrow, AllElementsWideMeansNoSecondSearch) {
    // Equal-width rows: every element is wide, so the second search is skipped.
    const std::vector<SorterElement> rows{{1, 0, 0, 10, 10}, {2, 0, 20, 10, 30}, {3, 0, 40, 10, 50}};
    const auto result = run(rows, false);
    EXPECT_EQ(result.messages.front(), "[segment] horizontal cut at y=15.0 (gap=10.0) on 3 elements");
}

// ---- split and recursion ------------------------------------------------

TEST(OstrelSegmentSplit, EqualRowsPeelOffTheTopmostRowFirst) {
    const std::vector<SorterElement> rows{{3, 0, 40, 10, 50}, {1, 0, 0, 10, 10}, {2, 0, 20, 10, 30}};
    const auto result = run(rows, true);
    EXPECT_EQ(result.order, (Ids{1, 2, 3}));
    EXPECT_EQ(result.messages, (Messages{"[segment] horizontal cut at y=15.0 (gap=10.0) on 3 elements",
                                         "[segment] split into 2 groups: 1, 2",
                                         "[segment] horizontal cut at y=35.0 (gap=10.0) on 2 elements",
                                         "[segment] split into 2 groups: 1, 1"}));
}

TEST(OstrelSegmentSplit, FirstSideRecordsComeBeforeSecondSideRecords) {
    const std::vector<SorterElement> columns{
        {3, 110, 30, 200, 60}, {1, 0, 30, 90, 60}, {4, 110, 70, 200, 100}, {2, 0, 70, 90, 100}};
    const auto result = run(columns, false);
    EXPECT_EQ(result.order, (Ids{1, 2, 3, 4}));
    EXPECT_EQ(result.messages, (Messages{"[segment] vertical cut at x=100.0 (gap=20.0) on 4 elements",
                                         "[segment] split into 2 groups: 2, 2",
                                         "[segment] horizontal cut at y=65.0 (gap=10.0) on 2 elements",
                                         "[segment] split into 2 groups: 1, 1",
                                         "[segment] horizontal cut at y=65.0 (gap=10.0) on 2 elements",
                                         "[segment] split into 2 groups: 1, 1"}));
}

TEST(OstrelSegmentSplit, CutLeavingOneSideEmptyWarnsAndFallsBack) {
    // The upper box has a NaN y1: its edges are both 10 (a band opens below
    // it), but its centre is NaN, so it joins the lower box on the second side.
    const std::vector<SorterElement> elements{{2, 0, 20, 10, 30}, {1, 0, kNaN, 10, 10}};
    RecordingSink recorder;
    const auto ordered = segment(elements, true, recorder.sink());
    EXPECT_EQ(ids(ordered), (Ids{1, 2}));
    ASSERT_EQ(recorder.records().size(), 2u);
    EXPECT_EQ(recorder.records()[0].message, "[segment] horizontal cut at y=15.0 (gap=10.0) on 2 elements");
    EXPECT_EQ(recorder.records()[1].message,
              "[segment] cut produced only 1 group for 2 elements, falling back to y-then-x sort");
    EXPECT_EQ(recorder.records()[1].level, Level::Warn);
    EXPECT_EQ(recorder.records()[1].line, 279u);
}

TEST(OstrelSegmentSplit, ElementCentredOnTheCutGoesSecond) {
    // At 2^26 the float spacing is 8: the band between the flat box at 2^26
    // and the box starting 8 below has its middle rounded (half to even) back
    // onto 2^26, the flat box's centre. That box is not before the cut, so
    // both boxes land on the second side and the group falls back.
    const float base = 67108864.0f;
    const std::vector<SorterElement> elements{{2, 0, base + 8, 10, base + 16}, {1, 0, base, 10, base}};
    const auto result = run(elements, true);
    EXPECT_EQ(result.order, (Ids{1, 2}));
    EXPECT_EQ(result.messages,
              (Messages{"[segment] horizontal cut at y=67108864.0 (gap=8.0) on 2 elements",
                        "[segment] cut produced only 1 group for 2 elements, falling back to y-then-x sort"}));
}

TEST(OstrelSegmentSplit, TrivialGroupsEmitNothing) {
    EXPECT_EQ(run({}, true).order, Ids{});
    EXPECT_TRUE(run({}, true).messages.empty());
    const auto one = run({{9, 0, 0, 1, 1}}, true);
    EXPECT_EQ(one.order, Ids{9});
    EXPECT_TRUE(one.messages.empty());
}

TEST(OstrelSegmentSplit, RecordsCarryTheirLinesAndLevels) {
    const auto check = [](const std::vector<SorterElement>& elements, const std::vector<std::uint32_t>& lines) {
        RecordingSink recorder;
        segment(elements, false, recorder.sink());
        ASSERT_EQ(recorder.records().size(), lines.size());
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const auto& record = recorder.records()[i];
            EXPECT_EQ(record.line, lines[i]) << record.message;
            EXPECT_EQ(record.level, Level::Debug) << record.message;
            EXPECT_EQ(record.target, "velloray::ostrel");
            EXPECT_EQ(record.module_path, "vellora_sorter");
            EXPECT_EQ(record.file, std::string("src\\ostrel\\vellora_sorter\\src\\lib"));
        }
    };
    check(side_by_side(4.0f), {254});
    check(side_by_side(6.0f), {270, 287});
    check({{1, 0, 0, 10, 10}, {2, 0, 20, 10, 30}}, {263, 287});
}

TEST(OstrelSegmentSplit, DisabledRecordsDoNotChangeTheOrder) {
    const auto elements = bridged_columns();
    RecordingSink warn_only(Level::Warn);
    const auto quiet = segment(elements, false, warn_only.sink());
    EXPECT_TRUE(warn_only.records().empty());
    EXPECT_EQ(ids(quiet), run(elements, false).order);
    EXPECT_EQ(ids(segment(elements, false, DiagnosticSink::none())), run(elements, false).order);
}

// ---- depth --------------------------------------------------------------

// `count` equal rows: every cut peels off the top row, so a recursive
// implementation would nest count - 1 levels deep.
std::vector<SorterElement> peeling_rows(std::size_t count) {
    std::vector<SorterElement> rows;
    rows.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const float y = static_cast<float>(i) * 10.0f;
        rows.push_back({count - i, 0.0f, y, 100.0f, y + 5.0f});
    }
    return rows;
}

struct DeepRun {
    std::vector<SorterElement> input;
    std::vector<SorterElement> output;
};

void* run_deep(void* arg) {
    auto* job = static_cast<DeepRun*>(arg);
    job->output = segment(job->input, true, DiagnosticSink::none());
    return nullptr;
}

TEST(OstrelSegmentDepth, PeelingOneRowPerCutNeedsNoDeepStack) {
    // Every level sorts its group, so n peeling rows cost about n^2 / 2
    // element visits: 200,000 rows would take minutes. Instead the group is
    // ordered on a thread whose whole stack is 256 KiB; 12,000 levels of
    // recursion would need far more than that (over 20 bytes per level even
    // for an empty frame), so finishing at all shows the depth is not on the
    // call stack.
    constexpr std::size_t kRows = 12'000;
    DeepRun job{peeling_rows(kRows), {}};
    pthread_attr_t attr;
    ASSERT_EQ(pthread_attr_init(&attr), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attr, 256 * 1024), 0);
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, &attr, run_deep, &job), 0);
    ASSERT_EQ(pthread_join(thread, nullptr), 0);
    pthread_attr_destroy(&attr);

    ASSERT_EQ(job.output.size(), kRows);
    for (std::size_t i = 0; i < kRows; ++i) EXPECT_EQ(job.output[i].id, kRows - i) << i;
}

TEST(OstrelSegmentDepth, PeelingRecordsFollowTheDescent) {
    RecordingSink recorder;
    segment(peeling_rows(4), true, recorder.sink());
    EXPECT_EQ(recorder.messages(), (Messages{"[segment] horizontal cut at y=7.5 (gap=5.0) on 4 elements",
                                             "[segment] split into 2 groups: 1, 3",
                                             "[segment] horizontal cut at y=17.5 (gap=5.0) on 3 elements",
                                             "[segment] split into 2 groups: 1, 2",
                                             "[segment] horizontal cut at y=27.5 (gap=5.0) on 2 elements",
                                             "[segment] split into 2 groups: 1, 1"}));
}

}  // namespace
}  // namespace vellora::ostrel
