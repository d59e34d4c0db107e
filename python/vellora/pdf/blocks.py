"""Blocks: the text blocks, figures and rules of one analysed page, before labelling.

Each non-empty text block of pdfminer's layout becomes a :class:`RawBlock`
with its text (lines joined by "\\n"), its lines' boxes, the median size of
its characters and the share of them set in a bold face. Images and form
objects that draw graphics become figure blocks; thin graphics (rules,
frames, table lines) are kept apart as rules, for the table finder.
"""

from __future__ import annotations

import bisect
import math
import re
import statistics
from collections import Counter
from collections.abc import Iterable, Sequence
from dataclasses import dataclass, field
from typing import Any, Final

from ..page import Box
from .backdrop import backdrop_text
from .geometry import to_page_box
from .settings import PdfSettings
from .spatial import BoxGrid, cell_size
from .text import clean_text

__all__ = ["PageBlocks", "RawBlock", "TextLine", "absorb_fragments", "attach_number_columns", "block_of_lines", "collect_blocks", "is_bold_font"]

#: Font names of bold faces: "Times-Bold", "NimbusRomNo9L-Medi", "LMRoman10-Bold", and TeX's "CMBX10",
#: "CMSSBX10", "SFBX1000", "SFSX1000" (sans bold), "SFBI1000" (bold italic), "SFXC1000" (bold caps), ...
_BOLD: Final = re.compile(
    r"bold|black|heavy|semibold|demi|medi|extrab|[-,]b$|"
    r"^(?:cm|cmss|sf|ec|lm)(?:bx|sx|bi|xc|sbx)|^cmssbx|^cmbx", re.I)


#: A line starting with one of these starts a list item.
_BULLET: Final = re.compile("[\u2022\u2023\u25aa\u25b8\u25b6\u25cf\u25e6\u2219\u00b7\u2043\u25a0\u25a1]\\s")


def is_bold_font(name: str) -> bool:
    """Whether the font called ``name`` is a bold face (by its name)."""
    base = name.split("+", 1)[-1]
    return bool(_BOLD.search(base))


@dataclass(frozen=True, slots=True)
class TextLine:
    """One line of a text block: its box (page coordinates), text, font size and bold share.

    A line joined from pieces keeps where each piece starts (``pieces``: left edge and text, left to
    right), so that a word set apart from it later goes in its place.
    """

    box: Box
    text: str
    font_size: float
    bold: float
    pieces: tuple[tuple[float, str], ...] = ()


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
    #: Loose vector strokes drawn on the page: their boxes, and whether each is a curve (not a line or rectangle).
    strokes: list[tuple[Box, bool]] = field(default_factory=list)
    #: Clockwise turn (degrees) applied beyond the page's own rotation to set its text upright.
    turn: int = 0
    #: Boxes drawn around text (see :mod:`.panels`).
    panels: list[Box] = field(default_factory=list)


def _chars(item: Any, layout: Any) -> list[Any]:
    """The characters of ``item`` (a line, a block) in order, at any depth."""
    char_type, space_type = layout.LTChar, layout.LTAnno
    if isinstance(item, char_type):
        return [item]
    try:
        children = list(item)
    except TypeError:
        return []
    found: list[Any] = []
    for child in children:
        if isinstance(child, char_type):
            found.append(child)
        elif not isinstance(child, space_type):  # spaces and line ends hold no characters
            found.extend(_chars(child, layout))
    return found


def _font_stats(chars: Iterable[Any]) -> tuple[float, float]:
    return _visible_font_stats([char for char in chars if char.get_text().strip()])


def _visible_font_stats(visible: list[Any]) -> tuple[float, float]:
    """Median size and bold share of ``visible``, characters that show something."""
    if not visible:
        return 0.0, 0.0
    size = float(statistics.median([char.size for char in visible]))
    # Characters of a line share a few fonts: judge each font's name once.
    bold = sum(count for name, count in Counter(char.fontname for char in visible).items()
               if is_bold_font(name)) / len(visible)
    return round(size, 2), round(bold, 3)


def _has_graphics(item: Any, layout: Any) -> bool:
    if isinstance(item, (layout.LTImage, layout.LTCurve)):
        return True
    if isinstance(item, layout.LTFigure):
        return any(_has_graphics(child, layout) for child in item)
    return False


