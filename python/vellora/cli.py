"""The ``vellora`` command line (also ``python -m vellora``).

    vellora order PAGE.json [PAGE.json ...] [options]
    vellora pdf FILE.pdf [FILE.pdf ...] [--page N] [--save-page OUT.json] [options]

Options shared by both commands:

    --algorithm paper|ostrel   which algorithm orders the page (default paper)
    --compare                  run both algorithms (and draw them side by side)
    --config KEY=VALUE|FILE    paper tuning value, or a JSON file of them; repeatable
    --json                     one JSON object per page on standard output
    --svg OUT.svg              draw the page; a directory when several inputs are given
    --list                     list the elements in reading order with label and text
    --explain                  print the native diagnostic records of each run
    --quiet                    no progress lines on standard error

Exit status: 0 when every input was ordered, 2 for a usage error or a
malformed or unreadable input (with a one-line message naming the file, the
field and the element), 1 when an output cannot be written, a needed package
is missing or an internal error occurs, 130 when interrupted.
"""

from __future__ import annotations

import argparse
import json
import os
import sys
from collections.abc import Callable, Sequence
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any, NoReturn, TextIO

from . import __version__
from .diagnostics import DiagnosticRecord, capture_diagnostics
from .ordering import ALGORITHMS, CONFIG_DEFAULTS, ConfigError, make_config, order
from .page import LABELS, Page, PageError, _read_json, load_page
from .evaluation import command as evaluation_command
from .svg import write_svg

__all__ = ["main"]

EXIT_OK = 0
EXIT_FAILURE = 1
EXIT_USAGE = 2

PROG = "vellora"


class _Failure(Exception):
    """An error that ends the processing of one input (or of the whole run)."""

    def __init__(self, message: str, status: int) -> None:
        super().__init__(message)
        self.status = status


class _OutputError(Exception):
    """Standard output cannot be written (other than a closed pipe)."""

    def __init__(self, error: OSError) -> None:
        super().__init__(error.strerror or str(error))


class _Parser(argparse.ArgumentParser):
    def error(self, message: str) -> NoReturn:
        self.print_usage(sys.stderr)
        self.exit(EXIT_USAGE, f"{self.prog}: error: {message}\n")


def _build_parser() -> argparse.ArgumentParser:
    parser = _Parser(
        prog=PROG,
        description="Reading order of the layout elements of document pages.",
        epilog="Exit status: 0 ok, 1 output or environment failure, 2 usage error or malformed input.",
    )
    parser.add_argument("--version", action="version", version=f"%(prog)s {__version__}")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", parser_class=_Parser)

    common = _Parser(add_help=False)
    common.add_argument("--algorithm", "-a", choices=ALGORITHMS, default=None,
                        help="ordering algorithm (default: paper)")
    common.add_argument("--compare", action="store_true",
                        help="run both algorithms; with --svg, draw them side by side")
    common.add_argument("--config", "-c", action="append", default=[], metavar="KEY=VALUE|FILE",
                        help="paper tuning value (%s), or a JSON file holding them; repeatable"
                        % ", ".join(CONFIG_DEFAULTS))
    common.add_argument("--json", action="store_true", help="print one JSON object per page")
    common.add_argument("--svg", metavar="OUT.svg",
                        help="draw the page and its order; with several inputs, a directory")
    common.add_argument("--list", action="store_true",
                        help="list the elements in reading order with their labels and text")
    common.add_argument("--explain", action="store_true",
                        help="print the diagnostic records of each run (logger velloray at DEBUG)")
    common.add_argument("--quiet", "-q", action="store_true", help="no progress lines on standard error")

    order_cmd = commands.add_parser("order", parents=[common], help="order pages given as JSON files",
                                    description="Print the reading order of JSON pages.")
    order_cmd.add_argument("pages", nargs="+", metavar="PAGE.json", help="page file (see the README for the format)")

    pdf_cmd = commands.add_parser("pdf", parents=[common], help="extract, label and order a PDF page",
                                  description="Extract the text blocks and figures of a PDF page, "
                                  "label them, and print their reading order.")
    pdf_cmd.add_argument("pages", nargs="+", metavar="FILE.pdf", help="PDF file")
    pdf_cmd.add_argument("--page", "-p", type=int, default=1, metavar="N", help="page number, from 1 (default 1)")
    pdf_cmd.add_argument("--save-page", metavar="OUT.json", help="also write the extracted page as JSON")
    evaluation_command.register(commands)
    return parser


