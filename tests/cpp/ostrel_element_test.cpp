// The sorter's element measures and its y-then-x fallback order.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "ostrel/element.hpp"

namespace vellora::ostrel {
namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

std::vector<std::uint64_t> ids(const std::vector<SorterElement>& elements) {
    std::vector<std::uint64_t> out;
    for (const auto& e : elements) out.push_back(e.id);
    return out;
}

bool same_bits(float a, float b) { return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b); }

TEST(OstrelElementMeasures, InvertedBoxReadsItsTrueCorners) {
    const SorterElement e{7, 50.0f, 80.0f, 10.0f, 20.0f};
    EXPECT_EQ(left(e), 10.0f);
    EXPECT_EQ(top(e), 20.0f);
    EXPECT_EQ(right(e), 50.0f);
    EXPECT_EQ(bottom(e), 80.0f);
    EXPECT_EQ(width(e), 40.0f);
    EXPECT_EQ(height(e), 60.0f);
    EXPECT_EQ(area(e), 2400.0f);
}

TEST(OstrelElementMeasures, SingleNaNCoordinateIsIgnored) {
    const SorterElement e{1, 0.0f, kNaN, 10.0f, 30.0f};
    EXPECT_EQ(top(e), 30.0f);
    EXPECT_EQ(bottom(e), 30.0f);
    EXPECT_EQ(height(e), 0.0f);
    EXPECT_EQ(area(e), 0.0f);
}

TEST(OstrelElementMeasures, ClampedDifferenceIsNeverNegativeNorNaN) {
    EXPECT_TRUE(same_bits(clamped_diff(1.0f, 2.0f), 0.0f));
    EXPECT_TRUE(same_bits(clamped_diff(0.0f, 0.0f), 0.0f));
    EXPECT_TRUE(same_bits(clamped_diff(-0.0f, 0.0f), 0.0f));
    EXPECT_TRUE(same_bits(clamped_diff(kNaN, 1.0f), 0.0f));
    EXPECT_TRUE(same_bits(clamped_diff(kInf, kInf), 0.0f));
    EXPECT_EQ(clamped_diff(kInf, -kInf), kInf);
    EXPECT_EQ(clamped_diff(3.0f, 1.0f), 2.0f);
}

TEST(OstrelElementMeasures, BothCoordinatesNaNGiveNaNEdgesButZeroExtent) {
    const SorterElement e{1, kNaN, kNaN, kNaN, kNaN};
    EXPECT_TRUE(std::isnan(left(e)));
    EXPECT_TRUE(std::isnan(top(e)));
    EXPECT_EQ(width(e), 0.0f);
    EXPECT_EQ(height(e), 0.0f);
}

TEST(OstrelElementMeasures, InfiniteSideTimesZeroSideIsANaNArea) {
    const SorterElement e{1, -kInf, 5.0f, kInf, 5.0f};
    EXPECT_EQ(width(e), kInf);
    EXPECT_EQ(height(e), 0.0f);
    EXPECT_TRUE(std::isnan(area(e)));
}

TEST(OstrelElementMeasures, CentresAddTheRawCoordinatesFirst) {
    const SorterElement e{1, 50.0f, 80.0f, 10.0f, 20.0f};
    EXPECT_EQ(centre_x(e), 30.0f);
    EXPECT_EQ(centre_y(e), 50.0f);
    // The sum overflows before halving.
    const SorterElement big{2, 3e38f, 3e38f, 3e38f, 3e38f};
    EXPECT_EQ(centre_x(big), kInf);
}

TEST(OstrelYThenX, EqualTopsOrderByLeftAndFullTiesKeepInputOrder) {
    const std::vector<SorterElement> input{
        {1, 30.0f, 10.0f, 40.0f, 20.0f},
        {2, 10.0f, 10.0f, 20.0f, 20.0f},
        {3, 30.0f, 10.0f, 35.0f, 50.0f},
        {4, 0.0f, 0.0f, 5.0f, 5.0f},
    };
    EXPECT_EQ(ids(sort_y_then_x(input)), (std::vector<std::uint64_t>{4, 2, 1, 3}));
}

