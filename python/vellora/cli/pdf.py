"""``vellora pdf``: extract, label and order the pages of PDF files."""

from __future__ import annotations

import argparse
from typing import Any, TextIO

from .batch import Batch, run_batch

__all__ = ["register", "run"]


def register(commands: Any, common: argparse.ArgumentParser) -> None:
    parser = commands.add_parser("pdf", parents=[common], help="extract, label and order the pages of PDF files",
                                 description="Extract the text blocks and figures of every page of PDF files, "
                                 "label them, and print them in reading order (default format: text).")
    parser.add_argument("inputs", nargs="+", metavar="FILE.pdf", help="PDF file")
    pages = parser.add_mutually_exclusive_group()
    pages.add_argument("--pages", metavar="LIST", help="pages to read, from 1: 1-3,7 (default: every page)")
    pages.add_argument("--page", "-p", metavar="N", help="one page to read, from 1 (same as --pages N)")
    parser.add_argument("--save-page", metavar="OUT.json",
                        help="also write the extracted page as JSON, or a JSON list of the pages "
                        "('-': standard output)")
    parser.add_argument("--pdf-setting", action="append", default=[], metavar="KEY=VALUE",
                        help="a setting of the PDF front end's heuristics (see vellora.pdf.PdfSettings), "
                        "e.g. heading_size_ratio=1.3; repeatable")
    parser.set_defaults(run=run)


def run(args: argparse.Namespace, out: TextIO, err: TextIO) -> int:
    if args.save_page and len(args.inputs) > 1:
        args.parser.error("--save-page takes a single input file")
    pages = args.pages if args.pages is not None else args.page
    settings = None
    if args.pdf_setting:
        from ..pdf.settings import parse_settings

        try:
            settings = parse_settings(args.pdf_setting)
        except ValueError as error:
            args.parser.error(f"--pdf-setting: {error}")
    return run_batch(Batch("pdf", pages=pages, extracted=True, pdf_settings=settings), args, out, err)
