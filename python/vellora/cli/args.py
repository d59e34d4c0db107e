"""The argument parser of the command line.

Options every subcommand takes are added by :func:`add_common_options`. Each
subcommand module in :data:`COMMANDS` provides ``register(commands, common)``,
which adds its own parser (with ``common`` as a parent) and sets its ``run``
function as the default of ``args.run``; adding a subcommand is adding its
module to :data:`COMMANDS`.
"""

from __future__ import annotations

import argparse
import math
from collections.abc import Callable, Sequence
from types import ModuleType
from typing import TextIO

from .. import __version__
from ..fileio import DEFAULT_INPUT_LIMIT, LIMIT_VARIABLE, format_size, parse_size
from ..ordering import ALGORITHMS, COLUMNS, CONFIG_DEFAULTS, FURNITURE
from ..outputs import FORMATS
from ..pipeline import DEFAULT_ALGORITHM
from . import eval as evaluate
from . import order, pdf
from .common import PROG, Parser

__all__ = ["COMMANDS", "Runner", "add_common_options", "build_parser", "parse_args"]

#: What a subcommand's ``run`` is: parsed arguments, standard output and error in, exit status out.
Runner = Callable[[argparse.Namespace, TextIO, TextIO], int]

#: The subcommand modules, in the order ``--help`` lists them.
COMMANDS: tuple[ModuleType, ...] = (order, pdf, evaluate)


def _size(text: str) -> int:
    try:
        return parse_size(text)
    except ValueError as error:
        raise argparse.ArgumentTypeError(str(error)) from None


def _jobs(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        value = 0
    if value < 1:
        raise argparse.ArgumentTypeError(f"must be a whole number from 1; got {text!r}")
    return value


def _score(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        value = math.nan
    if not math.isfinite(value):
        raise argparse.ArgumentTypeError(f"must be a number; got {text!r}")
    return value


def add_common_options(common: argparse.ArgumentParser) -> None:
    """The options of every subcommand."""
    common.add_argument("--algorithm", "-a", choices=ALGORITHMS, default=None,
                        help=f"ordering algorithm (default: {DEFAULT_ALGORITHM})")
    common.add_argument("--format", "-f", choices=FORMATS, default=None,
                        help="what to print: ids in reading order (default of 'order'), the text "
                        "(default of 'pdf'), Markdown, or one JSON object per page (jsonl)")
    common.add_argument("--jobs", "-j", type=_jobs, default=None, metavar="N",
                        help="order files in N worker processes (default: the number of CPUs; 1: no workers)")
    common.add_argument("--compare", action="store_true",
                        help="run both algorithms; with --svg, draw them side by side")
    common.add_argument("--config", "-c", action="append", default=[], metavar="KEY=VALUE|FILE",
                        help="paper tuning value (%s), or a JSON file holding them; repeatable"
                        % ", ".join(CONFIG_DEFAULTS))
    common.add_argument("--json", action="store_true", help="print one JSON object per page")
    common.add_argument("--svg", metavar="OUT.svg",
                        help="draw the page and its order ('-': standard output); "
                        "with several inputs, a directory")
    common.add_argument("--list", action="store_true",
                        help="list the elements in reading order with their labels and text")
    common.add_argument("--explain", action="store_true",
                        help="print the diagnostic records of each run (logger velloray at DEBUG)")
    common.add_argument("--quiet", "-q", action="store_true",
                        help="no progress on standard error (a bar of pages when it is a terminal)")
    common.add_argument("--furniture", choices=FURNITURE, default="keep",
                        help="page headers and footers: keep them before and after the body order "
                        "(default), or drop them")
    common.add_argument("--columns", choices=COLUMNS, default="split",
                        help="split the body into its columns where a gutter runs down its whole height and "
                        "read them in turn (default), or hand the whole body to the algorithm")
    common.add_argument("--min-score", type=_score, default=None, metavar="SCORE",
                        help="drop detected elements scored below SCORE (unscored elements are kept)")
    common.add_argument("--classes", metavar="MAPPING.json",
                        help="detector class names to labels, categories and roles, over the built-in "
                        "DocLayNet, PubLayNet and DocStructBench classes")
    common.add_argument("--max-input-size", type=_size, default=None, metavar="SIZE",
                        help="refuse page and config files larger than this (bytes, or with K, M, G; "
                        f"default {format_size(DEFAULT_INPUT_LIMIT)}, or {LIMIT_VARIABLE})")


def build_parser() -> argparse.ArgumentParser:
    parser = Parser(
        prog=PROG,
        description="Reading order of the layout elements of document pages.",
        epilog="Exit status: 0 ok, 1 output or environment failure, 2 usage error or malformed input.",
    )
    parser.add_argument("--version", action="version", version=f"%(prog)s {__version__}")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", parser_class=Parser)
    common = Parser(add_help=False)
    add_common_options(common)
    for module in COMMANDS:
        module.register(commands, common)
    return parser


def parse_args(argv: Sequence[str] | None) -> tuple[argparse.ArgumentParser, argparse.Namespace]:
    parser = build_parser()
    return parser, parser.parse_args(argv)
