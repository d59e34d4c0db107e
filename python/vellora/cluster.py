"""Ordering many files on a Dask cluster (optional extra ``vellora[dask]``).

Each path is one task: the worker reads the file (a PDF or a page file), orders
every page with :func:`vellora.pipeline.iter_input` and returns the pages'
JSON Lines records (see :mod:`vellora.outputs.jsonl`), in input order. Dask does
the scheduling; any Dask scheduler works: a ``distributed`` cluster, a
``LocalCluster`` on one machine, or Dask's own local schedulers. The workers
open the paths themselves, so they must see the same files (a shared file
system), by absolute paths unless they share the working folder too::

    from vellora.cluster import order_paths

    records = order_paths(["/data/a.pdf", "/data/b.json"], "tcp://scheduler:8786")

A failed input raises :class:`InputFailedError` naming the file, or, with
``errors="keep"``, becomes a record ``{"source", "error", "status"}`` in its
place so that the other inputs still come back.
"""

from __future__ import annotations

import importlib
import os
from collections.abc import Iterable
from typing import Any, Final, Literal, TypeAlias

from .pipeline import InputFailure, PipelineOptions, iter_input

__all__ = ["DaskMissingError", "ErrorMode", "InputFailedError", "order_bag", "order_file", "order_paths"]

#: A ``dask.bag.Bag`` and a ``distributed.Client`` (Dask's own annotations are partial).
Bag: TypeAlias = Any
Client: TypeAlias = Any

ErrorMode = Literal["raise", "keep"]
ERROR_MODES: Final[tuple[ErrorMode, ...]] = ("raise", "keep")


class DaskMissingError(ImportError):
    """Dask (``dask[bag]`` and ``distributed``) is not installed."""


class InputFailedError(ValueError):
    """An input that could not be read or ordered; the message names the file (and page)."""

    def __init__(self, message: str, source: str = "", status: int = 2) -> None:
        super().__init__(message)
        self.source = source
        self.status = status

    def __reduce__(self) -> tuple[Any, ...]:
        # Raised on a worker and rebuilt on the client.
        return (type(self), (str(self), self.source, self.status))


def _dask(module: str) -> Any:
    try:
        return importlib.import_module(module)
    except ImportError:
        raise DaskMissingError(
            "the Dask integration needs dask[bag] and distributed (pip install 'vellora[dask]')"
        ) from None


def _options(options: PipelineOptions | None, fields: dict[str, Any]) -> PipelineOptions:
    if options is not None and fields:
        raise TypeError("give either options or their fields, not both")
    return options if options is not None else PipelineOptions(**fields)


def order_file(path: str, options: PipelineOptions | None = None, errors: ErrorMode = "raise") -> list[dict[str, Any]]:
    """The JSON Lines records of the pages of one input: the task each worker runs."""
    records: list[dict[str, Any]] = []
    for item in iter_input(path, options):
        if isinstance(item, InputFailure):
            if errors == "raise":
                raise InputFailedError(item.message, item.source, item.status)
            records.append({"source": item.source, "error": item.message, "status": item.status})
        else:
            records.append(item.record())
    return records


def order_bag(
    paths: Bag, options: PipelineOptions | None = None, *, errors: ErrorMode = "raise", **fields: Any
) -> Bag:
    """A bag of the ordered page records of every path in ``paths`` (a bag of paths), lazily.

    ``options`` (or its fields as keywords, e.g. ``algorithms=("paper",)``)
    says how each input is read and ordered; see
    :class:`vellora.pipeline.PipelineOptions`.
    """
    _dask("dask.bag")
    if errors not in ERROR_MODES:
        raise ValueError(f"errors must be one of {', '.join(ERROR_MODES)}; got {errors!r}")
    return paths.map(order_file, _options(options, fields), errors).flatten()


def order_paths(
    paths: Iterable[str | os.PathLike[str]],
    client: Client | str | None = None,
    *,
    options: PipelineOptions | None = None,
    errors: ErrorMode = "raise",
    partition_size: int = 1,
    **fields: Any,
) -> list[dict[str, Any]]:
    """The ordered page records of every path, in input order, computed by Dask.

    ``client`` is a ``distributed.Client``, the address of a scheduler
    (``"tcp://host:8786"``; a client is opened for the call and closed after),
    or None for Dask's default scheduler (the current client if there is one).
    ``partition_size`` paths make one task (1: each file is its own task).
    """
    bag_module = _dask("dask.bag")
    names = [os.fspath(path) for path in paths]
    if "-" in names:
        raise ValueError("standard input ('-') cannot be read by cluster workers")
    if not names:
        return []
    bag = order_bag(bag_module.from_sequence(names, partition_size=partition_size), options, errors=errors, **fields)
    if isinstance(client, str):
        with _dask("distributed").Client(client) as opened:
            return list(bag.compute(scheduler=opened))
    if client is not None:
        return list(bag.compute(scheduler=client))
    return list(bag.compute())
