"""Labels and categories of the blocks of a page, and the page model built from them.

Categories (the finer class, as a layout model would give it):

* figures are ``Picture``, tables ``Table``; furniture keeps the category
  :mod:`.furniture` gave it, headings the one :mod:`.headings` gave;
* a text block starting "Figure 3", "Fig. 3" or "Table 2" is a ``Caption``;
* a text block starting with a bullet, a dash or "(a)" / "1." / "a)" is a
  ``List-item``;
* a text block in the lower part of the page set clearly smaller than the
  body is a ``Footnote``, unless it lies in a panel (a box drawn around
  text), or it is code: at least
  :attr:`~.PdfSettings.code_symbol_share` of its characters are the
  symbols of program text (``\\ { } < > = ; & % $ # _ ^ | ~ @``), as a
  listing near the foot of a page is;
* any other text block is ``Text``.

Labels (what the ordering algorithms use), by these rules in this order:

1. Figures and tables are ``Vision``.
2. Headings are titles: a heading at least twice as tall as wide is
   ``VerticalTitle``, any other ``HorizontalTitle``.
3. On a multi-column page (two body text blocks side by side: disjoint
   horizontally, overlapping vertically), a body text block at least
   :attr:`~.PdfSettings.full_width_ratio` times as wide as the text area
   (from the leftmost to the rightmost text block) is ``CrossLayout``.
4. Everything else is ``Regular``.
"""

from __future__ import annotations

import bisect
import math
import re
from typing import Final

from ..page import Box, Page, PageElement
from .blocks import PageBlocks, RawBlock
from .columns import COLUMN_SHARE, span_separators, trim_overflows, trim_to_gutters
from .headings import body_size, find_headings
from .settings import PdfSettings
from .spatial import BoxGrid, any_side_by_side

__all__ = ["build_page", "label_blocks", "set_categories"]

_CAPTION: Final = re.compile(
    r"^(fig(ure|\.)?|table|tab\.|algorithm|listing|abbildung|abb\.|tabelle|\u56f3|\u8868|\u56fe)\s*[\dIVX]+", re.I)
_LIST_ITEM: Final = re.compile(r"^([\u2022\u2023\u25aa\u25cf\u25e6\u2013\u2014\-*\u2219\u00b7]|\(?[a-z0-9]{1,2}\)|\d{1,2}\.)\s")
_TITLES: Final = frozenset({"Title", "Section-header"})
#: A footnote is set at most this times the body size, below this share of the page height.
_FOOTNOTE_RATIO: Final = 0.92
_FOOTNOTE_AREA: Final = 0.6
#: Characters of program text that prose rarely holds (brackets and parentheses are common in both).
_CODE_SYMBOLS: Final = frozenset("\\{}<>=;&%$#_^|~@")


def set_categories(page: PageBlocks, settings: PdfSettings | None = None) -> None:
    """Give every block without one its category (see the module documentation)."""
    settings = settings or PdfSettings()
    body = body_size(page.blocks)
    below = _text_below(page, body) if body > 0 else set()
    panels = _Panels(page.panels)
    for block in page.blocks:
        if block.category is not None:
            continue
        if block.kind == "figure":
            block.category = "Picture"
        elif block.kind == "table":
            block.category = "Table"
        elif _CAPTION.match(block.text):
            block.category = "Caption"
        elif _LIST_ITEM.match(block.text):
            block.category = "List-item"
        elif body > 0 and block.font_size <= _FOOTNOTE_RATIO * body and block.box[1] >= _FOOTNOTE_AREA * page.height \
                and id(block) not in below and not panels.holds(block.box) \
                and not is_code(block.text, settings.code_symbol_share):
            block.category = "Footnote"
        else:
            block.category = "Text"


def is_code(text: str, share: float) -> bool:
    """Whether at least ``share`` of the visible characters of ``text`` are symbols of program text."""
    visible = "".join(text.split())
    return share > 0 and bool(visible) and sum(1 for char in visible if char in _CODE_SYMBOLS) >= share * len(visible)


class _Panels:
    """The panels of a page, to tell whether a block lies in one: small print in a box drawn around text (a
    poster's box, however low on the page) is the box's own text, not a footnote of the page."""

    def __init__(self, panels: list[Box]) -> None:
        self.panels = panels
        self.grid = BoxGrid.of(panels)

    def holds(self, box: Box) -> bool:
        x0, y0, x1, y1 = box
        return any(panel[0] <= x0 and x1 <= panel[2] and panel[1] <= y0 and y1 <= panel[3]
                   for panel in (self.panels[index] for index in self.grid.near(box)))


