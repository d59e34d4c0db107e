// Projection histograms and the search for an empty band along one axis.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "vellora/diagnostics.hpp"
#include "vellora/records.hpp"

namespace vellora::paper {

// Histograms of this many bins or more cannot be addressed at all.
inline constexpr std::uint64_t kMaxBins = std::uint64_t{1} << 60;

// Accepts a histogram of `bins` counters or ends the call with InternalFault
// ("capacity overflow") at kMaxBins or more.
void check_bin_count(std::uint64_t bins);

// Bin count for an extent of `range` at `scale` bins per unit (truncated,
// saturating, negative and NaN give 0).
std::uint64_t bin_count(float range, float scale) noexcept;

// Bins [start, end) that one element's span covers.
struct CoveredBins {
    std::uint64_t start;
    std::uint64_t end;
};

// The bins the span [lo, hi] covers in a histogram of `bins` bins whose bin 0
// starts at `lower` and whose bins are `bin_width` wide; nothing when it
// covers none.
std::optional<CoveredBins> coverage(std::uint64_t bins, float lower, float bin_width, float lo,
                                    float hi) noexcept;

// Position of the chosen empty band in a histogram of `bins` bins in which
// exactly the bins of `covered` are occupied, or nothing. A run of empty bins
// stays open across occupied bins until it reaches `min_gap` and beats the
// best run so far; a run reaching the last bin is considered at the end. Only
// whether a bin is occupied matters, so the work grows with the number of
// spans, not with the number of bins.
std::optional<std::uint64_t> scan_gaps(std::vector<CoveredBins> covered, std::uint64_t bins,
                                       std::uint64_t min_gap);

// x of an empty vertical band between `left` and `right`. With 16 or more
// elements it reports the histogram and the gap it found.
std::optional<float> find_vertical_cut(std::span<const ElementRecord> elements,
                                       float min_cut_threshold, float scale, float left,
                                       float right, const DiagnosticSink& sink);

// y of an empty horizontal band between `top` and `bottom`; silent.
std::optional<float> find_horizontal_cut(std::span<const ElementRecord> elements,
                                         float min_cut_threshold, float scale, float top,
                                         float bottom);

}  // namespace vellora::paper
