#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "paper/histogram.hpp"
#include "paper/masking.hpp"
#include "paper_test_support.hpp"
#include "vellora/errors.hpp"
#include "vellora/paper.hpp"

namespace vellora {
namespace {

using testing::box;
using testing::expect_paper_record;
using testing::RecordingSink;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();
const PageBox kSquarePage{0.0f, 0.0f, 1000.0f, 1000.0f};

IdList order_of(std::vector<ElementRecord> elements, const PageBox& page,
                RecordingSink& recording, std::optional<OrderConfig> config = std::nullopt) {
    return compute_paper_order(std::move(elements), page, config, recording.sink());
}

// --- page validation ------------------------------------------------------

TEST(PaperDriverPage, EmptyInputNeedsNoValidPage) {
    RecordingSink recording;
    EXPECT_TRUE(order_of({}, PageBox{0, 0, 0, 0}, recording).empty());
    EXPECT_TRUE(recording.records().empty());
}

TEST(PaperDriverPage, ZeroWidthPageWarnsAndGivesNothing) {
    RecordingSink recording;
    EXPECT_TRUE(order_of({box(1, 0, 0, 10, 10)}, PageBox{0, 0, 0, 792}, recording).empty());
    ASSERT_EQ(recording.records().size(), 1u);
    expect_paper_record(recording.records()[0], Level::Warn, 63,
                        "Invalid page dimensions (0, 792)");
}

TEST(PaperDriverPage, NaNRightEdgeIsWrittenAsNaN) {
    RecordingSink recording;
    EXPECT_TRUE(order_of({box(1, 0, 0, 10, 10)}, PageBox{0, 0, kNaN, 1000}, recording).empty());
    EXPECT_EQ(recording.messages(),
              (std::vector<std::string>{"Invalid page dimensions (NaN, 1000)"}));
}

TEST(PaperDriverPage, NegativeAndInfiniteExtents) {
    RecordingSink recording;
    EXPECT_TRUE(order_of({box(1, 0, 0, 10, 10)}, PageBox{12.5f, 0, 0, 1e20f}, recording).empty());
    EXPECT_TRUE(order_of({box(1, 0, 0, 10, 10)}, PageBox{0, -kInf, 10, 0}, recording).empty());
    EXPECT_TRUE(order_of({box(1, 0, 0, 10, 10)}, PageBox{0, 0, 10, -0.0f}, recording).empty());
    EXPECT_EQ(recording.messages(),
              (std::vector<std::string>{
                  "Invalid page dimensions (-12.5, 100000000000000000000)",
                  "Invalid page dimensions (10, inf)",
                  "Invalid page dimensions (10, -0)"}));
}

TEST(PaperDriverPage, SubnormalExtentIsPositive) {
    RecordingSink recording;
    const float tiny = std::numeric_limits<float>::denorm_min();
    EXPECT_EQ(order_of({box(1, 0, 0, 10, 10)}, PageBox{0, 0, tiny, tiny}, recording), IdList{1});
    EXPECT_TRUE(recording.records().empty());
}

TEST(PaperDriverPage, WarningIsNotFormattedWhenWarningsAreOff) {
    RecordingSink recording(Level::Error);
    EXPECT_TRUE(order_of({box(1, 0, 0, 10, 10)}, PageBox{0, 0, 0, 792}, recording).empty());
    EXPECT_TRUE(recording.records().empty());
}

// --- median and spanning --------------------------------------------------

TEST(PaperMasking, MedianOfTwoWidthsTimesOnePointThree) {
    EXPECT_EQ(paper::span_threshold(std::vector<ElementRecord>{box(1, 0, 0, 100, 10),
                                                               box(2, 0, 0, 300, 10)}),
              260.0f);
    EXPECT_EQ(paper::kSpanWidthFactor, 1.29999995231628418f);
}

TEST(PaperMasking, WideElementNeedsTwoOverlaps) {
    const ElementRecord wide = box(1, 0, 0, 500, 100);
    const std::vector<ElementRecord> one = {wide, box(2, 0, 50, 100, 150), box(3, 0, 300, 100, 400)};
    EXPECT_EQ(paper::spanning_flags(one, 130.0f), (std::vector<bool>{false, false, false}));
    const std::vector<ElementRecord> two = {wide, box(2, 0, 50, 100, 150),
                                            box(3, 200, 50, 300, 150)};
    EXPECT_EQ(paper::spanning_flags(two, 130.0f), (std::vector<bool>{true, false, false}));
}

TEST(PaperMasking, TouchingEdgesAndSharedIdsDoNotCount) {
    const ElementRecord wide = box(1, 0, 0, 500, 100);
    const std::vector<ElementRecord> touching = {wide, box(2, 0, 100, 100, 200),
                                                 box(3, 500, 0, 600, 100)};
    EXPECT_EQ(paper::spanning_flags(touching, 130.0f), (std::vector<bool>{false, false, false}));
    const std::vector<ElementRecord> same_id = {wide, box(1, 0, 50, 100, 150),
                                                box(3, 200, 50, 300, 150)};
    EXPECT_EQ(paper::spanning_flags(same_id, 130.0f), (std::vector<bool>{false, false, false}));
}

TEST(PaperMasking, NaNThresholdMakesNothingSpanning) {
    const std::vector<ElementRecord> elements = {box(1, 0, 0, 500, 100), box(2, 0, 50, 100, 150),
                                                 box(3, 200, 50, 300, 150)};
    EXPECT_EQ(paper::spanning_flags(elements, kNaN), (std::vector<bool>{false, false, false}));
}

TEST(PaperMasking, LabelsAndSpanningDecideThePartition) {
    const std::vector<ElementRecord> elements = {
        box(1, 0, 0, 10, 10, SemanticLabel::CrossLayout),
        box(2, 0, 20, 10, 30, SemanticLabel::HorizontalTitle),
        box(3, 0, 40, 10, 50, SemanticLabel::VerticalTitle),
        box(4, 0, 60, 10, 70, SemanticLabel::Vision),
        box(5, 0, 80, 10, 90, SemanticLabel::Regular)};
    const paper::Partition parts = paper::partition_elements(elements, 13.0f);
    EXPECT_EQ(testing::ids_of(parts.masked), (std::vector<std::uint64_t>{2, 3, 4}));
    EXPECT_EQ(testing::ids_of(parts.regular), (std::vector<std::uint64_t>{1, 5}));
}

// --- whole pipeline -------------------------------------------------------

TEST(PaperDriver, SingleRegularElement) {
    RecordingSink recording;
    EXPECT_EQ(order_of({box(4, 0, 0, 10, 10)}, kSquarePage, recording), IdList{4});
    EXPECT_TRUE(recording.records().empty());
}

TEST(PaperDriver, SingleFigureIsAppendedWithAWarning) {
    RecordingSink recording;
    EXPECT_EQ(order_of({box(4, 0, 0, 10, 10, SemanticLabel::Vision)}, kSquarePage, recording),
              IdList{4});
    ASSERT_EQ(recording.records().size(), 1u);
    expect_paper_record(recording.records()[0], Level::Warn, 414,
                        "No valid insertion for element 4 (Vision), appending");
}

TEST(PaperDriver, TwoColumnPageRecordSequence) {
    RecordingSink recording;
    const IdList order = order_of({box(1, 0, 50, 490, 1000), box(2, 510, 50, 1000, 1000)},
                                  kSquarePage, recording);
    EXPECT_EQ(order, (IdList{1, 2}));
    const auto& records = recording.records();
    ASSERT_EQ(records.size(), 8u);
    const std::uint32_t lines[] = {164, 171, 164, 171, 164, 171, 185, 192};
    const char* messages[] = {
        "[XYCut] Horizontal cut at y=24, splitting 2 elements",
        "  Top: 0 elements, Bottom: 2 elements",
        "[XYCut] Horizontal cut at y=36, splitting 2 elements",
        "  Top: 0 elements, Bottom: 2 elements",
        "[XYCut] Horizontal cut at y=42, splitting 2 elements",
        "  Top: 0 elements, Bottom: 2 elements",
        "[XYCut] Vertical cut at x=500, splitting 2 elements",
        "  Left: 1 elements, Right: 1 elements",
    };
    for (std::size_t i = 0; i < records.size(); ++i) {
        expect_paper_record(records[i], Level::Debug, lines[i], messages[i]);
    }
}

TEST(PaperDriver, DebugRecordsAreNotFormattedWhenOnlyWarningsPass) {
    RecordingSink recording(Level::Warn);
    EXPECT_EQ(order_of({box(1, 0, 50, 490, 1000), box(2, 510, 50, 1000, 1000)}, kSquarePage,
                       recording),
              (IdList{1, 2}));
    EXPECT_TRUE(recording.records().empty());
}

TEST(PaperDriver, NarrowCrossLayoutIsOrderedByTheCut) {
    RecordingSink recording;
    const IdList order = order_of({box(2, 510, 50, 1000, 1000, SemanticLabel::CrossLayout),
                                   box(1, 0, 50, 490, 1000, SemanticLabel::CrossLayout)},
                                  kSquarePage, recording);
    EXPECT_EQ(order, (IdList{1, 2}));
    ASSERT_FALSE(recording.records().empty());
    EXPECT_EQ(recording.records()[0].message,
              "[XYCut] Vertical cut at x=500, splitting 2 elements (multi-column)");
}

TEST(PaperDriver, SpanningRegularElementIsMaskedAndPlacedLast) {
    // Two columns of two blocks and a wide block straddling the upper row.
    RecordingSink recording;
    const IdList order = order_of(
        {box(1, 0, 100, 400, 200), box(2, 600, 100, 1000, 200), box(3, 0, 600, 400, 700),
         box(4, 600, 600, 1000, 700), box(5, 100, 150, 900, 180),
         box(6, 0, 0, 1000, 50, SemanticLabel::HorizontalTitle)},
        kSquarePage, recording);
    EXPECT_TRUE(testing::is_permutation_of_ids(
        order, {box(1, 0, 0, 0, 0), box(2, 0, 0, 0, 0), box(3, 0, 0, 0, 0), box(4, 0, 0, 0, 0),
                box(5, 0, 0, 0, 0), box(6, 0, 0, 0, 0)}));
    const auto messages = recording.messages();
    ASSERT_GE(messages.size(), 2u);
    EXPECT_EQ(messages[messages.size() - 2].rfind("[INSERT] Masked element 6 (HorizontalTitle)", 0),
              0u);
    EXPECT_EQ(messages.back().rfind("[INSERT] Masked element 5 (Regular)", 0), 0u);
    EXPECT_EQ(order.front(), 6u);
}

TEST(PaperDriver, ConfigurationIsPassedThrough) {
    // With a minimum gap larger than the page no cut is possible.
    RecordingSink recording;
    const IdList order = order_of({box(1, 510, 50, 1000, 1000), box(2, 0, 50, 490, 1000)},
                                  kSquarePage, recording, OrderConfig{5000.0f, 0.5f, 10.0f});
    EXPECT_EQ(order, (IdList{2, 1}));
    EXPECT_EQ(recording.messages(),
              (std::vector<std::string>{"[XYCut] No cuts found, sorting 2 elements by position"}));
}

TEST(PaperDriver, HugePageFaultsAtTwoToTheSixtyBins) {
    RecordingSink recording;
    // Rows overlap, so the row search fails and the column search needs 2**60 bins.
    const float width = 2305843009213693952.0f;  // 2**61
    const std::vector<ElementRecord> elements = {box(1, 0, 0, 10, 100), box(2, 20, 0, 30, 100)};
    EXPECT_THROW(compute_paper_order(elements, PageBox{0, 0, width, 100}, std::nullopt,
                                     recording.sink()),
                 InternalFault);
}

TEST(PaperDriver, HugePageBelowTheFaultLimitIsOrdered) {
    RecordingSink recording;
    const float width = 1e17f;
    const std::vector<ElementRecord> elements = {box(1, 0, 0, 10, 100), box(2, 20, 0, 30, 100)};
    EXPECT_EQ(compute_paper_order(elements, PageBox{0, 0, width, 100}, std::nullopt,
                                  recording.sink()),
              (IdList{1, 2}));
}

TEST(PaperDriver, WideHistogramsAreSearchedByElementsNotByBins) {
    // 2**27 bins (a GiB of counters) for every column search of a 20-step
    // diagonal: counting bin by bin took seconds per search.
    std::vector<ElementRecord> elements;
    for (std::uint64_t i = 0; i < 20; ++i) {
        const float at = static_cast<float>(i) * 10.0f;
        elements.push_back(box(i, at, at, at + 5.0f, at + 5.0f));
    }
    RecordingSink recording;
    const IdList order = order_of(elements, PageBox{0, 0, 268435456.0f, 1000}, recording);
    EXPECT_EQ(order, testing::ids_of(elements));
}

TEST(PaperDriver, RepeatedIdsComeBackRepeated) {
    RecordingSink recording;
    const std::vector<ElementRecord> elements = {
        box(3, 0, 0, 100, 100), box(3, 0, 500, 100, 600, SemanticLabel::Vision),
        box(3, 500, 0, 600, 100, SemanticLabel::HorizontalTitle)};
    const IdList order = order_of(elements, kSquarePage, recording);
    EXPECT_EQ(order, (IdList{3, 3, 3}));
}

// Deterministic awkward pages through the whole pipeline.
TEST(PaperDriverInvariants, ResultIsAPermutationOfTheInputIds) {
    std::uint32_t state = 7;
    const auto next = [&] {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    };
    const auto coordinate = [&]() -> float {
        switch (next() % 14) {
        case 0: return kNaN;
        case 1: return kInf;
        case 2: return -kInf;
        case 3: return -0.0f;
        default: return static_cast<float>(next() % 1100) - 50.0f;
        }
    };
    for (int page = 0; page < 300; ++page) {
        std::vector<ElementRecord> elements;
        const std::uint32_t count = next() % 30;
        for (std::uint32_t i = 0; i < count; ++i) {
            elements.push_back(box(next() % 10, coordinate(), coordinate(), coordinate(),
                                   coordinate(), static_cast<SemanticLabel>(next() % 5)));
        }
        const OrderConfig config{static_cast<float>(next() % 30) - 5.0f,
                                 static_cast<float>(next() % 6) * 0.25f - 0.25f,
                                 static_cast<float>(next() % 30) - 5.0f};
        const IdList order = compute_paper_order(elements, kSquarePage, config,
                                                 DiagnosticSink::none());
        EXPECT_TRUE(testing::is_permutation_of_ids(order, elements)) << "page " << page;
    }
}

}  // namespace
}  // namespace vellora
