"""Shared helpers of the logging tests: configuration isolation and spies."""

import logging

import pytest

import _vellora_core as core

BRIDGE_LOGGERS = ["velloray", "velloray.paper", "velloray.ostrel", ""]


@pytest.fixture
def isolated_logging():
    """Restores level, handlers, filters, propagate and disabled of the
    loggers the bridge uses, and empties the native cache before and after."""
    get_logger = logging.getLogger  # the real one, even if a test patches it
    saved = {}
    for name in BRIDGE_LOGGERS:
        logger = get_logger(name)
        saved[name] = (
            logger.level,
            list(logger.handlers),
            list(logger.filters),
            logger.propagate,
            logger.disabled,
        )
    core.reset_log_cache()
    try:
        yield
    finally:
        for name, (level, handlers, filters, propagate, disabled) in saved.items():
            logger = get_logger(name)
            logger.setLevel(level)
            logger.handlers[:] = handlers
            logger.filters[:] = filters
            logger.propagate = propagate
            logger.disabled = disabled
        core.reset_log_cache()


def configure(name, level):
    """Sets a logger's level without going through a patched getLogger."""
    logging.Logger.manager.getLogger(name).setLevel(level)


class Collect(logging.Handler):
    """Keeps every record it is handed."""

    def __init__(self):
        super().__init__(level=logging.NOTSET)
        self.records = []

    def emit(self, record):
        self.records.append(record)

    def messages(self, name=None):
        return [r.getMessage() for r in self.records if name is None or r.name == name]


def listen(name="velloray", level=logging.DEBUG):
    """Sets `name` to `level` with a collecting handler and no propagation."""
    logger = logging.getLogger(name)
    logger.setLevel(level)
    logger.propagate = False
    handler = Collect()
    logger.addHandler(handler)
    return handler


class SpyLogger:
    """Wraps a real logger and records the bridge's calls on it."""

    def __init__(self, real, calls, fail=None):
        self._real = real
        self._calls = calls
        self._fail = fail or {}

    def __getattr__(self, name):
        # Everything the bridge does not use goes to the real logger.
        return getattr(self._real, name)

    def _record(self, method, *args):
        self._calls.append((self._real.name, method, args))
        failure = self._fail.get(method)
        if failure is not None:
            error = failure(*args)
            if error is not None:
                raise error

    def isEnabledFor(self, level):
        self._record("isEnabledFor", level)
        return self._real.isEnabledFor(level)

    def makeRecord(self, *args):
        self._record("makeRecord", *args)
        return self._real.makeRecord(*args)

    def handle(self, record):
        self._record("handle", record)
        return self._real.handle(record)


@pytest.fixture
def spy(monkeypatch, isolated_logging):
    """Replaces logging.getLogger; `spy.calls` lists (logger, method, args)
    for the velloray loggers, `spy.fail[method]` injects failures."""

    class Spy:
        calls = []
        fail = {}
        get_logger_failure = None

        def of(self, name):
            return [(m, a) for n, m, a in self.calls if n == name]

    state = Spy()
    real_get_logger = logging.getLogger

    def get_logger(name=None):
        real = real_get_logger(name)
        if not (name or "").startswith("velloray"):
            return real
        state.calls.append((name, "getLogger", ()))
        if state.get_logger_failure is not None:
            raise state.get_logger_failure
        return SpyLogger(real, state.calls, state.fail)

    monkeypatch.setattr(logging, "getLogger", get_logger)
    return state
