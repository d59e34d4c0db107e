// The gap-segmentation reading order: sets aside wide cross-layout elements,
// cuts the rest recursively at the widest empty band, and merges the
// cross-layout elements back by their top edges. Uses the boxes only.
#pragma once

#include <vector>

#include "vellora/diagnostics.hpp"
#include "vellora/records.hpp"

namespace vellora {

// Reading order of `elements`; one id per element. Throws only std::bad_alloc.
IdList sort_elements(std::vector<ElementRecord> elements, const DiagnosticSink& sink);

}  // namespace vellora
