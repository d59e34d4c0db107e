#include "vellora/paper.hpp"

namespace vellora {

// Placeholder until the XY-cut lands: empty input gives an empty order.
IdList compute_paper_order(std::vector<ElementRecord> elements, const PageBox&,
                           const std::optional<OrderConfig>&, const DiagnosticSink&) {
    IdList ids;
    ids.reserve(elements.size());
    for (const auto& element : elements) ids.push_back(element.id);
    return ids;
}

}  // namespace vellora
