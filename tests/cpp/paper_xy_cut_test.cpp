#include <gtest/gtest.h>
#include <pthread.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>
#include <string>
#include <vector>

#include "paper/position_order.hpp"
#include "paper/xy_cut.hpp"
#include "paper_test_support.hpp"

namespace vellora::paper {
namespace {

using testing::box;
using testing::expect_paper_record;
using testing::RecordingSink;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();
const Region kSquarePage{0.0f, 0.0f, 1000.0f, 1000.0f};

std::vector<std::uint64_t> sequence(std::uint64_t count) {
    std::vector<std::uint64_t> ids(count);
    std::iota(ids.begin(), ids.end(), std::uint64_t{0});
    return ids;
}

// --- direction test -------------------------------------------------------

TEST(PaperDirection, OnlyCrossLayoutAspectRatiosMeansColumnsFirst) {
    EXPECT_TRUE(vertical_first(std::vector<ElementRecord>{
        box(1, 0, 0, 10, 10, SemanticLabel::CrossLayout)}));
    EXPECT_TRUE(vertical_first(std::vector<ElementRecord>{}));
}

TEST(PaperDirection, RatioOfSumsAgainstZeroPointNine) {
    // Cross-layout aspect 0.9 against other aspect 1: 0.9 is not above 0.9f.
    EXPECT_FALSE(vertical_first(std::vector<ElementRecord>{
        box(1, 0, 0, 9, 10, SemanticLabel::CrossLayout), box(2, 0, 0, 10, 10)}));
    EXPECT_TRUE(vertical_first(std::vector<ElementRecord>{
        box(1, 0, 0, 9.1f, 10, SemanticLabel::CrossLayout), box(2, 0, 0, 10, 10)}));
}

TEST(PaperDirection, ZeroHeightElementsAreLeftOutNaNHeightsAreNot) {
    // The Regular element has height 0 and does not count: the other sum stays 0.
    EXPECT_TRUE(vertical_first(std::vector<ElementRecord>{
        box(1, 0, 0, 10, 10, SemanticLabel::CrossLayout), box(2, 0, 5, 100, 5)}));
    // A NaN height makes the other sum NaN: the quotient comparison fails.
    EXPECT_FALSE(vertical_first(std::vector<ElementRecord>{
        box(1, 0, 0, 10, 10, SemanticLabel::CrossLayout), box(2, 0, kNaN, 100, 5)}));
}

// --- position order -------------------------------------------------------

TEST(PaperPositionOrder, RowKeysTruncateTowardZero) {
    EXPECT_EQ(row_key(box(1, 0, 15, 0, 15), 10.0f), 1);
    EXPECT_EQ(row_key(box(1, 0, 19.9f, 0, 19.9f), 10.0f), 1);
    EXPECT_EQ(row_key(box(1, 0, 20, 0, 20), 10.0f), 2);
    EXPECT_EQ(row_key(box(1, 0, -5, 0, -5), 10.0f), 0);
    EXPECT_EQ(row_key(box(1, 0, 5, 0, 5), 10.0f), 0);
    EXPECT_EQ(row_key(box(1, 0, kNaN, 0, 5), 10.0f), 0);
}

TEST(PaperPositionOrder, ZeroToleranceSaturatesRowKeys) {
    EXPECT_EQ(row_key(box(1, 0, 3, 0, 3), 0.0f), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(row_key(box(1, 0, -3, 0, -3), 0.0f), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(row_key(box(1, 0, 0, 0, 0), 0.0f), 0);
    // The largest float below 2**31 still converts exactly.
    EXPECT_EQ(row_key(box(1, 0, 2147483520.0f, 0, 2147483520.0f), 1.0f), 2147483520);
    EXPECT_EQ(row_key(box(1, 0, kInf, 0, kInf), 1.0f), std::numeric_limits<std::int32_t>::max());
}

TEST(PaperPositionOrder, SameRowByCentreXThenInputOrder) {
    std::vector<ElementRecord> elements = {
        box(1, 100, 20, 120, 20),  // centre y 20: row 2
        box(2, 50, 15, 60, 15),    // row 1, centre x 55
        box(3, 0, 19.9f, 20, 19.9f),  // row 1, centre x 10
        box(4, 0, 19.9f, 20, 19.9f),  // same keys as 3: stays after it
    };
    sort_by_position(elements, 10.0f);
    EXPECT_EQ(testing::ids_of(elements), (std::vector<std::uint64_t>{3, 4, 2, 1}));
}

TEST(PaperPositionOrder, CentreXUsesTotalOrder) {
    std::vector<ElementRecord> elements = {
        box(1, kNaN, 0, kNaN, 0), box(2, 0, 0, 0, 0), box(3, -0.0f, 0, -0.0f, 0),
        box(4, -kInf, 0, -kInf, 0), box(5, -kNaN, 0, -kNaN, 0)};
    sort_by_position(elements, 10.0f);
    EXPECT_EQ(testing::ids_of(elements), (std::vector<std::uint64_t>{5, 4, 3, 2, 1}));
}

TEST(PaperPositionOrder, NaNCentreTakesTheSignOfTheLeftEdge) {
    // (x1 + x2) * 0.5 with two NaN edges is the NaN of x1, so its sign bit
    // decides the end of the row the element sorts to.
    std::vector<ElementRecord> elements = {box(1, kNaN, 0, -kNaN, 0), box(2, 5, 0, 6, 0),
                                           box(3, -kNaN, 0, kNaN, 0)};
    sort_by_position(elements, 10.0f);
    EXPECT_EQ(testing::ids_of(elements), (std::vector<std::uint64_t>{3, 2, 1}));
}

// --- recursive cut --------------------------------------------------------

TEST(PaperXyCut, EmptyAndSingleElementAreSilent) {
    RecordingSink recording;
    EXPECT_TRUE(recursive_xy_cut({}, OrderConfig{}, kSquarePage, recording.sink()).empty());
    EXPECT_EQ(recursive_xy_cut({box(7, 0, 0, 1, 1)}, OrderConfig{}, {kNaN, kNaN, kNaN, kNaN},
                               recording.sink()),
              (IdList{7}));
    EXPECT_TRUE(recording.records().empty());
}

TEST(PaperXyCut, TwoColumnsBehindATopMarginCutThreeTimesThenByColumn) {
    RecordingSink recording;
    const IdList order = recursive_xy_cut({box(1, 0, 50, 490, 1000), box(2, 510, 50, 1000, 1000)},
                                          OrderConfig{}, kSquarePage, recording.sink());
    EXPECT_EQ(order, (IdList{1, 2}));
    const auto& records = recording.records();
    ASSERT_EQ(records.size(), 8u);
    expect_paper_record(records[0], Level::Debug, 164,
                        "[XYCut] Horizontal cut at y=24, splitting 2 elements");
    expect_paper_record(records[1], Level::Debug, 171, "  Top: 0 elements, Bottom: 2 elements");
    expect_paper_record(records[2], Level::Debug, 164,
                        "[XYCut] Horizontal cut at y=36, splitting 2 elements");
    expect_paper_record(records[3], Level::Debug, 171, "  Top: 0 elements, Bottom: 2 elements");
    expect_paper_record(records[4], Level::Debug, 164,
                        "[XYCut] Horizontal cut at y=42, splitting 2 elements");
    expect_paper_record(records[5], Level::Debug, 171, "  Top: 0 elements, Bottom: 2 elements");
    expect_paper_record(records[6], Level::Debug, 185,
                        "[XYCut] Vertical cut at x=500, splitting 2 elements");
    expect_paper_record(records[7], Level::Debug, 192, "  Left: 1 elements, Right: 1 elements");
}

TEST(PaperXyCut, CrossLayoutColumnsCutColumnsFirst) {
    RecordingSink recording;
    const IdList order =
        recursive_xy_cut({box(1, 0, 50, 490, 1000, SemanticLabel::CrossLayout),
                          box(2, 510, 50, 1000, 1000, SemanticLabel::CrossLayout)},
                         OrderConfig{}, kSquarePage, recording.sink());
    EXPECT_EQ(order, (IdList{1, 2}));
    ASSERT_GE(recording.records().size(), 2u);
    expect_paper_record(recording.records()[0], Level::Debug, 142,
                        "[XYCut] Vertical cut at x=500, splitting 2 elements (multi-column)");
    expect_paper_record(recording.records()[1], Level::Debug, 149,
                        "  Left: 1 elements, Right: 1 elements");
}

TEST(PaperXyCut, SixteenStackedCrossLayoutElementsSearchColumnsTwiceThenSort) {
    std::vector<ElementRecord> elements;
    for (std::uint64_t i = 0; i < 16; ++i) {
        const float top = static_cast<float>(i) * 10.0f;
        elements.push_back(box(i, 0, top, 1000, top + 10, SemanticLabel::CrossLayout));
    }
    RecordingSink recording;
    const IdList order =
        recursive_xy_cut(elements, OrderConfig{}, {0, 0, 1000, 160}, recording.sink());
    EXPECT_EQ(order, sequence(16));
    const auto& records = recording.records();
    ASSERT_EQ(records.size(), 3u);
    expect_paper_record(records[0], Level::Debug, 253,
                        "[Histogram] Vertical: 500 bins, min_gap=7, x_range=0-1000");
    expect_paper_record(records[1], Level::Debug, 253,
                        "[Histogram] Vertical: 500 bins, min_gap=7, x_range=0-1000");
    expect_paper_record(records[2], Level::Debug, 205,
                        "[XYCut] No cuts found, sorting 16 elements by position");
}

TEST(PaperXyCut, CentreOnTheCutGoesRight) {
    // The zero-width element 3 covers no bin and is centred exactly on x=500.
    RecordingSink recording;
    const IdList order = recursive_xy_cut(
        {box(1, 0, 0, 490, 1000), box(2, 510, 0, 1000, 1000), box(3, 500, 0, 500, 1000)},
        OrderConfig{}, kSquarePage, recording.sink());
    EXPECT_EQ(order, (IdList{1, 3, 2}));
    const auto messages = recording.messages();
    ASSERT_GE(messages.size(), 2u);
    EXPECT_EQ(messages[0], "[XYCut] Vertical cut at x=500, splitting 3 elements");
    EXPECT_EQ(messages[1], "  Left: 1 elements, Right: 2 elements");
}

TEST(PaperXyCut, ZeroHeightElementIsStillSplitAndSorted) {
    const IdList order = recursive_xy_cut(
        {box(1, 0, 0, 490, 1000), box(2, 510, 0, 1000, 1000), box(3, 100, 500, 200, 500)},
        OrderConfig{}, kSquarePage, DiagnosticSink::none());
    EXPECT_EQ(order, (IdList{3, 1, 2}));
}

TEST(PaperXyCut, CutOnTheRegionEdgeThatMovesNothingCountsAsNoCut) {
    // With a minimum gap of 0 the empty bin 0 above both elements yields a
    // cut at the top edge that would send both elements into the same region
    // again. It is skipped; the column cut follows.
    RecordingSink recording;
    const OrderConfig config{0.0f, 0.5f, 10.0f};
    const IdList order = recursive_xy_cut({box(1, 0, 2, 10, 10), box(2, 20, 2, 30, 10)}, config,
                                          {0, 0, 30, 10}, recording.sink());
    EXPECT_EQ(order, (IdList{1, 2}));
    EXPECT_EQ(recording.messages(),
              (std::vector<std::string>{"[XYCut] Vertical cut at x=14, splitting 2 elements",
                                        "  Left: 1 elements, Right: 1 elements"}));
}

TEST(PaperXyCut, EdgeCutsOnBothAxesFallBackToThePositionSort) {
    RecordingSink recording;
    const OrderConfig config{0.0f, 0.5f, 10.0f};
    const IdList order = recursive_xy_cut(
        {box(1, 2, 2, 10, 10, SemanticLabel::CrossLayout), box(2, 2, 2, 10, 10)}, config,
        {0, 0, 10, 10}, recording.sink());
    EXPECT_EQ(order, (IdList{1, 2}));
    EXPECT_EQ(recording.messages(),
              (std::vector<std::string>{"[XYCut] No cuts found, sorting 2 elements by position"}));
}

TEST(PaperXyCut, LargeEdgeSwallowingTheOffsetTerminates) {
    // Next to 1e9 (spacing 64) the column cut 1e9 + 32 rounds back onto the
    // left edge and would move nothing; the row cut follows instead.
    RecordingSink recording;
    const IdList order =
        recursive_xy_cut({box(1, 1e9f + 64, 0, 1e9f + 256, 10, SemanticLabel::CrossLayout),
                          box(2, 1e9f + 64, 20, 1e9f + 256, 30, SemanticLabel::CrossLayout)},
                         OrderConfig{0.0f, 1.0f, 10.0f}, {1e9f, 0, 1e9f + 256, 30},
                         recording.sink());
    EXPECT_EQ(order, (IdList{1, 2}));
    EXPECT_EQ(recording.messages(),
              (std::vector<std::string>{"[XYCut] Horizontal cut at y=15, splitting 2 elements",
                                        "  Top: 1 elements, Bottom: 1 elements"}));
}

TEST(PaperXyCut, CutRoundedPastTheFarEdgeIsStillACut) {
    // 2**24 + 4 bins of width 1 from -16777218: the two empty bins at the
    // bottom give position 16777219, which rounds to the bin count, so the cut
    // lands at -16777218 + 16777220 = 2, below the bottom edge 1. Both
    // elements go to the top, whose region (bottom edge 2) differs from the
    // current one: a real cut. One level down the same cut equals the bottom
    // edge and moves nothing, so that level sorts by position.
    RecordingSink recording;
    const IdList order = recursive_xy_cut(
        {box(1, 0, -16777218.0f, 10, 0), box(2, 0, -10, 10, -5)}, OrderConfig{2.0f, 1.0f, 10.0f},
        {0.0f, -16777218.0f, 10.0f, 1.0f}, recording.sink());
    EXPECT_EQ(order, (IdList{1, 2}));
    EXPECT_EQ(recording.messages(),
              (std::vector<std::string>{"[XYCut] Horizontal cut at y=2, splitting 2 elements",
                                        "  Top: 2 elements, Bottom: 0 elements",
                                        "[XYCut] No cuts found, sorting 2 elements by position"}));
}

TEST(PaperXyCut, RepeatedIdsStayRepeated) {
    const IdList order = recursive_xy_cut(
        {box(5, 0, 0, 490, 1000), box(5, 510, 0, 1000, 1000), box(5, 0, 0, 490, 1000)},
        OrderConfig{}, kSquarePage, DiagnosticSink::none());
    EXPECT_EQ(order, (IdList{5, 5, 5}));
}

// --- depth ----------------------------------------------------------------

// A staircase of alternating bars in which every cut peels off exactly one
// element: bar 2i lies above everything after it, bar 2i+1 left of
// everything after it, and each bar bridges the gap that frees the next one.
// The cut therefore nests about twice as deep as there are elements.
std::vector<ElementRecord> peeling_staircase(int count) {
    const float step = 5.0f;
    std::vector<ElementRecord> elements;
    for (int k = 0; k < count; ++k) {
        const float i = static_cast<float>(k / 2);
        const auto id = static_cast<std::uint64_t>(k);
        if (k % 2 == 0) {
            elements.push_back(box(id, i * step, i * step, (i + 1) * step, i * step + 1));
        } else {
            elements.push_back(box(id, i * step, (i + 1) * step, i * step + 1, (i + 2) * step));
        }
    }
    return elements;
}

Region extent_of(const std::vector<ElementRecord>& elements) {
    Region region;
    for (const auto& element : elements) {
        region.right = std::max(region.right, element.x2);
        region.bottom = std::max(region.bottom, element.y2);
    }
    return region;
}

TEST(PaperXyCutDepth, StaircasePeelsOneElementPerCut) {
    const auto elements = peeling_staircase(40);
    RecordingSink recording;
    const IdList order = recursive_xy_cut(elements, OrderConfig{3.0f, 1.0f, 10.0f},
                                          extent_of(elements), recording.sink());
    EXPECT_EQ(order, sequence(40));
    int peeled = 0;
    for (const auto& message : recording.messages()) {
        if (message == "  Top: 1 elements, Bottom: " + std::to_string(39 - peeled) + " elements" ||
            message == "  Left: 1 elements, Right: " + std::to_string(39 - peeled) + " elements") {
            ++peeled;
        }
    }
    EXPECT_EQ(peeled, 39);
}

struct DeepRun {
    std::vector<ElementRecord> elements;
    Region region;
    IdList order;
};

void* run_deep_cut(void* argument) {
    auto* run = static_cast<DeepRun*>(argument);
    run->order = recursive_xy_cut(run->elements, OrderConfig{3.0f, 1.0f, 10.0f}, run->region,
                                  DiagnosticSink::none());
    return nullptr;
}

TEST(PaperXyCutDepth, ThousandsOfNestedCutsFitInASmallThreadStack) {
    // About 4000 nested cuts on a 128 KiB stack: call recursion would need
    // far more than 32 bytes per level.
    DeepRun run;
    run.elements = peeling_staircase(2000);
    run.region = extent_of(run.elements);
    pthread_attr_t attributes;
    ASSERT_EQ(pthread_attr_init(&attributes), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attributes, 128 * 1024), 0);
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, &attributes, &run_deep_cut, &run), 0);
    ASSERT_EQ(pthread_join(thread, nullptr), 0);
    pthread_attr_destroy(&attributes);
    EXPECT_EQ(run.order, sequence(2000));
}

TEST(PaperXyCutDepth, TwoHundredThousandElementStaircase) {
    // Blocks stepping down and to the right with gaps narrower than the
    // minimum gap, which the scan adds up into ever longer runs.
    const std::uint64_t count = 200000;
    std::vector<ElementRecord> elements;
    elements.reserve(count);
    for (std::uint64_t i = 0; i < count; ++i) {
        const float x = static_cast<float>(i);
        const float y = static_cast<float>(i) * 10.0f;
        elements.push_back(box(i, x, y, x + 1, y + 2));
    }
    const IdList order = recursive_xy_cut(elements, OrderConfig{6.0f, 0.5f, 10.0f},
                                          extent_of(elements), DiagnosticSink::none());
    EXPECT_EQ(order, sequence(count));
}

// --- invariants -----------------------------------------------------------

// Small deterministic generator of awkward coordinates.
class AwkwardValues {
public:
    explicit AwkwardValues(std::uint32_t seed) : state_(seed) {}

