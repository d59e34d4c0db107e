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

import re
from typing import Final

from ..page import Box, Page, PageElement
from .blocks import PageBlocks, RawBlock
from .columns import COLUMN_SHARE, span_separators, trim_overflows, trim_to_gutters
from .headings import body_size, find_headings
from .settings import PdfSettings

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
                and not _body_text_below(block, page, body) and not _inside_panel(block, page) \
                and not is_code(block.text, settings.code_symbol_share):
            block.category = "Footnote"
        else:
            block.category = "Text"


def is_code(text: str, share: float) -> bool:
    """Whether at least ``share`` of the visible characters of ``text`` are symbols of program text."""
    visible = "".join(text.split())
    return share > 0 and bool(visible) and sum(1 for char in visible if char in _CODE_SYMBOLS) >= share * len(visible)


def _inside_panel(block: RawBlock, page: PageBlocks) -> bool:
    """Whether ``block`` lies in a panel: small print in a box drawn around text (a poster's box, however
    low on the page) is the box's own text, not a footnote of the page."""
    x0, y0, x1, y1 = block.box
    return any(panel[0] <= x0 and x1 <= panel[2] and panel[1] <= y0 and y1 <= panel[3] for panel in page.panels)


def _body_text_below(block: RawBlock, page: PageBlocks, body: float) -> bool:
    """Whether body-size text follows ``block`` further down its column (footnotes end the column)."""
    for other in page.blocks:
        if other is block or other.kind != "text" or other.role != "body" or other.font_size < 0.97 * body:
            continue
        if other.box[1] >= block.box[3] and min(other.box[2], block.box[2]) > max(other.box[0], block.box[0]):
            return True
    return False


def _side_by_side(a: Box, b: Box) -> bool:
    horizontally_disjoint = a[2] <= b[0] or b[2] <= a[0]
    vertically_overlapping = min(a[3], b[3]) > max(a[1], b[1])
    return horizontally_disjoint and vertically_overlapping


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
    multi_column = any(
        _side_by_side(a, b) for index, a in enumerate(body_boxes) for b in body_boxes[index + 1 :]
    )

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
