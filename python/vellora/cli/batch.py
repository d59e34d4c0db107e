"""Ordering a list of inputs: read and order each (:mod:`vellora.pipeline`), then draw,
save and print every page in the chosen format.

A bad input, or a bad page, is reported on standard error and skipped; the
others are still ordered, and the exit status is the worst seen. With
``--jobs N`` the inputs are ordered in worker processes; the output is the
same as a serial run's, in input order.
"""

from __future__ import annotations

import argparse
import itertools
import json
import os
from collections.abc import Iterable, Iterator, Sequence
from concurrent.futures import ProcessPoolExecutor
from concurrent.futures.process import BrokenProcessPool
from dataclasses import dataclass, field
from pathlib import Path
from typing import TYPE_CHECKING, Any, TextIO

from ..fileio import STDIO, InputError, read_text, write_atomic
from ..inputs import BUILTIN_CLASSES, ImportOptions, load_class_mapping
from ..ordering import ALGORITHMS, ConfigError, make_config
from ..outputs.jsonl import page_line
from ..outputs.markdown import MarkdownPage, document_markdown
from ..outputs.text import page_text
from ..page import PageError, decode_json
from ..pipeline import DEFAULT_ALGORITHM, InputFailure, InputKind, OrderedPage, PipelineOptions, iter_input, run_input
from ..svg import write_svg
from .common import EXIT_FAILURE, EXIT_OK, EXIT_USAGE, Failure, OutputError, error_line, reason, visible
from .progress import Progress
from .report import Result, json_object, print_plain, summary

if TYPE_CHECKING:
    from ..pdf import PdfSettings

__all__ = ["Batch", "parse_config", "run_batch"]


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


def import_options(args: argparse.Namespace) -> ImportOptions:
    """How page files are read: ``--min-score`` and the ``--classes`` mapping file."""
    classes = BUILTIN_CLASSES
    if args.classes is not None:
        try:
            classes = load_class_mapping(args.classes, args.max_input_size)
        except OSError as error:
            raise Failure(f"--classes {args.classes}: cannot read: {reason(error)}", EXIT_USAGE) from None
        except (InputError, PageError) as error:
            raise Failure(f"--classes {error}", EXIT_USAGE) from None
    return ImportOptions(min_score=args.min_score, classes=classes)


@dataclass(frozen=True)
class Batch:
    """What a subcommand contributes to a run."""

    #: How its inputs are read.
    kind: InputKind
    #: The PDF page selection ("1-3,7"), or None for every page.
    pages: str | None = None
    #: Whether ``--json`` objects carry the page itself, and the ids output a summary line (PDF pages).
    extracted: bool = False
    #: Whether, without a terminal, each input is announced on standard error ("[2/10] page.json").
    announce: bool = False
    #: The PDF front end's settings (defaults when None).
    pdf_settings: PdfSettings | None = None


def output_format(args: argparse.Namespace, default: str) -> str:
    """The ``--format`` in force, checked against the options that only go with ``ids``."""
    ids_only = [option for option, given in (("--list", args.list), ("--explain", args.explain),
                                             ("--json", args.json)) if given]
    if args.format is None:
        return "ids" if ids_only or args.compare else default
    if args.format != "ids" and ids_only:
        raise Failure(f"{ids_only[0]} goes with --format ids", EXIT_USAGE)
    if args.compare and args.format in ("text", "markdown"):
        raise Failure(f"--compare goes with --format ids or jsonl, not {args.format}", EXIT_USAGE)
    return str(args.format)


