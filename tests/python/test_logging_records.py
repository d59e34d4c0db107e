"""What the bridge hands to Python logging, and what logging failures do."""

import logging

import pytest

import _vellora_core as core
from _vellora_core import Element, SemanticLabel

from logging_isolation import isolated_logging, listen, real_get_logger, spy  # noqa: F401

PAGE = (0.0, 0.0, 612.0, 792.0)


def regular(n):
    return [Element(i, 50, 60 * i + 50, 500, 60 * i + 90, SemanticLabel.Regular) for i in range(n)]


class Boom(Exception):
    pass


class RaisingFilter(logging.Filter):
    def __init__(self, error):
        super().__init__()
        self.error, self.calls = error, 0

    def filter(self, record):
        self.calls += 1
        raise self.error


@pytest.mark.parametrize(
    "compute, line, message",
    [
        (core.compute_order, 219, "compute_order (paper): 3 elements"),
        (core.compute_order_paper, 231, "compute_order_paper: 3 elements"),
        (core.compute_order_ostrel, 242, "compute_order_ostrel: 3 elements"),
    ],
)
def test_call_record_fields(isolated_logging, compute, line, message):
    handler = listen("velloray")
    compute(regular(3), PAGE)
    [record] = [r for r in handler.records if r.name == "velloray"]
    assert (record.levelno, record.pathname, record.lineno) == (10, "src\\lib", line)
    assert (record.msg, record.args, record.getMessage()) == (message, (), message)
    assert record.exc_info is None and record.funcName is None


def test_make_record_gets_nine_positional_arguments(spy):
    real_get_logger("velloray").setLevel(logging.DEBUG)
    core.compute_order_ostrel(regular(1), PAGE)
    [args] = [a for m, a in spy.of("velloray") if m == "makeRecord"]
    message = "compute_order_ostrel: 1 elements"
    assert args == ("velloray", 10, "src\\lib", 242, message, (), None, None, None)


def test_algorithm_records_use_dotted_names_and_empty_args(isolated_logging):
    handler = listen("velloray")
    core.compute_order(regular(4), PAGE)
    core.compute_order_ostrel(regular(4), PAGE)
    children = [r for r in handler.records if r.name != "velloray"]
    assert {r.name for r in children} == {"velloray.paper", "velloray.ostrel"}
    assert all(r.args == () and r.getMessage() == r.msg for r in children)
    # With empty args logging never %-formats a message.
    record = logging.makeLogRecord({"msg": "100% of 5%s", "args": ()})
    assert record.getMessage() == "100% of 5%s"


def test_failed_conversion_emits_no_record(isolated_logging):
    handler = listen("velloray")
    with pytest.raises(TypeError):
        core.compute_order(regular(2) + [None], PAGE)
    with pytest.raises(ValueError):
        core.compute_order(regular(2), (0, 0, 1))
    assert handler.records == []


def test_raising_filter_fails_the_call_and_caches_nothing_wrong(isolated_logging):
    handler = listen("velloray")
    failing = RaisingFilter(Boom("filter"))
    real_get_logger("velloray").addFilter(failing)
    with pytest.raises(Boom, match="filter"):
        core.compute_order(regular(2), PAGE)
    real_get_logger("velloray").removeFilter(failing)
    assert core.compute_order_ostrel([], PAGE) == []
    own = [r.getMessage() for r in handler.records if r.name == "velloray"]
    assert own == ["compute_order_ostrel: 0 elements"]


def test_first_exception_of_a_call_wins(isolated_logging):
    listen("velloray")
    first, later = RaisingFilter(Boom("first")), RaisingFilter(KeyError("later"))
    real_get_logger("velloray").addFilter(first)
    real_get_logger("velloray.paper").addFilter(later)
    with pytest.raises(Boom, match="first"):
        core.compute_order(regular(3), PAGE)
    # Later records were still delivered, with the first exception set aside.
    assert later.calls >= 1


@pytest.mark.parametrize("method", ["getLogger", "isEnabledFor", "makeRecord", "handle"])
def test_failing_logging_call_raises_from_the_call_and_caches_nothing(spy, method):
    real_get_logger("velloray").setLevel(logging.DEBUG)
    spy.fail[method] = Boom(method) if method == "getLogger" else (lambda *a: Boom(method))
    with pytest.raises(Boom, match=method):
        core.compute_order_ostrel([], PAGE)
    del spy.fail[method]
    spy.calls.clear()
    assert core.compute_order_ostrel([], PAGE) == []
    assert spy.fetched() == ["velloray"]