def _line_content(line: Any, layout: Any) -> tuple[str, list[Any]]:
    """The text of a pdfminer text line and its visible characters, read in one pass over it."""
    char_type, space_type = layout.LTChar, layout.LTAnno
    pieces: list[str] = []
    visible: list[Any] = []
    for child in line:
        if isinstance(child, char_type):
            text = child.get_text()
            pieces.append(text)
            if text.strip():
                visible.append(child)
        elif isinstance(child, space_type):
            pieces.append(child.get_text())
        else:  # not a plain line of characters and spaces
            return line.get_text(), [char for char in _chars(line, layout) if char.get_text().strip()]
    return "".join(pieces), visible


def _text_lines(item: Any, layout: Any, width: float, height: float) -> list[TextLine]:
    lines = []
    for line in item:
        if not isinstance(line, layout.LTTextLine):
            continue
        raw, visible = _line_content(line, layout)
        text = clean_text(raw).strip()
        if not text:
            continue
        size, bold = _visible_font_stats(visible)
        lines.append(TextLine(to_page_box(line.bbox, width, height), text, size, bold))
    return _join_line_pieces(lines)


def _bridge(left: TextLine, right: TextLine, lines: list[TextLine], side: int) -> str:
    """How the text of the line next above (``side`` -1) or below (1) two pieces meets the gap between them:
    ``"across"`` (a line running across both pieces), ``"into"`` (a word running across the gap or a fifth of
    the way into it, as the words of a paragraph's next line lie where this line has a wide space: the lines of
    two columns leave the gutter between them empty), ``"none"`` (no line there) or ``"clear"``."""
    height = left.box[3] - left.box[1]
    middle = (left.box[1] + left.box[3]) / 2
    start, end = left.box[2], right.box[0]
    least = max(1.0, 0.2 * (end - start))
    near = [line for line in lines if 0.5 * height < side * ((line.box[1] + line.box[3]) / 2 - middle) <= 1.6 * height]
    if not near:
        return "none"
    if any(line.box[0] <= left.box[0] and line.box[2] >= right.box[2] for line in near):
        return "across"
    if any(line.box[0] <= start and line.box[2] >= end or min(line.box[2], end) - max(line.box[0], start) >= least
           for line in near):
        return "into"
    return "clear"


def _joins(left: TextLine, right: TextLine, lines: list[TextLine]) -> bool:
    """Whether two pieces side by side on one line are pieces of one line of a paragraph."""
    above, below = _bridge(left, right, lines, -1), _bridge(left, right, lines, 1)
    if "clear" in (above, below):
        return False
    # The first or last line of a block: a word of the line on its other side must tell.
    return "none" not in (above, below) or "into" in (above, below)


def _join_line_pieces(lines: list[TextLine]) -> list[TextLine]:
    """Pieces of one line of a paragraph, which a wide justified gap split, joined left to right.

    Two pieces side by side on one line join when text on the lines right
    above and right below them runs into the gap between them (so they are
    not the lines of two columns that pdfminer put in one block), or, for the
    first or last line of a block, when a word of the line on its other side
    does. A line in
    three or more pieces is joined in the order of its pieces. Lines joined
    run across the gaps of the lines next to them (wide spaces of a narrow
    column lying one above the other), so joining goes on while it joins.
    """
    while True:
        joined = _join_pieces_once(lines)
        if len(joined) == len(lines):
            return joined
        lines = joined


def _join_pieces_once(lines: list[TextLine]) -> list[TextLine]:
    order = sorted(range(len(lines)), key=lambda index: lines[index].box[1] + lines[index].box[3])
    # Lines by the middle of their height, to find those next above and below a line at once.
    middles = [(lines[index].box[1] + lines[index].box[3]) / 2 for index in order]
    rows: list[list[int]] = []
    for index in order:
        if rows and same_line(lines[rows[-1][0]], lines[index]):
            rows[-1].append(index)
        else:
            rows.append([index])
    replaced: dict[int, TextLine] = {}
    gone: set[int] = set()
    for row in rows:
        if len(row) < 2:
            continue
        row.sort(key=lambda index: lines[index].box[0])
        reach = 2 * max(lines[index].box[3] - lines[index].box[1] for index in row)
        middle = (lines[row[0]].box[1] + lines[row[0]].box[3]) / 2
        nearby = [lines[index] for index in order[bisect.bisect_left(middles, middle - reach):
                                                  bisect.bisect_right(middles, middle + reach)]]
        runs = [[row[0]]]
        for index in row[1:]:
            left, right = lines[runs[-1][-1]], lines[index]
            if left.box[2] <= right.box[0] and _joins(left, right, nearby):
                runs[-1].append(index)
            else:
                runs.append([index])
        for run in runs:
            if len(run) > 1:
                replaced[min(run)] = _joined_line([lines[index] for index in run])
                gone.update(index for index in run if index != min(run))
    if not replaced:
        return lines
    return [replaced.get(index, line) for index, line in enumerate(lines) if index not in gone]


