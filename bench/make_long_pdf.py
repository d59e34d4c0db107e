"""Generate a long two-column PDF article (reportlab), for the document benchmark and tests.

    python3 bench/make_long_pdf.py OUT.pdf [PAGES]

Every page has two columns of body text in 10 pt Helvetica with a section
heading now and then, and a page number at the foot; the first page opens
with a title across both columns. Paragraph ``n`` of page ``p`` begins with
the words ``Paragraph p.n`` so that tests can check the reading order. The
output is reproducible (reportlab's invariant mode, a fixed word sequence).
"""

from __future__ import annotations

import random
import sys

from reportlab.lib.pagesizes import letter
from reportlab.lib.utils import simpleSplit
from reportlab.pdfgen import canvas

PAGE_W, PAGE_H = letter
MARGIN, GUTTER = 54.0, 20.0
COL_W = (PAGE_W - 2 * MARGIN - GUTTER) / 2
BODY_FONT, BODY_SIZE, LEADING = "Helvetica", 10.0, 12.5
HEAD_FONT, HEAD_SIZE = "Helvetica-Bold", 13.0
TOP, BOTTOM = 72.0, PAGE_H - 72.0

WORDS = ("reading order layout column page block title figure caption table text line word reader "
         "document paragraph section method result analysis band region element position cut gap "
         "sample report measure value model order first second wide narrow upper lower left right").split()


def _paragraph(rng: random.Random, page: int, number: int) -> str:
    words = [rng.choice(WORDS) for _ in range(rng.randint(40, 80))]
    return f"Paragraph {page}.{number} " + " ".join(words) + "."


def _column(pdf: canvas.Canvas, rng: random.Random, x: float, top: float, page: int, counter: list[int]) -> None:
    while True:
        if rng.random() < 0.15:
            if top + 30 > BOTTOM:
                return
            top += 18
            pdf.setFont(HEAD_FONT, HEAD_SIZE)
            pdf.drawString(x, PAGE_H - top, f"Section {page}.{counter[0] + 1}")
            top += 6
        lines = simpleSplit(_paragraph(rng, page, counter[0] + 1), BODY_FONT, BODY_SIZE, COL_W)
        if top + len(lines) * LEADING > BOTTOM:
            return
        counter[0] += 1
        pdf.setFont(BODY_FONT, BODY_SIZE)
        for line in lines:
            top += LEADING
            pdf.drawString(x, PAGE_H - top, line)
        top += 11


def make_pdf(path: str, pages: int = 100, seed: int = 8) -> None:
    rng = random.Random(seed)
    pdf = canvas.Canvas(path, pagesize=letter, invariant=1, pageCompression=1)
    for page in range(1, pages + 1):
        top = TOP
        if page == 1:
            pdf.setFont("Helvetica-Bold", 22)
            pdf.drawString(MARGIN, PAGE_H - 84, "A Long Two-Column Article")
            top = 112.0
        counter = [0]
        _column(pdf, rng, MARGIN, top, page, counter)
        _column(pdf, rng, MARGIN + COL_W + GUTTER, top, page, counter)
        pdf.setFont("Helvetica", 8.5)
        pdf.drawCentredString(PAGE_W / 2, 40, str(page))
        pdf.showPage()
    pdf.save()


if __name__ == "__main__":
    make_pdf(sys.argv[1], int(sys.argv[2]) if len(sys.argv) > 2 else 100)
