// libFuzzer harness comparing the optimised core with the straightforward
// versions kept in tests/cpp/reference. Each input is decoded as for
// order_fuzzer.cpp, and for both orderings:
//   - every replaced piece (median, spanning test, covered bins, XY-cut,
//     re-insertion, cross-layout test, segmentation) gets the same arguments on both sides and must give
//     the same result, the same records and the same fault;
//   - the whole ordering through the public entry point must equal the same
//     pipeline assembled from the reference pieces: ids, records, fault.
// A difference aborts with a message naming the piece, so libFuzzer keeps the
// input as a crash.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "fuzz_input.hpp"
#include "ostrel/driver.hpp"
#include "ostrel/element.hpp"
#include "ostrel/merge.hpp"
#include "ostrel/segment.hpp"
#include "ostrel/site.hpp"
#include "paper/histogram.hpp"
#include "paper/masking.hpp"
#include "paper/reinsert.hpp"
#include "paper/sites.hpp"
#include "paper/xy_cut.hpp"
#include "median.hpp"
#include "recording_sink.hpp"
#include "reference/median_reference.hpp"
#include "reference/ostrel_cross_layout_reference.hpp"
#include "reference/ostrel_segment_reference.hpp"
#include "reference/paper_masking_reference.hpp"
#include "reference/paper_reinsert_reference.hpp"
#include "reference/paper_xy_cut_reference.hpp"
#include "vellora/errors.hpp"
#include "vellora/format.hpp"
#include "vellora/ostrel.hpp"
#include "vellora/paper.hpp"

namespace {

using namespace vellora;
using testing::CapturedRecord;
using testing::RecordingSink;

template <class T>
std::string show(const std::vector<T>& values) {
    std::string out = "[";
    for (std::size_t i = 0; i < values.size() && i < 64; ++i) out += (i ? " " : "") + std::to_string(values[i]);
    return out + (values.size() > 64 ? " ...]" : "]");
}

std::string show(const CapturedRecord& r) {
    return std::to_string(static_cast<int>(r.level)) + " " + r.target + " " + r.module_path + " " +
           r.file.value_or("-") + ":" + (r.line ? std::to_string(*r.line) : "-") + " " + r.message;
}

[[noreturn]] void differs(const char* piece, const std::string& optimised, const std::string& reference) {
    std::fprintf(stderr, "optimised and reference %s differ\n  optimised: %s\n  reference: %s\n", piece,
                 optimised.c_str(), reference.c_str());
    std::abort();
}

bool same_record(const CapturedRecord& a, const CapturedRecord& b) {
    return a.level == b.level && a.target == b.target && a.module_path == b.module_path && a.file == b.file &&
           a.line == b.line && a.message == b.message;
}

// What one run left behind: the result, every record, and whether it ended
// in an internal fault.
template <class Result>
struct Outcome {
    Result result{};
    std::vector<CapturedRecord> records;
    bool fault = false;
};

template <class Run>
auto run_recorded(Level ceiling, Run run) {
    RecordingSink recording(ceiling);
    Outcome<decltype(run(recording.sink()))> outcome;
    try {
        outcome.result = run(recording.sink());
    } catch (const InternalFault&) {
        outcome.fault = true;
    }
    outcome.records = recording.records();
    return outcome;
}

template <class Result, class Show>
void compare(const char* piece, const Outcome<Result>& optimised, const Outcome<Result>& reference, Show show_result) {
    if (optimised.fault != reference.fault) {
        differs(piece, optimised.fault ? "internal fault" : "no fault", reference.fault ? "internal fault" : "no fault");
    }
    if (!(optimised.result == reference.result)) {
        differs(piece, show_result(optimised.result), show_result(reference.result));
    }
    const auto& a = optimised.records;
    const auto& b = reference.records;
    for (std::size_t i = 0; i < a.size() || i < b.size(); ++i) {
        if (i >= a.size() || i >= b.size() || !same_record(a[i], b[i])) {
            const std::string at = "record " + std::to_string(i) + ": ";
            differs(piece, at + (i < a.size() ? show(a[i]) : "none"), at + (i < b.size() ? show(b[i]) : "none"));
        }
    }
}

void compare_ids(const char* piece, const Outcome<IdList>& optimised, const Outcome<IdList>& reference) {
    compare(piece, optimised, reference, [](const IdList& ids) { return show(ids); });
}

// Records of the reference pipeline, gathered piece by piece.
struct Trail {
    Level ceiling;
    std::vector<CapturedRecord> records;