def _joined_line(pieces: list[TextLine]) -> TextLine:
    """One line made of ``pieces`` (left to right), a space between each."""
    box = (min(piece.box[0] for piece in pieces), min(piece.box[1] for piece in pieces),
           max(piece.box[2] for piece in pieces), max(piece.box[3] for piece in pieces))
    chars = sum(len(piece.text) for piece in pieces)
    bold = round(sum(piece.bold * len(piece.text) for piece in pieces) / max(chars, 1), 3)
    size = max(pieces, key=lambda piece: len(piece.text)).font_size
    placed = tuple(sorted((item for piece in pieces for item in _placed(piece)), key=lambda item: item[0]))
    return TextLine(box, " ".join(text for _x, text in placed), size, bold, placed)


def _placed(line: TextLine) -> tuple[tuple[float, str], ...]:
    return line.pieces or ((line.box[0], line.text),)


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


def _inside_share(inner: Box, outer: Box) -> float:
    width = min(inner[2], outer[2]) - max(inner[0], outer[0])
    height = min(inner[3], outer[3]) - max(inner[1], outer[1])
    area = (inner[2] - inner[0]) * (inner[3] - inner[1])
    if width <= 0 or height <= 0 or area <= 0:
        return 0.0
    return width * height / area


def same_line(a: TextLine, b: TextLine) -> bool:
    """Whether two lines sit on one line of text: their middles within a third of a line apart."""
    middle_a, middle_b = (a.box[1] + a.box[3]) / 2, (b.box[1] + b.box[3]) / 2
    return abs(middle_a - middle_b) <= 0.3 * max(a.box[3] - a.box[1], b.box[3] - b.box[1], 1.0)


def _merge_lines(host: list[TextLine], extra: TextLine) -> None:
    """Put ``extra`` into the line of ``host`` it sits on (by x), or in its place by y."""
    for index, line in enumerate(host):
        if same_line(line, extra):
            placed = tuple(sorted(_placed(line) + _placed(extra), key=lambda item: item[0]))
            box = (min(line.box[0], extra.box[0]), min(line.box[1], extra.box[1]),
                   max(line.box[2], extra.box[2]), max(line.box[3], extra.box[3]))
            chars = len(line.text) + len(extra.text)
            bold = round((line.bold * len(line.text) + extra.bold * len(extra.text)) / max(chars, 1), 3)
            host[index] = TextLine(box, " ".join(text for _x, text in placed), line.font_size, bold, placed)
            return
    host.append(extra)
    host.sort(key=lambda line: (line.box[1], line.box[0]))


def absorb_fragments(page: PageBlocks) -> None:
    """Words split off a line (wide gaps in narrow justified columns) rejoin the block they lie in."""
    texts = [block for block in page.blocks if block.kind == "text" and block.category is None]
    absorbed: set[int] = set()
    # Only a block the fragment lies in can take it: the blocks touching it are the candidates.
    grid = BoxGrid.of([block.box for block in texts])
    place = {id(block): index for index, block in enumerate(texts)}
    for fragment in sorted(texts, key=lambda block: block.width * block.height):
        if len(fragment.lines) > 2:
            continue
        area = fragment.width * fragment.height
        # The block holding the largest share of the fragment, the first of the page's order among equals.
        host, most = None, 0.0
        for index in sorted(grid.near(fragment.box)):
            block = texts[index]
            if block is fragment or block.width * block.height <= area:
                continue
            share = _inside_share(fragment.box, block.box)
            if host is None or share > most:
                host, most = block, share
        if host is None or most < 0.7:
            continue
        lines = list(host.lines)
        for line in fragment.lines:
            _merge_lines(lines, line)
        merged = block_of_lines(lines)
        host.box, host.text, host.lines = merged.box, merged.text, merged.lines
        host.font_size, host.bold = merged.font_size, merged.bold
        grid.add(place[id(host)], host.box)
        grid.remove(place[id(fragment)])
        absorbed.add(id(fragment))
    page.blocks = [block for block in page.blocks if id(block) not in absorbed]


