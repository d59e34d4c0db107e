// Median of a list of widths, shared by both orderings.
#pragma once

#include <vector>

namespace vellora {

// Sorts `values` by IEEE totalOrder; the middle entry for an odd count, the
// two middle entries summed and then halved for an even count. 0 when empty.
float median_of(std::vector<float> values);

}  // namespace vellora