TEST(OstrelYThenX, InputIsLeftUnchanged) {
    const std::vector<SorterElement> input{{1, 0.0f, 9.0f, 1.0f, 10.0f}, {2, 0.0f, 1.0f, 1.0f, 2.0f}};
    const auto sorted = sort_y_then_x(input);
    EXPECT_EQ(ids(input), (std::vector<std::uint64_t>{1, 2}));
    EXPECT_EQ(ids(sorted), (std::vector<std::uint64_t>{2, 1}));
}

TEST(OstrelYThenX, InvertedBoxSortsByItsUpperLeftCorner) {
    const std::vector<SorterElement> input{
        {1, 0.0f, 15.0f, 10.0f, 25.0f},
        {2, 10.0f, 30.0f, 0.0f, 10.0f},  // top 10 once the pair is ordered
    };
    EXPECT_EQ(ids(sort_y_then_x(input)), (std::vector<std::uint64_t>{2, 1}));
}

TEST(OstrelYThenX, NegativeZeroSortsBeforePositiveZeroInBothKeys) {
    const std::vector<SorterElement> by_top{{1, 0.0f, 0.0f, 1.0f, 1.0f}, {2, 0.0f, -0.0f, 1.0f, 1.0f}};
    EXPECT_EQ(ids(sort_y_then_x(by_top)), (std::vector<std::uint64_t>{2, 1}));
    const std::vector<SorterElement> by_left{{1, 0.0f, 0.0f, 1.0f, 1.0f}, {2, -0.0f, 0.0f, 1.0f, 1.0f}};
    EXPECT_EQ(ids(sort_y_then_x(by_left)), (std::vector<std::uint64_t>{2, 1}));
}

TEST(OstrelYThenX, InfinityAndNaNTopsSortByTotalOrder) {
    const float negative_nan = -std::numeric_limits<float>::quiet_NaN();
    ASSERT_TRUE(std::signbit(negative_nan));
    const std::vector<SorterElement> input{
        {1, 0.0f, kNaN, 1.0f, kNaN},              // positive NaN top: last
        {2, 0.0f, kInf, 1.0f, kInf},              // +inf top: after every finite top
        {3, 0.0f, 1e30f, 1.0f, 1e30f},
        {4, 0.0f, negative_nan, 1.0f, negative_nan},  // negative NaN top: first
        {5, 0.0f, -kInf, 1.0f, 0.0f},
    };
    EXPECT_EQ(ids(sort_y_then_x(input)), (std::vector<std::uint64_t>{4, 5, 3, 2, 1}));
}

TEST(OstrelYThenX, NaNTopsNeverTieWithNumbersSoLeftIsNotConsulted) {
    // With an ordinary `<`, the NaN top would compare "equal" to the number
    // and the left edge would decide.
    const std::vector<SorterElement> input{{1, 0.0f, kNaN, 1.0f, kNaN}, {2, 50.0f, 5.0f, 60.0f, 6.0f}};
    EXPECT_EQ(ids(sort_y_then_x(input)), (std::vector<std::uint64_t>{2, 1}));
}

TEST(OstrelYThenX, ReferenceSortMatchesValueSortAndIsStable) {
    std::vector<SorterElement> input;
    for (std::uint64_t i = 0; i < 40; ++i) {
        const float y = static_cast<float>(i % 3);
        const float x = static_cast<float>(i % 2);
        input.push_back({i, x, y, x + 1.0f, y + 1.0f});
    }
    std::vector<const SorterElement*> refs;
    for (const auto& e : input) refs.push_back(&e);
    sort_refs_y_then_x(refs);
    const auto sorted = sort_y_then_x(input);
    ASSERT_EQ(refs.size(), sorted.size());
    for (std::size_t i = 0; i < refs.size(); ++i) EXPECT_EQ(refs[i]->id, sorted[i].id);
    for (std::size_t i = 1; i < sorted.size(); ++i) {
        if (!y_then_x_less(sorted[i - 1], sorted[i])) {
            EXPECT_LT(sorted[i - 1].id, sorted[i].id);
        }
    }
}

}  // namespace
}  // namespace vellora::ostrel
