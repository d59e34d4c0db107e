// Projection histograms and the search for an empty band along one axis.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <vector>

#include "vellora/diagnostics.hpp"
#include "vellora/numeric.hpp"
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

// Smallest integral value not below `value`, as std::ceil gives it except
// that -0 may come out as +0. Every float of magnitude 2^23 or more (and
// every infinity and NaN) is already integral; below that, truncation is
// exact and lands on the ceiling or one under it.
inline float ceiling(float value) noexcept {
    if (value > -8388608.0f && value < 8388608.0f) {
        const auto truncated = static_cast<float>(static_cast<std::int32_t>(value));
        return truncated < value ? truncated + 1.0f : truncated;
    }
    return value;
}

// First bin of the span [lo, hi] in a histogram whose bin 0 starts at
// `lower` and whose bins are `bin_width` wide: the floor of the lower offset,
// taken as 0 when negative or NaN. Truncating the offset itself gives the
// same number (floor and truncation agree from 0 up, and both end at 0 below
// it).
inline std::uint64_t coverage_start(float lower, float bin_width, float lo) noexcept {
    return num::saturating_u64((lo - lower) / bin_width);
}

// One past the last bin of that span in a histogram of `bins` bins: the
// ceiling of the upper offset, at most `bins`.
inline std::uint64_t coverage_end(std::uint64_t bins, float lower, float bin_width, float hi) noexcept {
    const float offset = (hi - lower) / bin_width;
    if (offset > -8388608.0f && offset < 8388608.0f) {
        // The ceiling as an integer of at most 2^23: below 2^24 every bin
        // count is exact as a float, and from there on none is that small.
        const auto truncated = static_cast<std::int32_t>(offset);
        const std::int64_t up = std::int64_t{truncated} + (static_cast<float>(truncated) < offset ? 1 : 0);
        return up <= 0 ? 0 : std::min(static_cast<std::uint64_t>(up), bins);
    }
    const float bins_f = static_cast<float>(bins);
    float last = ceiling(offset);
    if (last > bins_f || num::is_nan(last)) {
        last = bins_f;
    }
    std::uint64_t end = num::saturating_u64(last);
    if (end > bins) {
        end = bins;
    }
    return end;
}

// The bins the span [lo, hi] covers; nothing when it covers none.
inline std::optional<CoveredBins> coverage(std::uint64_t bins, float lower, float bin_width, float lo,
                                    float hi) noexcept {
    const std::uint64_t start = coverage_start(lower, bin_width, lo);
    const std::uint64_t end = coverage_end(bins, lower, bin_width, hi);
    if (start >= end) {
        return std::nullopt;
    }
    return CoveredBins{start, end};
}

// The scan of scan_gaps over spans given one at a time in non-decreasing
// order of their first bin (spans with equal first bins in any order).
class GapScan {
public:
    GapScan(std::uint64_t bins, std::uint64_t min_gap) noexcept;
    void add(const CoveredBins& span) noexcept;
    // The chosen position once every span was added.
    std::optional<std::uint64_t> finish() noexcept;
    // Bins before this one are settled: a span ending at or before it
    // changes nothing.
    std::uint64_t scanned() const noexcept { return next_; }
    // The same scan over a histogram of `bins` bins (only the end differs).
    void set_bins(std::uint64_t bins) noexcept { bins_ = bins; }

private:
    void empty_bins(std::uint64_t from, std::uint64_t to) noexcept;

    std::uint64_t bins_;
    std::uint64_t min_gap_;
    std::uint64_t run_length_ = 0;
    std::uint64_t run_start_ = 0;
    bool in_run_ = false;
    std::uint64_t best_length_ = 0;
    std::uint64_t best_position_ = 0;
    bool found_ = false;
    std::uint64_t next_ = 0;  // first bin not yet scanned
};

// (defined here so that the searches inline them)
// The bin-by-bin scan, taken a stretch at a time. A stretch of empty bins
// extends the open run (starting it at its first bin if none is open). In a
// stretch of occupied bins only the first one can close a run: after it the
// run length is 0 or unchanged, and neither qualifies on the next bin.
inline void GapScan::empty_bins(std::uint64_t from, std::uint64_t to) noexcept {
    if (!in_run_) {
        run_start_ = from;
    }
    run_length_ += to - from;
    in_run_ = true;
}

