// libFuzzer harness over the pure C++ core: decodes the input into a page,
// a configuration and elements, runs both orderings with every diagnostic
// record formatted, and checks what holds for every input:
//   - ostrel returns exactly the input ids, as a multiset;
//   - paper returns nothing for no elements or an invalid page, otherwise
//     exactly the input ids, or stops with "capacity overflow", and then only
//     when the page is wide or tall enough for a histogram to reach the limit;
//   - a run without diagnostics gives the same list: records never change results;
//   - the number formatting reads back to the value it was given.
// A broken invariant aborts, so libFuzzer keeps the input as a crash.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "fuzz_input.hpp"
#include "vellora/diagnostics.hpp"
#include "vellora/errors.hpp"
#include "vellora/format.hpp"
#include "vellora/numeric.hpp"
#include "vellora/ostrel.hpp"
#include "vellora/paper.hpp"
#include "vellora/records.hpp"

namespace {

using namespace vellora;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

// A sink that accepts everything up to its ceiling and checks each record.
struct CheckingSink {
    Level ceiling;
    std::size_t delivered = 0;

    static bool enabled(void* context, Level level, std::string_view) noexcept {
        return static_cast<int>(level) <= static_cast<int>(static_cast<CheckingSink*>(context)->ceiling);
    }
    static void deliver(void* context, const Record& record) noexcept {
        if (record.message.empty() || record.message.find('\0') != std::string_view::npos) {
            fail("diagnostic message empty or holding a NUL");
        }
        ++static_cast<CheckingSink*>(context)->delivered;
    }
    DiagnosticSink sink() { return DiagnosticSink{this, &enabled, &deliver}; }
};

std::vector<std::uint64_t> sorted_ids(const std::vector<ElementRecord>& elements) {
    std::vector<std::uint64_t> ids;
    ids.reserve(elements.size());
    for (const auto& e : elements) ids.push_back(e.id);
    std::sort(ids.begin(), ids.end());
    return ids;
}

void expect_same_ids(IdList result, const std::vector<std::uint64_t>& expected, const char* what) {
    std::sort(result.begin(), result.end());
    if (result != expected) fail(what);
}

bool page_is_valid(const PageBox& page) {
    const float width = page.x2 - page.x1;
    const float height = page.y2 - page.y1;
    return std::isfinite(width) && std::isfinite(height) && width > 0.0f && height > 0.0f;
}

// Cuts may land a rounding step past a region's edge, so the histograms of a
// sub-region can be a little wider than the page; half the limit leaves room.
bool page_can_reach_capacity(const PageBox& page, const OrderConfig& config) {
    const double limit = std::ldexp(1.0, 59);
    const double scale = config.histogram_resolution_scale;
    return static_cast<double>(page.x2 - page.x1) * scale >= limit ||
           static_cast<double>(page.y2 - page.y1) * scale >= limit;
}

void check_formatting(float value, int decimals) {
    const std::string shortest = fmt::shortest(value);
    if (shortest.find_first_of("eE") != std::string::npos) fail("shortest form with an exponent");
    if (std::isnan(value)) {
        if (shortest != "NaN") fail("NaN not written as NaN");
    } else if (std::isinf(value)) {
        if (shortest != (value < 0 ? "-inf" : "inf")) fail("infinity misspelt");
    } else {
        char* end = nullptr;
        const float back = std::strtof(shortest.c_str(), &end);
        if (*end != '\0' || std::memcmp(&back, &value, sizeof value) != 0) {
            std::fprintf(stderr, "shortest(%a) = %s\n", static_cast<double>(value), shortest.c_str());
            fail("shortest form does not read back");
        }
    }
    const std::string fixed = fmt::fixed(value, decimals);
    if (std::isfinite(value)) {
        char* end = nullptr;
        const double back = std::strtod(fixed.c_str(), &end);
        // Half a unit of the last place, plus the error of reading it back as a double.
        const double tolerance = 0.5 * std::pow(10.0, -decimals) * (1.0 + 1e-9) + std::fabs(value) * 0x1p-50;
        if (*end != '\0' || !(std::fabs(back - static_cast<double>(value)) <= tolerance)) {
            std::fprintf(stderr, "fixed(%a, %d) = %s\n", static_cast<double>(value), decimals, fixed.c_str());
            fail("fixed form is not the value rounded");
        }
        const auto point = fixed.find('.');
        const std::size_t places = point == std::string::npos ? 0 : fixed.size() - point - 1;
        if (places != static_cast<std::size_t>(decimals)) fail("fixed form with the wrong number of places");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fuzzing::Case input = fuzzing::decode(data, size);
    const std::uint8_t flags = input.flags;
    CheckingSink checking{static_cast<Level>(1 + flags % 5)};
    const DiagnosticSink sink = checking.sink();
    const PageBox& page = input.page;
    const std::optional<OrderConfig>& config = input.config;
    const OrderConfig effective = config.value_or(OrderConfig{});
    const std::vector<ElementRecord>& elements = input.elements;
    const auto expected = sorted_ids(elements);

    try {
        IdList result = sort_elements(elements, sink);
        if (result != sort_elements(elements, DiagnosticSink::none())) fail("ostrel depends on the diagnostics");
        expect_same_ids(std::move(result), expected, "ostrel ids differ from the input ids");
    } catch (const std::bad_alloc&) {
    }

    try {
        IdList result = compute_paper_order(elements, page, config, sink);
        if (result != compute_paper_order(elements, page, config, DiagnosticSink::none())) {
            fail("paper depends on the diagnostics");
        }
        if (elements.empty() || !page_is_valid(page)) {
            if (!result.empty()) fail("paper ordered an empty or invalid page");
        } else {
            expect_same_ids(std::move(result), expected, "paper ids differ from the input ids");
        }
    } catch (const InternalFault& fault) {
        if (std::string_view(fault.what()) != "capacity overflow") fail("unexpected internal fault");
        if (elements.size() < 2 || !page_is_valid(page) || !page_can_reach_capacity(page, effective)) {
            fail("capacity overflow on a page whose histograms stay small");
        }
    } catch (const std::bad_alloc&) {
    }

    for (const float value : {page.x1, page.y1, page.x2, page.y2, effective.min_cut_threshold,
                              effective.histogram_resolution_scale, effective.same_row_tolerance}) {
        check_formatting(value, flags % 4);
    }
    return 0;
}
