// A diagnostic sink for tests: keeps every delivered record and counts how
// many messages were built, so tests can check that disabled records cost no
// formatting.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "vellora/diagnostics.hpp"

namespace vellora::testing {

struct CapturedRecord {
    Level level;
    std::string target;
    std::string module_path;
    std::optional<std::string> file;
    std::optional<std::uint32_t> line;
    std::string message;
};

class RecordingSink {
public:
    // Records more verbose than `ceiling` are refused before formatting.
    explicit RecordingSink(Level ceiling = Level::Debug) : ceiling_(ceiling) {}

    DiagnosticSink sink() { return DiagnosticSink{this, &enabled, &deliver}; }

    const std::vector<CapturedRecord>& records() const { return records_; }

    // Messages only, in delivery order.
    std::vector<std::string> messages() const {
        std::vector<std::string> out;
        for (const auto& record : records_) out.push_back(record.message);
        return out;
    }

    void clear() { records_.clear(); }

private:
    static bool enabled(void* context, Level level, std::string_view) noexcept {
        return static_cast<std::uint8_t>(level) <=
               static_cast<std::uint8_t>(static_cast<RecordingSink*>(context)->ceiling_);
    }

    static void deliver(void* context, const Record& record) noexcept {
        auto* self = static_cast<RecordingSink*>(context);
        CapturedRecord captured{record.site.level, std::string(record.site.target),
                                std::string(record.site.module_path), std::nullopt,
                                record.site.line, std::string(record.message)};
        if (record.site.file) captured.file = std::string(*record.site.file);
        self->records_.push_back(std::move(captured));
    }

    Level ceiling_;
    std::vector<CapturedRecord> records_;
};

}  // namespace vellora::testing
