"""Displays: a formula or a code line set apart from the text, broken into pieces side by side.

pdfminer cuts a displayed formula at every wide space: the fraction, the sum
with its limits, the exponent and the rest of the line become separate
blocks, and so do the fields of a code line aligned with spaces. Left alone,
the pieces sit side by side like narrow columns, and the page is read down
each of them in turn.

Two short text blocks (at most :attr:`~.PdfSettings.display_max_lines`
lines each) are pieces of one display when

* they share a line (overlap vertically),
* the space between them is at most :attr:`~.PdfSettings.display_gap` times
  the body size, and
* that space is bridged: text above or below it, within
  :attr:`~.PdfSettings.display_reach` times the body size, runs across it
  (the paragraph the display stands in), and the space does not go on,
  above or below, as an empty gutter between paragraphs (blocks of three
  lines or more) on both sides. So
  the first lines of two columns are not joined, even under a block across
  both.

Not every short block beside another is a piece of a display:

* the first line of the page in its top band and the last one in its bottom
  band (:attr:`~.PdfSettings.furniture_band`) are running heads and feet;
* a block made only of whole numbers is a column of line numbers (of a
  listing, or in the margin);
* a piece of several lines (a fraction, a sum with its limits, a matrix)
  joins a line set beside its middle, not one level with its first or last
  line (that line's text running on, such as a label), and never another
  piece of several lines.

An equation number ("(3)", "(3.11)") joins the nearest piece on its line,
however far, when that piece is part of a display already or the space
between them is bridged as above. Joined pieces that cross, or share a line
within :attr:`~.PdfSettings.display_gap`, become one display, and the
joining is repeated, since a joined line bridges the spaces of the next one
(the rows of a listing). Each display becomes one block, its lines on one
baseline joined from left to right, its equation number read first when it
stands on the left and last when it stands on the right.
"""

from __future__ import annotations

import re
from collections.abc import Callable
from typing import Final

from .blocks import PageBlocks, RawBlock, TextLine, _merge_lines, absorb_fragments, block_of_lines
from .settings import PdfSettings
from .spatial import BoxGrid

__all__ = ["join_displays"]

#: A block of at least this many lines beside a space is a paragraph: a column, when there is one on both sides.
_PARAGRAPH_LINES: Final = 3
#: Whole numbers alone are line numbers (of a listing, or in the margin), not part of a display.
_LINE_NUMBER: Final = re.compile(r"^\d+(?:\n\d+)*$")
#: An equation number: "(3)", "(3.11)", "(2a)", "(A.1)".
_EQUATION_NUMBER: Final = re.compile(r"^\((?:[A-Z]\.)?\d+(?:\.\d+)*[a-z]?\)$")


