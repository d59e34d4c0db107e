"""Pages holding many boxes or cells: the time to extract one page as the boxes grow in number.

Run with `make bench` (or `python bench/panels_bench.py [--counts 100,900,3600]`).
Two kinds of page are generated with reportlab for each count:

* ``framed``: a grid of small stroked rectangles, each framing a word in small
  print, with a line of larger text across the grid under each row of boxes
  of its upper half (the small print of the lower half, with no larger text
  below it, is tested as footnotes against the panels around it);
* ``empty``: a page of text above as many wide empty frames, drawn one over
  the other in the lower part (a hostile file: each frame is tested for text
  inside it);
* ``cells``: a table of as many cells of three short lines, unruled (each
  cell is tested against those level with it for shared baselines).

Each row prints the count, the kind, the elements extracted and the seconds
taken; a page of thousands of boxes must take seconds, not minutes.
"""

from __future__ import annotations

import argparse
import math
import pathlib
import sys
import tempfile
import time

PAGE = 612.0


def framed_pdf(path: str, count: int) -> None:
    """``count`` framed words in a square grid, and a line of text under each row of its upper half."""
    from reportlab.pdfgen import canvas

    side = math.ceil(math.sqrt(count))
    size, gap = 44.0, 4.0
    extent = side * (size + gap) + 2 * gap + 40
    pdf = canvas.Canvas(path, pagesize=(extent, extent), invariant=1)
    pdf.setFont("Helvetica", 3)
    for index in range(count):
        row, column = divmod(index, side)
        x, y = gap + column * (size + gap), extent - 40 - (row + 1) * (size + gap)
        pdf.rect(x, y, size, size)
        pdf.drawString(x + 3, y + size / 2, f"box {index}")
    pdf.setFont("Helvetica", 4)
    for row in range(side // 2):
        y = extent - 40 - (row + 1) * (size + gap) - gap / 2 - 1
        pdf.drawString(gap, y, " ".join(f"word{row}.{n}" for n in range(5 * side)))
    pdf.showPage()
    pdf.save()


def empty_pdf(path: str, count: int) -> None:
    """Sixty lines of text above ``count`` wide empty frames drawn over each other."""
    from reportlab.pdfgen import canvas

    pdf = canvas.Canvas(path, pagesize=(PAGE, 792), invariant=1)
    pdf.setFont("Helvetica", 5)
    for line in range(60):
        pdf.drawString(40, 760 - 6 * line, " ".join(f"word{line}.{n}" for n in range(60)))
    for index in range(count):
        offset = 0.1 * (index % 1000)
        pdf.rect(40 + offset, 40 + 0.1 * (index // 1000), 500, 300)
    pdf.showPage()
    pdf.save()


def cells_pdf(path: str, count: int) -> None:
    """``count`` cells of three short lines each in a square grid, with no rules."""
    from reportlab.pdfgen import canvas

    side = math.ceil(math.sqrt(count))
    extent = side * 60.0 + 40
    pdf = canvas.Canvas(path, pagesize=(extent, extent), invariant=1)
    pdf.setFont("Helvetica", 5)
    for index in range(count):
        row, column = divmod(index, side)
        for line in range(3):
            pdf.drawString(20 + 60 * column, extent - 20 - 30 * row - 6 * line, f"c{row}.{column} v{line}")
    pdf.showPage()
    pdf.save()


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--counts", default="100,400,900,1600,3600", help="box counts, comma-separated")
    args = parser.parse_args(argv)
    sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "python"))
    from vellora.pdf import extract_page

    print(f"{'boxes':>8} {'kind':>7} {'elements':>9} {'seconds':>8}")
    with tempfile.TemporaryDirectory() as folder:
        for count in (int(item) for item in args.counts.split(",")):
            for kind, make in (("framed", framed_pdf), ("empty", empty_pdf), ("cells", cells_pdf)):
                path = str(pathlib.Path(folder) / f"{kind}-{count}.pdf")
                make(path, count)
                start = time.perf_counter()
                page = extract_page(path, 1)
                elapsed = time.perf_counter() - start
                print(f"{count:>8} {kind:>7} {len(page.elements):>9} {elapsed:>8.2f}", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
