// The XY-cut reading order: masks titles, figures and column-spanning
// elements, orders the rest by recursive XY-cut, then re-inserts the masked
// elements where a geometric cost is lowest.
#pragma once

#include <optional>
#include <vector>

#include "vellora/diagnostics.hpp"
#include "vellora/records.hpp"

namespace vellora {

// Reading order of `elements` on the page `page`. An invalid page yields a
// WARN record and an empty list. Throws InternalFault ("capacity overflow")
// for a histogram too large to address and std::bad_alloc when memory runs out.
IdList compute_paper_order(std::vector<ElementRecord> elements, const PageBox& page,
                           const std::optional<OrderConfig>& config, const DiagnosticSink& sink);

}  // namespace vellora
