// Where the sorter's diagnostic records say they come from.
#pragma once

#include <cstdint>

#include "vellora/diagnostics.hpp"

namespace vellora::ostrel {

// Every record of the sorter shares target, module path and source file;
// only the level and the line differ from one record to the next.
constexpr RecordSite sorter_site(Level level, std::uint32_t line) noexcept {
    return RecordSite{level, "velloray::ostrel", "vellora_sorter", "src\\ostrel\\vellora_sorter\\src\\lib", line};
}

}  // namespace vellora::ostrel
