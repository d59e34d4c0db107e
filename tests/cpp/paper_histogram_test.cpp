#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "paper/histogram.hpp"
#include "paper_test_support.hpp"
#include "vellora/errors.hpp"

namespace vellora::paper {
namespace {

using testing::box;
using testing::RecordingSink;

// Histogram from a picture: 'x' is an occupied bin, '.' an empty one. Each
// 'x' is a span of its own, so neighbouring occupied bins are adjacent spans.
std::optional<std::uint64_t> scan(const std::string& picture, std::uint64_t min_gap) {
    std::vector<CoveredBins> covered;
    for (std::uint64_t bin = 0; bin < picture.size(); ++bin) {
        if (picture[bin] == 'x') covered.push_back({bin, bin + 1});
    }
    return scan_gaps(covered, picture.size(), min_gap);
}

// Coverage of one span over 0..1000 with the default scale: 500 bins of 2.
std::vector<std::uint64_t> covered_bins(float lo, float hi) {
    std::vector<std::uint64_t> covered;
    if (const auto span = coverage(500, 0.0f, 2.0f, lo, hi)) {
        for (std::uint64_t bin = span->start; bin < span->end; ++bin) covered.push_back(bin);
    }
    return covered;
}

std::vector<std::uint64_t> range_of_bins(std::uint64_t first, std::uint64_t last) {
    std::vector<std::uint64_t> out;
    for (std::uint64_t bin = first; bin <= last; ++bin) out.push_back(bin);
    return out;
}

TEST(PaperGapScan, SeparateShortRunsAddUpAcrossAnOccupiedBin) {
    // Two runs of two count as one run of four from bin 1; its middle is the
    // occupied bin 3.
    EXPECT_EQ(scan("x..x..x", 3), std::optional<std::uint64_t>(3));
}

TEST(PaperGapScan, LongerLaterRunWins) {
    EXPECT_EQ(scan("x...x....x", 3), std::optional<std::uint64_t>(7));
}

TEST(PaperGapScan, FirstOfTwoEqualRunsWins) {
    EXPECT_EQ(scan("x...x...x", 3), std::optional<std::uint64_t>(2));
}

TEST(PaperGapScan, LeadingRun) {
    EXPECT_EQ(scan("....x", 3), std::optional<std::uint64_t>(2));
}

TEST(PaperGapScan, RunReachingTheUpperEdge) {
    EXPECT_EQ(scan("x...", 3), std::optional<std::uint64_t>(2));
}

TEST(PaperGapScan, SingleEmptyBinAtTheLowerEdgeWithMinGapOne) {
    EXPECT_EQ(scan(".x", 1), std::optional<std::uint64_t>(0));
}

TEST(PaperGapScan, NoQualifyingRun) {
    EXPECT_EQ(scan("x..x", 3), std::nullopt);
    EXPECT_EQ(scan("xxxx", 0), std::nullopt);
    EXPECT_EQ(scan("", 0), std::nullopt);
}

TEST(PaperGapScan, EqualTrailingRunStaysOpenAndMayStillGrow) {
    // The second run of three does not beat the first, stays open, and with
    // two more empty bins after the occupied one it becomes a run of five.
    EXPECT_EQ(scan("x...x...x..", 3), std::optional<std::uint64_t>(7));
}

TEST(PaperGapScan, TrailingRunMustBeStrictlyLonger) {
    EXPECT_EQ(scan("x...x...", 3), std::optional<std::uint64_t>(2));
}

TEST(PaperCoverage, SpanCoversFromTheBinOfItsLowEdgeToTheBinOfItsHighEdge) {
    EXPECT_EQ(covered_bins(10.0f, 20.0f), range_of_bins(5, 9));
    EXPECT_EQ(covered_bins(11.0f, 19.0f), range_of_bins(5, 9));
}

TEST(PaperCoverage, DegenerateSpansInsideOneBin) {
    EXPECT_TRUE(covered_bins(10.0f, 10.0f).empty());
    EXPECT_EQ(covered_bins(10.0f, 10.5f), range_of_bins(5, 5));
    EXPECT_EQ(covered_bins(10.5f, 10.5f), range_of_bins(5, 5));
    EXPECT_EQ(covered_bins(10.5f, 10.2f), range_of_bins(5, 5));
    EXPECT_TRUE(covered_bins(20.0f, 10.0f).empty());
}

TEST(PaperCoverage, PartsOutsideTheExtentAreCutOff) {
    EXPECT_EQ(covered_bins(-30.0f, 4.0f), range_of_bins(0, 1));
    EXPECT_EQ(covered_bins(990.0f, 1200.0f), range_of_bins(495, 499));
    EXPECT_TRUE(covered_bins(1200.0f, 1300.0f).empty());
    EXPECT_TRUE(covered_bins(-300.0f, -100.0f).empty());
}

TEST(PaperCoverage, NonFiniteSpans) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(covered_bins(-inf, inf), range_of_bins(0, 499));
    EXPECT_EQ(covered_bins(nan, nan), range_of_bins(0, 499));
    EXPECT_EQ(covered_bins(nan, 4.0f), range_of_bins(0, 1));
    EXPECT_TRUE(covered_bins(inf, inf).empty());
}

TEST(PaperGapScan, OverlappingAndNestedSpansInAnyOrder) {
    // Occupied: 5-9 and 8-14 overlapping, 20-21 with 20 nested in it, 495-499.
    const std::vector<CoveredBins> covered = {
        {495, 500}, {8, 15}, {20, 22}, {5, 10}, {20, 21}};
    // Empty: 0-4 (5 bins), 15-19 (5) and 22-494 (473). With a minimum gap of
    // 5 the first run is recorded, the second stays open across 20-21 and
    // grows to 478 bins from bin 15.
    EXPECT_EQ(scan_gaps(covered, 500, 5), std::optional<std::uint64_t>(15 + 478 / 2));
    // With 6 the first two add up to 10 bins from bin 0; the third is longer.
    EXPECT_EQ(scan_gaps(covered, 500, 6), std::optional<std::uint64_t>(22 + 473 / 2));
    // With 474 all three add up to one run of 483 bins from bin 0.
    EXPECT_EQ(scan_gaps(covered, 500, 474), std::optional<std::uint64_t>(483 / 2));
    EXPECT_EQ(scan_gaps({{0, 500}}, 500, 0), std::nullopt);
    EXPECT_EQ(scan_gaps({}, 500, 600), std::nullopt);
    EXPECT_EQ(scan_gaps({}, 500, 500), std::optional<std::uint64_t>(250));
}

TEST(PaperBinCount, TruncatesAndRefusesNegativeOrNaN) {
    EXPECT_EQ(bin_count(1000.0f, 0.5f), 500u);
    EXPECT_EQ(bin_count(1.9f, 0.5f), 0u);
    EXPECT_EQ(bin_count(1000.0f, 0.0f), 0u);
    EXPECT_EQ(bin_count(1000.0f, -0.5f), 0u);
    EXPECT_EQ(bin_count(-1000.0f, 0.5f), 0u);
    EXPECT_EQ(bin_count(std::numeric_limits<float>::quiet_NaN(), 0.5f), 0u);
    EXPECT_EQ(bin_count(std::numeric_limits<float>::infinity(), 0.5f),
              std::numeric_limits<std::uint64_t>::max());
}

TEST(PaperHorizontalSearch, StackedBlocksWithNarrowGapsStillCutWhereTheGapsAddUp) {
    const std::vector<ElementRecord> elements = {box(0, 0, 0, 1000, 300), box(1, 0, 310, 1000, 600),
                                                 box(2, 0, 610, 1000, 1000)};
    EXPECT_EQ(find_horizontal_cut(elements, 15.0f, 0.5f, 0.0f, 1000.0f),
              std::optional<float>(310.0f));
}

TEST(PaperHorizontalSearch, ZeroBinsGiveNoCut) {
    const std::vector<ElementRecord> elements = {box(0, 0, 0, 10, 10), box(1, 0, 500, 10, 510)};
    EXPECT_EQ(find_horizontal_cut(elements, 15.0f, 0.5f, 0.0f, 1.9f), std::nullopt);
    EXPECT_EQ(find_horizontal_cut(elements, 15.0f, 0.0f, 0.0f, 1000.0f), std::nullopt);
    EXPECT_EQ(find_horizontal_cut(elements, 15.0f, -0.5f, 0.0f, 1000.0f), std::nullopt);
    EXPECT_EQ(find_horizontal_cut(elements, 15.0f, 0.5f, 1000.0f, 0.0f), std::nullopt);
}

std::vector<ElementRecord> two_columns(int rows_per_column) {
    std::vector<ElementRecord> elements;
    std::uint64_t id = 0;
    for (int column = 0; column < 2; ++column) {
        for (int row = 0; row < rows_per_column; ++row) {
            const float x1 = column == 0 ? 0.0f : 510.0f;
            const float y1 = static_cast<float>(row) * 100.0f;
            elements.push_back(box(id++, x1, y1, x1 + 490.0f, y1 + 100.0f));
        }
    }
    return elements;
}

TEST(PaperVerticalSearch, SixteenElementsReportTheHistogramAndTheGap) {
    RecordingSink recording;
    const auto cut = find_vertical_cut(two_columns(8), 15.0f, 0.5f, 0.0f, 1000.0f,
                                       recording.sink());
    EXPECT_EQ(cut, std::optional<float>(500.0f));
    ASSERT_EQ(recording.records().size(), 2u);
    testing::expect_paper_record(recording.records()[0], Level::Debug, 253,
                                 "[Histogram] Vertical: 500 bins, min_gap=7, x_range=0-1000");
    testing::expect_paper_record(recording.records()[1], Level::Debug, 264,
                                 "[Histogram] Found gap at bin 250, x=500");
}

TEST(PaperVerticalSearch, FifteenElementsAreSilent) {
    RecordingSink recording;
    auto elements = two_columns(8);
    elements.pop_back();
    EXPECT_EQ(find_vertical_cut(elements, 15.0f, 0.5f, 0.0f, 1000.0f, recording.sink()),
              std::optional<float>(500.0f));
    EXPECT_TRUE(recording.records().empty());
}

TEST(PaperVerticalSearch, HistogramEventEvenWithoutBins) {
    RecordingSink recording;
    EXPECT_EQ(find_vertical_cut(two_columns(8), 15.0f, 0.0f, 0.0f, 1000.0f, recording.sink()),
              std::nullopt);
    EXPECT_EQ(recording.messages(), std::vector<std::string>{
                                        "[Histogram] Vertical: 0 bins, min_gap=0, x_range=0-1000"});
}

TEST(PaperVerticalSearch, RoundsEdgesHalfToEvenInTheHistogramEvent) {
    RecordingSink recording;
    find_vertical_cut(two_columns(8), 15.0f, 0.5f, 0.5f, 1002.5f, recording.sink());
    ASSERT_FALSE(recording.records().empty());
    EXPECT_EQ(recording.records()[0].message,
              "[Histogram] Vertical: 501 bins, min_gap=7, x_range=0-1002");
}

TEST(PaperHistogramMemory, AtTwoToTheSixtyBinsTheCallFaults) {
    const std::vector<ElementRecord> elements = {box(0, 0, 0, 10, 10), box(1, 20, 0, 30, 10)};
    const float huge = 1152921504606846976.0f;  // 2**60
    EXPECT_THROW(find_horizontal_cut(elements, 15.0f, 1.0f, 0.0f, huge), InternalFault);
    try {
        check_bin_count(kMaxBins);
        FAIL() << "no fault";
    } catch (const InternalFault& fault) {
        EXPECT_STREQ(fault.what(), "capacity overflow");
    }
}

TEST(PaperHistogramMemory, JustBelowTheFaultLimitTheSearchStillAnswers) {
    // 2**59 bins would be four exbibytes of counters; the search never
    // materialises them, so it simply finds the band between the two boxes.
    const std::vector<ElementRecord> elements = {box(0, 0, 0, 10, 10), box(1, 20, 0, 30, 10)};
    const float huge = 576460752303423488.0f;
    EXPECT_NO_THROW(check_bin_count(kMaxBins - 1));
    const auto cut = find_vertical_cut(elements, 15.0f, 1.0f, 0.0f, huge, DiagnosticSink::none());
    ASSERT_TRUE(cut.has_value());
    EXPECT_GT(*cut, 10.0f);
}

}  // namespace
}  // namespace vellora::paper
