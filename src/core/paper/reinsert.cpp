#include "reinsert.hpp"

#include <array>
#include <cstddef>
#include <limits>
#include <string>
#include <unordered_map>
#include <vector>

#include "position_order.hpp"
#include "sites.hpp"
#include "vellora/numeric.hpp"

namespace vellora::paper {
namespace {

constexpr RecordSite kInsertSite = site(Level::Debug, 403);
constexpr RecordSite kAppendSite = site(Level::Warn, 414);

constexpr float kOverlapPenalty = 100.0f;
constexpr float kAbovePenalty = 10.0f;
constexpr int kGroupCount = 4;

// The record each order entry stands for: the first regular element with
// that id, else the first masked one. Looked up through a map built once per
// call rather than by scanning both lists for every entry.
class RecordIndex {
public:
    RecordIndex(std::span<const ElementRecord> regular, std::span<const ElementRecord> masked) {
        records_.reserve(regular.size() + masked.size());
        for (const ElementRecord& element : regular) records_.emplace(element.id, &element);
        for (const ElementRecord& element : masked) records_.emplace(element.id, &element);
    }

    const ElementRecord* find(std::uint64_t id) const {
        const auto it = records_.find(id);
        return it == records_.end() ? nullptr : it->second;
    }

private:
    std::unordered_map<std::uint64_t, const ElementRecord*> records_;
};

// Distance between two intervals on one axis: the gap when one lies wholly
// after the other, else 0.
float axis_gap(float m1, float m2, float c1, float c2) noexcept {
    if (c1 > m2) return c1 - m2;
    if (m1 > c2) return m1 - c2;
    return 0.0f;
}

}  // namespace

int mask_priority(SemanticLabel label) noexcept {
    switch (label) {
    case SemanticLabel::CrossLayout: return 0;
    case SemanticLabel::HorizontalTitle:
    case SemanticLabel::VerticalTitle: return 1;
    case SemanticLabel::Vision: return 2;
    case SemanticLabel::Regular: return 3;
    }
    return 3;
}

CostWeights weights_for(const ElementRecord& masked) noexcept {
    switch (masked.label) {
    case SemanticLabel::CrossLayout: return {1.0f, 1.0f, 0.1f, 1.0f};
    case SemanticLabel::HorizontalTitle:
    case SemanticLabel::VerticalTitle:
        if (masked.x2 - masked.x1 > masked.y2 - masked.y1) {
            return {1.0f, 0.1f, 0.1f, 1.0f};
        }
        return {0.2f, 0.1f, 1.0f, 1.0f};
    case SemanticLabel::Vision:
    case SemanticLabel::Regular: return {1.0f, 1.0f, 1.0f, 0.1f};
    }
    return {1.0f, 1.0f, 1.0f, 0.1f};
}

Cost insertion_cost(const ElementRecord& m, const ElementRecord& c, const CostWeights& weights,
                    float best) noexcept {
    const bool cross_layout = m.label == SemanticLabel::CrossLayout;
    const float size = num::max_num(m.x2 - m.x1, m.y2 - m.y1);

    const bool intersects = c.x2 > m.x1 && m.x2 > c.x1 && c.y2 > m.y1 && m.y2 > c.y1;
    float sum = (size * size) * weights.overlap * (intersects ? 0.0f : kOverlapPenalty);
    if (sum > best) return {true, sum};

    const float dx = axis_gap(m.x1, m.x2, c.x1, c.x2);
    const float dy = axis_gap(m.y1, m.y2, c.y1, c.y2);
    const float distance = cross_layout ? dx + dy : num::min_num(dx, dy);
    sum += (weights.gap * size) * distance;
    if (sum > best) return {true, sum};

    float rise;
    if (cross_layout) {
        rise = m.y1 > c.y2 ? m.y1 - c.y2 : -m.y2;
    } else {
        rise = c.y1 >= m.y2 ? c.y1 - m.y1 : (m.y2 - c.y1) * kAbovePenalty;
    }
    sum += weights.vertical * rise;
    if (sum > best) return {true, sum};

    sum += c.x1 * ((1.0f / size) * weights.left);
    return {false, sum};
}

void reinsert_masked(IdList& order, std::span<const ElementRecord> masked,
                     std::span<const ElementRecord> regular, float same_row_tolerance,
                     const DiagnosticSink& sink) {
    const RecordIndex index(regular, masked);
    std::array<std::vector<ElementRecord>, kGroupCount> groups;
    for (const ElementRecord& element : masked) {
        groups[static_cast<std::size_t>(mask_priority(element.label))].push_back(element);
    }

    for (std::vector<ElementRecord>& group : groups) {
        sort_by_position(group, same_row_tolerance);
        for (const ElementRecord& m : group) {
            const int rank = mask_priority(m.label);
            const CostWeights weights = weights_for(m);
            float best = std::numeric_limits<float>::infinity();
            std::size_t chosen = 0;
            bool found = false;
            for (std::size_t position = 0; position < order.size(); ++position) {
                const ElementRecord* candidate = index.find(order[position]);
                if (candidate == nullptr || mask_priority(candidate->label) < rank) {
                    continue;
                }
                const Cost cost = insertion_cost(m, *candidate, weights, best);
                if (!cost.rejected && best > cost.value) {
                    best = cost.value;
                    chosen = position;
                    found = true;
                }
            }

            if (found) {
                sink.emit(kInsertSite, [&] {
                    return "[INSERT] Masked element " + std::to_string(m.id) + " (" +
                           label_name(m.label) + ") -> position " + std::to_string(chosen) +
                           " (before element " + std::to_string(order[chosen]) + ")";
                });
                order.insert(order.begin() + static_cast<std::ptrdiff_t>(chosen), m.id);
            } else {
                sink.emit(kAppendSite, [&] {
                    return "No valid insertion for element " + std::to_string(m.id) + " (" +
                           label_name(m.label) + "), appending";
                });
                order.push_back(m.id);
            }
        }
    }
}

}  // namespace vellora::paper
