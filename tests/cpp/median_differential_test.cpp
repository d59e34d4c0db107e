// The median by selection against the full sort: the same bits, for counts
// odd and even, on widths full of ties and hostile values.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <vector>

#include "median.hpp"
#include "reference/median_reference.hpp"
#include "reference/random_pages.hpp"

namespace vellora {
namespace {

TEST(MedianDifferential, SelectionGivesTheBitsOfTheSortedMiddle) {
    testing::PageGenerator gen(4242);
    for (int c = 0; c < 20000; ++c) {
        const std::size_t n = gen.below(c % 100 == 0 ? 3000 : 40);
        const std::uint32_t hostile = gen.below(4) == 0 ? 30 : 0;
        const bool ties = gen.chance(50);
        std::vector<float> values(n);
        for (float& v : values) {
            if (gen.below(100) < hostile) {
                v = gen.hostile();
            } else {
                v = ties ? static_cast<float>(gen.below(5)) : gen.grid(1000.0f, 0.5f) - 300.0f;
            }
        }
        const float expected = reference::median_of(values);
        const float actual = median_of(values);
        ASSERT_EQ(std::bit_cast<std::uint32_t>(actual), std::bit_cast<std::uint32_t>(expected))
            << "case " << c << ", " << n << " values";
    }
}

}  // namespace
}  // namespace vellora
