// Plain value records shared by the binding layer and both ordering algorithms.
#pragma once

#include <cstdint>
#include <vector>

namespace vellora {

// Category of a layout element; the numeric codes are part of the public surface.
enum class SemanticLabel : std::uint8_t {
    CrossLayout = 0,
    HorizontalTitle = 1,
    VerticalTitle = 2,
    Vision = 3,
    Regular = 4,
};

inline constexpr int kLabelCount = 5;

// Member name of a label, as messages and reprs print it.
constexpr const char* label_name(SemanticLabel label) noexcept {
    switch (label) {
    case SemanticLabel::CrossLayout: return "CrossLayout";
    case SemanticLabel::HorizontalTitle: return "HorizontalTitle";
    case SemanticLabel::VerticalTitle: return "VerticalTitle";
    case SemanticLabel::Vision: return "Vision";
    case SemanticLabel::Regular: return "Regular";
    }
    return "?";
}

// One layout box. No relation between the coordinates is assumed: boxes may be
// inverted, empty, infinite or NaN, and ids may repeat.
struct ElementRecord {
    std::uint64_t id = 0;
    float x1 = 0.0f;
    float y1 = 0.0f;
    float x2 = 0.0f;
    float y2 = 0.0f;
    SemanticLabel label = SemanticLabel::Regular;
};

// Page bounds: left, top, right, bottom.
struct PageBox {
    float x1 = 0.0f;
    float y1 = 0.0f;
    float x2 = 0.0f;
    float y2 = 0.0f;
};

// Tuning values of the XY-cut variant.
struct OrderConfig {
    float min_cut_threshold = 15.0f;
    float histogram_resolution_scale = 0.5f;
    float same_row_tolerance = 10.0f;
};

using IdList = std::vector<std::uint64_t>;

}  // namespace vellora
