"""``vellora eval``: score the algorithms (and other tools' orders) against true reading orders.

    vellora eval PAGE.json|FOLDER [...] [--algorithm NAME] [--refresh] [--json] [--svg DIR] [--worst N]

Each input is an evaluation page (a page file with ``truth``; see
:mod:`vellora.evaluation.corpus`) or a folder of them. Prints the mean scores
per layout class and order as a table, or everything as one JSON document
with ``--json``. A malformed page is reported on standard error and skipped.
"""

from __future__ import annotations

import argparse
import importlib
import json
from collections.abc import Sequence
from typing import Any, TextIO

from ..ordering import ALGORITHMS
from ..page import PageError
from .corpus import EvalPage, find_pages, load_eval_page, refresh
from .metrics import MissingEvalDependencyError
from .report import draw_worst, format_table, to_json, worst_pages
from .scoring import PageScore, score_page, summarise

__all__ = ["register", "run"]

EXIT_OK, EXIT_FAILURE, EXIT_USAGE = 0, 1, 2


def register(commands: Any, common: argparse.ArgumentParser | None = None) -> None:
    """Add the ``eval`` subcommand to ``commands`` (a subparsers action)."""
    parser = commands.add_parser(
        "eval", help="score the algorithms against pages with a true reading order",
        description="Order evaluation pages (page files carrying 'truth') with each algorithm and score "
        "the orders, and the pages' stored 'orders' of other tools, against the truth: Kendall tau, "
        "BLEU-4, average relative distance, normalised edit distance and exact match, per page class.")
    parser.add_argument("inputs", nargs="+", metavar="PAGE.json|FOLDER",
                        help="evaluation page, or a folder of them (its *.json files)")
    parser.add_argument("--algorithm", "-a", action="append", choices=ALGORITHMS, default=None,
                        help="algorithm to score (repeatable; default: all)")
    parser.add_argument("--refresh", action="store_true",
                        help="extract pages again from the NAME.pdf beside them, deriving the truth from "
                        "NAME.regions.json and the pdftotext and pdfminer orders for the new elements")
    parser.add_argument("--json", action="store_true", help="print per-page scores and the summary as JSON")
    parser.add_argument("--svg", metavar="DIR", help="draw the worst pages (truth and every order) into DIR")
    parser.add_argument("--worst", type=int, default=5, metavar="N",
                        help="how many of the worst pages --svg draws (default 5)")
    parser.add_argument("--quiet", "-q", action="store_true", help="no progress on standard error")
    parser.set_defaults(run=run)


def _progress(items: Sequence[str], quiet: bool, err: TextIO) -> Any:
    if quiet:
        return items
    try:
        tqdm = importlib.import_module("tqdm").tqdm
    except ImportError:
        return items
    return tqdm(items, file=err, unit="page", leave=False)


def run(args: argparse.Namespace, out: TextIO, err: TextIO) -> int:
    """Score the pages named by ``args``; returns the exit status."""
    algorithms = args.algorithm or list(ALGORITHMS)
    status = EXIT_OK
    paths = list(find_pages(args.inputs))
    pages: dict[str, EvalPage] = {}
    results: list[PageScore] = []
    try:
        for path in _progress(paths, args.quiet, err):
            try:
                page = load_eval_page(path)
                if args.refresh:
                    page = refresh(page)
                results.append(score_page(page, algorithms))
                pages[page.source] = page
            except OSError as error:
                print(f"vellora: error: {path}: cannot read: {error.strerror or error}", file=err)
                status = EXIT_USAGE
            except (PageError, ValueError) as error:
                print(f"vellora: error: {error if str(error).startswith(path) else f'{path}: {error}'}", file=err)
                status = EXIT_USAGE
    except MissingEvalDependencyError as error:
        print(f"vellora: error: {error}", file=err)
        return EXIT_FAILURE
    if not results:
        print("vellora: error: no evaluation pages to score", file=err)
        return EXIT_USAGE
    summary = summarise(results)
    if args.json:
        print(json.dumps(to_json(results, summary)), file=out)
    else:
        print(f"{len(results)} pages scored\n", file=out)
        out.write(format_table(summary))
    if args.svg:
        worst = worst_pages(results, algorithms[0], args.worst)
        try:
            written = draw_worst(args.svg, pages, worst)
        except OSError as error:
            print(f"vellora: error: cannot write drawings to {args.svg}: {error.strerror or error}", file=err)
            return EXIT_FAILURE
        if not args.json:
            print(f"\nworst {len(written)} pages for {algorithms[0]} drawn in {args.svg}", file=out)
    return status
