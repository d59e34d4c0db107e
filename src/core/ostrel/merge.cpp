#include "ostrel/merge.hpp"

#include <string>

#include "ostrel/site.hpp"

namespace vellora::ostrel {
namespace {

constexpr RecordSite kMergeStart = sorter_site(Level::Debug, 468);
constexpr RecordSite kMergeResult = sorter_site(Level::Debug, 500);

}  // namespace

std::vector<SorterElement> merge_cross_layout(const std::vector<SorterElement>& ordered_main,
                                              const std::vector<SorterElement>& cross, const DiagnosticSink& sink) {
    sink.emit(kMergeStart, [&] {
        return "[merge] merging " + std::to_string(cross.size()) + " cross-layout elements into " +
               std::to_string(ordered_main.size()) + " main elements";
    });

    const std::vector<SorterElement> cross_sorted = sort_y_then_x(cross);
    std::vector<SorterElement> merged;
    merged.reserve(ordered_main.size() + cross_sorted.size());

    std::size_t next_cross = 0;
    for (const SorterElement& m : ordered_main) {
        const float m_top = top(m);
        while (next_cross < cross_sorted.size() && m_top >= top(cross_sorted[next_cross])) {
            merged.push_back(cross_sorted[next_cross]);
            ++next_cross;
        }
        merged.push_back(m);
    }
    for (; next_cross < cross_sorted.size(); ++next_cross) merged.push_back(cross_sorted[next_cross]);

    sink.emit(kMergeResult, [&] { return "[merge] result: " + std::to_string(merged.size()) + " elements total"; });
    return merged;
}

}  // namespace vellora::ostrel
