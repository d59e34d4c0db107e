"""What the bridge hands to Python logging, and what logging failures do."""

import logging

import pytest

import _vellora_core as core
from _vellora_core import Element, SemanticLabel

from logging_isolation import configure, isolated_logging, listen, spy  # noqa: F401 - fixtures

PAGE = (0.0, 0.0, 612.0, 792.0)


def regular(n):
    return [Element(i, 50, 60 * i + 50, 500, 60 * i + 90, SemanticLabel.Regular) for i in range(n)]


class Boom(Exception):
    pass


class RaisingFilter(logging.Filter):
    def __init__(self, error):
        super().__init__()
        self.error = error
        self.calls = 0

    def filter(self, record):
        self.calls += 1
        raise self.error


class TestCallRecord:
    @pytest.mark.parametrize(
        "compute, line, message",
        [
            (core.compute_order, 219, "compute_order (paper): 3 elements"),
            (core.compute_order_paper, 231, "compute_order_paper: 3 elements"),
            (core.compute_order_ostrel, 242, "compute_order_ostrel: 3 elements"),
        ],
        ids=lambda v: getattr(v, "__name__", None),
    )
    def test_record_fields(self, isolated_logging, compute, line, message):
        handler = listen("velloray")
        compute(regular(3), PAGE)
        [record] = [r for r in handler.records if r.name == "velloray"]
        assert record.levelno == logging.DEBUG
        assert record.pathname == "src\\lib"
        assert record.lineno == line
        assert record.args == ()
        assert record.msg == message
        assert record.getMessage() == message
        assert record.exc_info is None
        assert record.funcName is None

    def test_make_record_gets_nine_positional_arguments(self, spy):
        configure("velloray", logging.DEBUG)
        core.compute_order_ostrel(regular(1), PAGE)
        [args] = [a for m, a in spy.of("velloray") if m == "makeRecord"]
        assert args == (
            "velloray", 10, "src\\lib", 242, "compute_order_ostrel: 1 elements",
            (), None, None, None,
        )

    def test_failed_conversion_emits_no_record(self, isolated_logging):
        handler = listen("velloray")
        with pytest.raises(TypeError):
            core.compute_order(regular(2) + [None], PAGE)
        with pytest.raises(ValueError):
            core.compute_order(regular(2), (0, 0, 1))
        assert handler.records == []


class TestAlgorithmRecords:
    def test_child_targets_map_to_dotted_logger_names(self, isolated_logging):
        handler = listen("velloray")
        core.compute_order(regular(4), PAGE)
        core.compute_order_ostrel(regular(4), PAGE)
        children = [r for r in handler.records if r.name != "velloray"]
        assert {r.name for r in children} == {"velloray.paper", "velloray.ostrel"}
        for record in children:
            assert record.args == ()
            assert record.getMessage() == record.msg
            assert record.levelno in (logging.DEBUG, logging.INFO, logging.WARNING, logging.ERROR)

    def test_invalid_page_warning_reaches_a_warning_logger(self, isolated_logging):
        handler = listen("velloray.paper", logging.WARNING)
        assert core.compute_order(regular(1), (0, 0, 0, 792)) == []
        [record] = handler.records
        assert record.levelno == logging.WARNING
        assert record.getMessage() == "Invalid page dimensions (0, 792)"

    def test_percent_signs_survive_untouched(self, isolated_logging):
        # A message goes with empty args, so logging never %-formats it.
        record = logging.getLogger("velloray").makeRecord(
            "velloray", 10, "src\\lib", 1, "100% of 5%s", (), None, None, None
        )
        assert record.getMessage() == "100% of 5%s"


class TestLoggingFailures:
    def test_raising_filter_fails_the_call_instead_of_returning(self, isolated_logging):
        listen("velloray")
        failing = RaisingFilter(Boom("filter"))
        logging.getLogger("velloray").addFilter(failing)
        with pytest.raises(Boom, match="filter"):
            core.compute_order(regular(2), PAGE)
        assert failing.calls == 1

    def test_raising_filter_does_not_poison_the_cache(self, isolated_logging):
        handler = listen("velloray")
        failing = RaisingFilter(Boom("once"))
        logger = logging.getLogger("velloray")
        logger.addFilter(failing)
        with pytest.raises(Boom):
            core.compute_order_ostrel([], PAGE)
        logger.removeFilter(failing)
        assert core.compute_order_ostrel([], PAGE) == []
        assert handler.messages("velloray") == ["compute_order_ostrel: 0 elements"]

    def test_first_exception_of_a_call_wins(self, isolated_logging):
        listen("velloray")
        first = RaisingFilter(Boom("first"))
        later = RaisingFilter(KeyError("later"))
        logging.getLogger("velloray").addFilter(first)
        logging.getLogger("velloray.paper").addFilter(later)
        with pytest.raises(Boom, match="first"):
            core.compute_order(regular(3), PAGE)
        # Records after the failure were still delivered (and failed) while
        # the first exception was set aside.
        assert later.calls >= 1

    @pytest.mark.parametrize("method", ["isEnabledFor", "makeRecord", "handle"])
    def test_failing_logger_method_raises_from_the_call(self, spy, method):
        configure("velloray", logging.DEBUG)
        spy.fail[method] = lambda *args: Boom(method)
        with pytest.raises(Boom, match=method):
            core.compute_order_ostrel([], PAGE)
        # Nothing was cached: the next record fetches the logger again.
        del spy.fail[method]
        spy.calls.clear()
        assert core.compute_order_ostrel([], PAGE) == []
        assert spy.of("velloray")[0] == ("getLogger", ())

    def test_failing_get_logger_raises_from_the_call(self, spy):
        spy.get_logger_failure = Boom("getLogger")
        with pytest.raises(Boom, match="getLogger"):
            core.compute_order_paper([], PAGE)
