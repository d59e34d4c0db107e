"""Shared helpers of the logging tests: configuration isolation and a spy."""

import logging

import pytest

import _vellora_core as core

real_get_logger = logging.getLogger  # kept even while a test patches logging


@pytest.fixture
def isolated_logging():
    """Restores level, handlers, filters and propagate of the bridge's loggers
    and the root, and empties the native cache before and after."""
    loggers = [real_get_logger(n) for n in ("velloray", "velloray.paper", "velloray.ostrel", "")]
    saved = [(lg, lg.level, list(lg.handlers), list(lg.filters), lg.propagate) for lg in loggers]
    core.reset_log_cache()
    yield
    for logger, level, handlers, filters, propagate in saved:
        logger.setLevel(level)
        logger.handlers[:], logger.filters[:], logger.propagate = handlers, filters, propagate
    core.reset_log_cache()


class Collect(logging.Handler):
    def __init__(self):
        super().__init__()
        self.records = []

    def emit(self, record):
        self.records.append(record)


def listen(name="velloray", level=logging.DEBUG, handler=None):
    """Sets `name` to `level` with a collecting handler (a new Collect unless
    one is given) and no propagation; returns the handler."""
    logger = real_get_logger(name)
    logger.setLevel(level)
    logger.propagate = False
    handler = handler if handler is not None else Collect()
    logger.addHandler(handler)
    return handler


class SpyLogger:
    """A real logger whose bridge-facing methods are recorded in `calls` and
    may be made to fail through `fail[method](*args) -> exception or None`."""

    def __init__(self, real, calls, fail):
        self._real, self._calls, self._fail = real, calls, fail

    def _call(self, method, *args):
        self._calls.append((self._real.name, method, args))
        error = self._fail.get(method, lambda *a: None)(*args)
        if error is not None:
            raise error
        return getattr(self._real, method)(*args)

    def isEnabledFor(self, level):
        return self._call("isEnabledFor", level)

    def makeRecord(self, *args):
        return self._call("makeRecord", *args)

    def handle(self, record):
        return self._call("handle", record)


class Spy:
    def __init__(self):
        self.calls, self.fail = [], {}

    def of(self, name):
        return [(method, args) for n, method, args in self.calls if n == name]

    def fetched(self):
        return [n for n, method, _ in self.calls if method == "getLogger"]


@pytest.fixture
def spy(monkeypatch, isolated_logging):
    """Patches logging.getLogger so the bridge's loggers are SpyLoggers."""
    state = Spy()

    def get_logger(name=None):
        if not (name or "").startswith("velloray"):
            return real_get_logger(name)
        state.calls.append((name, "getLogger", ()))
        failure = state.fail.get("getLogger")
        if failure is not None:
            raise failure
        return SpyLogger(real_get_logger(name), state.calls, state.fail)

    monkeypatch.setattr(logging, "getLogger", get_logger)
    return state
