#include "histogram.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "sites.hpp"
#include "vellora/errors.hpp"
#include "vellora/format.hpp"
#include "vellora/numeric.hpp"

namespace vellora::paper {
namespace {

constexpr RecordSite kVerticalHistogramSite = site(Level::Debug, 253);
constexpr RecordSite kVerticalGapSite = site(Level::Debug, 264);

// The bins a search lays over [lower, upper), and the least gap in bins.
struct Grid {
    float range;
    std::uint64_t bins;
    float bins_f;
    float bin_width;
    std::uint64_t min_gap;
};

Grid grid_of(float lower, float upper, float scale, float min_cut_threshold) {
    const float range = upper - lower;
    const std::uint64_t bins = bin_count(range, scale);
    check_bin_count(bins);
    const float bins_f = static_cast<float>(bins);
    return {range, bins, bins_f, range / bins_f, num::saturating_u64(min_cut_threshold * scale)};
}

}  // namespace

std::optional<float> find_cut(const ElementRecord* elements, std::span<const std::uint32_t> ascending,
                              CutAxis axis, float min_cut_threshold, float scale, float lower,
                              float upper, const DiagnosticSink* sink) {
    const auto [range, bins, bins_f, bin_width, min_gap] = grid_of(lower, upper, scale, min_cut_threshold);

    const bool report = sink != nullptr && ascending.size() >= 16;
    if (report) {
        sink->emit(kVerticalHistogramSite, [&] {
            return "[Histogram] Vertical: " + std::to_string(bins) +
                   " bins, min_gap=" + std::to_string(min_gap) + ", x_range=" +
                   fmt::fixed(lower, 0) + "-" + fmt::fixed(upper, 0);
        });
    }

    // The elements come by ascending lower edge (NaN first), and with bins
    // of positive width the first covered bin grows with the lower edge, so
    // the spans arrive in the order the scan needs without sorting. An
    // inverted region with a negative scale has bins of negative width:
    // there the spans are collected and sorted first.
    GapScan scan(bins, min_gap);
    if (bins > 0) {
        const auto span_of = [&](std::uint32_t index) {
            const ElementRecord& element = elements[index];
            return axis == CutAxis::X ? coverage(bins, lower, bin_width, element.x1, element.x2)
                                      : coverage(bins, lower, bin_width, element.y1, element.y2);
        };
        if (bin_width > 0.0f) {
            // A span ending inside the bins already scanned changes nothing,
            // so the end comes first and the start only when needed. Here
            // the lower edge and the bin width are finite, so the end never
            // falls as the upper edge grows: an element whose upper edge is
            // at most that of the span that last extended the scan is
            // skipped without dividing at all.
            const auto scan_along = [&]<CutAxis along>() {
                float reached = -std::numeric_limits<float>::infinity();
                for (std::uint32_t index : ascending) {
                    const ElementRecord& element = elements[index];
                    const float lo = along == CutAxis::X ? element.x1 : element.y1;
                    const float hi = along == CutAxis::X ? element.x2 : element.y2;
                    if (hi <= reached) continue;
                    const std::uint64_t end = coverage_end(bins, lower, bin_width, hi);
                    if (end <= scan.scanned()) continue;
                    const std::uint64_t start = coverage_start(lower, bin_width, lo);
                    if (start < end) {
                        scan.add({start, end});
                        reached = hi;
                    }
                }
            };
            if (axis == CutAxis::X) {
                scan_along.operator()<CutAxis::X>();
            } else {
                scan_along.operator()<CutAxis::Y>();
            }
        } else {
            std::vector<CoveredBins> spans;
            for (std::uint32_t index : ascending) {
                if (const std::optional<CoveredBins> span = span_of(index)) spans.push_back(*span);
            }
            std::sort(spans.begin(), spans.end(),
                      [](const CoveredBins& a, const CoveredBins& b) { return a.start < b.start; });
            for (const CoveredBins& span : spans) scan.add(span);
        }
    }
    const std::optional<std::uint64_t> position = scan.finish();
    if (!position) {
        return std::nullopt;
    }
    const float cut = static_cast<float>(*position) / bins_f * range + lower;
    if (report) {
        sink->emit(kVerticalGapSite, [&] {
            return "[Histogram] Found gap at bin " + std::to_string(*position) +
                   ", x=" + fmt::fixed(cut, 0);
        });
    }
    return cut;
}

std::optional<float> find_row_cut(const ElementRecord* elements, std::span<const std::uint32_t> ascending,
                                  float min_cut_threshold, float scale, float lower, float upper,
                                  RowScanMemo& memo, std::size_t shared) {
    const auto [range, bins, bins_f, bin_width, min_gap] = grid_of(lower, upper, scale, min_cut_threshold);
    // Below 2^24 bins every bin count is exact as a float, and a span's end
    // is its unclamped end capped at the bin count: a point whose scan ended
    // below the bin count saw only spans that the bin count did not cap,
    // and with no more bins than before a span lying past the end stays
    // past it.
    constexpr std::uint64_t kExactBins = std::uint64_t{1} << 24;
    if (bins == 0 || !(bin_width > 0.0f) || bins >= kExactBins) {
        memo.points.clear();
        return find_cut(elements, ascending, CutAxis::Y, min_cut_threshold, scale, lower, upper, nullptr);
    }

    GapScan scan(bins, min_gap);
    float reached = -std::numeric_limits<float>::infinity();
    std::size_t from = 0;
    const bool same_bins = std::bit_cast<std::uint32_t>(memo.lower) == std::bit_cast<std::uint32_t>(lower) &&
                           std::bit_cast<std::uint32_t>(memo.bin_width) == std::bit_cast<std::uint32_t>(bin_width) &&
                           memo.min_gap == min_gap && bins <= memo.bins;
    std::size_t kept = 0;
    if (same_bins) {
        for (std::size_t i = memo.points.size(); i > 0; --i) {
            const RowScanMemo::Point& point = memo.points[i - 1];
            if (point.count <= shared && point.scan.scanned() < bins) {
                kept = i;
                break;
            }
        }
    }
    memo.points.erase(memo.points.begin() + static_cast<std::ptrdiff_t>(kept), memo.points.end());
    if (kept > 0) {
        const RowScanMemo::Point& point = memo.points.back();
        scan = point.scan;
        scan.set_bins(bins);
        reached = point.reached;
        from = point.count;
    }
    memo.lower = lower;
    memo.bin_width = bin_width;
    memo.bins = bins;
    memo.min_gap = min_gap;

    // A point every this many elements.
    constexpr std::size_t kPointEvery = 64;
    const std::size_t n = ascending.size();
    for (std::size_t i = from; i < n;) {
        if (i > from) {
            // Every bin is scanned: no span ends past the last one.
            if (scan.scanned() >= bins) break;
            memo.points.push_back({static_cast<std::uint32_t>(i), reached, scan});
        }
        const std::size_t stop = std::min(n, (i / kPointEvery + 1) * kPointEvery);
        for (; i < stop; ++i) {
            const ElementRecord& element = elements[ascending[i]];
            const float hi = element.y2;
            if (hi <= reached) continue;
            const std::uint64_t end = coverage_end(bins, lower, bin_width, hi);
            if (end <= scan.scanned()) continue;
            const std::uint64_t start = coverage_start(lower, bin_width, element.y1);
            if (start < end) {
                scan.add({start, end});
                reached = hi;
            }
        }
    }
    const std::optional<std::uint64_t> position = scan.finish();
    if (!position) {
        return std::nullopt;
    }
    return static_cast<float>(*position) / bins_f * range + lower;
}

void sort_packed(std::vector<std::uint64_t>& packed, std::vector<std::uint64_t>& spare) {
    // Below this many numbers a comparison sort is cheaper.
    constexpr std::size_t kByBytesFrom = 512;
    const std::size_t n = packed.size();
    if (n < kByBytesFrom) {
        std::sort(packed.begin(), packed.end());
        return;
    }
    spare.resize(n);
    std::array<std::array<std::uint32_t, 256>, 4> counts{};
    for (const std::uint64_t value : packed) {
        for (std::size_t byte = 0; byte < 4; ++byte) ++counts[byte][(value >> (32 + 8 * byte)) & 0xff];
    }
    std::uint64_t* from = packed.data();
    std::uint64_t* to = spare.data();
    for (std::size_t byte = 0; byte < 4; ++byte) {
        std::array<std::uint32_t, 256>& count = counts[byte];
        // Every number with the same byte: the pass would change nothing.
        if (count[(from[0] >> (32 + 8 * byte)) & 0xff] == n) continue;
        std::uint32_t next = 0;
        for (std::uint32_t& c : count) next += std::exchange(c, next);
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint64_t value = from[i];
            to[count[(value >> (32 + 8 * byte)) & 0xff]++] = value;
        }
        std::swap(from, to);
    }
    if (from != packed.data()) std::copy(from, from + n, packed.data());
}