_NUMBER_LINE: Final = re.compile(r"^[\s.\u00b7\u2026]*(?:\d{1,4}|[ivxlc]{1,6})(?:\s*[,\u2013-]\s*\d{1,4})*[\s.]*$", re.I)


#: Page numbers set as separate blocks form a column when at least this many share their right edge ...
_COLUMN_NUMBERS: Final = 3
#: ... within this distance (pt).
_COLUMN_ALIGN: Final = 1.5


class _Places:
    """The text blocks of a page filed by where they are (see :mod:`.spatial`): by their boxes, and by the
    height their lines take, to find those with a line on a given line or in an area, in the page's order."""

    def __init__(self, texts: list[RawBlock]) -> None:
        self.texts = texts
        self.order = {id(block): index for index, block in enumerate(texts)}
        self.blocks = BoxGrid(cell_size(block.box for block in texts))
        lines = [line.box for block in texts for line in block.lines]
        self.rows = BoxGrid(math.inf, row=cell_size([(0.0, box[1], 0.0, box[3]) for box in lines]))
        for block in texts:
            self.moved(block)

    def moved(self, block: RawBlock) -> None:
        """File ``block`` again, its box or lines changed (nothing happens for a block not filed)."""
        index = self.order.get(id(block))
        if index is None:
            return
        self.blocks.add(index, block.box)
        if block.lines:
            self.rows.add(index, (0.0, min(line.box[1] for line in block.lines), 0.0,
                                  max(line.box[3] for line in block.lines)))
        else:
            self.rows.remove(index)

    def level(self, top: float, bottom: float) -> list[RawBlock]:
        """The blocks with lines reaching into ``top``-``bottom`` (and maybe others), in the page's order."""
        return [self.texts[index] for index in sorted(self.rows.near((0.0, top, 0.0, bottom)))]

    def on_line(self, line: TextLine) -> list[RawBlock]:
        """The blocks with a line on ``line`` (see :func:`same_line`), in the page's order."""
        # Lines on one line reach into each other's height, or lie within 0.3 pt of it.
        return [block for block in self.level(line.box[1] - 1.0, line.box[3] + 1.0)
                if any(same_line(line, other) for other in block.lines)]

    def touching(self, area: Box) -> list[RawBlock]:
        """The blocks whose boxes may touch ``area`` (all those that do), in the page's order."""
        return [self.texts[index] for index in sorted(self.blocks.near(area))]


def _ends_line(number: RawBlock, places: _Places) -> bool:
    """Whether ``number`` ends its line: no text to its right on it, and the entry on its left is the
    nearest text that way, with no column of other text standing in the space between them."""
    line = number.lines[0]
    beside = [block for block in places.on_line(line) if block is not number]
    if any(block.box[0] >= number.box[2] for block in beside):
        return False
    entry = max((block for block in beside if block.box[2] <= number.box[0]), key=lambda block: block.box[2],
                default=None)
    if entry is None:
        return False
    reach = 1.5 * max(line.box[3] - line.box[1], 1.0)
    between = places.touching((entry.box[2], line.box[1] - reach - 1.0, number.box[0], line.box[3] + reach + 1.0))
    return not any(block.box[0] > entry.box[2] and block.box[2] < number.box[0]
                   and block.box[1] - reach < line.box[3] and block.box[3] + reach > line.box[1]
                   for block in between if block is not number)


def _aligned_numbers(texts: list[RawBlock], places: _Places) -> list[list[RawBlock]]:
    """Single page numbers, each a block of its own, set flush right in a column (a contents list)."""
    singles = sorted((block for block in texts if len(block.lines) == 1 and _NUMBER_LINE.match(block.lines[0].text)
                      and _ends_line(block, places)), key=lambda block: block.box[2])
    columns: list[list[RawBlock]] = []
    for block in singles:
        if columns and block.box[2] - columns[-1][0].box[2] <= _COLUMN_ALIGN:
            columns[-1].append(block)
        else:
            columns.append([block])
    return [column for column in columns if len(column) >= _COLUMN_NUMBERS]


