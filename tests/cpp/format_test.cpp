#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <string_view>
#include <limits>

#include "recording_sink.hpp"
#include "vellora/format.hpp"
#include "vellora/numeric.hpp"

namespace vellora {
namespace {

TEST(ShortestFloat, WholeNumbersHaveNoPointAndNoExponent) {
    EXPECT_EQ(fmt::shortest(2.0f), "2");
    EXPECT_EQ(fmt::shortest(0.0f), "0");
    EXPECT_EQ(fmt::shortest(792.0f), "792");
    EXPECT_EQ(fmt::shortest(1e20f), "100000000000000000000");
    EXPECT_EQ(fmt::shortest(-12.5f), "-12.5");
}

TEST(ShortestFloat, FractionsUseTheShortestRoundTripDigits) {
    EXPECT_EQ(fmt::shortest(0.9f), "0.9");
    EXPECT_EQ(fmt::shortest(0.1f), "0.1");
    EXPECT_EQ(fmt::shortest(1.3f), "1.3");
    EXPECT_EQ(fmt::shortest(1e-7f), "0.0000001");
    EXPECT_EQ(fmt::shortest(123.456f), "123.456");
    EXPECT_EQ(fmt::shortest(-0.015625f), "-0.015625");
    EXPECT_EQ(fmt::shortest(1.1920929e-7f), "0.00000011920929");
    EXPECT_EQ(fmt::shortest(3.4028235e38f), "340282350000000000000000000000000000000");
}

TEST(ShortestFloat, SpecialValues) {
    EXPECT_EQ(fmt::shortest(-0.0f), "-0");
    EXPECT_EQ(fmt::shortest(std::numeric_limits<float>::quiet_NaN()), "NaN");
    EXPECT_EQ(fmt::shortest(-std::numeric_limits<float>::quiet_NaN()), "NaN");
    EXPECT_EQ(fmt::shortest(std::numeric_limits<float>::infinity()), "inf");
    EXPECT_EQ(fmt::shortest(-std::numeric_limits<float>::infinity()), "-inf");
}

TEST(FixedFloat, HalfwayCasesGoToEven) {
    EXPECT_EQ(fmt::fixed(0.5f, 0), "0");
    EXPECT_EQ(fmt::fixed(1.5f, 0), "2");
    EXPECT_EQ(fmt::fixed(2.5f, 0), "2");
    EXPECT_EQ(fmt::fixed(0.125f, 2), "0.12");
    EXPECT_EQ(fmt::fixed(0.375f, 2), "0.38");
}

TEST(FixedFloat, RoundsTheExactBinaryValue) {
    EXPECT_EQ(fmt::fixed(20.0f, 1), "20.0");
    EXPECT_EQ(fmt::fixed(0.26f, 1), "0.3");
    EXPECT_EQ(fmt::fixed(0.8756f, 3), "0.876");
    EXPECT_EQ(fmt::fixed(1.0f, 3), "1.000");
    // 0.35f is slightly below 0.35, so it is not a halfway case.
    EXPECT_EQ(fmt::fixed(0.35f, 1), "0.3");
    EXPECT_EQ(fmt::fixed(std::numeric_limits<float>::quiet_NaN(), 1), "NaN");
    EXPECT_EQ(fmt::fixed(-std::numeric_limits<float>::infinity(), 0), "-inf");
}

TEST(TotalOrder, OrdersSignedZerosInfinitiesAndNaNs) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    EXPECT_TRUE(num::total_less(-nan, -inf));
    EXPECT_TRUE(num::total_less(-inf, -1.0f));
    EXPECT_TRUE(num::total_less(-1.0f, -0.0f));
    EXPECT_TRUE(num::total_less(-0.0f, 0.0f));
    EXPECT_TRUE(num::total_less(0.0f, 1.0f));
    EXPECT_TRUE(num::total_less(inf, nan));
    EXPECT_FALSE(num::total_less(1.0f, 1.0f));
}

TEST(Saturation, FloatToIntegerConversions) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(num::saturating_i32(nan), 0);
    EXPECT_EQ(num::saturating_i32(-1.9f), -1);
    EXPECT_EQ(num::saturating_i32(2147483520.0f), 2147483520);
    EXPECT_EQ(num::saturating_i32(3e9f), 2147483647);
    EXPECT_EQ(num::saturating_i32(-3e9f), -2147483647 - 1);
    EXPECT_EQ(num::saturating_u64(-5.0f), 0u);
    EXPECT_EQ(num::saturating_u64(nan), 0u);
    EXPECT_EQ(num::saturating_u64(7.5f), 7u);
    EXPECT_EQ(num::saturating_u64(1e30f), std::numeric_limits<std::uint64_t>::max());
}

