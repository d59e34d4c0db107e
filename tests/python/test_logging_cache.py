"""The bridge's native level cache: first-record caching, reset, hierarchy."""

import logging
import subprocess
import sys
import textwrap
import threading

import _vellora_core as core
from _vellora_core import Element, SemanticLabel

from logging_isolation import configure, isolated_logging, listen, spy  # noqa: F401 - fixtures

PAGE = (0.0, 0.0, 612.0, 792.0)
PROBE = [("isEnabledFor", (level,)) for level in (5, 10, 20, 30)]


def two_columns():
    left = [Element(i, 50, 100 * i + 50, 290, 100 * i + 120, SemanticLabel.Regular) for i in range(3)]
    right = [
        Element(10 + i, 320, 100 * i + 50, 560, 100 * i + 120, SemanticLabel.Regular)
        for i in range(3)
    ]
    return left + right


class TestFirstRecordCaching:
    def test_first_record_fetches_asks_probes_and_caches_warn(self, spy):
        core.compute_order_ostrel([], PAGE)
        assert spy.of("velloray") == [("getLogger", ()), ("isEnabledFor", (10,))] + PROBE

        spy.calls.clear()
        core.compute_order_ostrel([], PAGE)
        core.compute_order([], PAGE)
        assert spy.of("velloray") == []

    def test_probe_stops_at_the_first_enabled_level(self, spy):
        configure("velloray", logging.INFO)
        core.compute_order_ostrel([], PAGE)
        assert spy.of("velloray") == [
            ("getLogger", ()),
            ("isEnabledFor", (10,)),
            ("isEnabledFor", (5,)),
            ("isEnabledFor", (10,)),
            ("isEnabledFor", (20,)),
        ]

    def test_logger_off_everywhere_caches_off(self, spy):
        configure("velloray", logging.CRITICAL)
        core.compute_order_ostrel([], PAGE)
        assert spy.of("velloray")[-1] == ("isEnabledFor", (40,))
        spy.calls.clear()
        core.compute_order_ostrel([], PAGE)
        assert spy.of("velloray") == []

    def test_cached_logger_is_asked_again_for_records_its_filter_passes(self, spy):
        configure("velloray", logging.DEBUG)
        core.compute_order_ostrel([], PAGE)
        spy.calls.clear()
        core.compute_order_ostrel([], PAGE)
        methods = [m for m, _ in spy.of("velloray")]
        assert methods == ["isEnabledFor", "makeRecord", "handle"]

    def test_each_target_is_fetched_once(self, spy):
        configure("velloray", logging.DEBUG)
        core.compute_order(two_columns(), PAGE)
        core.compute_order(two_columns(), PAGE)
        fetched = [n for n, m, _ in spy.calls if m == "getLogger"]
        assert fetched.count("velloray") == 1
        assert fetched.count("velloray.paper") == 1


class TestConfigurationChanges:
    def test_configuring_after_the_first_record_needs_a_reset(self, isolated_logging):
        core.compute_order([], PAGE)  # caches WARN for velloray
        handler = listen("velloray")
        core.compute_order([], PAGE)
        assert handler.records == []

        core.reset_log_cache()
        core.compute_order([], PAGE)
        assert handler.messages() == ["compute_order (paper): 0 elements"]

    def test_configuring_before_the_first_record_delivers_at_once(self, isolated_logging):
        handler = listen("velloray")
        core.compute_order_paper([], PAGE)
        assert handler.messages() == ["compute_order_paper: 0 elements"]

    def test_raising_the_level_needs_no_reset(self, isolated_logging):
        handler = listen("velloray")
        core.compute_order([], PAGE)
        configure("velloray", logging.WARNING)
        core.compute_order([], PAGE)
        assert len(handler.records) == 1

    def test_reset_before_any_record_and_twice_refetches(self, spy):
        assert core.reset_log_cache() is None
        assert core.reset_log_cache() is None
        core.compute_order([], PAGE)
        core.reset_log_cache()
        core.reset_log_cache()
        core.compute_order([], PAGE)
        fetched = [n for n, m, _ in spy.calls if m == "getLogger"]
        assert fetched == ["velloray", "velloray"]


class TestHierarchy:
    def test_parent_configuration_reaches_all_three_targets(self, isolated_logging):
        handler = listen("velloray")
        core.compute_order(two_columns(), PAGE)
        core.compute_order_ostrel(two_columns(), PAGE)
        names = {record.name for record in handler.records}
        assert names == {"velloray", "velloray.paper", "velloray.ostrel"}

    def test_child_level_does_not_open_the_parent(self, isolated_logging):
        handler = listen("velloray.paper")
        core.compute_order(two_columns(), PAGE)
        assert handler.records
        assert {record.name for record in handler.records} == {"velloray.paper"}


class TestFailuresCacheNothing:
    def test_failing_get_logger_is_retried_on_the_next_record(self, spy):
        spy.get_logger_failure = LookupError("no loggers today")
        try:
            core.compute_order([], PAGE)
        except LookupError:
            pass
        else:
            raise AssertionError("the logging failure was not raised")
        spy.get_logger_failure = None
        core.compute_order([], PAGE)
        fetched = [n for n, m, _ in spy.calls if m == "getLogger"]
        assert fetched == ["velloray", "velloray"]

    def test_failing_probe_caches_trace(self, spy):
        def fail_at_trace(level):
            return RuntimeError("probe") if level == 5 else None

        spy.fail["isEnabledFor"] = fail_at_trace
        core.compute_order([], PAGE)  # probe fails: discarded, filter TRACE
        spy.calls.clear()
        core.compute_order([], PAGE)
        # TRACE lets the DEBUG record through to Python, which declines it.
        assert spy.of("velloray") == [("isEnabledFor", (10,))]


class TestConcurrency:
    def test_threads_and_resets_lose_no_record(self, isolated_logging):
        handler = listen("velloray")
        calls_per_thread, threads = 150, 4
        errors = []

        def order():
            try:
                for _ in range(calls_per_thread):
                    core.compute_order_ostrel([], PAGE)
            except BaseException as error:  # noqa: BLE001 - reported below
                errors.append(error)

        def reset():
            for _ in range(calls_per_thread):
                core.reset_log_cache()

        workers = [threading.Thread(target=order) for _ in range(threads)]
        workers.append(threading.Thread(target=reset))
        for worker in workers:
            worker.start()
        for worker in workers:
            worker.join()
        assert errors == []
        assert len(handler.messages("velloray")) == calls_per_thread * threads


def test_fresh_process_caches_the_level_of_the_first_record():
    code = """
        import logging
        import _vellora_core as core
        records = []
        class Keep(logging.Handler):
            def emit(self, record):
                records.append(record.getMessage())
        core.compute_order([], (0, 0, 1, 1))
        logger = logging.getLogger("velloray")
        logger.setLevel(logging.DEBUG)
        logger.addHandler(Keep())
        core.compute_order([], (0, 0, 1, 1))
        print(len(records))
        core.reset_log_cache()
        core.compute_order([], (0, 0, 1, 1))
        print(len(records))
    """
    result = subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True, timeout=120
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.split() == ["0", "1"]