@dataclass
class _Run:
    """The state of one run: where its outputs go and what it has seen."""

    args: argparse.Namespace
    batch: Batch
    fmt: str
    out: TextIO
    err: TextIO
    progress: Progress
    svg_folder: bool = False
    status: int = EXIT_OK
    used_names: set[str] = field(default_factory=set)
    drawn: int = 0

    def fail(self, message: str, status: int) -> None:
        self.progress.message(error_line(message))
        self.status = max(self.status, status)

    def write(self, text: str) -> None:
        try:
            self.out.write(text)
            self.out.flush()
        except BrokenPipeError:
            raise
        except OSError as error:
            raise OutputError(error) from None

    def svg_target(self, item: OrderedPage) -> str:
        if not self.svg_folder:
            return str(self.args.svg)
        stem = Path(item.source).stem
        if self.batch.kind == "pdf" or item.number > 1:
            stem += f"-p{item.number}"
        name, counter = f"{stem}.svg", 2
        while name in self.used_names:
            name, counter = f"{stem}-{counter}.svg", counter + 1
        self.used_names.add(name)
        return str(Path(self.args.svg) / name)

    def draw(self, item: OrderedPage) -> str | None:
        if self.args.svg is None:
            return None
        if not self.svg_folder and self.drawn:
            raise Failure(f"--svg {self.args.svg} names one drawing, but {item.source} has several pages; "
                          "give a folder", EXIT_USAGE)
        target = self.svg_target(item)
        title = item.source + (f", page {item.number}" if self.batch.extracted else "")
        background = None
        if self.batch.kind == "pdf":  # drawn over the page's picture (blank without pdftoppm)
            from ..pdf.render import page_png

            background = page_png(item.page)
        try:
            write_svg(target, item.page, item.orders, title=title, background=background)
        except OSError as error:
            _stdout_error(target, error)
            raise Failure(f"cannot write {target}: {reason(error)}", EXIT_FAILURE) from None
        self.drawn += 1
        return None if target == STDIO else target


def _stdout_error(target: str, error: OSError) -> None:
    """Raise a failed write to standard output as the program's own output failure."""
    if target == STDIO:
        if isinstance(error, BrokenPipeError):
            raise error
        raise OutputError(error) from None


def _save(path: str, pages: list[dict[str, Any]]) -> None:
    data: object = pages[0] if len(pages) == 1 else pages
    try:
        write_atomic(path, json.dumps(data, indent=2) + "\n")
    except OSError as error:
        _stdout_error(path, error)
        raise Failure(f"cannot write {path}: {reason(error)}", EXIT_FAILURE) from None


def _results(inputs: Sequence[str], options: PipelineOptions, jobs: int) -> Iterator[tuple[str, Iterable[OrderedPage | InputFailure]]]:
    """Each input with what its pipeline yields: lazily in this process, or from a pool of workers."""
    if jobs <= 1 or len(inputs) <= 1 or STDIO in inputs:
        for path in inputs:
            yield path, iter_input(path, options)
        return
    with ProcessPoolExecutor(max_workers=min(jobs, len(inputs))) as pool:
        try:
            for path, items in zip(inputs, pool.map(run_input, inputs, itertools.repeat(options))):
                yield path, items
        except BrokenProcessPool as error:
            raise Failure(f"a worker process ended unexpectedly: {error}", EXIT_FAILURE) from None
        except BaseException:
            pool.shutdown(wait=False, cancel_futures=True)
            raise


def _svg_folder(args: argparse.Namespace, batch: Batch) -> bool:
    if args.svg is None or args.svg == STDIO:
        return False
    if len(args.inputs) > 1:
        return True
    if batch.kind != "pdf" or (batch.pages is not None and batch.pages.strip().isdigit()):
        return False
    from ..pdf import page_count  # a PDF of several pages gets a folder of drawings

    try:
        return page_count(args.inputs[0]) > 1
    except Exception:  # reported when the file is read
        return False


def _page_total(inputs: Sequence[str], batch: Batch) -> int | None:
    """How many pages the PDF inputs will give (for the progress bar), or None when unknown."""
    if batch.kind != "pdf":
        return None
    from ..pdf import page_count, parse_page_selection

    total = 0
    for path in inputs:
        try:
            count = page_count(path)
            total += len(parse_page_selection(batch.pages, count)) if batch.pages is not None else count
        except Exception:  # a bad input or selection: reported when it is read
            continue
    return total


