// Random element lists for the differential tests: plausible layouts, small
// integer grids full of ties, and hostile values (NaN, infinities, -0, huge,
// tiny and subnormal numbers, inverted and empty boxes, repeated ids).
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "vellora/records.hpp"

namespace vellora::testing {

class PageGenerator {
public:
    explicit PageGenerator(std::uint32_t seed) : rng_(seed) {}

    std::uint32_t below(std::uint32_t n) { return static_cast<std::uint32_t>(rng_() % n); }
    bool chance(std::uint32_t percent) { return below(100) < percent; }

    float hostile() {
        static constexpr float kValues[] = {
            std::numeric_limits<float>::quiet_NaN(), -std::numeric_limits<float>::quiet_NaN(),
            std::numeric_limits<float>::infinity(),  -std::numeric_limits<float>::infinity(),
            -0.0f, 0.0f, 1e30f, -1e30f, 3.4e38f, -3.4e38f, 1e-30f, -1e-30f,
            std::numeric_limits<float>::denorm_min(), 16777217.0f, 1e7f, 0.5f};
        return kValues[below(sizeof(kValues) / sizeof(kValues[0]))];
    }

    SemanticLabel label() { return static_cast<SemanticLabel>(below(kLabelCount)); }

    // Coordinates on a grid of `step`, so that edges, gaps and costs tie.
    float grid(float extent, float step) {
        return std::floor(static_cast<float>(below(static_cast<std::uint32_t>(extent / step) + 1))) * step;
    }

    // `n` elements of one flavour chosen at random. `hostile_percent` of the
    // coordinates are replaced by hostile values.
    std::vector<ElementRecord> page(std::size_t n, std::uint32_t hostile_percent) {
        std::vector<ElementRecord> out;
        out.reserve(n);
        const std::uint32_t flavour = below(4);
        const std::uint64_t id_range = chance(30) ? n / 2 + 1 : 1u << 30;
        const float extent = flavour == 0 ? 100.0f : 1000.0f;
        for (std::size_t i = 0; i < n; ++i) {
            ElementRecord e;
            e.id = chance(50) ? i : rng_() % id_range;
            e.label = label();
            if (flavour <= 1) {
                // Integer grid, small boxes: many ties.
                e.x1 = grid(extent, flavour == 0 ? 5.0f : 10.0f);
                e.y1 = grid(extent, flavour == 0 ? 5.0f : 10.0f);
                e.x2 = e.x1 + grid(extent / 4, 5.0f);
                e.y2 = e.y1 + grid(extent / 10, 5.0f);
            } else if (flavour == 2) {
                // Columns of lines with titles and wide figures.
                const float column = static_cast<float>(below(3));
                e.x1 = 50.0f + column * 320.0f + (chance(20) ? grid(100, 10) : 0.0f);
                e.y1 = grid(3000.0f, 2.0f);
                e.x2 = e.x1 + (chance(15) ? 900.0f : 300.0f);
                e.y2 = e.y1 + grid(60.0f, 2.0f) + 8.0f;
            } else {
                std::uniform_real_distribution<float> any(-50.0f, 1500.0f);
                e.x1 = any(rng_);
                e.y1 = any(rng_);
                e.x2 = e.x1 + std::fabs(any(rng_)) / 4.0f;
                e.y2 = e.y1 + std::fabs(any(rng_)) / 8.0f;
            }
            if (chance(3)) std::swap(e.x1, e.x2);  // inverted
            if (chance(3)) e.y2 = e.y1;            // flat
            for (float* v : {&e.x1, &e.y1, &e.x2, &e.y2}) {
                if (chance(hostile_percent)) *v = hostile();
            }
            out.push_back(e);
        }
        return out;
    }

    std::mt19937& engine() { return rng_; }

private:
    std::mt19937 rng_;
};

}  // namespace vellora::testing
