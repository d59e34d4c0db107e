"""One input in, ordered pages out: the work of the command line, for one file.

:func:`iter_input` reads a PDF file or a page file, orders each of its pages
and yields them one at a time (an :class:`OrderedPage`), with an
:class:`InputFailure` for anything that went wrong: a failure that ends the
input (a missing or broken file, a bad page selection) is the last item, and a
page that cannot be ordered is reported in its place while the other pages
go on. :func:`run_input` is the same as a list, and :func:`order_input` gives
the JSON Lines records (see :mod:`vellora.outputs.jsonl`); both are plain
module-level functions with picklable arguments and results, so process pools
(``vellora ... --jobs N``) and cluster schedulers can map them over paths.
"""

from __future__ import annotations

import os
import shutil
import sys
import tempfile
from collections.abc import Iterator, Mapping, Sequence
from dataclasses import dataclass, field, replace
from typing import TYPE_CHECKING, Any, Final, Literal

from . import ordering
from .diagnostics import DiagnosticRecord, capture_diagnostics
from .fileio import STDIO, InputError, read_text
from .ordering import ALGORITHMS, COLUMNS, DEFAULT_ALGORITHM, FURNITURE, Columns, ConfigError, Furniture, make_config
from .outputs.jsonl import page_record
from .inputs import ImportOptions, pages_from_text
from .page import Page, PageError

if TYPE_CHECKING:
    from .pdf import PdfSettings

__all__ = [
    "DEFAULT_ALGORITHM",
    "EXIT_BAD_INPUT",
    "EXIT_FAILURE",
    "InputFailure",
    "InputKind",
    "OrderedPage",
    "PipelineError",
    "PipelineOptions",
    "input_kind",
    "iter_input",
    "order_input",
    "run_input",
]


#: Exit status of a run with a malformed or unreadable input.
EXIT_BAD_INPUT: Final = 2
#: Exit status of a run that failed for another reason (a missing package, an internal error).
EXIT_FAILURE: Final = 1

InputKind = Literal["auto", "pdf", "page"]


@dataclass(frozen=True)
class PipelineOptions:
    """How an input is read and ordered.

    ``kind`` is ``"pdf"``, ``"page"`` (a JSON page file) or ``"auto"`` (a PDF
    when the name ends in ``.pdf`` or the file starts with ``%PDF-``).
    ``pages`` selects PDF pages (``"1-3,7"``, or numbers from 1; all when
    None). ``algorithms`` are run in turn, the first being the main one.
    ``furniture`` and ``columns`` are passed to :func:`vellora.ordering.order`.
    """

    kind: InputKind = "auto"
    algorithms: tuple[str, ...] = (DEFAULT_ALGORITHM,)
    config: Mapping[str, float] | None = None
    pages: str | tuple[int, ...] | None = None
    explain: bool = False
    max_input_size: int | None = None
    #: Page furniture (headers, footers): "keep" around the body order, or "drop".
    furniture: Furniture = "keep"
    #: The body's columns: "split" at gutters down its whole height and read in turn, or "whole".
    columns: Columns = "split"
    #: The PDF front end's heuristics (defaults when None).
    pdf_settings: PdfSettings | None = None
    #: How page files and detector output are read: minimum score, class mapping (defaults when None).
    inputs: ImportOptions | None = None


@dataclass(frozen=True)
class OrderedPage:
    """One page of an input and its order by each algorithm (ids, in reading order)."""

    source: str
    number: int
    page: Page
    orders: Mapping[str, list[int]]
    diagnostics: Mapping[str, list[DiagnosticRecord]] = field(default_factory=dict)

    @property
    def algorithm(self) -> str:
        return next(iter(self.orders))

    @property
    def order(self) -> list[int]:
        return self.orders[self.algorithm]

    def record(self) -> dict[str, Any]:
        """The JSON Lines object of this page."""
        return page_record(self.source, self.number, self.page, self.algorithm, self.order, self.orders)


@dataclass(frozen=True)
class InputFailure:
    """A problem with an input, or with one of its pages: a one-line message and an exit status."""

    source: str
    message: str
    status: int = EXIT_BAD_INPUT
    #: Whether the rest of the input was given up (otherwise only one page was).
    final: bool = True


class PipelineError(ValueError):
    """Raised by :func:`order_input` for the first failure of an input."""

    def __init__(self, failure: InputFailure) -> None:
        super().__init__(failure.message)
        self.failure = failure

    def __reduce__(self) -> tuple[type[PipelineError], tuple[InputFailure]]:
        # Raised in worker processes (a pool, a cluster): rebuilt from the failure, not the message.
        return (type(self), (self.failure,))


def input_kind(path: str, kind: InputKind = "auto") -> Literal["pdf", "page"]:
    """Whether ``path`` is read as a PDF or as a page file."""
    if kind != "auto":
        return kind
    if path == STDIO:
        return "page"
    if path.lower().endswith(".pdf"):
        return "pdf"
    try:
        with open(path, "rb") as stream:
            return "pdf" if stream.read(5) == b"%PDF-" else "page"
    except OSError:
        return "page"  # reported when the file is read


def _reason(error: OSError) -> str:
    return error.strerror or str(error)


