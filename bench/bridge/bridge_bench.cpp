// Cost of diagnostics that Python logging filters out: both orderings on the
// realistic family with a sink that is constant-off, with the per-call sink
// of the binding, and with the process-wide sink that looks the level up for
// every record. Python runs embedded with logging at its defaults, so after
// the first call every record is dropped natively.
#include <Python.h>
#include <benchmark/benchmark.h>

#include <string_view>

#include "families.hpp"
#include "log_bridge.hpp"
#include "vellora/ostrel.hpp"
#include "vellora/paper.hpp"

extern "C" PyObject* PyInit__vellora_core();

namespace {

using vellora::DiagnosticSink;

bool never(void*, vellora::Level, std::string_view) noexcept { return false; }
void drop(void*, const vellora::Record&) noexcept {}

enum class Sink { ConstantOff, PerCall, PerRecord };

template <bool Paper, Sink Kind>
void run(benchmark::State& state) {
    const auto elements = vellora::bench::realistic(static_cast<std::size_t>(state.range(0)));
    const auto page = vellora::bench::page_of(elements);
    for (auto _ : state) {
        vellora::py::log_bridge::CallSink call_sink;
        const DiagnosticSink sink = Kind == Sink::ConstantOff ? DiagnosticSink{nullptr, &never, &drop}
                                    : Kind == Sink::PerCall   ? call_sink.sink()
                                                              : vellora::py::log_bridge::sink();
        auto ids = Paper ? vellora::compute_paper_order(elements, page, std::nullopt, sink)
                         : vellora::sort_elements(elements, sink);
        benchmark::DoNotOptimize(ids.data());
    }
}

BENCHMARK(run<true, Sink::ConstantOff>)->Name("Paper/constant_off")->Arg(60)->Arg(1000);
BENCHMARK(run<true, Sink::PerCall>)->Name("Paper/per_call_levels")->Arg(60)->Arg(1000);
BENCHMARK(run<true, Sink::PerRecord>)->Name("Paper/per_record_levels")->Arg(60)->Arg(1000);
BENCHMARK(run<false, Sink::ConstantOff>)->Name("Ostrel/constant_off")->Arg(60)->Arg(1000);
BENCHMARK(run<false, Sink::PerCall>)->Name("Ostrel/per_call_levels")->Arg(60)->Arg(1000);
BENCHMARK(run<false, Sink::PerRecord>)->Name("Ostrel/per_record_levels")->Arg(60)->Arg(1000);

}  // namespace

int main(int argc, char** argv) {
    PyImport_AppendInittab("_vellora_core", &PyInit__vellora_core);
    Py_Initialize();
    PyObject* module = PyImport_ImportModule("_vellora_core");
    if (module == nullptr) {
        PyErr_Print();
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