inline void GapScan::add(const CoveredBins& span) noexcept {
    if (span.end <= next_) {
        return;  // wholly inside bins already scanned
    }
    if (span.start > next_) {
        empty_bins(next_, span.start);
        next_ = span.start;
    }
    if (span.start == next_ && run_length_ >= min_gap_ && run_length_ > best_length_) {
        best_length_ = run_length_;
        if (in_run_) {
            best_position_ = run_start_ + run_length_ / 2;
            found_ = true;
        }
        in_run_ = false;
        run_length_ = 0;
    }
    next_ = span.end;
}

// Position of the chosen empty band in a histogram of `bins` bins in which
// exactly the bins of `covered` are occupied, or nothing. A run of empty bins
// stays open across occupied bins until it reaches `min_gap` and beats the
// best run so far; a run reaching the last bin is considered at the end. Only
// whether a bin is occupied matters, so the work grows with the number of
// spans, not with the number of bins.
std::optional<std::uint64_t> scan_gaps(std::vector<CoveredBins> covered, std::uint64_t bins,
                                       std::uint64_t min_gap);

enum class CutAxis { X, Y };

// Sort key of an element's lower edge along `axis` (x1 or y1): IEEE
// totalOrder, with every NaN first. The first covered bin never decreases
// along this order, since a NaN edge covers from bin 0.
inline std::int32_t lower_edge_key(const ElementRecord& e, CutAxis axis) noexcept {
    const float edge = axis == CutAxis::X ? e.x1 : e.y1;
    return num::is_nan(edge) ? std::numeric_limits<std::int32_t>::min() : num::total_order_key(edge);
}

// lower_edge_key and the element's index packed into one number whose
// order is that of the key, then of the index.
inline std::uint64_t packed_lower_edge(const ElementRecord& e, CutAxis axis, std::size_t index) noexcept {
    const auto key = static_cast<std::uint32_t>(lower_edge_key(e, axis)) ^ 0x8000'0000u;
    return std::uint64_t{key} << 32 | index;
}

// Sorts packed_lower_edge numbers listed by ascending index into ascending
// order; `spare` is scratch. Large lists go by bytes of the key, from the
// lowest up, each pass stable, which keeps equal keys in index order.
void sort_packed(std::vector<std::uint64_t>& packed, std::vector<std::uint64_t>& spare);

// Indices of `elements` by ascending lower_edge_key, then index.
std::vector<std::uint32_t> ascending_order(std::span<const ElementRecord> elements, CutAxis axis);

// The band search over the elements at `ascending` (indices into `elements`
// by ascending lower_edge_key along `axis`), between `lower` and `upper`.
// With a sink and 16 or more elements it reports the histogram and the gap.
std::optional<float> find_cut(const ElementRecord* elements, std::span<const std::uint32_t> ascending,
                              CutAxis axis, float min_cut_threshold, float scale, float lower,
                              float upper, const DiagnosticSink* sink);

// Progress of a row search at points along its list of elements, so that a
// later search over a list that starts with the same elements, on the same
// bins, goes on from the last point inside that common start.
struct RowScanMemo {
    struct Point {
        std::uint32_t count;  // elements of the list behind this point
        float reached;
        GapScan scan;
    };
    float lower = 0.0f;
    float bin_width = 0.0f;
    std::uint64_t bins = 0;
    std::uint64_t min_gap = 0;
    std::vector<Point> points;
};

// find_cut along y, silent, that resumes from `memo` when its first `shared`
// elements are the first ones of the list `memo` was taken over, and leaves
// in `memo` the points of this search. Same answer as find_cut.
std::optional<float> find_row_cut(const ElementRecord* elements, std::span<const std::uint32_t> ascending,
                                  float min_cut_threshold, float scale, float lower, float upper,
                                  RowScanMemo& memo, std::size_t shared);

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
