#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "paper/reinsert.hpp"
#include "paper_test_support.hpp"

namespace vellora::paper {
namespace {

using testing::box;
using testing::expect_paper_record;
using testing::RecordingSink;

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// --- weights and priorities -----------------------------------------------

TEST(PaperMaskPriority, GroupsByLabel) {
    EXPECT_EQ(mask_priority(SemanticLabel::CrossLayout), 0);
    EXPECT_EQ(mask_priority(SemanticLabel::HorizontalTitle), 1);
    EXPECT_EQ(mask_priority(SemanticLabel::VerticalTitle), 1);
    EXPECT_EQ(mask_priority(SemanticLabel::Vision), 2);
    EXPECT_EQ(mask_priority(SemanticLabel::Regular), 3);
}

void expect_weights(const ElementRecord& masked, float overlap, float gap, float vertical,
                    float left) {
    const CostWeights weights = weights_for(masked);
    EXPECT_EQ(weights.overlap, overlap);
    EXPECT_EQ(weights.gap, gap);
    EXPECT_EQ(weights.vertical, vertical);
    EXPECT_EQ(weights.left, left);
}

TEST(PaperCostWeights, ByLabelAndForTitlesByShape) {
    expect_weights(box(1, 0, 0, 10, 10, SemanticLabel::CrossLayout), 1.0f, 1.0f, 0.1f, 1.0f);
    expect_weights(box(1, 0, 0, 10, 10, SemanticLabel::Vision), 1.0f, 1.0f, 1.0f, 0.1f);
    expect_weights(box(1, 0, 0, 10, 10, SemanticLabel::Regular), 1.0f, 1.0f, 1.0f, 0.1f);
    // A VerticalTitle wider than tall takes the wide-title weights.
    expect_weights(box(1, 0, 0, 20, 10, SemanticLabel::VerticalTitle), 1.0f, 0.1f, 0.1f, 1.0f);
    expect_weights(box(1, 0, 0, 20, 10, SemanticLabel::HorizontalTitle), 1.0f, 0.1f, 0.1f, 1.0f);
    expect_weights(box(1, 0, 0, 10, 10, SemanticLabel::HorizontalTitle), 0.2f, 0.1f, 1.0f, 1.0f);
    expect_weights(box(1, 0, 0, kNaN, 10, SemanticLabel::HorizontalTitle), 0.2f, 0.1f, 1.0f,
                   1.0f);
}

// --- costs ----------------------------------------------------------------

TEST(PaperInsertionCost, VisionAboveTwoRegularElements) {
    const ElementRecord masked = box(9, 0, 0, 10, 10, SemanticLabel::Vision);
    const CostWeights weights = weights_for(masked);
    const Cost below = insertion_cost(masked, box(1, 0, 20, 10, 30), weights, kInf);
    EXPECT_FALSE(below.rejected);
    EXPECT_EQ(below.value, 10020.0f);
    // 10000 + 0 + 100 passes 10020 after the vertical term: rejected there.
    const Cost beside = insertion_cost(masked, box(2, 20, 0, 30, 10), weights, 10020.0f);
    EXPECT_TRUE(beside.rejected);
    EXPECT_EQ(beside.value, 10100.0f);
}

TEST(PaperInsertionCost, SpanningCrossLayoutBetweenRows) {
    const ElementRecord masked = box(7, 0, 100, 200, 120, SemanticLabel::CrossLayout);
    const CostWeights weights = weights_for(masked);
    const Cost first = insertion_cost(masked, box(1, 0, 0, 90, 50), weights, kInf);
    EXPECT_FALSE(first.rejected);
    EXPECT_EQ(first.value, 4010005.0f);
    // Equal to the best after three terms is not above it: the left term
    // still runs and makes it lose.
    const Cost second = insertion_cost(masked, box(2, 110, 0, 200, 50), weights, 4010005.0f);
    EXPECT_FALSE(second.rejected);
    EXPECT_EQ(second.value, 4010005.5f);
    const Cost third = insertion_cost(masked, box(3, 0, 150, 90, 200), weights, 4010005.0f);
    EXPECT_FALSE(third.rejected);
    EXPECT_EQ(third.value, 4005988.0f);
}

TEST(PaperInsertionCost, RejectionIsFinalEvenIfLaterTermsAreNegative) {
    const ElementRecord masked = box(7, 0, 100, 200, 120, SemanticLabel::CrossLayout);
    // After two terms 4006000 passes 4005990; the vertical term -12 would
    // have brought it back to 4005988.
    const Cost cost =
        insertion_cost(masked, box(3, 0, 150, 90, 200), weights_for(masked), 4005990.0f);
    EXPECT_TRUE(cost.rejected);
}

TEST(PaperInsertionCost, ZeroSizeMaskedElementScalesTheLeftTermToInfinity) {
    const ElementRecord masked = box(9, 5, 5, 5, 5, SemanticLabel::Vision);
    const CostWeights weights = weights_for(masked);
    EXPECT_EQ(insertion_cost(masked, box(1, 10, 0, 20, 10), weights, kInf).value, kInf);
    EXPECT_TRUE(std::isnan(insertion_cost(masked, box(2, 0, 20, 10, 30), weights, kInf).value));
    EXPECT_EQ(insertion_cost(masked, box(3, -10, 40, 0, 50), weights, kInf).value, -kInf);
}

// --- placement ------------------------------------------------------------

TEST(PaperReinsert, VisionGoesBeforeTheRegularElementBelowIt) {
    RecordingSink recording;
    IdList order{1, 2};
    const std::vector<ElementRecord> regular = {box(1, 0, 20, 10, 30), box(2, 20, 0, 30, 10)};
    const std::vector<ElementRecord> masked = {box(9, 0, 0, 10, 10, SemanticLabel::Vision)};
    reinsert_masked(order, masked, regular, 10.0f, recording.sink());
    EXPECT_EQ(order, (IdList{9, 1, 2}));
    ASSERT_EQ(recording.records().size(), 1u);
    expect_paper_record(recording.records()[0], Level::Debug, 403,
                        "[INSERT] Masked element 9 (Vision) -> position 0 (before element 1)");
}

TEST(PaperReinsert, SpanningCrossLayoutGoesBeforeTheRowBelow) {
    RecordingSink recording;
    IdList order{1, 2, 3};
    const std::vector<ElementRecord> regular = {box(1, 0, 0, 90, 50), box(2, 110, 0, 200, 50),
                                                box(3, 0, 150, 90, 200)};
    const std::vector<ElementRecord> masked = {
        box(7, 0, 100, 200, 120, SemanticLabel::CrossLayout)};
    reinsert_masked(order, masked, regular, 10.0f, recording.sink());
    EXPECT_EQ(order, (IdList{1, 2, 7, 3}));
    ASSERT_EQ(recording.records().size(), 1u);
    expect_paper_record(
        recording.records()[0], Level::Debug, 403,
        "[INSERT] Masked element 7 (CrossLayout) -> position 2 (before element 3)");
}

TEST(PaperReinsert, ZeroSizeMaskedElementWinsOnlyAtNegativeLeftEdge) {
    RecordingSink recording;
    IdList order{1, 2, 3};
    const std::vector<ElementRecord> regular = {box(1, 10, 0, 20, 10), box(2, 0, 20, 10, 30),
                                                box(3, -10, 40, 0, 50)};
    const std::vector<ElementRecord> masked = {box(9, 5, 5, 5, 5, SemanticLabel::Vision)};
    reinsert_masked(order, masked, regular, 10.0f, recording.sink());
    EXPECT_EQ(order, (IdList{1, 2, 9, 3}));
    EXPECT_EQ(recording.messages(),
              (std::vector<std::string>{
                  "[INSERT] Masked element 9 (Vision) -> position 2 (before element 3)"}));
}

TEST(PaperReinsert, ZeroSizeMaskedElementWithoutNegativeLeftEdgesIsAppended) {
    RecordingSink recording;
    IdList order{1, 2};
    const std::vector<ElementRecord> regular = {box(1, 10, 0, 20, 10), box(2, 0, 20, 10, 30)};
    const std::vector<ElementRecord> masked = {box(9, 5, 5, 5, 5, SemanticLabel::Vision)};
    reinsert_masked(order, masked, regular, 10.0f, recording.sink());
    EXPECT_EQ(order, (IdList{1, 2, 9}));
    ASSERT_EQ(recording.records().size(), 1u);
    expect_paper_record(recording.records()[0], Level::Warn, 414,
                        "No valid insertion for element 9 (Vision), appending");
}

TEST(PaperReinsert, TwoFiguresAloneComeOutLowerFirst) {
    RecordingSink recording;
    IdList order;
    const std::vector<ElementRecord> masked = {box(2, 0, 500, 100, 600, SemanticLabel::Vision),
                                               box(1, 0, 0, 100, 100, SemanticLabel::Vision)};
    reinsert_masked(order, masked, {}, 10.0f, recording.sink());
    EXPECT_EQ(order, (IdList{2, 1}));
    EXPECT_EQ(recording.messages(),
              (std::vector<std::string>{
                  "No valid insertion for element 1 (Vision), appending",
                  "[INSERT] Masked element 2 (Vision) -> position 0 (before element 1)"}));
}

TEST(PaperReinsert, TitleAndFigureAloneAreBothAppendedTitleFirst) {
    RecordingSink recording;
    IdList order;
    const std::vector<ElementRecord> masked = {
        box(5, 0, 0, 100, 100, SemanticLabel::Vision),
        box(6, 0, 200, 100, 220, SemanticLabel::HorizontalTitle)};
    reinsert_masked(order, masked, {}, 10.0f, recording.sink());
    EXPECT_EQ(order, (IdList{6, 5}));
    EXPECT_EQ(recording.messages(),
              (std::vector<std::string>{
                  "No valid insertion for element 6 (HorizontalTitle), appending",
                  "No valid insertion for element 5 (Vision), appending"}));
}

TEST(PaperReinsert, TitleIgnoresCrossLayoutEntries) {
    RecordingSink recording;
    IdList order{1};
    const std::vector<ElementRecord> regular = {box(1, 0, 100, 100, 200, SemanticLabel::CrossLayout)};
    const std::vector<ElementRecord> masked = {
        box(6, 0, 0, 100, 20, SemanticLabel::VerticalTitle)};
    reinsert_masked(order, masked, regular, 10.0f, recording.sink());
    EXPECT_EQ(order, (IdList{1, 6}));
    EXPECT_EQ(recording.messages(),
              (std::vector<std::string>{
                  "No valid insertion for element 6 (VerticalTitle), appending"}));
}

TEST(PaperReinsert, EqualCostsKeepTheEarlierPosition) {
    IdList order{1, 2};
    // Two identical candidates: the first one wins.
    const std::vector<ElementRecord> regular = {box(1, 0, 20, 10, 30), box(2, 0, 20, 10, 30)};
    const std::vector<ElementRecord> masked = {box(9, 0, 0, 10, 10, SemanticLabel::Vision)};
    reinsert_masked(order, masked, regular, 10.0f, DiagnosticSink::none());
    EXPECT_EQ(order, (IdList{9, 1, 2}));
}

TEST(PaperReinsert, GroupsGoCrossLayoutTitlesFiguresThenSpanningRegular) {
    RecordingSink recording;
    IdList order{1};
    const std::vector<ElementRecord> regular = {box(1, 0, 300, 100, 400)};
    const std::vector<ElementRecord> masked = {
        box(40, 0, 500, 300, 520, SemanticLabel::Regular),
        box(30, 0, 100, 100, 200, SemanticLabel::Vision),
        box(20, 0, 0, 100, 20, SemanticLabel::HorizontalTitle),
        box(10, 0, 600, 300, 620, SemanticLabel::CrossLayout)};
    reinsert_masked(order, masked, regular, 10.0f, recording.sink());
    const auto messages = recording.messages();
    ASSERT_EQ(messages.size(), 4u);
    EXPECT_EQ(messages[0].rfind("[INSERT] Masked element 10 (CrossLayout)", 0), 0u) << messages[0];
    EXPECT_EQ(messages[1].rfind("[INSERT] Masked element 20 (HorizontalTitle)", 0), 0u)
        << messages[1];
    EXPECT_EQ(messages[2].rfind("[INSERT] Masked element 30 (Vision)", 0), 0u) << messages[2];
    EXPECT_EQ(messages[3].rfind("[INSERT] Masked element 40 (Regular)", 0), 0u) << messages[3];
    EXPECT_TRUE(testing::is_permutation_of_ids(order, {box(1, 0, 0, 0, 0), box(10, 0, 0, 0, 0),
                                                       box(20, 0, 0, 0, 0), box(30, 0, 0, 0, 0),
                                                       box(40, 0, 0, 0, 0)}));
}

TEST(PaperReinsert, SpanningRegularSeesOnlyRegularEntries) {
    // The figure (placed first) lies right on top of the spanning element, but
    // a spanning Regular element may only go in front of a Regular entry.
    RecordingSink recording;
    IdList order{1};
    const std::vector<ElementRecord> regular = {box(1, 0, 900, 100, 1000)};
    const std::vector<ElementRecord> masked = {
        box(40, 0, 100, 300, 120, SemanticLabel::Regular),
        box(30, 0, 100, 300, 120, SemanticLabel::Vision)};
    reinsert_masked(order, masked, regular, 10.0f, recording.sink());
    EXPECT_EQ(order, (IdList{30, 40, 1}));
    EXPECT_EQ(recording.messages(),
              (std::vector<std::string>{
                  "[INSERT] Masked element 30 (Vision) -> position 0 (before element 1)",
                  "[INSERT] Masked element 40 (Regular) -> position 1 (before element 1)"}));
}

TEST(PaperReinsert, WithinAGroupRowMajorOrderDecides) {
    // Row keys with tolerance 10: centre y 15 and 25 are rows 1 and 2, so 8
    // (row 1) is placed before 7 even though it comes later in the input.
    RecordingSink recording;
    IdList order;
    const std::vector<ElementRecord> masked = {box(7, 0, 20, 10, 30, SemanticLabel::Vision),
                                               box(8, 50, 10, 60, 20, SemanticLabel::Vision)};
    reinsert_masked(order, masked, {}, 10.0f, recording.sink());
    ASSERT_FALSE(recording.messages().empty());
    EXPECT_EQ(recording.messages()[0], "No valid insertion for element 8 (Vision), appending");
}

TEST(PaperReinsert, UnknownIdsInTheOrderAreSkippedButCounted) {
    IdList order{99, 1};
    const std::vector<ElementRecord> regular = {box(1, 0, 20, 10, 30)};
    const std::vector<ElementRecord> masked = {box(9, 0, 0, 10, 10, SemanticLabel::Vision)};
    RecordingSink recording;
    reinsert_masked(order, masked, regular, 10.0f, recording.sink());
    EXPECT_EQ(order, (IdList{99, 9, 1}));
    EXPECT_EQ(recording.messages(),
              (std::vector<std::string>{
                  "[INSERT] Masked element 9 (Vision) -> position 1 (before element 1)"}));
}

}  // namespace
}  // namespace vellora::paper