    template <class MakeMessage>
    void emit(const RecordSite& site, MakeMessage&& make_message) {
        RecordingSink recording(ceiling);
        recording.sink().emit(site, std::forward<MakeMessage>(make_message));
        append(recording.records());
    }
    void append(const std::vector<CapturedRecord>& more) { records.insert(records.end(), more.begin(), more.end()); }
};

// Medians of the element widths, as both orderings take them, and of the
// raw edges. Any two NaNs count as equal; otherwise the bits must match.
void check_medians(const std::vector<ElementRecord>& elements) {
    std::vector<std::vector<float>> lists(4);
    for (const ElementRecord& e : elements) {
        lists[0].push_back(e.x2 - e.x1);
        lists[1].push_back(ostrel::width(ostrel::from_record(e)));
        lists[2].push_back(e.x1);
        lists[3].push_back(e.y2);
    }
    for (const std::vector<float>& values : lists) {
        const float optimised = median_of(values);
        const float expected = reference::median_of(values);
        if (!(std::isnan(optimised) && std::isnan(expected)) &&
            std::memcmp(&optimised, &expected, sizeof optimised) != 0) {
            char a[32];
            char b[32];
            std::snprintf(a, sizeof a, "%a", static_cast<double>(optimised));
            std::snprintf(b, sizeof b, "%a", static_cast<double>(expected));
            differs("median", a, b);
        }
    }
}

// The bins each element covers along both axes, in the page's histograms and
// in ones starting at another element's lower edge, as regions below a cut do.
void check_coverage(const std::vector<ElementRecord>& elements, const PageBox& page, float scale) {
    const auto show_span = [](const std::optional<paper::CoveredBins>& span) {
        return span ? std::to_string(span->start) + ".." + std::to_string(span->end) : std::string("none");
    };
    for (const paper::CutAxis axis : {paper::CutAxis::X, paper::CutAxis::Y}) {
        const bool x = axis == paper::CutAxis::X;
        const float upper = x ? page.x2 : page.y2;
        for (std::size_t i = 0; i < elements.size(); ++i) {
            const ElementRecord& e = elements[i];
            const ElementRecord& other = elements[(i + 1) % elements.size()];
            for (const float lower : {x ? page.x1 : page.y1, x ? other.x1 : other.y1}) {
                const float range = upper - lower;
                const std::uint64_t bins = paper::bin_count(range, scale);
                if (bins == 0 || bins >= paper::kMaxBins) continue;
                const float bin_width = range / static_cast<float>(bins);
                const float lo = x ? e.x1 : e.y1;
                const float hi = x ? e.x2 : e.y2;
                const auto optimised = paper::coverage(bins, lower, bin_width, lo, hi);
                const auto expected =
                    reference::xy_cut_detail::straightforward_coverage(bins, lower, bin_width, lo, hi);
                if (optimised.has_value() != expected.has_value() ||
                    (optimised && (optimised->start != expected->start || optimised->end != expected->end))) {
                    char where[160];
                    std::snprintf(where, sizeof where, " (bins %llu from %a by %a, span %a..%a)",
                                  static_cast<unsigned long long>(bins), static_cast<double>(lower),
                                  static_cast<double>(bin_width), static_cast<double>(lo), static_cast<double>(hi));
                    differs("covered bins", show_span(optimised) + where, show_span(expected));
                }
            }
        }
    }
}

// The XY-cut ordering from the reference pieces, each checked against its
// optimised counterpart on the way.
Outcome<IdList> paper_reference(const fuzzing::Case& input, Level ceiling) {
    const std::vector<ElementRecord>& elements = input.elements;
    const OrderConfig config = input.config.value_or(OrderConfig{});
    const PageBox& page = input.page;

    const float threshold = paper::span_threshold(elements);
    const auto show_flags = [](const std::vector<bool>& flags) {
        std::string out;
        for (bool f : flags) out += f ? '1' : '0';
        return out;
    };
    const std::vector<bool> spanning = reference::spanning_flags(elements, threshold);
    compare("spanning test", Outcome<std::vector<bool>>{paper::spanning_flags(elements, threshold), {}, false},
            Outcome<std::vector<bool>>{spanning, {}, false}, show_flags);
    // Every element wide: the most overlap tests, and the indexed search.
    compare("spanning test (threshold 0)", Outcome<std::vector<bool>>{paper::spanning_flags(elements, 0.0f), {}, false},
            Outcome<std::vector<bool>>{reference::spanning_flags(elements, 0.0f), {}, false}, show_flags);

    if (elements.empty()) return {};
    Trail trail{ceiling, {}};
    const float width = page.x2 - page.x1;
    const float height = page.y2 - page.y1;
    const auto usable = [](float extent) { return std::isfinite(extent) && extent > 0.0f; };
    if (!usable(width) || !usable(height)) {
        trail.emit(paper::site(Level::Warn, 63), [&] {
            return "Invalid page dimensions (" + fmt::shortest(width) + ", " + fmt::shortest(height) + ")";
        });
        return {{}, std::move(trail.records), false};
    }

    check_coverage(elements, page, config.histogram_resolution_scale);

    std::vector<ElementRecord> masked;
    std::vector<ElementRecord> regular;
    for (std::size_t i = 0; i < elements.size(); ++i) {
        const SemanticLabel label = elements[i].label;
        const bool always = label == SemanticLabel::HorizontalTitle || label == SemanticLabel::VerticalTitle ||
                            label == SemanticLabel::Vision;
        (always || spanning[i] ? masked : regular).push_back(elements[i]);
    }

    // Only pages the ordering accepts: an inverted region has no meaning for
    // it, and there the band search may see its spans out of order.
    const paper::Region region{page.x1, page.y1, page.x2, page.y2};
    const auto cut = run_recorded(ceiling, [&](const DiagnosticSink& sink) {
        return reference::recursive_xy_cut(regular, config, region, sink);
    });
    compare_ids("XY-cut", run_recorded(ceiling, [&](const DiagnosticSink& sink) {
                    return paper::recursive_xy_cut(regular, config, region, sink);
                }),
                cut);
    trail.append(cut.records);
    if (cut.fault) return {{}, std::move(trail.records), true};

    using Reinsert = void (*)(IdList&, std::span<const ElementRecord>, std::span<const ElementRecord>, float,
                              const DiagnosticSink&);
    const auto reinsert = [&](Reinsert place) {
        return run_recorded(ceiling, [&](const DiagnosticSink& sink) {
            IdList order = cut.result;
            place(order, masked, regular, config.same_row_tolerance, sink);
            return order;
        });
    };
    auto placed = reinsert(&reference::reinsert_masked);
    compare_ids("re-insertion", reinsert(&paper::reinsert_masked), placed);
    trail.append(placed.records);
    return {std::move(placed.result), std::move(trail.records), false};
}

IdList ids_of(const std::vector<ostrel::SorterElement>& elements) {
    IdList ids;
    for (const ostrel::SorterElement& e : elements) ids.push_back(e.id);
    return ids;
}

// The gap-segmentation ordering from the reference pieces, each checked
// against its optimised counterpart on the way.
Outcome<IdList> ostrel_reference(const fuzzing::Case& input, Level ceiling) {
    using namespace ostrel;
    if (input.elements.size() < 2) {
        return {input.elements.empty() ? IdList{} : IdList{input.elements.front().id}, {}, false};
    }
    std::vector<SorterElement> elements;
    for (const ElementRecord& record : input.elements) elements.push_back(from_record(record));

    Trail trail{ceiling, {}};
    trail.emit(sorter_site(Level::Debug, 87), [&] {
        return "[sort] " + std::to_string(elements.size()) + " elements (beta=" + fmt::shortest(kBeta) +
               ", density_threshold=" + fmt::shortest(kDensityThreshold) + ")";
    });

    const std::vector<std::size_t> cross_indices = reference::find_cross_layout(elements);
    compare("cross-layout test", Outcome<std::vector<std::size_t>>{find_cross_layout(elements), {}, false},
            Outcome<std::vector<std::size_t>>{cross_indices, {}, false},
            [](const std::vector<std::size_t>& indices) { return show(indices); });

    std::vector<bool> is_cross(elements.size(), false);
    for (std::size_t index : cross_indices) is_cross[index] = true;
    std::vector<SorterElement> cross;
    std::vector<SorterElement> main_list;
    for (std::size_t i = 0; i < elements.size(); ++i) (is_cross[i] ? cross : main_list).push_back(elements[i]);
    trail.emit(sorter_site(Level::Debug, 110), [&] {
        return "[sort] cross-layout: " + std::to_string(cross.size()) +
               ", remaining: " + std::to_string(main_list.size());
    });
    if (main_list.empty()) {
        trail.emit(sorter_site(Level::Warn, 117), [] {
            return std::string("[sort] all elements are cross-layout, falling back to y-then-x sort");
        });
        return {ids_of(sort_y_then_x(elements)), std::move(trail.records), false};
    }

    const float density = density_ratio(main_list);
    const bool prefer_horizontal_first = density > kDensityThreshold;
    trail.emit(sorter_site(Level::Debug, 126), [&] {
        return "[sort] density_ratio=" + fmt::fixed(density, 3) +
               ", prefer_horizontal_first=" + fmt::flag(prefer_horizontal_first);
    });

    // Both preferences; the ordering goes on with the one it prefers.
    std::vector<SorterElement> ordered;
    for (const bool prefer : {!prefer_horizontal_first, prefer_horizontal_first}) {
        auto segmented = run_recorded(ceiling, [&](const DiagnosticSink& sink) {
            return reference::segment(main_list, prefer, sink);
        });
        const auto optimised = run_recorded(ceiling, [&](const DiagnosticSink& sink) {
            return segment(main_list, prefer, sink);
        });
        compare_ids("segmentation", {ids_of(optimised.result), optimised.records, false},
                    {ids_of(segmented.result), segmented.records, false});
        // Equal ids may belong to different boxes.
        if (std::memcmp(optimised.result.data(), segmented.result.data(),
                        segmented.result.size() * sizeof(SorterElement)) != 0) {
            differs("segmentation", "same ids, other boxes", "");
        }
        if (prefer == prefer_horizontal_first) {
            ordered = std::move(segmented.result);
            trail.append(segmented.records);
        }
    }
    if (cross.empty()) return {ids_of(ordered), std::move(trail.records), false};
    RecordingSink recording(ceiling);
    const IdList merged = ids_of(merge_cross_layout(ordered, cross, recording.sink()));
    trail.append(recording.records());
    return {merged, std::move(trail.records), false};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fuzzing::Case input = fuzzing::decode(data, size);
    // Mostly every record; sometimes warnings only, which skips the messages
    // of the finer levels.
    const Level ceiling = input.flags % 5 == 0 ? Level::Warn : Level::Trace;
    try {
        check_medians(input.elements);
        compare_ids("XY-cut ordering", run_recorded(ceiling, [&](const DiagnosticSink& sink) {
                        return compute_paper_order(input.elements, input.page, input.config, sink);
                    }),
                    paper_reference(input, ceiling));
        compare_ids("gap-segmentation ordering", run_recorded(ceiling, [&](const DiagnosticSink& sink) {
                        return sort_elements(input.elements, sink);
                    }),
                    ostrel_reference(input, ceiling));
    } catch (const std::bad_alloc&) {
    }
    return 0;
}
