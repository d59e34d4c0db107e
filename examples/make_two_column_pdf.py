"""Generate examples/two_column_article.pdf, the sample PDF page of the demo.

One US Letter page: a title across the page, two columns of body text with
section headings, a raster figure with a caption in the left column, a framed
full-width note between the upper and the lower half of the columns, and a
page number. Needs reportlab and Pillow (both in the development root):

    tools/devroot python3 examples/make_two_column_pdf.py

The output is byte-for-byte reproducible (reportlab's invariant mode).
"""

from __future__ import annotations

import pathlib
import sys

from PIL import Image, ImageDraw
from reportlab.lib.pagesizes import letter
from reportlab.lib.utils import ImageReader, simpleSplit
from reportlab.pdfgen import canvas

OUT = pathlib.Path(__file__).with_name("two_column_article.pdf")

PAGE_W, PAGE_H = letter  # 612 x 792 points
MARGIN = 54.0
GUTTER = 20.0
COL_W = (PAGE_W - 2 * MARGIN - GUTTER) / 2
LEFT_X = MARGIN
RIGHT_X = MARGIN + COL_W + GUTTER

BODY_FONT, BODY_SIZE, LEADING = "Helvetica", 10.0, 12.5
HEAD_FONT, HEAD_SIZE = "Helvetica-Bold", 13.0
PARA_GAP = 11.0

UPPER_LEFT = [
    ("head", "1  Introduction"),
    ("para", "A page is more than a bag of words. Before a program can summarise, translate or read a "
             "document aloud, it has to decide in which order the blocks of the page are meant to be "
             "read. On a single column the answer is simply top to bottom."),
    ("para", "Two columns change that. The reader goes down the left column first and only then "
             "returns to the top of the right one, while titles and pictures sit wherever the layout "
             "put them."),
    ("figure", None),
    ("caption", "Figure 1. Blocks per page in a small sample of reports, by layout."),
]
UPPER_RIGHT = [
    ("para", "Sorting the blocks by their vertical position alone interleaves the columns line by "
             "line and produces nonsense. Cutting the page at its empty bands, first between the "
             "columns and then between the paragraphs, keeps each column together and reads it "
             "from top to bottom."),
    ("head", "2  Method"),
    ("para", "Titles, figures and blocks that span several columns are set aside first, because "
             "they break the clean bands that the cuts rely on. The remaining blocks are cut "
             "recursively into regions, and each region is read in turn."),
    ("para", "The blocks that were set aside are then put back in front of the block whose "
             "position suits them best: a title before the text it introduces, a figure next to "
             "the paragraphs around it, and a wide block between the parts it separates."),
]
NOTE = ("Key idea: a block that runs across both columns divides the page into an upper and a lower "
        "part. Both columns of the upper part are read before the block, and both columns of the "
        "lower part after it.")
LOWER_LEFT = [
    ("head", "3  Results"),
    ("para", "On pages like this one, cutting at empty bands recovers the order a person would "
             "choose: the title, the left column, the right column, the note across the page, and "
             "the two lower columns."),
]
LOWER_RIGHT = [
    ("para", "Pages with irregular layouts, such as magazines with boxed side stories, remain "
             "harder, and there the labels of the blocks matter most."),
    ("head", "4  Conclusion"),
    ("para", "Reading order is a small step with a large effect on every later stage."),
]


def make_figure() -> Image.Image:
    """A small bar chart as a raster image."""
    image = Image.new("RGB", (488, 260), "white")
    draw = ImageDraw.Draw(image)
    draw.rectangle([0, 0, 487, 259], outline=(120, 120, 120), width=2)
    bars = [(60, (47, 102, 179)), (150, (224, 123, 0)), (110, (31, 158, 116)), (200, (200, 50, 74))]
    for index, (height, colour) in enumerate(bars):
        left = 50 + index * 105
        draw.rectangle([left, 230 - height, left + 70, 230], fill=colour)
    draw.line([30, 230, 460, 230], fill=(60, 60, 60), width=3)
    draw.line([30, 20, 30, 230], fill=(60, 60, 60), width=3)
    return image


def draw_column(pdf: canvas.Canvas, x: float, top: float, blocks: list[tuple[str, str | None]]) -> float:
    """Draw blocks down a column from `top` (distance from the page top); return the new top."""
    for kind, text in blocks:
        if kind == "figure":
            height = COL_W * 260 / 488
            pdf.drawImage(ImageReader(make_figure()), x, PAGE_H - top - height, COL_W, height)
            top += height + 6
            continue
        font, size, leading = {
            "head": (HEAD_FONT, HEAD_SIZE, 16.0),
            "para": (BODY_FONT, BODY_SIZE, LEADING),
            "caption": ("Helvetica-Oblique", 8.5, 10.5),
        }[kind]
        assert text is not None
        lines = simpleSplit(text, font, size, COL_W)
        pdf.setFont(font, size)
        for line in lines:
            top += leading
            pdf.drawString(x, PAGE_H - top, line)
        top += PARA_GAP
    return top


def main() -> int:
    pdf = canvas.Canvas(str(OUT), pagesize=letter, invariant=1, pageCompression=1)
    pdf.setTitle("Reading order in two-column documents")
    pdf.setAuthor("Vellora examples")

    pdf.setFont("Helvetica-Bold", 22)
    pdf.drawString(MARGIN, PAGE_H - 84, "Reading Order in Two-Column Documents")

    upper_top = 112.0
    bottom = max(draw_column(pdf, LEFT_X, upper_top, UPPER_LEFT), draw_column(pdf, RIGHT_X, upper_top, UPPER_RIGHT))

    # The full-width note, framed.
    width = PAGE_W - 2 * MARGIN
    lines = simpleSplit(NOTE, BODY_FONT, BODY_SIZE, width - 16)
    note_top = bottom + 4
    note_height = len(lines) * LEADING + 12
    pdf.setStrokeColorRGB(0.55, 0.55, 0.55)
    pdf.setFillColorRGB(0.95, 0.95, 0.93)
    pdf.rect(MARGIN, PAGE_H - note_top - note_height, width, note_height, stroke=1, fill=1)
    pdf.setFillColorRGB(0, 0, 0)
    pdf.setFont(BODY_FONT, BODY_SIZE)
    top = note_top + 4
    for line in lines:
        top += LEADING
        pdf.drawString(MARGIN + 8, PAGE_H - top, line)

    lower_top = note_top + note_height + 16
    draw_column(pdf, LEFT_X, lower_top, LOWER_LEFT)
    draw_column(pdf, RIGHT_X, lower_top, LOWER_RIGHT)

    pdf.setFont("Helvetica", 8.5)
    pdf.drawCentredString(PAGE_W / 2, 40, "1")
    pdf.showPage()
    pdf.save()
    print(f"wrote {OUT.name}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
