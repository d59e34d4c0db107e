// Placement of the masked elements (titles, figures, spanning elements) into
// the order the XY-cut produced, each in front of its cheapest neighbour.
#pragma once

#include <cstdint>
#include <span>

#include "vellora/diagnostics.hpp"
#include "vellora/records.hpp"

namespace vellora::paper {

// Group of a masked element and eligibility rank of a candidate:
// CrossLayout 0, titles 1, Vision 2, Regular 3.
constexpr int mask_priority(SemanticLabel label) noexcept {
    switch (label) {
    case SemanticLabel::CrossLayout: return 0;
    case SemanticLabel::HorizontalTitle:
    case SemanticLabel::VerticalTitle: return 1;
    case SemanticLabel::Vision: return 2;
    case SemanticLabel::Regular: return 3;
    }
    return 3;
}

struct CostWeights {
    float overlap;
    float gap;
    float vertical;
    float left;
};

// Weights of a masked element, by label and, for titles, by shape.
CostWeights weights_for(const ElementRecord& masked) noexcept;

struct Cost {
    bool rejected;  // the running sum passed `best` before the last term
    float value;    // the full cost, or the running sum at rejection
};

// Cost of placing `masked` in front of `candidate`; stops early once the
// running sum after the first, second or third term exceeds `best`.
Cost insertion_cost(const ElementRecord& masked, const ElementRecord& candidate,
                    const CostWeights& weights, float best) noexcept;

// Inserts one id per masked element into `order`, group by group, each in
// row-major order within its group. Ids with no eligible candidate are
// appended with a warning.
void reinsert_masked(IdList& order, std::span<const ElementRecord> masked,
                     std::span<const ElementRecord> regular, float same_row_tolerance,
                     const DiagnosticSink& sink);

}  // namespace vellora::paper
