"""Page furniture: running heads and footers, page numbers and margin line numbers.

Furniture is labelled (category ``Page-header``, ``Page-footer``,
``Page-number`` or ``Line-number``) and given the role ``header`` or
``footer``, so the ordering keeps it out of the body.

* A text block in the top or bottom band of the page
  (:attr:`~.PdfSettings.furniture_band` of its height) is a running head or
  footer when a nearby page (within :attr:`~.PdfSettings.furniture_window`
  pages) has a text block at the same height (edges within
  :attr:`~.PdfSettings.furniture_tolerance`) with the same text once digits
  are ignored, or the same text at the same place.
* A block in the band that is only a page number ("7", "- 7 -", "Page 7 of
  9", "vii") is a ``Page-number``, and a line beside it on the same
  baseline is the running head or footer, even on a page with no neighbours.
* Lines at the foot of the page, below all the body text, two or three of
  them on one baseline and far apart (a running foot under each column),
  no two in one third of the page's width (pieces of a formula set apart on
  the last line of a column are no feet), are running footers, even on a
  page with no neighbours. A number with others right
  above or below it (the numbered lines of a listing) is no page number.
* A line or two in small print (at most 0.8 times the body size) in the top
  band, above all the body text, is a running head (or a slide's
  navigation bar).
* Blocks made only of small numbers, one per line, lying in the margin (left
  of all other text, or right of it, within :attr:`~.PdfSettings.line_number_band`
  of the width) are ``Line-number`` blocks (the line numbers of a
  manuscript or an edition) when there are at least three numbers.
* A narrow strip at the left or right edge of the page (at most
  :attr:`~.PdfSettings.side_panel_width` of the width) holding only small
  print, at least three blocks of it spread over
  :attr:`~.PdfSettings.side_panel_height` of the page height or more, with
  all the body-size text on the other side of it, is a side panel (a
  slide's navigation bar, a leaflet's margin column of contacts): category
  ``Sidebar``, read after the body.
* A block of a line or two alone in a side column of its own, in the lower
  :attr:`~.PdfSettings.emblem_band` of the page, with nothing above or below
  it in that column but headings set large (the page's title) and furniture,
  and all the other body on one side of it, further than
  :attr:`~.PdfSettings.emblem_gap` body sizes away (a margin note is set
  closer to its paragraph), is an emblem (a brochure's logo
  or imprint beside the text frames): a ``Sidebar`` too.
"""

from __future__ import annotations

import bisect
import math
import re
from typing import Final

from ..page import Box
from .blocks import PageBlocks, RawBlock
from .settings import PdfSettings
from .spatial import BoxGrid, cell_size

__all__ = ["mark_furniture"]

_PAGE_NUMBER: Final = re.compile(
    r"^[\W_]*(?:page\s+)?(?:\d{1,4}|[ivxlc]{1,7})(?:\s*(?:of|/)\s*\d{1,4})?[\W_]*$", re.I
)
_LINE_NUMBER: Final = re.compile(r"^\d{1,4}$")
#: Running feet on one baseline are at least this many body sizes apart.
_FEET_APART: Final = 3.0
#: Running heads in small print are set at most this times the body size.
_SMALL_PRINT: Final = 0.8


def _body_size(page: PageBlocks) -> float:
    from .headings import body_size

    return body_size(page.blocks)


def _shape(text: str) -> str:
    return re.sub(r"\d+", "#", " ".join(text.split())).lower()


def _same_height(a: RawBlock, b: RawBlock, tolerance: float) -> bool:
    return abs(a.box[1] - b.box[1]) <= tolerance and abs(a.box[3] - b.box[3]) <= tolerance


def _same_place(a: RawBlock, b: RawBlock, tolerance: float) -> bool:
    return _same_height(a, b, tolerance) and abs(a.box[0] - b.box[0]) <= tolerance and abs(
        a.box[2] - b.box[2]) <= tolerance


class _Repeats:
    """The text blocks of the neighbouring pages by their shape (see :func:`_shape`), each shape's boxes
    sorted by their top, to tell a block repeated on them: one of the same shape at the same height (the
    same text at the same place has the same shape)."""

    def __init__(self, neighbours: list[PageBlocks], tolerance: float) -> None:
        self.tolerance = tolerance
        shapes: dict[str, list[Box]] = {}
        for other_page in neighbours:
            for other in other_page.blocks:
                if other.kind == "text":
                    shapes.setdefault(_shape(other.text), []).append(other.box)
        self.shapes = {shape: sorted(boxes, key=lambda box: box[1]) for shape, boxes in shapes.items()}
        self.tops = {shape: [box[1] for box in boxes] for shape, boxes in self.shapes.items()}

    def repeated(self, block: RawBlock) -> bool:
        shape = _shape(block.text)
        boxes, tops = self.shapes.get(shape), self.tops.get(shape)
        if not boxes or not tops:
            return False
        tolerance, box = self.tolerance, block.box
        first = bisect.bisect_left(tops, box[1] - tolerance - 1.0)
        last = bisect.bisect_right(tops, box[1] + tolerance + 1.0)
        return any(abs(box[1] - other[1]) <= tolerance and abs(box[3] - other[3]) <= tolerance
                   for other in boxes[first:last])


