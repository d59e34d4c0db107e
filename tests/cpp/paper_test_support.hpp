// Shorthands shared by the XY-cut ordering tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "recording_sink.hpp"
#include "vellora/records.hpp"

namespace vellora::testing {

inline ElementRecord box(std::uint64_t id, float x1, float y1, float x2, float y2,
                         SemanticLabel label = SemanticLabel::Regular) {
    return ElementRecord{id, x1, y1, x2, y2, label};
}

inline std::vector<std::uint64_t> ids_of(const std::vector<ElementRecord>& elements) {
    std::vector<std::uint64_t> ids;
    for (const auto& element : elements) ids.push_back(element.id);
    return ids;
}

// True when `order` holds exactly the ids of `elements`, repeats included.
inline bool is_permutation_of_ids(std::vector<std::uint64_t> order,
                                  const std::vector<ElementRecord>& elements) {
    std::vector<std::uint64_t> expected = ids_of(elements);
    std::sort(order.begin(), order.end());
    std::sort(expected.begin(), expected.end());
    return order == expected;
}

inline constexpr const char* kPaperFile = "src\\paper\\vellora\\src\\core";

// Checks every field of a captured record of the XY-cut ordering.
inline void expect_paper_record(const CapturedRecord& record, Level level, std::uint32_t line,
                                const std::string& message) {
    EXPECT_EQ(record.level, level) << message;
    EXPECT_EQ(record.target, "velloray::paper") << message;
    EXPECT_EQ(record.module_path, "vellora::core") << message;
    EXPECT_EQ(record.file, std::optional<std::string>(kPaperFile)) << message;
    EXPECT_EQ(record.line, std::optional<std::uint32_t>(line)) << message;
    EXPECT_EQ(record.message, message);
}

}  // namespace vellora::testing
