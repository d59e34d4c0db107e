"""``vellora order``: the reading order of pages given as JSON files (``-``: standard input)."""

from __future__ import annotations

import argparse
from typing import Any, TextIO

from ..fileio import read_text
from ..page import Page, PageError, parse_page
from .batch import Batch, decode_json, run_batch

__all__ = ["register", "run"]


def register(commands: Any, common: argparse.ArgumentParser) -> None:
    parser = commands.add_parser("order", parents=[common], help="order pages given as JSON files",
                                 description="Print the reading order of JSON pages.")
    parser.add_argument("inputs", nargs="+", metavar="PAGE.json",
                        help="page file (see the README for the format); '-' reads standard input")
    parser.set_defaults(run=run)


def _loader(limit: int | None) -> Batch:
    def load(path: str) -> Page:
        text = read_text(path, limit)
        try:
            data = decode_json(text)
        except PageError as error:
            error.source = path
            raise
        return parse_page(data, source=path)

    return Batch(load)


def run(args: argparse.Namespace, out: TextIO, err: TextIO) -> int:
    return run_batch(_loader(args.max_input_size), args, out, err)
