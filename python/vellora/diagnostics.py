"""Collecting the native module's diagnostic records.

The native module sends its records (one per compute call, and the steps of
both algorithms: cuts, insertions, merges, fallbacks) to the Python loggers
``velloray``, ``velloray.paper`` and ``velloray.ostrel``. It caches each
logger's level natively, so after changing the logging configuration call
``_vellora_core.reset_log_cache()``; :func:`capture_diagnostics` does both.
"""

from __future__ import annotations

import logging
from collections.abc import Iterator
from contextlib import contextmanager
from dataclasses import dataclass

import _vellora_core as core

__all__ = ["LOGGER_NAME", "DiagnosticRecord", "capture_diagnostics"]

#: The parent logger of every diagnostic record of the native module.
LOGGER_NAME = "velloray"


@dataclass(frozen=True, slots=True)
class DiagnosticRecord:
    """One diagnostic record: logger name, level name and message."""

    logger: str
    level: str
    message: str

    def __str__(self) -> str:
        return f"{self.level:<7} {self.logger}: {self.message}"


class _ListHandler(logging.Handler):
    def __init__(self, sink: list[DiagnosticRecord]) -> None:
        super().__init__(logging.DEBUG)
        self.sink = sink

    def emit(self, record: logging.LogRecord) -> None:
        self.sink.append(DiagnosticRecord(record.name, record.levelname, record.getMessage()))


@contextmanager
def capture_diagnostics(level: int = logging.DEBUG) -> Iterator[list[DiagnosticRecord]]:
    """Collect the native module's records of level ``level`` and above.

    Within the block the ``velloray`` logger is set to ``level`` with a
    collecting handler and without propagation (so the records go to the list
    only, not to handlers the program configured), and the native level cache
    is cleared so the change takes effect. On exit the logger's level,
    handlers and propagation are restored and the cache is cleared again. The yielded list fills as records arrive::

        with capture_diagnostics() as records:
            vellora.order(page)
        for record in records:
            print(record)
    """
    logger = logging.getLogger(LOGGER_NAME)
    records: list[DiagnosticRecord] = []
    handler = _ListHandler(records)
    handler.setLevel(level)
    saved_level, saved_propagate = logger.level, logger.propagate
    logger.addHandler(handler)
    logger.setLevel(level)
    logger.propagate = False
    core.reset_log_cache()
    try:
        yield records
    finally:
        logger.removeHandler(handler)
        logger.setLevel(saved_level)
        logger.propagate = saved_propagate
        core.reset_log_cache()