std::vector<std::uint32_t> ascending_order(std::span<const ElementRecord> elements, CutAxis axis) {
    std::vector<std::uint64_t> packed(elements.size());
    for (std::size_t i = 0; i < elements.size(); ++i) packed[i] = packed_lower_edge(elements[i], axis, i);
    std::vector<std::uint64_t> spare;
    sort_packed(packed, spare);
    std::vector<std::uint32_t> order(elements.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<std::uint32_t>(packed[i]);
    return order;
}

void check_bin_count(std::uint64_t bins) {
    if (bins >= kMaxBins) {
        throw InternalFault("capacity overflow");
    }
    // Below that any count is fine: the counters are never materialised
    // (see scan_gaps), so a search costs time and memory by elements only.
}

std::uint64_t bin_count(float range, float scale) noexcept {
    return num::saturating_u64(range * scale);
}

GapScan::GapScan(std::uint64_t bins, std::uint64_t min_gap) noexcept : bins_(bins), min_gap_(min_gap) {}

std::optional<std::uint64_t> GapScan::finish() noexcept {
    if (next_ < bins_) {
        empty_bins(next_, bins_);
    }
    if (run_length_ >= min_gap_ && in_run_ && run_length_ > best_length_) {
        return run_start_ + run_length_ / 2;
    }
    if (found_) {
        return best_position_;
    }
    return std::nullopt;
}

std::optional<std::uint64_t> scan_gaps(std::vector<CoveredBins> covered, std::uint64_t bins,
                                       std::uint64_t min_gap) {
    std::sort(covered.begin(), covered.end(),
              [](const CoveredBins& a, const CoveredBins& b) { return a.start < b.start; });
    GapScan scan(bins, min_gap);
    for (const CoveredBins& span : covered) scan.add(span);
    return scan.finish();
}

std::optional<float> find_vertical_cut(std::span<const ElementRecord> elements,
                                       float min_cut_threshold, float scale, float left,
                                       float right, const DiagnosticSink& sink) {
    const std::vector<std::uint32_t> order = ascending_order(elements, CutAxis::X);
    return find_cut(elements.data(), order, CutAxis::X, min_cut_threshold, scale, left, right, &sink);
}

std::optional<float> find_horizontal_cut(std::span<const ElementRecord> elements,
                                         float min_cut_threshold, float scale, float top,
                                         float bottom) {
    const std::vector<std::uint32_t> order = ascending_order(elements, CutAxis::Y);
    return find_cut(elements.data(), order, CutAxis::Y, min_cut_threshold, scale, top, bottom, nullptr);
}

}  // namespace vellora::paper
