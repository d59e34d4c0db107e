"""``vellora eval``: score the algorithms (and other tools' orders) against true reading orders.

    vellora eval PAGE.json|FOLDER [...] [--algorithm NAME] [--refresh] [--json] [--svg DIR] [--worst N]

Each input is an evaluation page (a page file with ``truth``; see
:mod:`vellora.evaluation.corpus`) or a folder of them. Prints the mean scores
per layout class and order as a table, or everything as one JSON document
with ``--json``. A malformed page is reported on standard error and skipped.
"""

from __future__ import annotations

import argparse
import json
import logging
from collections.abc import Sequence
from typing import Any, TextIO

from ..diagnostics import capture_diagnostics
from ..evaluation.baselines import BaselineError, MissingToolError
from ..evaluation.corpus import EvalPage, find_pages, load_eval_page, refresh
from ..evaluation.metrics import MissingEvalDependencyError
from ..evaluation.report import draw_worst, format_pages, format_table, to_json, worst_pages
from ..evaluation.scoring import PageScore, score_page, summarise
from ..fileio import InputError
from ..ordering import ALGORITHMS, DEFAULT_ALGORITHM
from ..page import PageError
from ..pdf.errors import MissingDependencyError
from .common import EXIT_FAILURE, EXIT_OK, EXIT_USAGE, OutputError, error_line, reason
from .progress import Progress

__all__ = ["register", "run"]


def register(commands: Any, common: argparse.ArgumentParser) -> None:
    """Add the ``eval`` subcommand (it has options of its own, not the ordering commands' ones)."""
    parser = commands.add_parser(
        "eval", help="score the algorithms against pages with a true reading order",
        description="Order evaluation pages (page files carrying 'truth') with each algorithm and score "
        "the orders, and the pages' stored 'orders' of other tools, against the truth: Kendall tau, "
        "BLEU-4, average relative distance, normalised edit distance and exact match, per layout class.")
    parser.add_argument("inputs", nargs="+", metavar="PAGE.json|FOLDER",
                        help="evaluation page, or a folder of them (its *.json files)")
    parser.add_argument("--algorithm", "-a", action="append", choices=ALGORITHMS, default=None,
                        help="algorithm to score (repeatable; default: all)")
    parser.add_argument("--refresh", action="store_true",
                        help="extract pages again from the NAME.pdf beside them, deriving the truth from "
                        "NAME.regions.json and the pdftotext and pdfminer orders for the new elements")
    parser.add_argument("--json", action="store_true", help="print per-page scores and the summary as JSON")
    parser.add_argument("--per-page", action="store_true",
                        help="also print each page's Kendall tau for every order, before the table")
    parser.add_argument("--svg", metavar="DIR",
                        help="draw the pages the default algorithm reads worst (truth and every order) into DIR")
    parser.add_argument("--worst", type=int, default=5, metavar="N",
                        help="how many of the worst pages --svg draws (default 5)")
    parser.add_argument("--quiet", "-q", action="store_true", help="no progress bar on standard error")
    parser.set_defaults(run=run, compare=False)


def _score_all(paths: Sequence[str], args: argparse.Namespace, algorithms: Sequence[str], err: TextIO
               ) -> tuple[dict[str, EvalPage], list[PageScore], int]:
    status = EXIT_OK
    pages: dict[str, EvalPage] = {}
    results: list[PageScore] = []
    show_bar = not args.quiet and err.isatty()
    with Progress(err, enabled=show_bar) as progress:
        for path in paths:
            progress.start(path)
            try:
                page = load_eval_page(path)
                if args.refresh:
                    page = refresh(page)
                results.append(score_page(page, algorithms))
                pages[page.source] = page
            except MissingToolError:
                raise  # the same for every page: reported once
            except OSError as error:
                progress.message(error_line(f"{path}: cannot read: {reason(error)}"))
                status = EXIT_USAGE
            except (PageError, InputError, BaselineError, ValueError) as error:
                message = str(error)
                progress.message(error_line(message if message.startswith(path) else f"{path}: {message}"))
                status = EXIT_USAGE
            progress.page()
    return pages, results, status


def run(args: argparse.Namespace, out: TextIO, err: TextIO) -> int:
    """Score the pages named by ``args``; returns the exit status."""
    algorithms = args.algorithm or list(ALGORITHMS)
    if args.worst < 1:
        args.parser.error("--worst must be 1 or more")
    try:
        # The algorithms' warnings (fallbacks on odd pages) are part of what is measured, not news.
        with capture_diagnostics(logging.WARNING):
            pages, results, status = _score_all(list(find_pages(args.inputs)), args, algorithms, err)
    except (MissingEvalDependencyError, MissingToolError, MissingDependencyError) as error:
        print(error_line(str(error)), file=err)
        return EXIT_FAILURE
    if not results:
        print(error_line("no evaluation pages to score"), file=err)
        return EXIT_USAGE
    summary = summarise(results)
    drawn: list[str] = []
    focus = DEFAULT_ALGORITHM if DEFAULT_ALGORITHM in algorithms else algorithms[0]
    if args.svg:
        try:
            drawn = draw_worst(args.svg, pages, worst_pages(results, focus, args.worst))
        except OSError as error:
            print(error_line(f"cannot write drawings to {args.svg}: {reason(error)}"), file=err)
            return EXIT_FAILURE
    try:
        if args.json:
            document = to_json(results, summary)
            if args.svg:
                document["svg"] = drawn
            print(json.dumps(document), file=out)
        else:
            if args.per_page:
                out.write(format_pages(results) + "\n")
            print(f"{len(results)} pages scored\n", file=out)
            out.write(format_table(summary))
            if args.svg:
                print(f"\nthe {len(drawn)} pages read worst by {focus} drawn in {args.svg}", file=out)
        out.flush()
    except BrokenPipeError:
        raise
    except OSError as error:
        raise OutputError(error) from None
    return status
