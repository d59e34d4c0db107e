// The straightforward re-insertion: every masked element scans the whole
// order list, resolving each entry through a map. Kept as the reference the
// indexed placement is compared against.
#pragma once

#include <array>
#include <cstddef>
#include <limits>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "paper/position_order.hpp"
#include "paper/reinsert.hpp"
#include "vellora/diagnostics.hpp"

namespace vellora::reference {

inline void reinsert_masked(IdList& order, std::span<const ElementRecord> masked,
                            std::span<const ElementRecord> regular, float same_row_tolerance,
                            const DiagnosticSink& sink) {
    using paper::mask_priority;
    static constexpr RecordSite kInsertSite{Level::Debug, "velloray::paper", "vellora::core",
                                            "src\\paper\\vellora\\src\\core", 403};
    static constexpr RecordSite kAppendSite{Level::Warn, "velloray::paper", "vellora::core",
                                            "src\\paper\\vellora\\src\\core", 414};
    std::unordered_map<std::uint64_t, const ElementRecord*> records;
    for (const ElementRecord& element : regular) records.emplace(element.id, &element);
    for (const ElementRecord& element : masked) records.emplace(element.id, &element);
    const auto find = [&](std::uint64_t id) -> const ElementRecord* {
        const auto it = records.find(id);
        return it == records.end() ? nullptr : it->second;
    };
    std::array<std::vector<ElementRecord>, 4> groups;
    for (const ElementRecord& element : masked) {
        groups[static_cast<std::size_t>(mask_priority(element.label))].push_back(element);
    }
    for (std::vector<ElementRecord>& group : groups) {
        paper::sort_by_position(group, same_row_tolerance);
        for (const ElementRecord& m : group) {
            const int rank = mask_priority(m.label);
            const paper::CostWeights weights = paper::weights_for(m);
            float best = std::numeric_limits<float>::infinity();
            std::size_t chosen = 0;
            bool found = false;
            for (std::size_t position = 0; position < order.size(); ++position) {
                const ElementRecord* candidate = find(order[position]);
                if (candidate == nullptr || mask_priority(candidate->label) < rank) continue;
                const paper::Cost cost = paper::insertion_cost(m, *candidate, weights, best);
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

}  // namespace vellora::reference
