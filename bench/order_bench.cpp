// Throughput of both orderings on synthetic multi-column pages.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "vellora/ostrel.hpp"
#include "vellora/paper.hpp"

namespace {

using vellora::ElementRecord;
using vellora::SemanticLabel;

// A page of `columns` columns of text blocks, a title on top and a figure
// spanning the first two columns half way down.
std::vector<ElementRecord> make_page(int count, int columns) {
    std::vector<ElementRecord> out;
    const float page_width = 1000.0f;
    const float column_width = page_width / static_cast<float>(columns);
    out.push_back({0, 50.0f, 20.0f, 950.0f, 60.0f, SemanticLabel::HorizontalTitle});
    std::uint64_t id = 1;
    const int per_column = (count - 1) / columns + 1;
    for (int c = 0; c < columns && static_cast<int>(out.size()) < count; ++c) {
        for (int r = 0; r < per_column && static_cast<int>(out.size()) < count; ++r) {
            const float x1 = static_cast<float>(c) * column_width + 10.0f;
            const float y1 = 80.0f + static_cast<float>(r) * 24.0f;
            out.push_back({id++, x1, y1, x1 + column_width - 20.0f, y1 + 18.0f,
                           r == per_column / 2 ? SemanticLabel::Vision : SemanticLabel::Regular});
        }
    }
    return out;
}

void BM_PaperOrder(benchmark::State& state) {
    const auto page = make_page(static_cast<int>(state.range(0)), 2);
    const auto bottom = 80.0f + static_cast<float>(state.range(0)) * 24.0f;
    for (auto _ : state) {
        auto ids = vellora::compute_paper_order(page, {0.0f, 0.0f, 1000.0f, bottom}, std::nullopt,
                                                vellora::DiagnosticSink::none());
        benchmark::DoNotOptimize(ids.data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_PaperOrder)->Arg(16)->Arg(64)->Arg(256)->Arg(1024);

void BM_OstrelOrder(benchmark::State& state) {
    const auto page = make_page(static_cast<int>(state.range(0)), 2);
    for (auto _ : state) {
        auto ids = vellora::sort_elements(page, vellora::DiagnosticSink::none());
        benchmark::DoNotOptimize(ids.data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_OstrelOrder)->Arg(16)->Arg(64)->Arg(256)->Arg(1024);

}  // namespace

BENCHMARK_MAIN();
