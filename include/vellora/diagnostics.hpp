// Diagnostic records and the sink through which the algorithms emit them.
//
// The algorithms never format a message unless the sink says the record would
// be delivered: `emit` takes a callable that builds the text, and calls it only
// after `enabled` answered yes.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace vellora {

// Severity; a higher code is more verbose. 0 is used as the "off" filter.
enum class Level : std::uint8_t {
    Error = 1,
    Warn = 2,
    Info = 3,
    Debug = 4,
    Trace = 5,
};

// Python `logging` level for a severity (TRACE maps to 5, not 0).
constexpr int python_level(Level level) noexcept {
    switch (level) {
    case Level::Error: return 40;
    case Level::Warn: return 30;
    case Level::Info: return 20;
    case Level::Debug: return 10;
    case Level::Trace: return 5;
    }
    return 0;
}

// Where a record comes from: everything but the message, fixed per call site.
struct RecordSite {
    Level level;
    std::string_view target;       // "velloray::paper"
    std::string_view module_path;  // "vellora::core"
    std::optional<std::string_view> file;
    std::optional<std::uint32_t> line;
};

struct Record {
    const RecordSite& site;
    std::string_view message;
};

// The last answer of a sink whose answers change only when a counter moves,
// kept by the sink's owner for one call on one thread. While `counter` still
// reads `seen`, the same level and target get `answer` again without a call
// into the owner; the owner fills it in whenever it answers.
struct SinkMemo {
    const std::atomic<std::uint64_t>* counter = nullptr;
    std::uint64_t seen = 0;
    const char* target = nullptr;
    std::size_t size = 0;
    Level level = Level::Error;
    bool answer = false;
};

// Destination of records. A plain pair of function pointers plus context keeps
// the algorithms free of virtual dispatch and of any Python dependency.
class DiagnosticSink {
public:
    using EnabledFn = bool (*)(void* context, Level level, std::string_view target) noexcept;
    using DeliverFn = void (*)(void* context, const Record& record) noexcept;

    constexpr DiagnosticSink() noexcept = default;
    constexpr DiagnosticSink(void* context, EnabledFn enabled_fn, DeliverFn deliver_fn) noexcept
        : context_(context), enabled_(enabled_fn), deliver_(deliver_fn) {}
    constexpr DiagnosticSink(void* context, EnabledFn enabled_fn, DeliverFn deliver_fn, const SinkMemo* memo) noexcept
        : context_(context), enabled_(enabled_fn), deliver_(deliver_fn), memo_(memo) {}

    // A sink that accepts nothing.
    static constexpr DiagnosticSink none() noexcept { return DiagnosticSink{}; }

    bool enabled(Level level, std::string_view target) const noexcept {
        if (memo_ != nullptr && memo_->counter != nullptr && memo_->level == level &&
            memo_->target == target.data() && memo_->size == target.size() &&
            memo_->counter->load(std::memory_order_seq_cst) == memo_->seen) {
            return memo_->answer;
        }
        return enabled_ != nullptr && enabled_(context_, level, target);
    }

    // Builds the message with `make_message()` only when the record would pass.
    template <class MakeMessage>
    void emit(const RecordSite& site, MakeMessage&& make_message) const {
        if (!enabled(site.level, site.target)) {
            return;
        }
        const std::string message = std::forward<MakeMessage>(make_message)();
        deliver_(context_, Record{site, message});
    }

private:
    void* context_ = nullptr;
    EnabledFn enabled_ = nullptr;
    DeliverFn deliver_ = nullptr;
    const SinkMemo* memo_ = nullptr;
};

}  // namespace vellora