def _order_page(source: str, number: int, page: Page, options: PipelineOptions, label: str) -> OrderedPage | InputFailure:
    orders: dict[str, list[int]] = {}
    diagnostics: dict[str, list[DiagnosticRecord]] = {}
    config = dict(options.config) if options.config is not None else None
    try:
        for algorithm in options.algorithms:
            if options.explain:
                with capture_diagnostics() as records:
                    orders[algorithm] = ordering.order(page, algorithm, config,  # type: ignore[arg-type]
                                                       furniture=options.furniture, columns=options.columns)
                diagnostics[algorithm] = list(records)
            else:
                orders[algorithm] = ordering.order(page, algorithm, config,  # type: ignore[arg-type]
                                                       furniture=options.furniture, columns=options.columns)
    except PageError as error:  # a page the paper algorithm cannot take
        return InputFailure(source, f"{label}: {error}", EXIT_BAD_INPUT, final=False)
    except RuntimeError as error:  # an order that does not list every element once
        return InputFailure(source, f"{label}: internal error: {error}", EXIT_FAILURE, final=False)
    return OrderedPage(source, number, page, orders, diagnostics)


def _page_file(path: str, options: PipelineOptions) -> Iterator[OrderedPage | InputFailure]:
    try:
        text = read_text(path, options.max_input_size)
        pages = pages_from_text(text, source=path, options=options.inputs)
    except OSError as error:
        yield InputFailure(path, f"{path}: cannot read: {_reason(error)}")
        return
    except InputError as error:
        yield InputFailure(path, str(error))
        return
    except PageError as error:
        yield InputFailure(path, str(error))
        return
    for number, page in enumerate(pages, start=1):
        yield _order_page(path, number, page, options, path if len(pages) == 1 else f"{path}, page {number}")


def _pdf_file(path: str, options: PipelineOptions, name: str | None = None) -> Iterator[OrderedPage | InputFailure]:
    """The pages of the PDF at ``path``, reported under ``name`` (default: ``path``)."""
    from .pdf import MissingDependencyError, PdfError, iter_pages, page_count, parse_page_selection

    shown = name or path

    def named(message: str) -> str:
        return message.replace(path, shown) if name is not None else message

    try:
        selection: Sequence[int] | None
        if isinstance(options.pages, str):
            try:
                selection = parse_page_selection(options.pages, page_count(path))
            except PdfError:
                raise
            except ValueError as error:
                yield InputFailure(shown, f"{shown}: {error}")
                return
        else:
            selection = options.pages
        for page in iter_pages(path, selection, settings=options.pdf_settings):
            number = int(page.meta.get("page", 0))
            if name is not None:
                page = replace(page, meta={**page.meta, "source": name})
            yield _order_page(shown, number, page, options, f"{shown}, page {number}")
    except OSError as error:
        yield InputFailure(shown, f"{shown}: cannot read: {_reason(error)}")
    except PdfError as error:
        yield InputFailure(shown, named(str(error)))
    except MissingDependencyError as error:
        yield InputFailure(shown, str(error), EXIT_FAILURE)


def _pdf_from_stdin(options: PipelineOptions) -> Iterator[OrderedPage | InputFailure]:
    # pdfminer seeks in the file: standard input is copied to a private file first.
    with tempfile.TemporaryDirectory(prefix="vellora-") as folder:
        copy = os.path.join(folder, "stdin.pdf")
        with open(copy, "wb") as stream:
            shutil.copyfileobj(sys.stdin.buffer, stream)
        yield from _pdf_file(copy, options, STDIO)


def iter_input(path: str | os.PathLike[str], options: PipelineOptions | None = None) -> Iterator[OrderedPage | InputFailure]:
    """Read, and order, each page of the input at ``path`` (``-``: standard input), lazily."""
    options = options or PipelineOptions()
    source = os.fspath(path)
    if options.furniture not in FURNITURE:
        raise ValueError(f"furniture must be one of {', '.join(FURNITURE)}; got {options.furniture!r}")
    if options.columns not in COLUMNS:
        raise ValueError(f"columns must be one of {', '.join(COLUMNS)}; got {options.columns!r}")
    unknown = [name for name in options.algorithms if name not in ALGORITHMS]
    if unknown or not options.algorithms:
        raise ValueError(f"unknown algorithm {unknown[0] if unknown else ''!r} (choose from {', '.join(ALGORITHMS)})")
    try:
        make_config(options.config)
    except ConfigError as error:
        yield InputFailure(source, f"config: {error}")
        return
    if input_kind(source, options.kind) == "pdf":
        yield from _pdf_from_stdin(options) if source == STDIO else _pdf_file(source, options)
    else:
        yield from _page_file(source, options)


def run_input(path: str | os.PathLike[str], options: PipelineOptions | None = None) -> list[OrderedPage | InputFailure]:
    """Everything :func:`iter_input` yields for ``path``, as a list (for process pools)."""
    return list(iter_input(path, options))


def order_input(path: str | os.PathLike[str], options: PipelineOptions | None = None) -> list[dict[str, Any]]:
    """The JSON Lines records of the ordered pages of ``path``.

    Raises :class:`PipelineError` (a ValueError naming the file, and the page
    where there is one) at the input's first failure.
    """
    records = []
    for item in iter_input(path, options):
        if isinstance(item, InputFailure):
            raise PipelineError(item)
        records.append(item.record())
    return records
