"""Ordering a list of inputs: load each, order it, draw and save it, print it.

A bad input is reported on standard error and skipped; the others are still
ordered, and the exit status is the worst seen.
"""

from __future__ import annotations

import argparse
import json
import os
from collections.abc import Callable, Sequence
from dataclasses import dataclass
from pathlib import Path
from typing import TextIO

from ..diagnostics import capture_diagnostics
from ..fileio import STDIO, InputError, read_text, write_atomic
from ..ordering import ALGORITHMS, ConfigError, make_config, order
from ..page import Page, PageError
from ..svg import write_svg
from .common import EXIT_FAILURE, EXIT_OK, EXIT_USAGE, PROG, Failure, OutputError, reason
from .report import Result, json_object, print_plain, summary

__all__ = ["Batch", "decode_json", "parse_config", "run_batch"]


def decode_json(text: str) -> object:
    """The JSON value of ``text``; PageError (without a source) when it is not usable JSON."""
    try:
        return json.loads(text)
    except json.JSONDecodeError as error:
        raise PageError(f"not valid JSON: {error.msg} (line {error.lineno}, column {error.colno})") from None
    except RecursionError:
        raise PageError("not usable JSON: arrays or objects nested too deeply") from None
    except ValueError as error:  # an integer with more digits than Python converts
        raise PageError(f"not valid JSON: {str(error).split(';')[0]}") from None


def parse_config(items: Sequence[str], limit: int | None) -> dict[str, float]:
    """The paper tuning values given by ``--config`` (KEY=VALUE, or JSON files of them)."""
    values: dict[str, float] = {}
    for item in items:
        if "=" in item:
            key, _, raw = item.partition("=")
            try:
                values[key.strip()] = float(raw)
            except ValueError:
                raise Failure(f"--config {item}: {raw.strip()!r} is not a number", EXIT_USAGE) from None
            continue
        try:
            data = decode_json(read_text(item, limit))
        except OSError as error:
            raise Failure(f"--config {item}: cannot read: {reason(error)}", EXIT_USAGE) from None
        except InputError as error:
            raise Failure(f"--config {error}", EXIT_USAGE) from None
        except PageError as error:
            raise Failure(f"--config {item}: {error.message}", EXIT_USAGE) from None
        if not isinstance(data, dict):
            raise Failure(f"--config {item}: must hold a JSON object", EXIT_USAGE)
        values.update(data)
    try:
        make_config(values)
    except ConfigError as error:
        raise Failure(f"--config: {error}", EXIT_USAGE) from None
    return values


@dataclass(frozen=True)
class Batch:
    """What a subcommand contributes to a run: how to load an input and how to name its page."""

    load: Callable[[str], Page]
    #: The page number shown in summaries, titles and drawing names (PDF pages), or None.
    page_number: int | None = None
    #: Whether ``--json`` objects carry the page itself (pages extracted from PDF files).
    include_page: bool = False
    #: A picture of the page to draw under the boxes (PNG), or None.
    background: Callable[[Page], bytes | None] | None = None


def _run_algorithms(result: Result, algorithms: Sequence[str], config: dict[str, float], explain: bool) -> None:
    for algorithm in algorithms:
        if explain:
            with capture_diagnostics() as records:
                result.orders[algorithm] = order(result.page, algorithm, config)  # type: ignore[arg-type]
            result.diagnostics[algorithm] = list(records)
        else:
            result.orders[algorithm] = order(result.page, algorithm, config)  # type: ignore[arg-type]


def _svg_path(args: argparse.Namespace, stem: str, used: set[str]) -> str | None:
    if args.svg is None:
        return None
    if len(args.inputs) == 1:
        return str(args.svg)
    directory = Path(args.svg)
    name, counter = f"{stem}.svg", 2
    while name in used:
        name, counter = f"{stem}-{counter}.svg", counter + 1
    used.add(name)
    return str(directory / name)


def _write(path: str, data: str) -> None:
    try:
        write_atomic(path, data)
    except OSError as error:
        raise Failure(f"cannot write {path}: {reason(error)}", EXIT_FAILURE) from None


def _process(path: str, batch: Batch, args: argparse.Namespace, algorithms: Sequence[str],
             config: dict[str, float], used_names: set[str]) -> Result:
    try:
        page = batch.load(path)
    except OSError as error:
        raise Failure(f"{path}: cannot read: {reason(error)}", EXIT_USAGE) from None
    except (PageError, InputError) as error:
        raise Failure(str(error), EXIT_USAGE) from None
    result = Result(path, page)
    if batch.page_number is not None:
        result.summary = summary(path, page, batch.page_number)
    try:
        _run_algorithms(result, algorithms, config, args.explain)
    except PageError as error:  # a page the paper algorithm cannot take
        raise Failure(f"{path}: {error}", EXIT_USAGE) from None
    except RuntimeError as error:  # an order that does not list every element once
        raise Failure(f"{path}: internal error: {error}", EXIT_FAILURE) from None

    suffix = f"-p{batch.page_number}" if batch.page_number is not None else ""
    svg_path = _svg_path(args, Path(path).stem + suffix, used_names)
    if svg_path is not None:
        title = path + (f", page {batch.page_number}" if batch.page_number is not None else "")
        try:
            picture = batch.background(page) if batch.background is not None else None
            write_svg(svg_path, page, result.orders, title=title, background=picture)
        except OSError as error:
            raise Failure(f"cannot write {svg_path}: {reason(error)}", EXIT_FAILURE) from None
        if svg_path != STDIO:
            result.svg = svg_path
    if getattr(args, "save_page", None):
        _write(args.save_page, page.to_json() + "\n")
    return result


def run_batch(batch: Batch, args: argparse.Namespace, out: TextIO, err: TextIO) -> int:
    """Order every input of ``args.inputs``; returns the exit status."""
    try:
        config = parse_config(args.config, args.max_input_size)
    except Failure as failure:
        print(f"{PROG}: error: {failure}", file=err)
        return failure.status
    algorithms = list(ALGORITHMS) if args.compare else [args.algorithm or "paper"]
    # A drawing on standard output takes the place of the printed results.
    quiet_stdout = args.svg == STDIO or getattr(args, "save_page", None) == STDIO

    if args.svg is not None and len(args.inputs) > 1:
        try:
            os.makedirs(args.svg, exist_ok=True)
        except OSError as error:
            print(f"{PROG}: error: cannot create the directory {args.svg}: {reason(error)}", file=err)
            return EXIT_FAILURE

    status = EXIT_OK
    used_names: set[str] = set()
    total = len(args.inputs)
    for index, path in enumerate(args.inputs, start=1):
        if total > 1 and not args.quiet:
            print(f"[{index}/{total}] {path}", file=err, flush=True)
        try:
            result = _process(path, batch, args, algorithms, config, used_names)
        except Failure as failure:
            print(f"{PROG}: error: {failure}", file=err, flush=True)
            status = max(status, failure.status)
            continue
        if quiet_stdout:
            continue
        try:
            if args.json:
                print(json.dumps(json_object(result, include_page=batch.include_page)), file=out, flush=True)
            else:
                prefix = f"{result.source}: " if total > 1 else ""
                print_plain(result, prefix=prefix, listing=args.list, out=out)
                out.flush()
        except BrokenPipeError:
            raise
        except OSError as error:
            raise OutputError(error) from None
    return status
