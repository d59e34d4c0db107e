// Merging the set-aside cross-layout elements back by their top edges.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "ostrel/merge.hpp"
#include "recording_sink.hpp"

namespace vellora::ostrel {
namespace {

using testing::RecordingSink;
using Ids = std::vector<std::uint64_t>;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

SorterElement box(std::uint64_t id, float left_edge, float top_edge) {
    return {id, left_edge, top_edge, left_edge + 10.0f, top_edge + 10.0f};
}

Ids merged_ids(const std::vector<SorterElement>& main_list, const std::vector<SorterElement>& cross) {
    Ids out;
    for (const auto& e : merge_cross_layout(main_list, cross, DiagnosticSink::none())) out.push_back(e.id);
    return out;
}

TEST(OstrelMerge, EqualTopPlacesTheCrossLayoutElementFirst) {
    EXPECT_EQ(merged_ids({box(1, 0, 0), box(2, 0, 30)}, {box(9, 0, 30)}), (Ids{1, 9, 2}));
}

TEST(OstrelMerge, AboveEveryMainElementComesFirst) {
    EXPECT_EQ(merged_ids({box(1, 0, 10), box(2, 0, 30)}, {box(9, 0, 5)}), (Ids{9, 1, 2}));
}

TEST(OstrelMerge, BelowEveryMainElementComeLastInYThenXOrder) {
    EXPECT_EQ(merged_ids({box(1, 0, 0), box(2, 0, 30)}, {box(8, 50, 90), box(7, 0, 90), box(6, 0, 60)}),
              (Ids{1, 2, 6, 7, 8}));
}

TEST(OstrelMerge, EqualTopsKeepLeftOrderThenInputOrder) {
    EXPECT_EQ(merged_ids({box(1, 0, 50)}, {box(7, 30, 20), box(5, 10, 20), box(6, 10, 20)}), (Ids{5, 6, 7, 1}));
}

TEST(OstrelMerge, MainOrderIsNotResortedSoTheFirstColumnTakesTheElement) {
    // Two columns read down the left one first; an element half way down
    // lands in front of the first left-column element at or below it.
    const std::vector<SorterElement> main_list{box(1, 0, 30), box(2, 0, 70), box(3, 110, 30), box(4, 110, 70)};
    EXPECT_EQ(merged_ids(main_list, {box(9, 0, 65)}), (Ids{1, 9, 2, 3, 4}));
}

TEST(OstrelMerge, NaNTopOfAMainElementLetsItGoFirst) {
    const SorterElement nan_top{2, 0, kNaN, 10, kNaN};
    EXPECT_EQ(merged_ids({nan_top, box(1, 0, 50)}, {box(9, 0, 0)}), (Ids{2, 9, 1}));
}

TEST(OstrelMerge, NegativeNaNTopHoldsBackEveryCrossLayoutElementToTheEnd) {
    // It sorts first among the cross-layout elements, never satisfies the
    // comparison, and so stops every later one from being placed early.
    const float negative_nan = -kNaN;
    const SorterElement blocked{8, 0, negative_nan, 10, negative_nan};
    EXPECT_EQ(merged_ids({box(1, 0, 10), box(2, 0, 50)}, {box(9, 0, 0), blocked}), (Ids{1, 2, 8, 9}));
}

TEST(OstrelMerge, KeepsEveryElementOnceAndTheMainOrder) {
    const std::vector<SorterElement> main_list{box(4, 0, 80), box(2, 0, 10), box(3, 0, 40), box(1, 0, 0)};
    const std::vector<SorterElement> cross{box(11, 0, 35), box(12, 0, 5), box(13, 0, 100)};
    const Ids merged = merged_ids(main_list, cross);
    ASSERT_EQ(merged.size(), 7u);
    Ids main_only;
    for (auto id : merged) {
        if (id < 10) main_only.push_back(id);
    }
    EXPECT_EQ(main_only, (Ids{4, 2, 3, 1}));
    EXPECT_EQ(merged, (Ids{12, 11, 4, 2, 3, 1, 13}));
}

TEST(OstrelMerge, RecordsCountBothListsAndTheResult) {
    RecordingSink recorder;
    merge_cross_layout({box(1, 0, 0), box(2, 0, 20), box(3, 0, 40)}, {box(8, 0, 10), box(9, 0, 90)},
                       recorder.sink());
    ASSERT_EQ(recorder.records().size(), 2u);
    EXPECT_EQ(recorder.records()[0].message, "[merge] merging 2 cross-layout elements into 3 main elements");
    EXPECT_EQ(recorder.records()[0].line, 468u);
    EXPECT_EQ(recorder.records()[1].message, "[merge] result: 5 elements total");
    EXPECT_EQ(recorder.records()[1].line, 500u);
    for (const auto& record : recorder.records()) {
        EXPECT_EQ(record.level, Level::Debug);
        EXPECT_EQ(record.target, "velloray::ostrel");
        EXPECT_EQ(record.file, std::string("src\\ostrel\\vellora_sorter\\src\\lib"));
    }
}

}  // namespace
}  // namespace vellora::ostrel
