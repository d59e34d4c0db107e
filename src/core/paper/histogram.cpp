#include "histogram.hpp"

#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <new>
#include <string>

#include "sites.hpp"
#include "vellora/errors.hpp"
#include "vellora/format.hpp"
#include "vellora/numeric.hpp"

namespace vellora::paper {
namespace {

constexpr RecordSite kVerticalHistogramSite = site(Level::Debug, 253);
constexpr RecordSite kVerticalGapSite = site(Level::Debug, 264);

// Used when the system does not report its physical memory.
constexpr std::uint64_t kFallbackBudget = std::uint64_t{4} << 30;

enum class Axis { X, Y };

std::optional<float> find_cut(std::span<const ElementRecord> elements, Axis axis,
                              float min_cut_threshold, float scale, float lower, float upper,
                              const DiagnosticSink* sink) {
    const float range = upper - lower;
    const std::uint64_t bins = bin_count(range, scale);
    BinCounters counters(bins);
    const float bins_f = static_cast<float>(bins);
    const float bin_width = range / bins_f;
    if (bins > 0) {
        for (const ElementRecord& element : elements) {
            if (axis == Axis::X) {
                add_coverage(counters, lower, bin_width, element.x1, element.x2);
            } else {
                add_coverage(counters, lower, bin_width, element.y1, element.y2);
            }
        }
        accumulate_coverage(counters);
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

    const std::optional<std::uint64_t> position = scan_gaps(counters.view(), min_gap);
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

std::uint64_t histogram_byte_budget() noexcept {
    // A histogram never takes more than half of the machine's physical
    // memory. Larger requests fail like an exhausted allocator (MemoryError at
    // the Python surface) instead of driving the process into the OOM killer
    // or into a scan over billions of bins.
    static const std::uint64_t budget = [] {
        const long pages = sysconf(_SC_PHYS_PAGES);
        const long page_size = sysconf(_SC_PAGE_SIZE);
        if (pages <= 0 || page_size <= 0) {
            return kFallbackBudget;
        }
        const auto page_count = static_cast<std::uint64_t>(pages);
        const auto page_bytes = static_cast<std::uint64_t>(page_size);
        if (page_count > UINT64_MAX / page_bytes) {
            return UINT64_MAX / 2;
        }
        return page_count * page_bytes / 2;
    }();
    return budget;
}

BinCounters::BinCounters(std::uint64_t bins) {
    if (bins >= kMaxBins) {
        throw InternalFault("capacity overflow");
    }
    if (bins == 0) {
        return;
    }
    // bins < 2**60, so the byte count fits comfortably.
    const std::uint64_t bytes = bins * sizeof(std::uint64_t);
    if (bytes > histogram_byte_budget() || bins > SIZE_MAX / sizeof(std::uint64_t)) {
        throw std::bad_alloc();
    }
    // calloc hands out zeroed pages lazily, so bins that no element covers
    // cost no resident memory.
    void* memory = std::calloc(static_cast<std::size_t>(bins), sizeof(std::uint64_t));
    if (memory == nullptr) {
        throw std::bad_alloc();
    }
    data_ = static_cast<std::uint64_t*>(memory);
    size_ = bins;
}

BinCounters::~BinCounters() { std::free(data_); }

std::uint64_t bin_count(float range, float scale) noexcept {
    return num::saturating_u64(range * scale);
}

void add_coverage(BinCounters& counters, float lower, float bin_width, float lo,
                  float hi) noexcept {
    const std::uint64_t bins = counters.size();
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
        return;
    }
    // Unsigned wrap-around is intended: the prefix sums in
    // accumulate_coverage bring every counter back to a true count.
    std::uint64_t* data = counters.data();
    data[start] += 1;
    if (end < bins) {
        data[end] -= 1;
    }
}

void accumulate_coverage(BinCounters& counters) noexcept {
    std::uint64_t* data = counters.data();
    std::uint64_t running = 0;
    for (std::uint64_t bin = 0; bin < counters.size(); ++bin) {
        running += data[bin];
        data[bin] = running;
    }
}

std::optional<std::uint64_t> scan_gaps(std::span<const std::uint64_t> counters,
                                       std::uint64_t min_gap) noexcept {
    std::uint64_t run_length = 0;
    std::uint64_t run_start = 0;
    bool in_run = false;
    std::uint64_t best_length = 0;
    std::uint64_t best_position = 0;
    bool found = false;

    for (std::size_t bin = 0; bin < counters.size(); ++bin) {
        if (counters[bin] == 0) {
            if (!in_run) {
                run_start = bin;
            }
            ++run_length;
            in_run = true;
        } else if (run_length >= min_gap && run_length > best_length) {
            best_length = run_length;
            if (in_run) {
                best_position = run_start + run_length / 2;
                found = true;
            }
            in_run = false;
            run_length = 0;
        }
        // An occupied bin that does not close a qualifying run leaves the
        // run open: later empty bins keep adding to it.
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
