// Delivery of diagnostic records to Python's `logging`.
//
// The bridge is installed once per process. It answers "would this record be
// delivered?" from a native cache of logger levels, without touching the
// interpreter, and forwards the records that pass to the logger named after
// the record's target ("velloray::paper" -> "velloray.paper").
#pragma once

#include <string_view>

#include "vellora/diagnostics.hpp"

namespace vellora::py::log_bridge {

// Installs the bridge the first time (importing `logging`); later calls reuse
// the installed bridge. On failure raises the internal-fault exception
// "Failed to initialize python logging: ..." and throws PythonError.
void install();

// The sink the ordering algorithms emit into; accepts nothing before install.
DiagnosticSink sink() noexcept;

// The sink of one compute call. It looks a target's level up in the cache
// once and answers later records of that target from the copy, for as long
// as the cache has not changed: a store or a reset (from this thread, from a
// logging handler or from another thread) makes the next record look again,
// so every answer is the one the cache gives at that moment. The copies are
// kept per thread, so the calls that follow on the same thread start from
// them while the cache stays the same. Accepts nothing before install. Not
// to be shared between threads.
class CallSink {
public:
    CallSink() noexcept;
    CallSink(const CallSink&) = delete;
    CallSink& operator=(const CallSink&) = delete;

    // Valid while this object lives.
    DiagnosticSink sink() noexcept;

private:
    static bool enabled(void* context, Level level, std::string_view target) noexcept;
    static void deliver(void* context, const Record& record) noexcept;

    void* bridge_;
    void* memo_;  // this thread's looked-up levels
    SinkMemo last_;  // the last answer, read by the sink without a call
};

// Empties the level cache, so the next record of every target asks Python
// again. Makes no Python call; does nothing before install.
void reset_cache();

// Drops logger references that were released by threads not attached to the
// interpreter. Call only while attached.
void drain_deferred_releases() noexcept;

}  // namespace vellora::py::log_bridge
