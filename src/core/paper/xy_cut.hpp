// Recursive XY-cut over the regular elements of a page.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "vellora/diagnostics.hpp"
#include "vellora/records.hpp"

namespace vellora::paper {

// The rectangle one level of the cut orders: left, top, right, bottom.
struct Region {
    float left = 0.0f;
    float top = 0.0f;
    float right = 0.0f;
    float bottom = 0.0f;
};

// Single-precision value nearest to 0.9.
inline constexpr float kVerticalFirstRatio = 0.9f;

// True when the cross-layout elements dominate the aspect ratios, so that a
// column cut is tried before a row cut.
bool vertical_first(std::span<const ElementRecord> elements) noexcept;

// The same over the elements base[i] for i in `members`, in that order.
bool vertical_first(const ElementRecord* base, std::span<const std::uint32_t> members) noexcept;

// Ids of `elements` in reading order: cut at empty bands, left before right
// and top before bottom, and sort by position where no band splits. Nesting is
// handled with an explicit work list, so deep layouts cannot exhaust the stack.
IdList recursive_xy_cut(const std::vector<ElementRecord>& elements, const OrderConfig& config,
                        const Region& region, const DiagnosticSink& sink);

}  // namespace vellora::paper