def _numeric(block: RawBlock) -> bool:
    return bool(block.lines) and all(_LINE_NUMBER.match(line.text.strip()) for line in block.lines)


def _line_number_blocks(page: PageBlocks, settings: PdfSettings) -> list[RawBlock]:
    """Blocks of small numbers in the margin: left of all other text, or right of it."""
    text = [block for block in page.blocks if block.kind == "text" and block.role == "body"]
    words = [block for block in text if not _numeric(block)]
    if not words:
        return []
    left, right = min(block.box[0] for block in words), max(block.box[2] for block in words)
    band = settings.line_number_band * page.width
    return [block for block in text if _numeric(block) and block.width <= 40 and (
        (block.box[2] <= left + 1 and block.box[0] <= band + left)
        or (block.box[0] >= right - 1 and block.box[2] >= right - band))]


def _side_panel(page: PageBlocks, settings: PdfSettings) -> list[RawBlock]:
    """The blocks of a side panel of small print along the left or right edge of the page, if there is one."""
    body = _body_size(page)
    text = [block for block in page.blocks if block.kind == "text" and block.role == "body"]
    if body <= 0 or not text:
        return []
    small = [block for block in text if block.font_size <= _SMALL_PRINT * body]
    large = [block for block in text if block.font_size > _SMALL_PRINT * body]
    if not large:
        return []
    reach = settings.side_panel_width * page.width
    left_edge, right_edge = min(block.box[0] for block in large), max(block.box[2] for block in large)
    for panel in ([block for block in small if block.box[0] >= right_edge and block.box[0] >= page.width - reach],
                  [block for block in small if block.box[2] <= left_edge and block.box[2] <= reach]):
        if len(panel) < 3:
            continue
        # Nothing but the panel's own small print between it and the page edge, on its side of the body.
        lo, hi = min(block.box[0] for block in panel), max(block.box[2] for block in panel)
        members = {id(block) for block in panel}
        if any(id(block) not in members and block.box[0] < hi and block.box[2] > lo for block in text):
            continue
        spread = max(block.box[3] for block in panel) - min(block.box[1] for block in panel)
        if spread >= settings.side_panel_height * page.height:
            return panel
    return []


def _emblems(page: PageBlocks, settings: PdfSettings) -> list[RawBlock]:
    """Blocks of a line or two, each alone in a side column below the page's title (a logo beside the text)."""
    body = _body_size(page)
    if body <= 0 or settings.emblem_band <= 0:
        return []
    large = settings.heading_size_ratio * body
    content = [block for block in page.blocks if block.role == "body"
               and not (block.kind == "text" and block.font_size >= large)]
    # The blocks by the columns of the page they reach, and by their left and right edges.
    columns = BoxGrid(cell_size(block.box for block in content), row=math.inf)
    for index, block in enumerate(content):
        columns.add(index, (block.box[0], 0.0, block.box[2], 0.0))
    by_left = sorted(content, key=lambda block: block.box[0])
    by_right = sorted(content, key=lambda block: -block.box[2])
    found = []
    for block in content:
        if (block.kind != "text" or len(block.lines) > 2
                or block.box[1] < (1 - settings.emblem_band) * page.height):
            continue
        # The leftmost start and the rightmost end of the other blocks.
        start = next((other.box[0] for other in by_left if other is not block), None)
        end = next((other.box[2] for other in by_right if other is not block), None)
        if start is None or end is None or any(
                other is not block and other.box[0] < block.box[2] and other.box[2] > block.box[0]
                for other in (content[index] for index in columns.each_near((block.box[0], 0.0, block.box[2], 0.0)))):
            continue
        # Far from the text beside it: a margin note is set close to its paragraph.
        gap = settings.emblem_gap * body
        if start >= block.box[2] + gap or end <= block.box[0] - gap:
            found.append(block)
    return found


class _Numbers:
    """The numeric text blocks of a page sorted by their top, to tell a number stacked on another."""

    def __init__(self, page: PageBlocks) -> None:
        self.blocks = sorted((block for block in page.blocks if block.kind == "text" and _numeric(block)),
                             key=lambda block: block.box[1])
        self.tops = [block.box[1] for block in self.blocks]

    def stacked(self, block: RawBlock) -> bool:
        """Whether a number has another right above or below it, as the numbered lines of a listing have."""
        height = max(block.height, 1.0)
        first = bisect.bisect_left(self.tops, block.box[1] - 2 * height - 1.0)
        last = bisect.bisect_right(self.tops, block.box[1] + 2 * height + 1.0)
        return any(other is not block and abs(other.box[0] - block.box[0]) <= height
                   and abs(other.box[1] - block.box[1]) <= 2 * height for other in self.blocks[first:last])


