"""``vellora pdf``: extract, label and order PDF pages."""

from __future__ import annotations

import argparse
from typing import Any, TextIO

from ..page import Page
from .batch import Batch, run_batch
from .common import EXIT_FAILURE, EXIT_USAGE, Failure

__all__ = ["register", "run"]


def register(commands: Any, common: argparse.ArgumentParser) -> None:
    parser = commands.add_parser("pdf", parents=[common], help="extract, label and order a PDF page",
                                 description="Extract the text blocks and figures of a PDF page, "
                                 "label them, and print their reading order.")
    parser.add_argument("inputs", nargs="+", metavar="FILE.pdf", help="PDF file")
    parser.add_argument("--page", "-p", type=int, default=1, metavar="N", help="page number, from 1 (default 1)")
    parser.add_argument("--save-page", metavar="OUT.json",
                        help="also write the extracted page as JSON ('-': standard output)")
    parser.add_argument("--pdf-setting", action="append", default=[], metavar="KEY=VALUE",
                        help="change a number the PDF front end's heuristics use, e.g. heading_size_ratio=1.3 "
                        "(repeatable; the settings are listed in the README)")
    parser.set_defaults(run=run)


def run(args: argparse.Namespace, out: TextIO, err: TextIO) -> int:
    if args.save_page and len(args.inputs) > 1:
        args.parser.error("--save-page takes a single input file")
    from ..pdf import MissingDependencyError, PdfError, extract_page, parse_settings

    try:
        settings = parse_settings(args.pdf_setting)
    except ValueError as error:
        args.parser.error(f"--pdf-setting: {error}")

    def load(path: str) -> Page:
        try:
            return extract_page(path, args.page, settings=settings)
        except PdfError as error:
            raise Failure(str(error), EXIT_USAGE) from None
        except MissingDependencyError as error:
            raise Failure(str(error), EXIT_FAILURE) from None

    from ..pdf.render import page_png

    return run_batch(Batch(load, page_number=args.page, include_page=True, background=page_png), args, out, err)