def _text_below(page: PageBlocks, body: float) -> set[int]:
    """Ids of the text blocks that body-size text follows further down their column (footnotes end the column).

    Blocks are taken from the lowest top up, and the body text starting below each block's foot is
    kept by its left edge with the furthest right edge reached among those starting left of any point:
    text overlaps a block horizontally when one starting left of its right edge reaches past its left edge.
    """
    body_text = sorted((block.box for block in page.blocks if block.kind == "text" and block.role == "body"
                        and block.font_size >= 0.97 * body and block.box[2] > block.box[0]),
                       key=lambda box: -box[1])
    lefts = sorted({box[0] for box in body_text})
    reach = [-math.inf] * (len(lefts) + 1)  # a tree of the furthest right edges, by rank of left edge (from 1)
    found: set[int] = set()
    queries = sorted((block for block in page.blocks if block.kind == "text"), key=lambda block: -block.box[3])
    taken = 0
    for block in queries:
        x0, _top, x1, foot = block.box
        while taken < len(body_text) and body_text[taken][1] >= foot:
            rank = bisect.bisect_left(lefts, body_text[taken][0]) + 1
            while rank < len(reach):
                reach[rank] = max(reach[rank], body_text[taken][2])
                rank += rank & -rank
            taken += 1
        if x1 <= x0:
            continue
        rank, furthest = bisect.bisect_left(lefts, x1), -math.inf  # left edges strictly left of x1
        while rank > 0:
            furthest = max(furthest, reach[rank])
            rank -= rank & -rank
        if furthest > x0:
            found.add(id(block))
    return found


def label_blocks(blocks: list[RawBlock], settings: PdfSettings | None = None) -> list[str]:
    """The label of each block, by the rules in this module's documentation.

    Blocks without a category are judged as headings by size alone.
    """
    settings = settings or PdfSettings()
    body = body_size(blocks) if any(block.lines for block in blocks) else _size_by_text(blocks)

    def is_heading(block: RawBlock) -> bool:
        if block.category is not None:
            return block.category in _TITLES
        return block.kind == "text" and body > 0 and block.font_size >= settings.heading_size_ratio * body

    text_boxes = [block.box for block in blocks if block.kind == "text" and block.role == "body"]
    text_width = (max(box[2] for box in text_boxes) - min(box[0] for box in text_boxes)) if text_boxes else 0.0
    # Columns are wide: a margin note beside a paragraph does not make a page multi-column.
    body_boxes = [block.box for block in blocks
                  if block.kind == "text" and block.role == "body" and not is_heading(block)
                  and block.box[2] - block.box[0] >= COLUMN_SHARE * text_width]
    multi_column = any_side_by_side(body_boxes)

    labels = []
    for block in blocks:
        width, height = block.width, block.height
        if block.kind in ("figure", "table"):
            labels.append("Vision")
        elif is_heading(block):
            labels.append("VerticalTitle" if height >= 2 * width else "HorizontalTitle")
        elif (block.role == "body" and multi_column and text_width > 0
              and width >= settings.full_width_ratio * text_width):
            labels.append("CrossLayout")
        else:
            labels.append("Regular")
    return labels


def _size_by_text(blocks: list[RawBlock]) -> float:
    # Blocks made by hand (no lines): weigh each block's size by its characters.
    counts: dict[float, int] = {}
    for block in blocks:
        if block.kind == "text":
            size = round(block.font_size * 2) / 2
            counts[size] = counts.get(size, 0) + len(block.text)
    return min(counts, key=lambda size: (-counts[size], size)) if counts else 0.0


def _element(element_id: int, block: RawBlock, label: str) -> PageElement:
    size = block.font_size if block.kind != "figure" and block.font_size > 0 else None
    return PageElement(element_id, block.box, label, block.text or None, category=block.category,
                       role=block.role, font_size=size)


def build_page(page: PageBlocks, settings: PdfSettings, source: str) -> Page:
    """The labelled page model of ``page``: ids number the blocks top down, then left to right."""
    find_headings(page, settings)
    set_categories(page, settings)
    trim_overflows(page)
    trim_to_gutters(page, settings)
    span_separators(page, body_size(page.blocks), settings)
    blocks = sorted(page.blocks, key=lambda block: (block.box[1], block.box[0]))
    labels = label_blocks(blocks, settings)
    elements = tuple(_element(index, block, label)
                     for index, (block, label) in enumerate(zip(blocks, labels), start=1))
    meta: dict[str, object] = {"source": source, "page": page.number, "body_font_size": body_size(blocks)}
    if page.turn:
        meta["turn"] = page.turn
    return Page((0.0, 0.0, page.width, page.height), elements, meta)
