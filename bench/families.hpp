// Synthetic pages for the benchmarks: a realistic article family scaled to any
// size and the layouts that used to hit the slow paths of both orderings.
#pragma once

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "vellora/records.hpp"

namespace vellora::bench {

// Uniform float in [lo, hi) from the raw generator output, so the pages are
// identical on every standard library.
inline float uniform(std::mt19937& rng, float lo, float hi) {
    return lo + (hi - lo) * static_cast<float>(rng() >> 8) * (1.0f / 16777216.0f);
}

// One sheet of a two-column article, stacked `sheet` sheets down: running
// header, title, full-width figure and caption, two columns of paragraphs
// with section titles, a small table of cells in the right column, footer.
// Exactly 60 elements.
inline void append_sheet(std::vector<ElementRecord>& out, int sheet, std::mt19937& rng) {
    const float top = static_cast<float>(sheet) * 1800.0f;
    std::uint64_t id = out.size();
    const auto add = [&](float x1, float y1, float x2, float y2, SemanticLabel label) {
        out.push_back({id++, x1, top + y1, x2, top + y2, label});
    };
    add(50, 20, 950, 40, SemanticLabel::Regular);             // running header
    add(100, 60, 900, 100, SemanticLabel::HorizontalTitle);   // title
    add(50, 120, 950, 420, SemanticLabel::Vision);            // figure
    add(50, 430, 950, 450, SemanticLabel::Regular);           // caption
    const auto column = [&](float x1, float x2, int items, bool with_table) {
        float y = 470.0f;
        for (int i = 0; i < items; ++i) {
            if (i % 8 == 0) {
                add(x1, y, x1 + 0.6f * (x2 - x1), y + 18.0f, SemanticLabel::HorizontalTitle);
                y += 28.0f;
                continue;
            }
            if (with_table && i == 9) {
                for (int r = 0; r < 4; ++r) {
                    for (int c = 0; c < 3; ++c) {
                        const float cx = x1 + static_cast<float>(c) * 145.0f;
                        add(cx, y, cx + 130.0f, y + 18.0f, SemanticLabel::Regular);
                    }
                    y += 26.0f;
                }
                y += 10.0f;
            }
            const float height = std::floor(uniform(rng, 20.0f, 60.0f));
            add(x1, y, x2, y + height, SemanticLabel::Regular);
            y += height + 12.0f;
        }
    };
    column(50, 480, 25, false);
    column(520, 950, 18, true);
    add(50, 1760, 950, 1780, SemanticLabel::Regular);         // footer
}

// The realistic family: `n` elements of stacked article sheets.
inline std::vector<ElementRecord> realistic(std::size_t n) {
    std::mt19937 rng(12345);
    std::vector<ElementRecord> out;
    out.reserve(n + 60);
    for (int sheet = 0; out.size() < n; ++sheet) append_sheet(out, sheet, rng);
    out.resize(n);
    return out;
}

// Page bounds that hold `elements` (from the origin to the largest edges).
inline PageBox page_of(const std::vector<ElementRecord>& elements) {
    PageBox page{0.0f, 0.0f, 1.0f, 1.0f};
    for (const ElementRecord& e : elements) {
        page.x2 = std::fmax(page.x2, std::fmax(e.x1, e.x2) + 10.0f);
        page.y2 = std::fmax(page.y2, std::fmax(e.y1, e.y2) + 10.0f);
    }
    return page;
}

enum class Family {
    Realistic,
    Uniform,     // uniformly random boxes, a tenth titles and a twentieth figures
    Staircase,   // boxes stepping down and right, a band between every two
    Peeling,     // full-width lines with equal wide gaps: every cut takes one
    WideApart,   // half narrow, half wide boxes, none sharing an x range
    AllTitles,   // the realistic geometry, every element a title
    Column,      // one column of tightly set lines
    Table,       // a table of cells, 50 per row
    Identical,   // one box, repeated
};

inline const char* family_name(Family family) {
    switch (family) {
    case Family::Realistic: return "realistic";
    case Family::Uniform: return "uniform";
    case Family::Staircase: return "staircase";
    case Family::Peeling: return "peeling";
    case Family::WideApart: return "wide_apart";
    case Family::AllTitles: return "all_titles";
    case Family::Column: return "column";
    case Family::Table: return "table";
    case Family::Identical: return "identical";
    }
    return "?";
}

inline constexpr Family kFamilies[] = {
    Family::Realistic, Family::Uniform, Family::Staircase, Family::Peeling, Family::WideApart,
    Family::AllTitles, Family::Column,  Family::Table,     Family::Identical,
};

inline std::vector<ElementRecord> make_family(Family family, std::size_t n) {
    std::vector<ElementRecord> out;
    out.reserve(n);
    std::mt19937 rng(777);
    const auto f = [](std::size_t v) { return static_cast<float>(v); };
    switch (family) {
    case Family::Realistic: return realistic(n);
    case Family::Uniform: {
        const float side = std::sqrt(f(n)) * 40.0f;
        for (std::size_t i = 0; i < n; ++i) {
            const float x = uniform(rng, 0.0f, side);
            const float y = uniform(rng, 0.0f, side);
            const float w = uniform(rng, 5.0f, 60.0f);
            const float h = uniform(rng, 5.0f, 60.0f);
            const auto pick = rng() % 20;
            const SemanticLabel label = pick < 2    ? SemanticLabel::HorizontalTitle
                                        : pick == 2 ? SemanticLabel::Vision
                                                    : SemanticLabel::Regular;
            out.push_back({i, x, y, x + w, y + h, label});
        }
        break;
    }
    case Family::Staircase:
        for (std::size_t i = 0; i < n; ++i) {
            const float p = f(i) * 20.0f;
            out.push_back({i, p, p, p + 10.0f, p + 10.0f, SemanticLabel::Regular});
        }
        break;
    case Family::Peeling:
        for (std::size_t i = 0; i < n; ++i) {
            const float y = f(i) * 40.0f;
            out.push_back({i, 50.0f, y, 950.0f, y + 10.0f, SemanticLabel::Regular});
        }
        break;
    case Family::WideApart:
        for (std::size_t i = 0; i < n; ++i) {
            const float x = f(i) * 100.0f;
            const float y = f(i % 100) * 30.0f;
            const float w = i % 2 == 0 ? 1.0f : 90.0f;
            out.push_back({i, x, y, x + w, y + 20.0f, SemanticLabel::Regular});
        }
        break;
    case Family::AllTitles:
        out = realistic(n);
        for (ElementRecord& e : out) e.label = SemanticLabel::HorizontalTitle;
        break;
    case Family::Column:
        for (std::size_t i = 0; i < n; ++i) {
            const float y = f(i) * 12.0f;
            out.push_back({i, 50.0f, y, 950.0f, y + 10.0f, SemanticLabel::Regular});
        }
        break;
    case Family::Table:
        for (std::size_t i = 0; i < n; ++i) {
            const float x = f(i % 50) * 20.0f;
            const float y = f(i / 50) * 14.0f;
            out.push_back({i, x, y, x + 16.0f, y + 10.0f, SemanticLabel::Regular});
        }
        break;
    case Family::Identical:
        for (std::size_t i = 0; i < n; ++i) {
            out.push_back({i, 100.0f, 100.0f, 200.0f, 150.0f, SemanticLabel::Regular});
        }
        break;
    }
    return out;
}

}  // namespace vellora::bench
