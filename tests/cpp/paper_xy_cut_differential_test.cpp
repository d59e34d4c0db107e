// The sort-once XY-cut, and the whole XY-cut ordering, against the
// straightforward versions kept in reference/: same ids, same records, the
// same fault, on random and hostile pages, regions and settings.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "paper/histogram.hpp"
#include "paper/masking.hpp"
#include "paper/xy_cut.hpp"
#include "recording_sink.hpp"
#include "reference/paper_masking_reference.hpp"
#include "reference/paper_reinsert_reference.hpp"
#include "reference/paper_xy_cut_reference.hpp"
#include "reference/random_pages.hpp"
#include "vellora/errors.hpp"
#include "vellora/paper.hpp"

namespace vellora::paper {
namespace {

struct Outcome {
    IdList ids;
    std::vector<std::string> messages;
    bool fault = false;

    bool operator==(const Outcome&) const = default;
};

template <class Run>
Outcome outcome_of(Run run) {
    Outcome outcome;
    testing::RecordingSink records;
    try {
        outcome.ids = run(records.sink());
    } catch (const InternalFault&) {
        outcome.fault = true;
    }
    outcome.messages = records.messages();
    return outcome;
}

// The optimised XY-cut's outcome, then the reference's, on the same input.
std::pair<Outcome, Outcome> both_cuts(const std::vector<ElementRecord>& elements, const OrderConfig& config,
                                      const Region& region) {
    return {outcome_of([&](const DiagnosticSink& sink) { return recursive_xy_cut(elements, config, region, sink); }),
            outcome_of([&](const DiagnosticSink& sink) {
                return reference::recursive_xy_cut(elements, config, region, sink);
            })};
}

OrderConfig random_config(testing::PageGenerator& gen) {
    OrderConfig config;
    if (gen.chance(30)) config.min_cut_threshold = gen.chance(50) ? gen.hostile() : static_cast<float>(gen.below(40));
    if (gen.chance(30)) config.histogram_resolution_scale = gen.chance(30) ? gen.hostile() : 0.05f * static_cast<float>(gen.below(40));
    if (gen.chance(20)) config.same_row_tolerance = gen.chance(50) ? gen.hostile() : static_cast<float>(gen.below(30));
    return config;
}

// The pipeline as the driver runs it, from the reference pieces.
IdList reference_order(std::vector<ElementRecord> elements, const PageBox& page,
                       const OrderConfig& config, const DiagnosticSink& sink) {
    const float threshold = span_threshold(elements);
    const std::vector<bool> spanning = reference::spanning_flags(elements, threshold);
    std::vector<ElementRecord> masked;
    std::vector<ElementRecord> regular;
    for (std::size_t i = 0; i < elements.size(); ++i) {
        const SemanticLabel label = elements[i].label;
        const bool always = label == SemanticLabel::HorizontalTitle || label == SemanticLabel::VerticalTitle ||
                            label == SemanticLabel::Vision;
        (always || spanning[i] ? masked : regular).push_back(elements[i]);
    }
    IdList order = reference::recursive_xy_cut(regular, config, {page.x1, page.y1, page.x2, page.y2}, sink);
    reference::reinsert_masked(order, masked, regular, config.same_row_tolerance, sink);
    return order;
}

// A float from a random bit pattern, a hostile value, or one next to the
// edges of exact integer arithmetic (2^23, 2^24, 2^63, 2^64) or of a bin.
float any_float(testing::PageGenerator& gen) {
    static constexpr float kEdges[] = {8388608.0f, 8388607.5f, 8388609.0f, 16777216.0f, 16777218.0f,
                                       9.2233720e18f, 1.8446744e19f, 1.0f, 0.99999994f, 1.0000001f,
                                       2.5f, -0.5f, -1.0f, -1.5f, -8388607.5f, -8388608.0f, -8388609.0f};
    switch (gen.below(4)) {
    case 0: return std::bit_cast<float>(gen.below(0xffffffffu) ^ (gen.below(2) << 31));
    case 1: return gen.hostile();
    case 2: return kEdges[gen.below(sizeof(kEdges) / sizeof(kEdges[0]))];
    default: return static_cast<float>(gen.below(4000)) * 0.25f - 500.0f;
    }
}

TEST(CoverageDifferential, CeilingAndCoveredBinsMatchFloorAndCeil) {
    testing::PageGenerator gen(1618);
    for (int c = 0; c < 400000; ++c) {
        const float value = any_float(gen);
        const float expected = std::ceil(value);
        const float actual = ceiling(value);
        // Equal values (a -0 ceiling may come out as +0), or both NaN.
        ASSERT_TRUE(actual == expected || (num::is_nan(actual) && num::is_nan(expected)))
            << "ceiling of " << value;

        const std::uint64_t bins = gen.chance(80) ? gen.below(5000) : num::saturating_u64(any_float(gen));
        const float lower = gen.chance(50) ? 0.0f : any_float(gen);
        const float width = gen.chance(50) ? 2.0f : any_float(gen);
        const float lo = any_float(gen);
        const float hi = gen.chance(50) ? lo + static_cast<float>(gen.below(100)) : any_float(gen);
        const auto want = reference::xy_cut_detail::straightforward_coverage(bins, lower, width, lo, hi);
        const auto got = coverage(bins, lower, width, lo, hi);
        ASSERT_EQ(got.has_value(), want.has_value()) << lo << " " << hi << " " << lower << " " << width;
        if (got) {
            ASSERT_EQ(got->start, want->start) << lo << " " << lower << " " << width;
            ASSERT_EQ(got->end, want->end) << hi << " " << lower << " " << width << " " << bins;
        }
    }
}

// Lower-edge keys sorted by bytes against the comparison sort, on both
// sides of the size where the byte passes take over.
TEST(SortPackedDifferential, SameOrderAsTheComparisonSort) {
    testing::PageGenerator gen(1414);
    for (int c = 0; c < 60; ++c) {
        const auto elements = gen.page(400 + gen.below(3000), c % 2 == 0 ? 10 : 0);
        for (CutAxis axis : {CutAxis::X, CutAxis::Y}) {
            std::vector<std::uint64_t> packed;
            for (std::size_t i = 0; i < elements.size(); ++i) {
                packed.push_back(packed_lower_edge(elements[i], axis, i));
            }
            std::vector<std::uint64_t> expected = packed;
            std::sort(expected.begin(), expected.end());
            std::vector<std::uint64_t> spare;
            sort_packed(packed, spare);
            ASSERT_EQ(packed, expected) << "case " << c;
        }
    }
}

TEST(XyCutDifferential, SameOrderRecordsAndFaultsAsCopyingPerLevel) {
    testing::PageGenerator gen(2718);
    int compared = 0;
    for (int c = 0; c < 1200; ++c) {
        const auto elements = gen.page(gen.below(c % 20 == 0 ? 1500 : 150), c % 3 == 0 ? 5 : 0);
        const OrderConfig config = random_config(gen);
        Region region{0.0f, 0.0f, 1000.0f + static_cast<float>(gen.below(3000)), 3100.0f};
        if (gen.chance(15)) region.left = gen.hostile();
        if (gen.chance(15)) region.bottom = gen.hostile();
        const auto [actual, expected] = both_cuts(elements, config, region);
        ASSERT_EQ(actual, expected) << "case " << c;
        ++compared;
    }
    RecordProperty("compared", compared);
}

// An inverted region with a negative scale still has bins (their width is
// negative), and there the spans do not come in the order of their lower
// edges: found by the differential fuzz target.
TEST(XyCutDifferential, InvertedRegionWithNegativeScale) {
    const std::vector<ElementRecord> elements{
        {9, -255.0f, -256.0f, -256.0f, -256.0f, SemanticLabel::CrossLayout},
        {1, 1243.0f, 0.0f, -256.0f, -256.0f, SemanticLabel::CrossLayout},
    };
    const OrderConfig config{5.0f, -248.0f, -256.0f};
    const Region region{0.0f, -224.0f, -256.0f, 774.0f};
    const auto [actual, expected] = both_cuts(elements, config, region);
    EXPECT_EQ(actual, expected);
}

// Pages of plain upright boxes (no cross-layout element, none flat or
// inverted), on which no level goes columns first, beside ones that break
// that by a single element.
TEST(XyCutDifferential, PlainPagesAndPagesWithOneExceptionMatch) {
    testing::PageGenerator gen(1729);
    for (int c = 0; c < 600; ++c) {
        auto elements = gen.page(2 + gen.below(c % 20 == 0 ? 800 : 80), c % 5 == 0 ? 2 : 0);
        for (ElementRecord& e : elements) {
            e.label = SemanticLabel::Regular;
            if (e.x2 < e.x1) std::swap(e.x1, e.x2);
            if (!(e.y2 > e.y1)) e.y2 = e.y1 + 1.0f;
        }
        ElementRecord& odd = elements[gen.below(static_cast<std::uint32_t>(elements.size()))];
        switch (c % 4) {
        case 1: odd.label = SemanticLabel::CrossLayout; break;
        case 2: odd.y2 = odd.y1; break;
        case 3: std::swap(odd.x1, odd.x2); break;
        default: break;
        }
        const OrderConfig config = c % 3 == 0 ? random_config(gen) : OrderConfig{};
        const Region region{0.0f, 0.0f, 1500.0f, 3100.0f};
        const auto [actual, expected] = both_cuts(elements, config, region);
        ASSERT_EQ(actual, expected) << "case " << c;
    }
}

// Sheets stacked down the page, each with two columns of paragraphs whose
// gaps sometimes open a band: rows are cut first and columns (often of more
// than a handful of elements) below them, several levels deep, so the lists
// by left edge and in input order are brought up to date through many rows.
std::vector<ElementRecord> stacked_columns(testing::PageGenerator& gen, int sheets) {
    std::vector<ElementRecord> out;
    for (int sheet = 0; sheet < sheets; ++sheet) {
        float y = static_cast<float>(sheet) * 1800.0f + static_cast<float>(gen.below(40));
        out.push_back({out.size(), 50.0f, y, 950.0f, y + 20.0f, SemanticLabel::Regular});
        for (float left : {50.0f, 520.0f}) {
            float top = y + 60.0f;
            const std::uint32_t items = 5 + gen.below(30);
            for (std::uint32_t i = 0; i < items; ++i) {
                const float height = static_cast<float>(10 + gen.below(50));
                const float right = left + 430.0f - static_cast<float>(gen.below(3) * 150);
                out.push_back({gen.chance(10) ? 7 : out.size(), left, top, right, top + height,
                               gen.chance(3) ? SemanticLabel::CrossLayout : SemanticLabel::Regular});
                top += height + static_cast<float>(gen.chance(20) ? 20 + gen.below(40) : gen.below(14));
            }
        }
    }
    for (ElementRecord& e : out) {
        if (gen.chance(2)) e.y2 = e.y1;  // flat
        if (gen.chance(1)) e.x1 = gen.hostile();
        if (gen.chance(1)) e.y2 = gen.hostile();
    }
    return out;
}

TEST(XyCutDifferential, StackedColumnsCutBelowRowsMatch) {
    testing::PageGenerator gen(4242);
    for (int c = 0; c < 300; ++c) {
        const auto elements = stacked_columns(gen, 1 + static_cast<int>(gen.below(c % 10 == 0 ? 40 : 6)));
        const OrderConfig config = c % 4 == 0 ? random_config(gen) : OrderConfig{};
        const Region region{0.0f, 0.0f, 1000.0f, 1800.0f * 41.0f};
        const auto [actual, expected] = both_cuts(elements, config, region);
        ASSERT_EQ(actual, expected) << "case " << c;
    }
}

// Article sheets stacked deep enough that the row cuts peel them off one
// level after another, each level hundreds of elements.
TEST(XyCutDifferential, DeepRowPeelingMatches) {
    testing::PageGenerator gen(1123);
    for (int c = 0; c < 12; ++c) {
        auto elements = stacked_columns(gen, 30 + static_cast<int>(gen.below(60)));
        const OrderConfig config = c % 3 == 0 ? random_config(gen) : OrderConfig{};
        const float bottom = c % 2 == 0 ? 1800.0f * 91.0f : 1800.0f * 91.0f + 0.7f;
        const Region region{0.0f, 0.0f, 1000.0f, bottom};
        const auto [actual, expected] = both_cuts(elements, config, region);
        ASSERT_EQ(actual, expected) << "case " << c;
    }
}

// A row search resumed from the points of an earlier one over a list that
// shares its first elements (the rest a subsequence of what followed), on a
// region with the same top and often the same bins, answers as a fresh one.
TEST(RowCutDifferential, ResumedSearchAnswersAsAFreshOne) {
    testing::PageGenerator gen(2236);
    for (int c = 0; c < 300; ++c) {
        const int sheets = 10 + static_cast<int>(gen.below(50));
        const auto elements = c % 2 == 0 ? gen.page(300 + gen.below(2500), c % 4 == 0 ? 3 : 0)
                                         : stacked_columns(gen, sheets);
        const float threshold = c % 5 == 0 ? static_cast<float>(gen.below(40)) : 15.0f;
        const float scale = c % 7 == 0 ? 0.05f * static_cast<float>(gen.below(40)) : 0.5f;
        const float top = c % 9 == 0 ? gen.hostile() : 0.0f;
        float bottom = c % 2 == 0 ? static_cast<float>(2 * (500 + gen.below(5000)))
                                  : 1800.0f * static_cast<float>(sheets + 1);
        std::vector<std::uint32_t> list = ascending_order(elements, CutAxis::Y);
        RowScanMemo memo;
        std::size_t shared = 0;
        for (int level = 0; level < 8 && !list.empty(); ++level) {
            // The cut's bits, nothing, or the fault.
            const auto answer = [](auto search) -> std::optional<std::uint64_t> {
                try {
                    const std::optional<float> cut = search();
                    return cut ? std::bit_cast<std::uint32_t>(*cut) : std::uint64_t{1} << 32;
                } catch (const InternalFault&) {
                    return std::nullopt;
                }
            };
            const auto expected = answer(
                [&] { return find_cut(elements.data(), list, CutAxis::Y, threshold, scale, top, bottom, nullptr); });
            const auto actual = answer(
                [&] { return find_row_cut(elements.data(), list, threshold, scale, top, bottom, memo, shared); });
            ASSERT_EQ(actual, expected) << "case " << c << " level " << level;
            // The next list keeps a leading run and drops some of the rest.
            shared = gen.below(static_cast<std::uint32_t>(list.size()) + 1);
            std::vector<std::uint32_t> next(list.begin(), list.begin() + static_cast<std::ptrdiff_t>(shared));
            for (std::size_t i = shared; i < list.size(); ++i) {
                if (i == shared || gen.chance(70)) next.push_back(list[i]);
            }
            list = std::move(next);
            if (gen.chance(70)) {
                bottom = actual && *actual < (std::uint64_t{1} << 32) && gen.chance(50)
                             ? std::bit_cast<float>(static_cast<std::uint32_t>(*actual))
                             : bottom - static_cast<float>(2 * gen.below(300));
            } else if (gen.chance(50)) {
                bottom += static_cast<float>(gen.below(300));
            }
        }
    }
}

TEST(PaperOrderDifferential, WholeOrderingMatchesTheReferencePieces) {
    testing::PageGenerator gen(31415);
    int compared = 0;
    for (int c = 0; c < 500; ++c) {
        const auto elements = gen.page(gen.below(c % 10 == 0 ? 2000 : 200), c % 4 == 0 ? 3 : 0);
        const OrderConfig config = c % 3 == 0 ? random_config(gen) : OrderConfig{};
        const PageBox page{0.0f, 0.0f, 1500.0f, 3100.0f};
        const Outcome expected = outcome_of([&](const DiagnosticSink& sink) {
            return reference_order(elements, page, config, sink);
        });
        const Outcome actual = outcome_of([&](const DiagnosticSink& sink) {
            return compute_paper_order(elements, page, config, sink);
        });
        ASSERT_EQ(actual, expected) << "case " << c;
        ++compared;
    }
    RecordProperty("compared", compared);
}

}  // namespace
}  // namespace vellora::paper
