#include "histogram.hpp"

#include <algorithm>
#include <cmath>
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

enum class Axis { X, Y };

std::optional<float> find_cut(std::span<const ElementRecord> elements, Axis axis,
                              float min_cut_threshold, float scale, float lower, float upper,
                              const DiagnosticSink* sink) {
    const float range = upper - lower;
    const std::uint64_t bins = bin_count(range, scale);
    check_bin_count(bins);
    const float bins_f = static_cast<float>(bins);
    const float bin_width = range / bins_f;
    std::vector<CoveredBins> covered;
    if (bins > 0) {
        covered.reserve(elements.size());
        for (const ElementRecord& element : elements) {
            const std::optional<CoveredBins> span =
                axis == Axis::X ? coverage(bins, lower, bin_width, element.x1, element.x2)
                                : coverage(bins, lower, bin_width, element.y1, element.y2);
            if (span) {
                covered.push_back(*span);
            }
        }
    }
    const std::uint64_t min_gap = num::saturating_u64(min_cut_threshold * scale);

    const bool report = sink != nullptr && elements.size() >= 16;
    if (report) {
        sink->emit(kVerticalHistogramSite, [&] {
            return "[Histogram] Vertical: " + std::to_string(bins) +
                   " bins, min_gap=" + std::to_string(min_gap) + ", x_range=" +
                   fmt::fixed(lower, 0) + "-" + fmt::fixed(upper, 0);
        });
    }

    const std::optional<std::uint64_t> position = scan_gaps(std::move(covered), bins, min_gap);
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

}  // namespace

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

std::optional<CoveredBins> coverage(std::uint64_t bins, float lower, float bin_width, float lo,
                                    float hi) noexcept {
    const float bins_f = static_cast<float>(bins);

    float first = std::floor((lo - lower) / bin_width);
    if (first < 0.0f || num::is_nan(first)) {
        first = 0.0f;
    }
    const std::uint64_t start = num::saturating_u64(first);

    float last = std::ceil((hi - lower) / bin_width);
    if (last > bins_f || num::is_nan(last)) {
        last = bins_f;
    }
    std::uint64_t end = num::saturating_u64(last);
    if (end > bins) {
        end = bins;
    }

    if (start >= end) {
        return std::nullopt;
    }
    return CoveredBins{start, end};
}

std::optional<std::uint64_t> scan_gaps(std::vector<CoveredBins> covered, std::uint64_t bins,
                                       std::uint64_t min_gap) {
    std::uint64_t run_length = 0;
    std::uint64_t run_start = 0;
    bool in_run = false;
    std::uint64_t best_length = 0;
    std::uint64_t best_position = 0;
    bool found = false;

    // The bin-by-bin scan, taken a stretch at a time. A stretch of empty bins
    // extends the open run (starting it at its first bin if none is open). In
    // a stretch of occupied bins only the first one can close a run: after it
    // the run length is 0 or unchanged, and neither qualifies on the next bin.
    const auto empty_bins = [&](std::uint64_t from, std::uint64_t to) {
        if (!in_run) {
            run_start = from;
        }
        run_length += to - from;
        in_run = true;
    };
    std::sort(covered.begin(), covered.end(),
              [](const CoveredBins& a, const CoveredBins& b) { return a.start < b.start; });
    std::uint64_t next = 0;  // first bin not yet scanned
    for (const CoveredBins& span : covered) {
        if (span.end <= next) {
            continue;  // wholly inside bins already scanned
        }
        if (span.start > next) {
            empty_bins(next, span.start);
            next = span.start;
        }
        if (span.start == next && run_length >= min_gap && run_length > best_length) {
            best_length = run_length;
            if (in_run) {
                best_position = run_start + run_length / 2;
                found = true;
            }
            in_run = false;
            run_length = 0;
        }
        next = span.end;
    }
    if (next < bins) {
        empty_bins(next, bins);
    }

    if (run_length >= min_gap && in_run && run_length > best_length) {
        return run_start + run_length / 2;
    }
    if (found) {
        return best_position;
    }
    return std::nullopt;
}

std::optional<float> find_vertical_cut(std::span<const ElementRecord> elements,
                                       float min_cut_threshold, float scale, float left,
                                       float right, const DiagnosticSink& sink) {
    return find_cut(elements, Axis::X, min_cut_threshold, scale, left, right, &sink);
}

std::optional<float> find_horizontal_cut(std::span<const ElementRecord> elements,
                                         float min_cut_threshold, float scale, float top,
                                         float bottom) {
    return find_cut(elements, Axis::Y, min_cut_threshold, scale, top, bottom, nullptr);
}

}  // namespace vellora::paper
