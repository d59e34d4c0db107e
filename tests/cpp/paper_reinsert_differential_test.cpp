// The indexed placement of masked elements against the plain scan kept in
// reference/: same order, same records, on random and hostile pages.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "paper/reinsert.hpp"
#include "recording_sink.hpp"
#include "reference/paper_reinsert_reference.hpp"
#include "reference/random_pages.hpp"

namespace vellora::paper {
namespace {

struct Flavour {
    const char* name;
    std::size_t max_regular;
    std::size_t max_masked;
    std::uint32_t hostile_percent;
    int cases;
};

class ReinsertDifferential : public ::testing::TestWithParam<Flavour> {};

TEST_P(ReinsertDifferential, SameOrderAndRecordsAsThePlainScan) {
    const Flavour flavour = GetParam();
    testing::PageGenerator gen(0x5eed + flavour.hostile_percent * 7919u +
                               static_cast<std::uint32_t>(flavour.max_regular));
    int compared = 0;
    for (int c = 0; c < flavour.cases; ++c) {
        const auto regular = gen.page(gen.below(static_cast<std::uint32_t>(flavour.max_regular) + 1),
                                      flavour.hostile_percent);
        const auto masked = gen.page(gen.below(static_cast<std::uint32_t>(flavour.max_masked) + 1),
                                     flavour.hostile_percent);
        IdList order;
        for (const ElementRecord& e : regular) order.push_back(e.id);
        std::shuffle(order.begin(), order.end(), gen.engine());
        if (gen.chance(10)) order.push_back(987654321);  // resolves to nothing
        const float tolerance = gen.chance(10) ? gen.hostile() : 10.0f;

        IdList expected = order;
        testing::RecordingSink expected_records;
        reference::reinsert_masked(expected, masked, regular, tolerance, expected_records.sink());
        IdList actual = order;
        testing::RecordingSink actual_records;
        reinsert_masked(actual, masked, regular, tolerance, actual_records.sink());

        ASSERT_EQ(actual, expected) << flavour.name << " case " << c;
        ASSERT_EQ(actual_records.messages(), expected_records.messages()) << flavour.name << " case " << c;
        ++compared;
    }
    RecordProperty("compared", compared);
}

INSTANTIATE_TEST_SUITE_P(
    Pages, ReinsertDifferential,
    ::testing::Values(Flavour{"small", 40, 12, 0, 1500}, Flavour{"large", 600, 300, 0, 400},
                      Flavour{"all_masked", 0, 500, 0, 100},
                      Flavour{"hostile_small", 40, 12, 8, 1500},
                      Flavour{"hostile_large", 600, 300, 3, 400}),
    [](const ::testing::TestParamInfo<Flavour>& param_info) { return std::string(param_info.param.name); });

}  // namespace
}  // namespace vellora::paper