def _parse_config(items: Sequence[str]) -> dict[str, float]:
    values: dict[str, float] = {}
    for item in items:
        if "=" in item:
            key, _, raw = item.partition("=")
            key = key.strip()
            try:
                values[key] = float(raw)
            except ValueError:
                raise _Failure(f"--config {item}: {raw.strip()!r} is not a number", EXIT_USAGE) from None
            continue
        try:
            data = _read_json(item)
        except OSError as error:
            raise _Failure(f"--config {item}: cannot read: {error.strerror or error}", EXIT_USAGE) from None
        except PageError as error:
            raise _Failure(f"--config {item}: {error.message}", EXIT_USAGE) from None
        if not isinstance(data, dict):
            raise _Failure(f"--config {item}: must hold a JSON object", EXIT_USAGE)
        values.update(data)
    try:
        make_config(values)
    except ConfigError as error:
        raise _Failure(f"--config: {error}", EXIT_USAGE) from None
    return values


@dataclass
class _Result:
    source: str
    page: Page
    orders: dict[str, list[int]] = field(default_factory=dict)
    diagnostics: dict[str, list[DiagnosticRecord]] = field(default_factory=dict)
    svg: str | None = None
    summary: str | None = None


def _summary(source: str, page: Page, page_number: int) -> str:
    counts = {label: 0 for label in LABELS}
    for element in page.elements:
        counts[element.label] += 1
    parts = ", ".join(f"{count} {label}" for label, count in counts.items() if count)
    return f"{source}, page {page_number}: {len(page.elements)} elements ({parts or 'none'})"


def _run_algorithms(result: _Result, algorithms: Sequence[str], config: dict[str, float], explain: bool) -> None:
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
    if len(args.pages) == 1:
        return str(args.svg)
    directory = Path(args.svg)
    name, counter = f"{stem}.svg", 2
    while name in used:
        name, counter = f"{stem}-{counter}.svg", counter + 1
    used.add(name)
    return str(directory / name)


def _print_plain(result: _Result, args: argparse.Namespace, out: TextIO) -> None:
    prefix = f"{result.source}: " if len(args.pages) > 1 else ""
    if result.summary is not None:
        print(f"{result.summary}", file=out)
    labelled = len(result.orders) > 1
    width = max(len(name) for name in result.orders)
    for name, ids in result.orders.items():
        head = f"{name + ':':<{width + 1}} " if labelled else ""
        print(f"{prefix}{head}{' '.join(str(i) for i in ids)}", file=out)
        if args.list:
            for position, element in enumerate(result.page.elements_in(ids), start=1):
                text = " ".join((element.text or "").split())
                if len(text) > 60:
                    text = text[:59] + "\u2026"
                print(f"  {position:>3}. id {element.id:<4} {element.label:<15} {text}".rstrip(), file=out)
        if name in result.diagnostics:
            print(f"  diagnostics ({name}): {len(result.diagnostics[name])} records", file=out)
            for record in result.diagnostics[name]:
                print(f"    {record}", file=out)
    if result.svg is not None:
        print(f"{prefix}svg written to {result.svg}", file=out)


def _json_object(result: _Result, include_page: bool) -> dict[str, Any]:
    data: dict[str, Any] = {"source": result.source, "orders": result.orders}
    if result.diagnostics:
        data["diagnostics"] = {
            name: [{"logger": r.logger, "level": r.level, "message": r.message} for r in records]
            for name, records in result.diagnostics.items()
        }
    if result.svg is not None:
        data["svg"] = result.svg
    if include_page:
        data["page"] = result.page.to_dict()
    return data


def _load_pdf(args: argparse.Namespace) -> Callable[[str], Page]:
    from .pdf import MissingDependencyError, PdfError, extract_page

    def load(path: str) -> Page:
        try:
            return extract_page(path, args.page)
        except PdfError as error:
            raise _Failure(str(error), EXIT_USAGE) from None
        except MissingDependencyError as error:
            raise _Failure(str(error), EXIT_FAILURE) from None

    return load


def _load_json(path: str) -> Page:
    return load_page(path)


