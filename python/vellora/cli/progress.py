"""A progress bar of the pages done, on standard error when it is a terminal.

Uses tqdm (the ``progress`` extra) when it is installed; without it, or when
disabled, nothing is shown. Messages printed while the bar is shown go
through it, so they do not tear it.
"""

from __future__ import annotations

import importlib
from types import TracebackType
from typing import Any, TextIO

from .common import visible

__all__ = ["Progress"]


class Progress:
    """Counts pages; shows them as a bar on ``stream`` when ``enabled`` (out of ``total`` when known)."""

    def __init__(self, stream: TextIO, *, enabled: bool, total: int | None = None) -> None:
        self.stream = stream
        self._bar: Any = None
        if enabled:
            try:
                tqdm = importlib.import_module("tqdm").tqdm
            except ImportError:
                return
            self._bar = tqdm(file=stream, total=total, unit="page", dynamic_ncols=True, leave=False)

    def start(self, source: str) -> None:
        """A new input: shown as the bar's description."""
        if self._bar is not None:
            self._bar.set_description_str(visible(source), refresh=True)

    def page(self) -> None:
        if self._bar is not None:
            self._bar.update(1)

    def message(self, text: str) -> None:
        """A line on the stream, above the bar."""
        if self._bar is not None:
            self._bar.write(text, file=self.stream)
        else:
            print(text, file=self.stream, flush=True)

    def close(self) -> None:
        if self._bar is not None:
            self._bar.close()
            self._bar = None

    def __enter__(self) -> Progress:
        return self

    def __exit__(self, kind: type[BaseException] | None, error: BaseException | None,
                 trace: TracebackType | None) -> None:
        self.close()
