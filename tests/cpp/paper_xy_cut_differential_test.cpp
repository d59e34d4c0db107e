// The sort-once XY-cut, and the whole XY-cut ordering, against the
// straightforward versions kept in reference/: same ids, same records, the
// same fault, on random and hostile pages, regions and settings.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

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

TEST(XyCutDifferential, SameOrderRecordsAndFaultsAsCopyingPerLevel) {
    testing::PageGenerator gen(2718);
    int compared = 0;
    for (int c = 0; c < 1200; ++c) {
        const auto elements = gen.page(gen.below(c % 20 == 0 ? 1500 : 150), c % 3 == 0 ? 5 : 0);
        const OrderConfig config = random_config(gen);
        Region region{0.0f, 0.0f, 1000.0f + static_cast<float>(gen.below(3000)), 3100.0f};
        if (gen.chance(15)) region.left = gen.hostile();
        if (gen.chance(15)) region.bottom = gen.hostile();
        const Outcome expected = outcome_of([&](const DiagnosticSink& sink) {
            return reference::recursive_xy_cut(elements, config, region, sink);
        });
        const Outcome actual = outcome_of([&](const DiagnosticSink& sink) {
            return recursive_xy_cut(elements, config, region, sink);
        });
        ASSERT_EQ(actual, expected) << "case " << c;
        ++compared;
    }
    RecordProperty("compared", compared);
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