def _running_feet(page: PageBlocks, band: float) -> list[RawBlock]:
    """Lines at the foot of the page, below all the body, two or three on one baseline far apart (a foot per
    column, or left, centre and right), not a row of notes."""
    lines = [block for block in page.blocks if block.kind == "text" and block.role == "body"
             and len(block.lines) == 1 and block.box[1] >= page.height - band]
    taken = {id(line) for line in lines}
    rest = [block for block in page.blocks if block.role == "body" and id(block) not in taken]
    lowest = max((other.box[3] for other in rest), default=-math.inf)
    feet = [line for line in lines if lowest <= line.box[1]]
    apart = _FEET_APART * _body_size(page)
    # The feet by their baseline: those on a line's baseline lie among the few next to it.
    order = sorted(range(len(feet)), key=lambda index: feet[index].box[3])
    baselines = [feet[index].box[3] for index in order]
    found: list[RawBlock] = []
    for line in feet:
        level: list[int] = []
        first = bisect.bisect_left(baselines, line.box[3] - 2.5)
        for index in order[first : bisect.bisect_right(baselines, line.box[3] + 2.5)]:
            if abs(feet[index].box[3] - line.box[3]) <= 2.0:
                level.append(index)
                if len(level) > 3:
                    break  # a row of notes
        row = sorted((feet[index] for index in sorted(level)), key=lambda b: b.box[0])
        # One foot a column, or left, centre and right: never two in one third of the page (those are
        # pieces of a line of the body, a formula whose symbols were drawn apart).
        thirds = {int(3 * (other.box[0] + other.box[2]) / 2 // max(page.width, 1.0)) for other in row}
        if (2 <= len(row) <= 3 and len(thirds) == len(row)
                and all(right.box[0] - left.box[2] >= apart for left, right in zip(row, row[1:]))):
            found.append(line)
    return found


def mark_furniture(page: PageBlocks, neighbours: list[PageBlocks], settings: PdfSettings) -> None:
    """Set the category and role of the furniture of ``page``, compared with ``neighbours``."""
    band = settings.furniture_band * page.height
    line_numbers = _line_number_blocks(page, settings)
    # One or two numbers alone in the margin are not a column of line numbers.
    if sum(len(block.lines) for block in line_numbers) >= 3:
        for block in line_numbers:
            block.category, block.role = "Line-number", "footer"
    for block in _side_panel(page, settings):
        block.category, block.role = "Sidebar", "footer"
    for block in _running_feet(page, band):
        block.category, block.role = "Page-footer", "footer"
    stacked, repeats = _Numbers(page), _Repeats(neighbours, settings.furniture_tolerance)
    for block in page.blocks:
        if block.kind != "text" or block.role != "body" or len(block.lines) > 2:
            continue  # running heads and footers are a line or two
        top = block.box[3] <= band
        bottom = block.box[1] >= page.height - band
        if not (top or bottom):
            continue
        role = "header" if top else "footer"
        if _PAGE_NUMBER.match(" ".join(block.text.split())) and not stacked.stacked(block):
            block.category, block.role = "Page-number", role
        elif repeats.repeated(block):
            block.category, block.role = ("Page-header" if top else "Page-footer"), role
    # Small print at the very top, above all the body text, is a running head (or a slide's navigation).
    body = _body_size(page)
    body_top = min((block.box[1] for block in page.blocks if block.kind == "text" and block.role == "body"
                    and block.font_size >= 0.95 * body), default=0.0)
    for block in page.blocks:
        if (block.kind == "text" and block.role == "body" and len(block.lines) <= 2 and block.box[3] <= band
                and body > 0 and block.font_size <= _SMALL_PRINT * body and block.box[3] <= body_top):
            block.category, block.role = "Page-header", "header"
    # A line of the band that shares its baseline with the page number is the running head (or foot).
    numbers = [block for block in page.blocks if block.category == "Page-number"]
    # The page numbers by their foot: those on a line's baseline lie among the few next to it.
    order = sorted(range(len(numbers)), key=lambda index: numbers[index].box[3])
    feet = [numbers[index].box[3] for index in order]
    for block in page.blocks:
        if block.kind != "text" or block.role != "body" or len(block.lines) != 1:
            continue
        window = order[bisect.bisect_left(feet, block.box[3] - 2.5) : bisect.bisect_right(feet, block.box[3] + 2.5)]
        first = min((index for index in window if abs(numbers[index].box[3] - block.box[3]) <= 2.0), default=None)
        if first is not None:
            number = numbers[first]
            top = number.role == "header"
            block.category, block.role = ("Page-header" if top else "Page-footer"), number.role
    for block in _emblems(page, settings):
        block.category, block.role = "Sidebar", "footer"