def attach_number_columns(page: PageBlocks) -> None:
    """Page numbers set in a column beside a list (a contents list, an index) join the entries they end.

    The column is a block of numbers within 250 pt of the entries, or
    single numbers set flush right at the same edge, each ending the line of
    its entry however far from it (with no other column of text between them).
    """
    texts = [block for block in page.blocks if block.kind == "text" and block.category is None]
    places = _Places(texts)
    emptied: set[int] = set()
    columns: list[tuple[RawBlock, float, list[RawBlock]]] = []
    for column in _aligned_numbers(texts, places):
        columns.append((block_of_lines(sorted((block.lines[0] for block in column), key=lambda line: line.box[1])),
                        page.width, column))
    gathered = {id(block) for _numbers, _reach, column in columns for block in column}
    columns += [(block, 250.0, [block]) for block in texts if id(block) not in gathered and len(block.lines) >= 2]
    for numbers, reach, members in columns:
        if not numbers.lines or not all(_NUMBER_LINE.match(line.text) for line in numbers.lines):
            continue
        # An entry has a line on the line of one of the numbers: only the blocks level with them are looked at.
        level = places.level(min(line.box[1] for line in numbers.lines) - 1.0,
                             max(line.box[3] for line in numbers.lines) + 1.0)
        left = sorted((block for block in level if all(block is not member for member in members)
                       and id(block) not in emptied and block is not numbers
                       and 0 <= numbers.box[0] - block.box[2] <= reach), key=lambda block: -block.box[2])
        placed: dict[int, tuple[RawBlock, list[TextLine]]] = {}
        rest: list[TextLine] = []
        for line in numbers.lines:
            target = next((block for block in left if any(same_line(line, other) for other in block.lines)), None)
            if target is None:
                rest.append(line)
            else:
                placed.setdefault(id(target), (target, list(target.lines)))[1].append(line)
        # Only a column mostly made of the entries' numbers.
        if len(rest) * 2 > len(numbers.lines):
            continue
        for target, lines in placed.values():
            merged_lines: list[TextLine] = [line for line in target.lines]
            for line in lines[len(target.lines):]:
                _merge_lines(merged_lines, line)
            merged = block_of_lines(merged_lines)
            target.box, target.text, target.lines = merged.box, merged.text, merged.lines
            target.font_size, target.bold = merged.font_size, merged.bold
            places.moved(target)
            if len(members) > 1:
                target.category = "Text"  # an entry of a contents list, even when set in bold: not a heading
        if len(members) > 1:  # single numbers gathered into a column: those placed are gone
            kept = {id(line) for line in rest}
            emptied.update(id(block) for block in members if id(block.lines[0]) not in kept)
        elif rest:
            remaining = block_of_lines(rest)
            numbers.box, numbers.text, numbers.lines = remaining.box, remaining.text, remaining.lines
            places.moved(numbers)
        else:
            emptied.add(id(numbers))
    page.blocks = [block for block in page.blocks if id(block) not in emptied]


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
        if isinstance(item, layout.LTCurve):
            # Loose vector strokes: grouped into drawings by the figure finder.
            page.strokes.append((box, not isinstance(item, (layout.LTLine, layout.LTRect))))
        thin = min(box[2] - box[0], box[3] - box[1]) < settings.rule_thickness
        if thin:
            page.rules.append(box)
        elif isinstance(item, layout.LTCurve):
            continue
        else:
            page.blocks.append(RawBlock(box, "figure"))
    slanted = getattr(lt_page, "slanted_chars", [])
    if slanted:
        boxes = [to_page_box(char.bbox, width, height) for char in slanted]
        box = (min(b[0] for b in boxes), min(b[1] for b in boxes), max(b[2] for b in boxes), max(b[3] for b in boxes))
        size, bold = _font_stats(slanted)
        text = clean_text(backdrop_text(slanted, settings.word_margin)).strip()
        if text:
            page.blocks.append(RawBlock(box, "text", text, size, bold, (), "Watermark", "footer"))
    return page
