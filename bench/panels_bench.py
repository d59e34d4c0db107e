"""Pages holding many boxes or cells: the time to extract one page as the boxes grow in number.

Run with `make bench` (or `python bench/panels_bench.py [--counts 100,900,3600]`).
Eight kinds of page are generated with reportlab for each count:

* ``framed``: a grid of small stroked rectangles, each framing a word in small
  print, with a line of larger text across the grid under each row of boxes
  of its upper half (the small print of the lower half, with no larger text
  below it, is tested as footnotes against the panels around it);
* ``empty``: a page of text above as many wide empty frames, drawn one over
  the other in the lower part (a hostile file: each frame is tested for text
  inside it);
* ``cells``: a table of as many cells of three short lines, unruled (each
  cell is tested against those level with it for shared baselines);
* ``words``: as many words scattered in small print, each a block of its own
  (tiny fragments, each tested for a block that holds it);
* ``ruled``: a table of as many cells, each a word between drawn rules (the
  rules are tested against the text and each other);
* ``stacked``: one column of as many short paragraphs on a long page (no two
  blocks side by side: each is tested for a column beside it);
* ``numbers``: a table of as many numbers, unruled (each is tested as the
  page number of an entry ending its line);
* ``dots``: a chart of as many small circles set apart, under a caption
  (each stroke is tested for a drawing it is part of).

Each row prints the count, the kind, the elements extracted and the seconds
taken; a page of thousands of boxes must take seconds, not minutes.
"""

from __future__ import annotations

import argparse
import contextlib
import cProfile
import math
import pathlib
import pstats
import sys
import tempfile
import time
from collections.abc import Callable, Iterator
from typing import Any

PAGE = 612.0


@contextlib.contextmanager
def _page(path: str, size: tuple[float, float], font_size: float) -> Iterator[Any]:
    """The canvas of a one-page PDF at ``path`` in Helvetica of ``font_size``, written when the block ends."""
    from reportlab.pdfgen import canvas

    pdf = canvas.Canvas(path, pagesize=size, invariant=1)
    pdf.setFont("Helvetica", font_size)
    yield pdf
    pdf.showPage()
    pdf.save()