def _main(argv: Sequence[str] | None, out: TextIO, err: TextIO) -> int:
    parser = _build_parser()
    args = parser.parse_args(argv)
    if args.command is None:
        parser.print_help(err)
        return EXIT_USAGE
    if args.command == "eval":
        return int(args.run(args, out, err))
    if args.compare and args.algorithm is not None:
        parser.error("--compare runs both algorithms; leave out --algorithm")
    if getattr(args, "save_page", None) and len(args.pages) > 1:
        parser.error("--save-page takes a single input file")

    try:
        config = _parse_config(args.config)
    except _Failure as failure:
        print(f"{PROG}: error: {failure}", file=err)
        return failure.status
    algorithms = list(ALGORITHMS) if args.compare else [args.algorithm or "paper"]
    load = _load_pdf(args) if args.command == "pdf" else _load_json

    if args.svg is not None and len(args.pages) > 1:
        try:
            os.makedirs(args.svg, exist_ok=True)
        except OSError as error:
            print(f"{PROG}: error: cannot create the directory {args.svg}: {error.strerror or error}", file=err)
            return EXIT_FAILURE

    status = EXIT_OK
    used_names: set[str] = set()
    total = len(args.pages)
    for index, path in enumerate(args.pages, start=1):
        if total > 1 and not args.quiet:
            print(f"[{index}/{total}] {path}", file=err, flush=True)
        try:
            try:
                page = load(path)
            except OSError as error:
                raise _Failure(f"{path}: cannot read: {error.strerror or error}", EXIT_USAGE) from None
            except PageError as error:
                raise _Failure(str(error), EXIT_USAGE) from None
            result = _Result(path, page)
            if args.command == "pdf":
                result.summary = _summary(path, page, args.page)
            try:
                _run_algorithms(result, algorithms, config, args.explain)
            except PageError as error:  # a page the paper algorithm cannot take
                raise _Failure(f"{path}: {error}", EXIT_USAGE) from None
            except RuntimeError as error:  # an order that does not list every element once
                raise _Failure(f"{path}: internal error: {error}", EXIT_FAILURE) from None

            stem = Path(path).stem + (f"-p{args.page}" if args.command == "pdf" else "")
            svg_path = _svg_path(args, stem, used_names)
            if svg_path is not None:
                title = f"{path}" + (f", page {args.page}" if args.command == "pdf" else "")
                try:
                    write_svg(svg_path, page, result.orders, title=title)
                except OSError as error:
                    raise _Failure(f"cannot write {svg_path}: {error.strerror or error}", EXIT_FAILURE) from None
                result.svg = svg_path
            if getattr(args, "save_page", None):
                try:
                    Path(args.save_page).write_text(page.to_json() + "\n", encoding="utf-8")
                except OSError as error:
                    raise _Failure(f"cannot write {args.save_page}: {error.strerror or error}", EXIT_FAILURE) from None
        except _Failure as failure:
            print(f"{PROG}: error: {failure}", file=err, flush=True)
            status = max(status, failure.status)
            continue

        try:
            if args.json:
                print(json.dumps(_json_object(result, include_page=args.command == "pdf")), file=out, flush=True)
            else:
                _print_plain(result, args, out)
                out.flush()
        except BrokenPipeError:
            raise
        except OSError as error:
            raise _OutputError(error) from None
    return status


def _silence_stdout() -> None:
    # Point the standard output descriptor at the null device, so that the
    # interpreter's final flush of what is still buffered does not fail again.
    try:
        target = sys.stdout.fileno()
    except (OSError, ValueError):  # not backed by a descriptor (for example captured in a test)
        return
    devnull = os.open(os.devnull, os.O_WRONLY)
    os.dup2(devnull, target)
    os.close(devnull)


def main(argv: Sequence[str] | None = None) -> int:
    """Run the command line with ``argv`` (default: ``sys.argv[1:]``); returns the exit status."""
    err = sys.stderr if sys.stderr is not None else open(os.devnull, "w", encoding="utf-8")
    if sys.stdout is None:  # started with standard output closed
        print(f"{PROG}: error: cannot write to standard output: it is closed", file=err)
        return EXIT_FAILURE
    # Text from pages and PDF files, and file names, may hold lone surrogates;
    # print them escaped, as standard error does, rather than fail.
    reconfigure = getattr(sys.stdout, "reconfigure", None)
    if reconfigure is not None:
        reconfigure(errors="backslashreplace")
    try:
        return _main(argv, sys.stdout, err)
    except KeyboardInterrupt:
        print(f"{PROG}: interrupted", file=err)
        return 130
    except BrokenPipeError:
        # The reader went away (for example `vellora order ... | head`).
        _silence_stdout()
        return EXIT_FAILURE
    except _OutputError as error:
        print(f"{PROG}: error: cannot write to standard output: {error}", file=err)
        _silence_stdout()
        return EXIT_FAILURE
