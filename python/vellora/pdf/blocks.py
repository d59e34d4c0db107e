"""Blocks: the text blocks, figures and rules of one analysed page, before labelling.

Each non-empty text block of pdfminer's layout becomes a :class:`RawBlock`
with its text (lines joined by "\\n"), its lines' boxes, the median size of
its characters and the share of them set in a bold face. Images and form
objects that draw graphics become figure blocks; thin graphics (rules,
frames, table lines) are kept apart as rules, for the table finder.
"""

from __future__ import annotations

import re
import statistics
from collections.abc import Iterable, Iterator, Sequence
from dataclasses import dataclass, field
from typing import Any, Final

from ..page import Box
from .geometry import to_page_box
from .settings import PdfSettings
from .text import clean_text

__all__ = ["PageBlocks", "RawBlock", "TextLine", "block_of_lines", "collect_blocks", "is_bold_font"]

#: Font names of bold faces: "Times-Bold", "NimbusRomNo9L-Medi", "CMBX10", "LMRoman10-Bold", "SFBX1000", ...
_BOLD: Final = re.compile(r"bold|black|heavy|semibold|demi|medi|(^|[+\-,])(cm|sf|lm|ec)?bx|[-,]b$|extrab", re.I)


#: A line starting with one of these starts a list item.
_BULLET: Final = re.compile("[\u2022\u2023\u25aa\u25b8\u25b6\u25cf\u25e6\u2219\u00b7\u2043\u25a0\u25a1]\\s")


def is_bold_font(name: str) -> bool:
    """Whether the font called ``name`` is a bold face (by its name)."""
    base = name.split("+", 1)[-1]
    return bool(_BOLD.search(base))


@dataclass(frozen=True, slots=True)
class TextLine:
    """One line of a text block: its box (page coordinates), text, font size and bold share."""

    box: Box
    text: str
    font_size: float
    bold: float


@dataclass(slots=True)
class RawBlock:
    """An extracted block before labelling: box in page coordinates (y down)."""

    box: Box
    kind: str  # "text", "figure" or "table"
    text: str = ""
    font_size: float = 0.0
    bold: float = 0.0
    lines: tuple[TextLine, ...] = ()
    category: str | None = None
    role: str = "body"

    @property
    def width(self) -> float:
        return self.box[2] - self.box[0]

    @property
    def height(self) -> float:
        return self.box[3] - self.box[1]


@dataclass(slots=True)
class PageBlocks:
    """The blocks of one page, and the page's size (upright, cropped)."""

    number: int
    width: float
    height: float
    blocks: list[RawBlock] = field(default_factory=list)
    rules: list[Box] = field(default_factory=list)
    #: Clockwise turn (degrees) applied beyond the page's own rotation to set its text upright.
    turn: int = 0


def _chars(item: Any, char_type: type) -> Iterator[Any]:
    if isinstance(item, char_type):
        yield item
        return
    try:
        children = list(item)
    except TypeError:
        return
    for child in children:
        yield from _chars(child, char_type)


def _font_stats(chars: Iterable[Any]) -> tuple[float, float]:
    visible = [char for char in chars if char.get_text().strip()]
    if not visible:
        return 0.0, 0.0
    size = float(statistics.median(char.size for char in visible))
    bold = sum(1 for char in visible if is_bold_font(char.fontname)) / len(visible)
    return round(size, 2), round(bold, 3)


def _has_graphics(item: Any, layout: Any) -> bool:
    if isinstance(item, (layout.LTImage, layout.LTCurve)):
        return True
    if isinstance(item, layout.LTFigure):
        return any(_has_graphics(child, layout) for child in item)
    return False


def _text_lines(item: Any, layout: Any, width: float, height: float) -> list[TextLine]:
    lines = []
    for line in item:
        if not isinstance(line, layout.LTTextLine):
            continue
        text = clean_text(line.get_text()).strip()
        if not text:
            continue
        size, bold = _font_stats(_chars(line, layout.LTChar))
        lines.append(TextLine(to_page_box(line.bbox, width, height), text, size, bold))
    return lines


def block_of_lines(lines: Sequence[TextLine]) -> RawBlock:
    """A text block made of ``lines``: their union box, joined text, median size and bold share."""
    box = (min(line.box[0] for line in lines), min(line.box[1] for line in lines),
           max(line.box[2] for line in lines), max(line.box[3] for line in lines))
    chars = sum(len(line.text) for line in lines)
    bold = round(sum(line.bold * len(line.text) for line in lines) / max(chars, 1), 3)
    sizes = sorted(line.font_size for line in lines)
    return RawBlock(box, "text", "\n".join(line.text for line in lines), sizes[len(sizes) // 2], bold,
                    tuple(lines))


def _split_items(lines: list[TextLine]) -> list[list[TextLine]]:
    """The lines of a block cut before every line that starts a bulleted item."""
    parts: list[list[TextLine]] = []
    for line in lines:
        if not parts or _BULLET.match(line.text):
            parts.append([line])
        else:
            parts[-1].append(line)
    return parts


def collect_blocks(lt_page: Any, number: int, settings: PdfSettings) -> PageBlocks:
    """The text blocks, figures and rules of an analysed pdfminer page."""
    from .errors import pdfminer_modules

    layout = pdfminer_modules()
    width, height = float(lt_page.width), float(lt_page.height)
    page = PageBlocks(number, round(width, 2), round(height, 2))
    for item in lt_page:
        if isinstance(item, layout.LTTextBox):
            lines = _text_lines(item, layout, width, height)
            page.blocks.extend(block_of_lines(part) for part in _split_items(lines) if part)
            continue
        graphic = isinstance(item, (layout.LTCurve, layout.LTImage)) or (
            isinstance(item, layout.LTFigure) and _has_graphics(item, layout)
        )
        if not graphic:
            continue
        box = to_page_box(item.bbox, width, height)
        thin = min(box[2] - box[0], box[3] - box[1]) < settings.rule_thickness
        if thin:
            page.rules.append(box)
        elif isinstance(item, layout.LTCurve):
            continue  # loose vector strokes are grouped into figures by the figure finder
        else:
            page.blocks.append(RawBlock(box, "figure"))
    return page