TEST(MinMaxNum, IgnoreASingleNaN) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(num::min_num(nan, 3.0f), 3.0f);
    EXPECT_EQ(num::max_num(3.0f, nan), 3.0f);
    EXPECT_TRUE(std::isnan(num::min_num(nan, nan)));
}

TEST(DiagnosticSink, DisabledRecordsAreNeverFormatted) {
    testing::RecordingSink recorder(Level::Info);
    const auto sink = recorder.sink();
    static constexpr RecordSite site{Level::Debug, "velloray::paper", "vellora::core", "f", 1};
    bool formatted = false;
    sink.emit(site, [&] {
        formatted = true;
        return std::string("x");
    });
    EXPECT_FALSE(formatted);
    EXPECT_TRUE(recorder.records().empty());
    DiagnosticSink::none().emit(site, [&] {
        formatted = true;
        return std::string("x");
    });
    EXPECT_FALSE(formatted);
}

// The owner's memo answers the same level and target while its counter stays;
// another level or target, or a moved counter, asks the owner again.
TEST(DiagnosticSink, MemoAnswersOnlyWhileItsCounterStays) {
    struct Owner {
        std::atomic<std::uint64_t> counter{0};
        SinkMemo memo;
        int asked = 0;
        int filter = 3;  // Info and below pass
    } owner;
    const auto ask = [](void* context, Level level, std::string_view target) noexcept {
        auto& self = *static_cast<Owner*>(context);
        ++self.asked;
        const bool answer = static_cast<int>(level) <= self.filter;
        self.memo = SinkMemo{&self.counter, self.counter.load(), target.data(), target.size(), level, answer};
        return answer;
    };
    const DiagnosticSink sink{&owner, ask, [](void*, const Record&) noexcept {}, &owner.memo};
    static constexpr std::string_view paper = "velloray::paper";
    static constexpr std::string_view ostrel = "velloray::ostrel";
    EXPECT_FALSE(sink.enabled(Level::Debug, paper));
    EXPECT_FALSE(sink.enabled(Level::Debug, paper));
    EXPECT_EQ(owner.asked, 1);
    EXPECT_TRUE(sink.enabled(Level::Info, paper));
    EXPECT_FALSE(sink.enabled(Level::Debug, ostrel));
    EXPECT_EQ(owner.asked, 3);
    owner.filter = 4;  // a level change is seen once the counter moves
    EXPECT_FALSE(sink.enabled(Level::Debug, ostrel));
    owner.counter.fetch_add(1);
    EXPECT_TRUE(sink.enabled(Level::Debug, ostrel));
    EXPECT_EQ(owner.asked, 4);
}

}  // namespace
}  // namespace vellora

#include "median.hpp"

namespace vellora {
namespace {

TEST(Median, OddCountTakesTheMiddleEvenCountHalvesTheSum) {
    EXPECT_EQ(median_of({300.0f, 100.0f}), 200.0f);
    EXPECT_EQ(median_of({5.0f, -1.0f, 3.0f}), 3.0f);
    EXPECT_EQ(median_of({7.0f}), 7.0f);
    // NaN sorts last (positive sign bit), so the middle entries are finite.
    EXPECT_EQ(median_of({std::numeric_limits<float>::quiet_NaN(), 1.0f, 3.0f, 2.0f}), 2.5f);
}

}  // namespace
}  // namespace vellora
