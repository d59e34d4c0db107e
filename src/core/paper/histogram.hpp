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

// Counters of one histogram: zero-initialised, released on destruction.
class BinCounters {
public:
    // Throws InternalFault("capacity overflow") at kMaxBins or more and
    // std::bad_alloc when the counters exceed the memory budget or cannot be
    // allocated.
    explicit BinCounters(std::uint64_t bins);
    ~BinCounters();
    BinCounters(const BinCounters&) = delete;
    BinCounters& operator=(const BinCounters&) = delete;

    std::uint64_t size() const noexcept { return size_; }
    std::uint64_t* data() noexcept { return data_; }
    std::span<const std::uint64_t> view() const noexcept {
        return {data_, static_cast<std::size_t>(size_)};
    }

private:
    std::uint64_t* data_ = nullptr;
    std::uint64_t size_ = 0;
};

// Largest histogram, in bytes, that a search may allocate: half of the
// physical memory.
std::uint64_t histogram_byte_budget() noexcept;

// Bin count for an extent of `range` at `scale` bins per unit (truncated,
// saturating, negative and NaN give 0).
std::uint64_t bin_count(float range, float scale) noexcept;

// Counts the span [lo, hi] in every bin it covers, for a histogram whose bin
// 0 starts at `lower` and whose bins are `bin_width` wide. The counters hold
// differences until `accumulate_coverage` turns them into coverage counts, so
// a span costs O(1) however many bins it covers.
void add_coverage(BinCounters& counters, float lower, float bin_width, float lo, float hi) noexcept;

// Turns the differences left by `add_coverage` into coverage counts.
void accumulate_coverage(BinCounters& counters) noexcept;

// Position of the chosen empty band in `counters`, or nothing. A run of empty
// bins stays open across occupied bins until it reaches `min_gap` and beats
// the best run so far; a run reaching the last bin is considered at the end.
std::optional<std::uint64_t> scan_gaps(std::span<const std::uint64_t> counters,
                                       std::uint64_t min_gap) noexcept;

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
