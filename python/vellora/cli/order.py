"""``vellora order``: the reading order of pages given as JSON files (``-``: standard input)."""

from __future__ import annotations

import argparse
from typing import Any, TextIO

from .batch import Batch, run_batch

__all__ = ["register", "run"]


def register(commands: Any, common: argparse.ArgumentParser) -> None:
    parser = commands.add_parser("order", parents=[common], help="order pages given as JSON files",
                                 description="Print the reading order of JSON pages "
                                 "(default format: ids).")
    parser.add_argument("inputs", nargs="+", metavar="PAGE.json",
                        help="page file: a page, a list of pages, JSON Lines of pages or COCO detections "
                        "(see the README); '-' reads standard input")
    parser.set_defaults(run=run)


def run(args: argparse.Namespace, out: TextIO, err: TextIO) -> int:
    return run_batch(Batch("page", announce=True), args, out, err)