def _emit(run: _Run, item: OrderedPage, markdown: list[MarkdownPage], saved: list[dict[str, Any]]) -> None:
    args = run.args
    svg = run.draw(item)
    if getattr(args, "save_page", None):
        saved.append(item.page.to_dict())
    if args.svg == STDIO or getattr(args, "save_page", None) == STDIO:
        return  # standard output holds the drawing or the page
    if run.fmt == "text":
        run.write(page_text(item.page.elements_in(item.order)))
    elif run.fmt == "markdown":
        markdown.append(MarkdownPage(item.source, item.number, item.page.elements_in(item.order)))
    elif run.fmt == "jsonl":
        run.write(page_line(item.record()))
    else:
        result = Result(item.source, item.page, dict(item.orders), dict(item.diagnostics), svg)
        if run.batch.extracted:
            result.summary = summary(item.source, item.page, item.number)
        if args.json:
            run.write(json.dumps(json_object(result, include_page=run.batch.extracted)) + "\n")
        else:
            prefix = f"{item.source}: " if len(args.inputs) > 1 else ""
            try:
                print_plain(result, prefix=prefix, listing=args.list, out=run.out)
                run.out.flush()
            except BrokenPipeError:
                raise
            except OSError as error:
                raise OutputError(error) from None


def run_batch(batch: Batch, args: argparse.Namespace, out: TextIO, err: TextIO) -> int:
    """Order every input of ``args.inputs``; returns the exit status."""
    default_format = "text" if batch.kind == "pdf" else "ids"
    try:
        fmt = output_format(args, default_format)
        config = parse_config(args.config, args.max_input_size)
        reading = import_options(args)
    except Failure as failure:
        print(error_line(str(failure)), file=err)
        return failure.status
    algorithms: tuple[str, ...] = tuple(ALGORITHMS) if args.compare else (args.algorithm or DEFAULT_ALGORITHM,)
    if fmt == "jsonl" and DEFAULT_ALGORITHM in algorithms:  # a record's elements follow the main algorithm
        algorithms = (DEFAULT_ALGORITHM, *(name for name in algorithms if name != DEFAULT_ALGORITHM))
    options = PipelineOptions(kind=batch.kind, algorithms=algorithms, config=config or None, pages=batch.pages,
                              explain=args.explain, max_input_size=args.max_input_size,
                              pdf_settings=batch.pdf_settings, furniture=args.furniture,
                              columns=args.columns, inputs=reading)
    jobs = args.jobs if args.jobs is not None else (os.cpu_count() or 1)

    inputs: list[str] = args.inputs
    show_bar = not args.quiet and err.isatty()
    with Progress(err, enabled=show_bar, total=_page_total(inputs, batch) if show_bar else None) as progress:
        run = _Run(args, batch, fmt, out, err, progress, svg_folder=_svg_folder(args, batch))
        if run.svg_folder:
            try:
                os.makedirs(args.svg, exist_ok=True)
            except OSError as error:
                print(error_line(f"cannot create the directory {args.svg}: {reason(error)}"), file=err)
                return EXIT_FAILURE
        announce = batch.announce and len(inputs) > 1 and not args.quiet and not show_bar
        try:
            results = _results(inputs, options, jobs)
            for index, (path, items) in enumerate(results, start=1):
                if announce:
                    print(f"[{index}/{len(inputs)}] {visible(path)}", file=err, flush=True)
                progress.start(path)
                markdown: list[MarkdownPage] = []
                saved: list[dict[str, Any]] = []
                for item in items:
                    if isinstance(item, InputFailure):
                        run.fail(item.message, item.status)
                        continue
                    progress.page()
                    try:
                        _emit(run, item, markdown, saved)
                    except Failure as failure:
                        run.fail(str(failure), failure.status)
                if markdown:
                    run.write(document_markdown(markdown))
                if saved:
                    try:
                        _save(args.save_page, saved)
                    except Failure as failure:
                        run.fail(str(failure), failure.status)
        except Failure as failure:
            run.fail(str(failure), failure.status)
    return run.status

