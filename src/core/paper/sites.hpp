// Where the records of the XY-cut ordering come from. Every record of this
// algorithm shares the target, module path and source file; only the level and
// the line differ from one call site to the next.
#pragma once

#include <cstdint>
#include <string_view>

#include "vellora/diagnostics.hpp"

namespace vellora::paper {

inline constexpr std::string_view kTarget = "velloray::paper";
inline constexpr std::string_view kModulePath = "vellora::core";
inline constexpr std::string_view kSourceFile = "src\\paper\\vellora\\src\\core";

constexpr RecordSite site(Level level, std::uint32_t line) noexcept {
    return RecordSite{level, kTarget, kModulePath, kSourceFile, line};
}

}  // namespace vellora::paper
