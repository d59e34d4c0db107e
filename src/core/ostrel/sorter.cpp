#include "vellora/ostrel.hpp"

namespace vellora {

// Placeholder until segmentation lands: ids in input order.
IdList sort_elements(std::vector<ElementRecord> elements, const DiagnosticSink&) {
    IdList ids;
    ids.reserve(elements.size());
    for (const auto& element : elements) ids.push_back(element.id);
    return ids;
}

}  // namespace vellora
