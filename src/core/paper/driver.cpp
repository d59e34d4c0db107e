#include <cmath>
#include <cstdint>
#include <optional>
#include <vector>
#include <string>
#include <utility>

#include "box_tree.hpp"
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
    // Few wide elements: test each against every element. Two overlaps
    // settle it; the rest need not be counted.
    if (wide.size() * elements.size() <= kPlainOverlapTests) {
        for (std::uint32_t i : wide) {
            const ElementRecord& e = elements[i];
            int overlaps = 0;
            for (const ElementRecord& o : elements) {
                if (o.id != e.id && intersects(e, o) && ++overlaps == 2) {
                    flags[i] = true;
                    break;
                }
            }
        }
        return flags;
    }
    // Otherwise through a box tree, which skips every subtree whose edge
    // bounds rule out an overlap. Boxes with a NaN edge overlap nothing.
    std::vector<TreeBox> boxes;
    boxes.reserve(elements.size());
    for (std::size_t i = 0; i < elements.size(); ++i) {
        const ElementRecord& o = elements[i];
        if (num::is_nan(o.x1) || num::is_nan(o.y1) || num::is_nan(o.x2) || num::is_nan(o.y2)) continue;
        boxes.push_back({o.x1, o.y1, o.x2, o.y2, static_cast<std::uint32_t>(i)});
    }
    const BoxTree tree(std::move(boxes));
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
