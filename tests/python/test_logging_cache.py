"""The bridge's native level cache: first-record caching, reset, hierarchy."""

import logging
import subprocess
import sys
import textwrap
import threading

import _vellora_core as core
from _vellora_core import Element, SemanticLabel

from logging_isolation import Collect, isolated_logging, listen, real_get_logger, spy  # noqa: F401

PAGE = (0.0, 0.0, 612.0, 792.0)


def probe(*levels):
    return [("isEnabledFor", (level,)) for level in levels]


def two_columns():
    return [
        Element(10 * c + i, 50 + 270 * c, 100 * i + 50, 290 + 270 * c, 100 * i + 120,
                SemanticLabel.Regular)
        for c in range(2)
        for i in range(3)
    ]


def test_first_record_fetches_asks_probes_and_caches(spy):
    core.compute_order_ostrel([], PAGE)
    expected = [("getLogger", ())] + probe(10) + probe(5, 10, 20, 30)
    assert spy.of("velloray") == expected
    spy.calls.clear()
    core.compute_order([], PAGE)  # WARN cached: DEBUG is dropped natively
    assert spy.calls == []


def test_probe_stops_at_the_first_enabled_level_or_caches_off(spy):
    real_get_logger("velloray").setLevel(logging.INFO)
    core.compute_order([], PAGE)
    assert spy.of("velloray")[-3:] == probe(5, 10, 20)
    core.reset_log_cache()
    real_get_logger("velloray").setLevel(logging.CRITICAL)
    spy.calls.clear()
    core.compute_order([], PAGE)
    core.compute_order([], PAGE)
    assert spy.of("velloray") == [("getLogger", ())] + probe(10) + probe(5, 10, 20, 30, 40)


def test_cached_logger_is_asked_for_every_record_its_filter_passes(spy):
    real_get_logger("velloray").setLevel(logging.DEBUG)
    core.compute_order(two_columns(), PAGE)
    spy.calls.clear()
    core.compute_order(two_columns(), PAGE)
    assert [m for m, _ in spy.of("velloray")] == ["isEnabledFor", "makeRecord", "handle"]
    assert spy.fetched() == []


def test_configuration_after_the_first_record_needs_a_reset(isolated_logging):
    core.compute_order([], PAGE)
    handler = listen("velloray")
    core.compute_order([], PAGE)
    assert handler.records == []
    core.reset_log_cache()
    core.compute_order([], PAGE)
    assert [r.getMessage() for r in handler.records] == ["compute_order (paper): 0 elements"]


def test_raising_the_level_needs_no_reset(isolated_logging):
    handler = listen("velloray")
    core.compute_order([], PAGE)
    real_get_logger("velloray").setLevel(logging.WARNING)
    core.compute_order([], PAGE)
    assert len(handler.records) == 1


def test_reset_before_any_record_or_twice_refetches(spy):
    core.reset_log_cache()
    core.reset_log_cache()
    core.compute_order([], PAGE)
    core.reset_log_cache()
    core.reset_log_cache()
    core.compute_order([], PAGE)
    assert spy.fetched() == ["velloray", "velloray"]


def test_parent_level_reaches_all_targets_child_level_only_its_own(isolated_logging):
    handler = listen("velloray")
    core.compute_order(two_columns(), PAGE)
    core.compute_order_ostrel(two_columns(), PAGE)
    assert {r.name for r in handler.records} == {"velloray", "velloray.paper", "velloray.ostrel"}
    core.reset_log_cache()
    real_get_logger("velloray").setLevel(logging.WARNING)
    handler.records.clear()
    child = listen("velloray.paper")
    core.compute_order(two_columns(), PAGE)
    assert handler.records == [] and {r.name for r in child.records} == {"velloray.paper"}


def test_reset_inside_handle_still_caches_the_logger(spy):
    # The entry is stored on the tree current after `handle`; the level probe
    # runs after the reset, so the entry reflects the configuration in force.
    class Resetting(logging.Handler):
        def emit(self, record):
            core.reset_log_cache()

    real_get_logger("velloray").setLevel(logging.DEBUG)
    real_get_logger("velloray").addHandler(Resetting())
    core.compute_order_ostrel([], PAGE)
    core.compute_order_ostrel([], PAGE)
    assert spy.fetched() == ["velloray"]
    assert [m for m, _ in spy.of("velloray")][-3:] == ["isEnabledFor", "makeRecord", "handle"]


def test_failing_probe_caches_trace(spy):
    spy.fail["isEnabledFor"] = lambda level: RuntimeError("probe") if level == 5 else None
    core.compute_order([], PAGE)
    spy.calls.clear()
    core.compute_order([], PAGE)
    assert spy.of("velloray") == probe(10)  # asked again: TRACE lets DEBUG through


def test_threads_and_resets_lose_no_record(isolated_logging):
    handler = listen("velloray")
    errors = []

    def order():
        try:
            for _ in range(150):
                core.compute_order_ostrel([], PAGE)
        except BaseException as error:  # noqa: BLE001 - checked below
            errors.append(error)

    threads = [threading.Thread(target=order) for _ in range(4)]
    threads.append(threading.Thread(target=lambda: [core.reset_log_cache() for _ in range(150)]))
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert errors == [] and len(handler.records) == 600


def test_fresh_process_caches_the_level_of_its_first_record():
    code = """
        import logging, sys
        import _vellora_core as core
        core.compute_order([], (0, 0, 1, 1))
        logging.basicConfig(level=logging.DEBUG, format="%(message)s", stream=sys.stdout)
        core.compute_order([], (0, 0, 1, 1))
        print("reset")
        core.reset_log_cache()
        core.compute_order([], (0, 0, 1, 1))
    """
    result = subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True, timeout=120
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == ["reset", "compute_order (paper): 0 elements"]


def test_reset_made_by_a_handler_applies_to_the_rest_of_the_same_call(isolated_logging):
    # The appended title's WARN record lowers the level and resets the cache;
    # the DEBUG record of the second title, later in the same call, must see
    # the emptied cache instead of the WARN filter looked up before.
    class Lowering(Collect):
        def emit(self, record):
            super().emit(record)
            if record.levelno == logging.WARNING:
                real_get_logger("velloray.paper").setLevel(logging.DEBUG)
                core.reset_log_cache()

    handler = listen("velloray.paper", logging.WARNING, Lowering())
    core.compute_order(two_columns(), PAGE)  # caches the WARN filter of velloray.paper
    assert handler.records == []
    titles = [
        Element(1, 0, 0, 100, 20, SemanticLabel.CrossLayout),
        Element(2, 0, 50, 100, 70, SemanticLabel.HorizontalTitle),
        Element(3, 0, 100, 100, 120, SemanticLabel.HorizontalTitle),
    ]
    assert core.compute_order(titles, PAGE) == [1, 3, 2]
    assert [r.getMessage() for r in handler.records] == [
        "No valid insertion for element 2 (HorizontalTitle), appending",
        "[INSERT] Masked element 3 (HorizontalTitle) -> position 1 (before element 2)",
    ]