class _Near:
    """The text blocks of a page by height, to find those within ``reach`` above or below a line quickly."""

    def __init__(self, texts: list[RawBlock], reach: float) -> None:
        self.reach = max(reach, 1.0)
        self.rows: dict[int, list[RawBlock]] = {}
        self.place = {id(block): index for index, block in enumerate(texts)}
        for block in texts:
            first, last = int((block.box[1] - self.reach) // self.reach), int((block.box[3] + self.reach) // self.reach)
            for row in range(first, last + 1):
                self.rows.setdefault(row, []).append(block)

    def level(self, block: RawBlock) -> list[RawBlock]:
        """The blocks reaching into the height of ``block`` (and some others), in the page's order."""
        found = {id(other): other for other in self.around(block.box[1], block.box[3])}
        return sorted(found.values(), key=lambda other: self.place[id(other)])

    def around(self, top: float, bottom: float) -> list[RawBlock]:
        """Every block within ``reach`` above ``top`` or below ``bottom`` (and some others)."""
        first, last = int(top // self.reach), int(bottom // self.reach)
        if first == last:
            return self.rows.get(first, [])
        found = {id(block): block for row in range(first, last + 1) for block in self.rows.get(row, ())}
        return list(found.values())


def _share_line(a: RawBlock, b: RawBlock) -> bool:
    overlap = min(a.box[3], b.box[3]) - max(a.box[1], b.box[1])
    return overlap > 0.3 * min(a.height, b.height)


def _middle(line: TextLine) -> float:
    return (line.box[1] + line.box[3]) / 2


def _stacked_beside(a: RawBlock, b: RawBlock) -> bool:
    """Whether a piece of several lines (a fraction, a sum with its limits) has the other piece beside its middle.

    A line level with one of its lines continues that line's text instead: a
    label run on, or the next field of a listing's row.
    """
    stacked, single = (a, b) if len(a.lines) > 1 else (b, a)
    if len(stacked.lines) == 1:
        return True
    if len(single.lines) > 1:
        return False
    upper, lower = _middle(stacked.lines[0]), _middle(stacked.lines[-1])
    middle, slack = _middle(single.lines[0]), 0.25 * (lower - upper)
    return upper + slack < middle < lower - slack


def _bridged(left: RawBlock, right: RawBlock, texts: _Near) -> bool:
    """Whether text close above or below the space between ``left`` and ``right`` runs across it,
    and the space does not go on as a gutter between paragraphs on both sides (two columns under
    a block across them)."""
    lo, hi = left.box[2], right.box[0]
    top, bottom = min(left.box[1], right.box[1]), max(left.box[3], right.box[3])
    reach = texts.reach
    candidates = texts.around(top, bottom)
    bridged = False
    for side in ("above", "below"):
        near = [block for block in candidates if block is not left and block is not right and (
            -1 <= top - block.box[3] <= reach if side == "above" else -1 <= block.box[1] - bottom <= reach)]
        across = any(block.box[0] <= lo and block.box[2] >= hi for block in near)
        bridged = bridged or across
        paragraphs = [block for block in near if len(block.lines) >= _PARAGRAPH_LINES]
        beside_left = any(left.box[0] < block.box[2] < hi for block in paragraphs)
        beside_right = any(lo < block.box[0] < right.box[2] for block in paragraphs)
        if beside_left and beside_right and not across:
            return False
    return bridged


def _numbered_display(number: RawBlock, pieces: list[RawBlock], texts: list[RawBlock], near: _Near,
                      joined: Callable[[RawBlock], bool]) -> RawBlock | None:
    """The display an equation number belongs to: the nearest piece on its line, the space between them bridged."""
    beside = [block for block in near.level(number) if block is not number and _share_line(block, number)
              and (block.box[2] <= number.box[0] or block.box[0] >= number.box[2])]
    if not beside:
        return None
    nearest = min(beside, key=lambda block: max(block.box[0] - number.box[2], number.box[0] - block.box[2]))
    if all(nearest is not piece for piece in pieces) or _EQUATION_NUMBER.match(nearest.text):
        return None
    left, right = (nearest, number) if nearest.box[2] <= number.box[0] else (number, nearest)
    return nearest if joined(nearest) or _bridged(left, right, near) else None


def _union(blocks: list[RawBlock]) -> tuple[float, float, float, float]:
    return (min(block.box[0] for block in blocks), min(block.box[1] for block in blocks),
            max(block.box[2] for block in blocks), max(block.box[3] for block in blocks))


def _join_crossing(groups: dict[int, list[RawBlock]], gap_limit: float) -> None:
    """Joined pieces whose areas cross or share a line close by (a formula's upper and lower parts) become one."""
    joined = [group for group in groups.values() if len(group) > 1]
    merged = True
    while merged:
        merged = False
        for index, group in enumerate(joined):
            box = _union(group)
            for other in joined[index + 1 :]:
                area = _union(other)
                gap = max(area[0] - box[2], box[0] - area[2])
                shared = min(box[3], area[3]) - max(box[1], area[1])
                if shared > 0 and gap <= gap_limit:
                    group.extend(other)
                    joined.remove(other)
                    merged = True
                    break
            if merged:
                break
    groups.clear()
    groups.update((index, group) for index, group in enumerate(joined))


def join_displays(page: PageBlocks, settings: PdfSettings) -> None:
    """Join the pieces of each displayed formula or code line into one block (see the module documentation)."""
    from .headings import body_size

    body = body_size(page.blocks)
    if body <= 0:
        return
    # A joined line bridges the spaces of the next one: join until nothing changes.
    joined_any = False
    while _join_once(page, settings, body):
        joined_any = True
    if joined_any:
        # Exponents and limits above or below the joined lines now lie inside them.
        absorb_fragments(page)


def _join_once(page: PageBlocks, settings: PdfSettings, body: float) -> bool:
    texts = [block for block in page.blocks if block.kind == "text" and block.category is None]
    band = settings.furniture_band * page.height
    # The first and last lines of the page, in its top or bottom band, are running heads and feet.
    first = min(block.box[3] for block in texts) if texts else 0.0
    last = max(block.box[1] for block in texts) if texts else 0.0
    pieces = [block for block in texts if len(block.lines) <= settings.display_max_lines
              and not (block.box[3] <= band and block.box[1] <= first)
              and not (block.box[1] >= page.height - band and block.box[3] >= last)]
    parent = {id(block): id(block) for block in pieces}

    def root(key: int) -> int:
        while parent[key] != key:
            parent[key] = parent[parent[key]]
            key = parent[key]
        return key

    gap_limit = settings.display_gap * body
    near = _Near(texts, settings.display_reach * body)
    # The pieces by where they are: those starting right of a piece within the gap, level with it, are
    # the ones it may join (which pair joins first does not change the displays joined).
    starts = BoxGrid.of([block.box for block in pieces])
    for left in pieces:
        for right in (pieces[index] for index in starts.near((left.box[2], left.box[1], left.box[2] + gap_limit + 1.0,
                                                               left.box[3]))):
            gap = right.box[0] - left.box[2]
            if right.box[0] <= left.box[0] or gap < 0 or gap > gap_limit or not _share_line(left, right) \
                    or _LINE_NUMBER.match(left.text) or _LINE_NUMBER.match(right.text) \
                    or not _stacked_beside(left, right):
                continue
            if root(id(left)) != root(id(right)) and _bridged(left, right, near):
                parent[root(id(left))] = root(id(right))
    sizes: dict[int, int] = {}
    for block in pieces:
        sizes[root(id(block))] = sizes.get(root(id(block)), 0) + 1
    for number in pieces:
        if _EQUATION_NUMBER.match(number.text):
            display = _numbered_display(number, pieces, texts, near,
                                        joined=lambda piece: sizes[root(id(piece))] > 1)
            if display is not None and root(id(display)) != root(id(number)):
                parent[root(id(number))] = root(id(display))
    groups: dict[int, list[RawBlock]] = {}
    for block in pieces:
        groups.setdefault(root(id(block)), []).append(block)
    _join_crossing(groups, gap_limit)
    joined = [group for group in groups.values() if len(group) > 1]
    if not joined:
        return False
    taken = {id(block) for group in joined for block in group}
    page.blocks = [block for block in page.blocks if id(block) not in taken]
    for group in joined:
        page.blocks.append(_display_block(group))
    return True


def _display_block(group: list[RawBlock]) -> RawBlock:
    """One block of a display's pieces: lines on one baseline joined from left to right, and its
    equation number, if any, read before the display when it stands on the left, after it on the right."""
    numbers = [block for block in group if _EQUATION_NUMBER.match(block.text)]
    pieces = [block for block in group if not _EQUATION_NUMBER.match(block.text)] or numbers
    lines: list[TextLine] = []
    for line in sorted((line for block in pieces for line in block.lines), key=lambda line: line.box[0]):
        _merge_lines(lines, line)
    if numbers is not pieces:
        start = min(block.box[0] for block in pieces)
        before = [block.lines[0] for block in numbers if block.box[0] < start]
        lines = before + lines + [block.lines[0] for block in numbers if block.box[0] >= start]
    return block_of_lines(lines)
