#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>
#include <string>
#include <utility>

#include "box_tree.hpp"
#include "lanes.hpp"
#include "masking.hpp"
#include "median.hpp"
#include "reinsert.hpp"
#include "sites.hpp"
#include "vellora/format.hpp"
#include "vellora/numeric.hpp"
#include "vellora/paper.hpp"
#include "xy_cut.hpp"

namespace vellora {
namespace paper {
namespace {

constexpr RecordSite kInvalidPageSite = site(Level::Warn, 63);

// Up to this many pair tests the plain loop beats building a tree.
constexpr std::size_t kPlainOverlapTests = 4096;

bool intersects(const ElementRecord& a, const ElementRecord& b) noexcept {
    return b.x2 > a.x1 && b.y2 > a.y1 && a.x2 > b.x1 && a.y2 > b.y1;
}

}  // namespace

float span_threshold(std::span<const ElementRecord> elements) {
    std::vector<float> widths;
    widths.reserve(elements.size());
    for (const ElementRecord& element : elements) {
        widths.push_back(element.x2 - element.x1);
    }
    return median_of(std::move(widths)) * kSpanWidthFactor;
}

std::vector<bool> spanning_flags(std::span<const ElementRecord> elements, float threshold) {
    std::vector<bool> flags(elements.size(), false);
    std::vector<std::uint32_t> wide;
    for (std::size_t i = 0; i < elements.size(); ++i) {
        const ElementRecord& e = elements[i];
        if (e.x2 - e.x1 > threshold) wide.push_back(static_cast<std::uint32_t>(i));
    }
    // Few wide elements: test each against every element, four at a time
    // from the edges laid out as columns (padded with NaN boxes, which
    // overlap nothing). Two overlaps settle it; the rest need not be counted.
    if (wide.size() * elements.size() <= kPlainOverlapTests) {
        if (wide.empty()) return flags;
        const std::size_t padded = (elements.size() + 3) / 4 * 4;
        std::vector<float> columns(4 * padded, std::numeric_limits<float>::quiet_NaN());
        float* const x1 = columns.data();
        float* const y1 = x1 + padded;
        float* const x2 = y1 + padded;
        float* const y2 = x2 + padded;
        for (std::size_t j = 0; j < elements.size(); ++j) {
            x1[j] = elements[j].x1;
            y1[j] = elements[j].y1;
            x2[j] = elements[j].x2;
            y2[j] = elements[j].y2;
        }
        for (std::uint32_t i : wide) {
            const ElementRecord& e = elements[i];
            const Lanes ex1 = splat(e.x1), ey1 = splat(e.y1), ex2 = splat(e.x2), ey2 = splat(e.y2);
            int overlaps = 0;
            for (std::size_t j = 0; j < padded && overlaps < 2; j += 4) {
                // intersects(e, o) for the four elements o from j on.
                const Mask hit = (load(x2 + j) > ex1) & (load(y2 + j) > ey1) & (ex2 > load(x1 + j)) &
                                 (ey2 > load(y1 + j));
                if ((hit[0] | hit[1] | hit[2] | hit[3]) == 0) continue;
                for (std::size_t k = 0; k < 4; ++k) {
                    if (hit[k] != 0 && elements[j + k].id != e.id) ++overlaps;
                }
            }
            flags[i] = overlaps >= 2;
        }
        return flags;
    }
    // Otherwise through a box tree, which skips every subtree whose edge
    // bounds rule out an overlap. Boxes with a NaN edge overlap nothing, and
    // neither do boxes that overlap no wide element along y: those with no
    // wide element e for which e.y1 < o.y2 and o.y1 < e.y2. Of the wide
    // elements by top edge, those with e.y1 < o.y2 come first; the largest
    // of their lower edges decides.
    std::vector<std::pair<float, float>> rows;  // (y1, y2) of each wide element
    rows.reserve(wide.size());
    for (std::uint32_t i : wide) {
        const ElementRecord& e = elements[i];
        if (!num::is_nan(e.y1) && !num::is_nan(e.y2)) rows.push_back({e.y1, e.y2});
    }
    std::sort(rows.begin(), rows.end(),
              [](const std::pair<float, float>& a, const std::pair<float, float>& b) { return a.first < b.first; });
    for (std::size_t k = 1; k < rows.size(); ++k) rows[k].second = std::max(rows[k].second, rows[k - 1].second);
    const auto reaches_a_wide_row = [&](const ElementRecord& o) {
        const auto after = std::partition_point(rows.begin(), rows.end(),
                                                [&](const std::pair<float, float>& row) { return row.first < o.y2; });
        return after != rows.begin() && o.y1 < (after - 1)->second;
    };
    std::vector<TreeBox> boxes;
    for (std::size_t i = 0; i < elements.size(); ++i) {
        const ElementRecord& o = elements[i];
        if (num::is_nan(o.x1) || num::is_nan(o.y1) || num::is_nan(o.x2) || num::is_nan(o.y2)) continue;
        if (!reaches_a_wide_row(o)) continue;
        boxes.push_back({o.x1, o.y1, o.x2, o.y2, static_cast<std::uint32_t>(i)});
    }
    const BoxTree tree = BoxTree::packed(std::move(boxes));
    for (std::uint32_t i : wide) {
        const ElementRecord& e = elements[i];
        int overlaps = 0;
        tree.search(
            [&](const EdgeBounds& b) {
                const bool may = b.max_x2 > e.x1 && b.max_y2 > e.y1 && e.x2 > b.min_x1 && e.y2 > b.min_y1;
                return may ? 0.0f : 1.0f;
            },
            [&](float value) { return value > 0.0f || overlaps >= 2; },
            [&](const TreeBox& box) {
                const ElementRecord& o = elements[box.handle];
                if (overlaps < 2 && o.id != e.id && intersects(e, o)) ++overlaps;
            });
        flags[i] = overlaps >= 2;
    }
    return flags;
}

Partition partition_elements(std::span<const ElementRecord> elements, float threshold) {
    const std::vector<bool> spanning = spanning_flags(elements, threshold);
    const auto is_masked = [&](std::size_t i) {
        const SemanticLabel label = elements[i].label;
        return label == SemanticLabel::HorizontalTitle || label == SemanticLabel::VerticalTitle ||
               label == SemanticLabel::Vision || spanning[i];
    };
    std::size_t masked = 0;
    for (std::size_t i = 0; i < elements.size(); ++i) masked += is_masked(i) ? 1 : 0;
    Partition parts;
    parts.masked.reserve(masked);
    parts.regular.reserve(elements.size() - masked);
    for (std::size_t i = 0; i < elements.size(); ++i) {
        (is_masked(i) ? parts.masked : parts.regular).push_back(elements[i]);
    }
    return parts;
}

}  // namespace paper

IdList compute_paper_order(std::vector<ElementRecord> elements, const PageBox& page,
                           const std::optional<OrderConfig>& config, const DiagnosticSink& sink) {
    if (elements.empty()) {
        return {};
    }
    const OrderConfig effective = config.value_or(OrderConfig{});

    const float width = page.x2 - page.x1;
    const float height = page.y2 - page.y1;
    const auto usable = [](float extent) { return std::isfinite(extent) && extent > 0.0f; };
    if (!usable(width) || !usable(height)) {
        sink.emit(paper::kInvalidPageSite, [&] {
            return "Invalid page dimensions (" + fmt::shortest(width) + ", " +
                   fmt::shortest(height) + ")";
        });
        return {};
    }

    const float threshold = paper::span_threshold(elements);
    paper::Partition parts = paper::partition_elements(elements, threshold);
    elements = {};

    IdList order = paper::recursive_xy_cut(parts.regular, effective,
                                           {page.x1, page.y1, page.x2, page.y2}, sink);
    paper::reinsert_masked(order, parts.masked, parts.regular, effective.same_row_tolerance,
                           sink);
    return order;
}

}  // namespace vellora
