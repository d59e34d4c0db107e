// Cost of both orderings on the realistic family (60 to 100,000 elements) and
// on the pathological families at 10,000 and 100,000 elements.
//
//   vellora_bench                      all timings
//   vellora_bench --peak-memory [N]    peak memory of one call per family at N (100,000)
//   vellora_bench --benchmark_filter=Realistic   (any Google Benchmark flag)
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "families.hpp"
#include "vellora/ostrel.hpp"
#include "vellora/paper.hpp"

namespace {

using vellora::ElementRecord;
using vellora::bench::Family;

void run_paper(const std::vector<ElementRecord>& elements, const vellora::PageBox& page) {
    auto ids = vellora::compute_paper_order(elements, page, std::nullopt,
                                            vellora::DiagnosticSink::none());
    benchmark::DoNotOptimize(ids.data());
}

void run_ostrel(const std::vector<ElementRecord>& elements) {
    auto ids = vellora::sort_elements(elements, vellora::DiagnosticSink::none());
    benchmark::DoNotOptimize(ids.data());
}

void register_family(Family family, std::size_t n, bool paper) {
    const std::string name = std::string(paper ? "Paper/" : "Ostrel/") +
                             vellora::bench::family_name(family) + "/" + std::to_string(n);
    auto* b = benchmark::RegisterBenchmark(name, [family, n, paper](benchmark::State& state) {
        const auto elements = vellora::bench::make_family(family, n);
        const auto page = vellora::bench::page_of(elements);
        for (auto _ : state) {
            if (paper) {
                run_paper(elements, page);
            } else {
                run_ostrel(elements);
            }
        }
        state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(n));
    });
    if (n >= 100000) {
        b->Iterations(1)->Unit(benchmark::kMillisecond);
    } else if (n >= 10000) {
        b->Unit(benchmark::kMillisecond);
    } else {
        b->Unit(benchmark::kMicrosecond);
    }
}

void register_all() {
    for (std::size_t n : {60, 1000, 10000, 100000}) {
        register_family(Family::Realistic, n, true);
        register_family(Family::Realistic, n, false);
    }
    for (Family family : vellora::bench::kFamilies) {
        if (family == Family::Realistic) continue;
        for (std::size_t n : {10000, 100000}) {
            register_family(family, n, true);
            register_family(family, n, false);
        }
    }
}

long max_rss_kib() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Each call runs in a child process, so its high-water mark is its own.
int report_peak_memory(std::size_t n) {
    std::printf("%zu elements\n%-12s %-7s %12s %14s\n", n, "family", "order", "input KiB", "call peak KiB");
    for (Family family : vellora::bench::kFamilies) {
        for (bool paper : {true, false}) {
            std::fflush(stdout);
            const pid_t child = fork();
            if (child == 0) {
                const long before_input = max_rss_kib();
                const auto elements = vellora::bench::make_family(family, n);
                const auto page = vellora::bench::page_of(elements);
                const long before = max_rss_kib();
                if (paper) {
                    run_paper(elements, page);
                } else {
                    run_ostrel(elements);
                }
                std::printf("%-12s %-7s %12ld %14ld\n", vellora::bench::family_name(family),
                            paper ? "paper" : "ostrel", before - before_input,
                            max_rss_kib() - before);
                std::fflush(stdout);
                _exit(0);
            }
            int status = 0;
            waitpid(child, &status, 0);
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--peak-memory") == 0) {
        return report_peak_memory(argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 100000);
    }
    register_all();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
