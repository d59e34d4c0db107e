// The tree search for spanning elements against the plain pair loop kept in
// reference/, on random and hostile pages of every size.
#include <gtest/gtest.h>

#include <vector>

#include "paper/masking.hpp"
#include "reference/paper_masking_reference.hpp"
#include "reference/random_pages.hpp"

namespace vellora::paper {
namespace {

TEST(SpanningDifferential, SameFlagsAsThePairLoop) {
    testing::PageGenerator gen(4242);
    int compared = 0;
    for (int c = 0; c < 600; ++c) {
        const std::size_t n = gen.below(c % 10 == 0 ? 3000 : 400);
        const auto elements = gen.page(n, c % 3 == 0 ? 5 : 0);
        // The median-based threshold, and others that make most elements wide.
        const float threshold = c % 4 == 0 ? gen.hostile() : c % 4 == 1 ? 0.0f : span_threshold(elements);
        ASSERT_EQ(spanning_flags(elements, threshold), reference::spanning_flags(elements, threshold))
            << "case " << c;
        ++compared;
    }
    RecordProperty("compared", compared);
}

}  // namespace
}  // namespace vellora::paper
