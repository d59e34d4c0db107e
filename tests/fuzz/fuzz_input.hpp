// Decoding of fuzzer input bytes into a page, a configuration and elements,
// shared by the fuzz targets. Short inputs read as zeros, so every byte
// string is a case.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <vector>

#include "vellora/records.hpp"

namespace vellora::fuzzing {

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool empty() const { return pos_ >= size_; }

    std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }

    template <class T>
    T raw() {
        std::uint8_t bytes[sizeof(T)] = {};
        for (auto& b : bytes) b = byte();
        T value;
        std::memcpy(&value, bytes, sizeof value);
        return value;
    }

    // Mostly coordinates on a coarse grid, so cuts and overlaps happen; the
    // rest are the values that break naive arithmetic, or any bit pattern.
    float coordinate() {
        static constexpr float kSpecial[] = {
            0.0f, -0.0f, std::numeric_limits<float>::quiet_NaN(), -std::numeric_limits<float>::quiet_NaN(),
            std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
            std::numeric_limits<float>::max(), -std::numeric_limits<float>::max(),
            std::numeric_limits<float>::denorm_min(), -std::numeric_limits<float>::denorm_min(),
            std::numeric_limits<float>::min(), 1e-30f, 1e30f, 1.1529215e18f, 2.3058431e18f, 16777217.0f,
        };
        const std::uint8_t tag = byte();
        if (tag < 192) return static_cast<float>(static_cast<int>(tag) - 32) * 8.0f + static_cast<float>(byte() % 8);
        if (tag < 224) return kSpecial[tag % 16];
        return raw<float>();
    }

    std::uint64_t id() {
        const std::uint8_t tag = byte();
        if (tag < 200) return tag % 16;  // small, so ids repeat
        if (tag < 220) return std::numeric_limits<std::uint64_t>::max() - tag % 4;
        return raw<std::uint64_t>();
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// One decoded case. `flags` also picks the diagnostic level and other
// per-target choices; its top two bits are taken here.
struct Case {
    std::uint8_t flags = 0;
    PageBox page;
    std::optional<OrderConfig> config;
    std::vector<ElementRecord> elements;
};

inline constexpr std::size_t kMaxElements = 512;

// Flags byte, page bounds (replaced by a letter page when bit 7 is set), the
// three tuning values when bit 6 is set, then elements until the bytes run out.
inline Case decode(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    Case c;
    c.flags = in.byte();
    c.page = PageBox{in.coordinate(), in.coordinate(), in.coordinate(), in.coordinate()};
    if (c.flags & 0x80) c.page = PageBox{0.0f, 0.0f, 612.0f, 792.0f};
    if (c.flags & 0x40) c.config = OrderConfig{in.coordinate(), in.coordinate(), in.coordinate()};
    while (!in.empty() && c.elements.size() < kMaxElements) {
        ElementRecord e;
        e.id = in.id();
        e.x1 = in.coordinate();
        e.y1 = in.coordinate();
        e.x2 = in.coordinate();
        e.y2 = in.coordinate();
        e.label = static_cast<SemanticLabel>(in.byte() % kLabelCount);
        c.elements.push_back(e);
    }
    return c;
}

}  // namespace vellora::fuzzing