def framed_pdf(path: str, count: int) -> None:
    """``count`` framed words in a square grid, and a line of text under each row of its upper half."""
    side = math.ceil(math.sqrt(count))
    size, gap = 44.0, 4.0
    extent = side * (size + gap) + 2 * gap + 40
    with _page(path, (extent, extent), 3) as pdf:
        for index in range(count):
            row, column = divmod(index, side)
            x, y = gap + column * (size + gap), extent - 40 - (row + 1) * (size + gap)
            pdf.rect(x, y, size, size)
            pdf.drawString(x + 3, y + size / 2, f"box {index}")
        pdf.setFont("Helvetica", 4)
        for row in range(side // 2):
            y = extent - 40 - (row + 1) * (size + gap) - gap / 2 - 1
            pdf.drawString(gap, y, " ".join(f"word{row}.{n}" for n in range(5 * side)))


def empty_pdf(path: str, count: int) -> None:
    """Sixty lines of text above ``count`` wide empty frames drawn over each other."""
    with _page(path, (PAGE, 792), 5) as pdf:
        for line in range(60):
            pdf.drawString(40, 760 - 6 * line, " ".join(f"word{line}.{n}" for n in range(60)))
        for index in range(count):
            offset = 0.1 * (index % 1000)
            pdf.rect(40 + offset, 40 + 0.1 * (index // 1000), 500, 300)


def cells_pdf(path: str, count: int) -> None:
    """``count`` cells of three short lines each in a square grid, with no rules."""
    side = math.ceil(math.sqrt(count))
    extent = side * 60.0 + 40
    with _page(path, (extent, extent), 5) as pdf:
        for index in range(count):
            row, column = divmod(index, side)
            for line in range(3):
                pdf.drawString(20 + 60 * column, extent - 20 - 30 * row - 6 * line, f"c{row}.{column} v{line}")


def words_pdf(path: str, count: int) -> None:
    """``count`` single words in small print, set far enough apart that each is a block of its own."""
    side = math.ceil(math.sqrt(count))
    extent = side * 24.0 + 40
    with _page(path, (extent, extent), 3) as pdf:
        for index in range(count):
            row, column = divmod(index, side)
            # Every other row shifted by half a step: the words are not all in one grid of columns.
            shift = 12.0 * (row % 2)
            pdf.drawString(20 + 24 * column + shift, extent - 20 - 24 * row, f"w{index}")


def ruled_pdf(path: str, count: int) -> None:
    """A table of ``count`` cells, each holding a word, every row and column ruled."""
    side = math.ceil(math.sqrt(count))
    rows = math.ceil(count / side)
    cell_w, cell_h = 30.0, 10.0
    width, height = side * cell_w + 40, rows * cell_h + 40
    with _page(path, (width, height), 4) as pdf:
        pdf.setLineWidth(0.3)
        for row in range(rows + 1):
            pdf.line(20, height - 20 - row * cell_h, 20 + side * cell_w, height - 20 - row * cell_h)
        for column in range(side + 1):
            pdf.line(20 + column * cell_w, height - 20, 20 + column * cell_w, height - 20 - rows * cell_h)
        for index in range(count):
            row, column = divmod(index, side)
            pdf.drawString(22 + column * cell_w, height - 20 - (row + 1) * cell_h + 3, f"r{row}c{column}")


def stacked_pdf(path: str, count: int) -> None:
    """``count`` paragraphs of a line in one column, far enough apart to be blocks of their own."""
    height = count * 12.0 + 40
    with _page(path, (PAGE, height), 4) as pdf:
        for index in range(count):
            pdf.drawString(40, height - 20 - 12 * index, f"paragraph {index} of a long list set in one column")


def numbers_pdf(path: str, count: int) -> None:
    """``count`` numbers in a square grid, one a cell, with no rules."""
    side = math.ceil(math.sqrt(count))
    extent = side * 30.0 + 40
    with _page(path, (extent, extent), 5) as pdf:
        for index in range(count):
            row, column = divmod(index, side)
            pdf.drawRightString(40 + 30 * column, extent - 20 - 10 * row, str(index % 1000))


def dots_pdf(path: str, count: int) -> None:
    """``count`` small circles in a square grid, each too far from the others to join them, and a caption."""
    side = math.ceil(math.sqrt(count))
    extent = side * 12.0 + 80
    with _page(path, (extent, extent), 8) as pdf:
        pdf.drawString(40, 30, "Figure 1: a chart of many markers.")
        for index in range(count):
            row, column = divmod(index, side)
            pdf.circle(40 + 12 * column, extent - 40 - 12 * row, 1.5)


KINDS: dict[str, Callable[[str, int], None]] = {
    "framed": framed_pdf, "empty": empty_pdf, "cells": cells_pdf, "words": words_pdf, "ruled": ruled_pdf,
    "stacked": stacked_pdf, "numbers": numbers_pdf, "dots": dots_pdf,
}


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--counts", default="1000,3600,10000", help="box counts, comma-separated")
    parser.add_argument("--kinds", default=",".join(KINDS), help="kinds of page, comma-separated")
    parser.add_argument("--profile", type=int, default=0, metavar="N",
                        help="print the N functions taking the most time (cProfile, cumulative) for each page")
    args = parser.parse_args(argv)
    sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "python"))
    from vellora.pdf import extract_page

    print(f"{'boxes':>8} {'kind':>7} {'elements':>9} {'seconds':>8}")
    with tempfile.TemporaryDirectory() as folder:
        for count in (int(item) for item in args.counts.split(",")):
            for kind in args.kinds.split(","):
                path = str(pathlib.Path(folder) / f"{kind}-{count}.pdf")
                KINDS[kind](path, count)
                profile = cProfile.Profile() if args.profile else None
                start = time.perf_counter()
                if profile is not None:
                    profile.enable()
                page = extract_page(path, 1)
                if profile is not None:
                    profile.disable()
                elapsed = time.perf_counter() - start
                print(f"{count:>8} {kind:>7} {len(page.elements):>9} {elapsed:>8.2f}", flush=True)
                if profile is not None:
                    pstats.Stats(profile).sort_stats("cumulative").print_stats(args.profile)
    return 0


if __name__ == "__main__":
    sys.exit(main())