    std::uint32_t next() {
        state_ = state_ * 1664525u + 1013904223u;
        return state_ >> 8;
    }

    float coordinate() {
        switch (next() % 12) {
        case 0: return kNaN;
        case 1: return kInf;
        case 2: return -kInf;
        case 3: return -0.0f;
        default: return static_cast<float>(next() % 1200) - 100.0f;
        }
    }

private:
    std::uint32_t state_;
};

TEST(PaperXyCutInvariants, EveryIdComesBackOnceWhateverTheGeometry) {
    for (std::uint32_t seed = 1; seed <= 200; ++seed) {
        AwkwardValues values(seed);
        std::vector<ElementRecord> elements;
        const std::uint32_t count = values.next() % 40;
        for (std::uint32_t i = 0; i < count; ++i) {
            elements.push_back(box(values.next() % 8, values.coordinate(), values.coordinate(),
                                   values.coordinate(), values.coordinate(),
                                   static_cast<SemanticLabel>(values.next() % 5)));
        }
        const float threshold = static_cast<float>(values.next() % 40) - 5.0f;
        const float scale = static_cast<float>(values.next() % 9) * 0.25f - 0.5f;
        const IdList order = recursive_xy_cut(elements, OrderConfig{threshold, scale, 10.0f},
                                              kSquarePage, DiagnosticSink::none());
        EXPECT_TRUE(testing::is_permutation_of_ids(order, elements)) << "seed " << seed;
    }
}

}  // namespace
}  // namespace vellora::paper
