// Puts the set-aside cross-layout elements back into the reading order of
// the main elements, each by its top edge.
#pragma once

#include <vector>

#include "ostrel/element.hpp"
#include "vellora/diagnostics.hpp"

namespace vellora::ostrel {

// Walks `ordered_main` in its order and places each cross-layout element
// (taken in y-then-x order) in front of the first main element whose top is
// at or below its own; the rest go last. A NaN top on either side lets the
// main element go first.
std::vector<SorterElement> merge_cross_layout(const std::vector<SorterElement>& ordered_main,
                                              const std::vector<SorterElement>& cross, const DiagnosticSink& sink);

}  // namespace vellora::ostrel
