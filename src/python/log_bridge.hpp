// Delivery of diagnostic records to Python's `logging`.
//
// The bridge is installed once per process. It answers "would this record be
// delivered?" from a native cache of logger levels, without touching the
// interpreter, and forwards the records that pass to the logger named after
// the record's target ("velloray::paper" -> "velloray.paper").
#pragma once

#include "vellora/diagnostics.hpp"

namespace vellora::py::log_bridge {

// Installs the bridge the first time (importing `logging`); later calls reuse
// the installed bridge. On failure raises the internal-fault exception
// "Failed to initialize python logging: ..." and throws PythonError.
void install();

// The sink the ordering algorithms emit into; accepts nothing before install.
DiagnosticSink sink() noexcept;

// Empties the level cache, so the next record of every target asks Python
// again. Makes no Python call; does nothing before install.
void reset_cache();

// Drops logger references that were released by threads not attached to the
// interpreter. Call only while attached.
void drain_deferred_releases() noexcept;

}  // namespace vellora::py::log_bridge
