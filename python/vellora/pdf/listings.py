"""Numbered listings: code lines whose numbers are set in a column at their left.

pdfminer keeps a line number apart from its code line when the code is
indented far from it, and breaks a listing into many small blocks: one per
number, one per group of code lines. Left alone, the numbers make a narrow
column of their own, and the small blocks make every paragraph beside the
listing look wide.

A line number is a line holding only a number of one to four digits (or a
line starting with one, when pdfminer kept it on its code line) that
starts the lines of its column (some text near it starts where it does)
and is not in the margin left of all the text (those are the line numbers
of a manuscript, see :mod:`.furniture`). Numbers that follow each other
(one more each time) down the same place are a numbering (two at least:
a number alone may be anything), cut into listings where they are more
than :attr:`~.PdfSettings.listing_spacing` line heights apart.
Each number joins the text line it shares a line with, the nearest one to
its right within :attr:`~.PdfSettings.listing_gap` times its height; these
lines, and the lines set among them (in the listing's extent), become one block. What else the
blocks held (the paragraph introducing the listing) stays a block of its
own.
"""

from __future__ import annotations

import re
from typing import Final

from .blocks import PageBlocks, RawBlock, TextLine, block_of_lines, same_line
from .settings import PdfSettings

__all__ = ["join_listings"]

_NUMBER: Final = re.compile(r"^\d{1,4}$")
#: A line starting with its number (pdfminer kept them together).
_NUMBERED: Final = re.compile(r"^(\d{1,4})\s")
#: Lines are looked up by the height of their middle in steps of this many points (a line of text
#: up to about 30 points high shares a line only with lines in the same step or the next ones).
_ROW: Final = 10.0


def _value(line: TextLine) -> int:
    match = _NUMBERED.match(line.text)
    return int(match.group(1) if match else line.text)


def _chained(lines: list[tuple[TextLine, RawBlock]], settings: PdfSettings) -> list[list[tuple[TextLine, RawBlock]]]:
    """The numbers grouped into listings.

    Numbers counting on (one more each time) down the same place are one
    numbering, however far apart (a listing may go on after a paragraph);
    a numbering of two numbers at least is cut into listings where the
    next number is more than :attr:`~.PdfSettings.listing_spacing` line
    heights further down.
    """
    ordered = sorted(lines, key=lambda item: item[0].box[1])
    numberings: list[list[tuple[TextLine, RawBlock]]] = []
    for item in ordered:
        line = item[0]
        height = max(line.box[3] - line.box[1], 1.0)
        value = _value(line)
        for numbering in numberings:
            last = numbering[-1][0]
            if _value(last) + 1 == value and abs(last.box[0] - line.box[0]) <= height and line.box[1] >= last.box[1]:
                numbering.append(item)
                break
        else:
            numberings.append([item])
    listings: list[list[tuple[TextLine, RawBlock]]] = []
    for numbering in numberings:
        if len(numbering) < 2:
            continue  # a number alone may be anything
        for index, item in enumerate(numbering):
            line = item[0]
            if index and line.box[1] - numbering[index - 1][0].box[1] <= settings.listing_spacing * max(
                    line.box[3] - line.box[1], 1.0):
                listings[-1].append(item)
            else:
                listings.append([item])
    return [listing for listing in listings if any(_NUMBER.match(line.text) for line, _ in listing)]


def join_listings(page: PageBlocks, settings: PdfSettings) -> None:
    """Join each numbered listing's numbers and code lines into one block."""
    # One listing at a time: a block may hold lines of two listings (the end of one, the start of the next).
    while _join_one(page, settings):
        pass


def _join_one(page: PageBlocks, settings: PdfSettings) -> bool:
    """Join the first listing with a number still apart from its code line; whether there was one."""
    texts = [block for block in page.blocks if block.kind == "text" and block.category is None and block.lines]
    words = [line.box[0] for block in texts for line in block.lines if not _NUMBER.match(line.text)]
    if not words:
        return False
    # Numbers left of all the text are margin line numbers (see the furniture), not a listing's.
    margin = min(words) + 1
    numbers = [(line, block) for block in texts for line in block.lines
               if (_NUMBER.match(line.text) or _NUMBERED.match(line.text)) and line.box[0] > margin - 1
               and (_NUMBERED.match(line.text) is None or len(block.lines) > 1)]
    if not numbers:
        return False
    made: list[RawBlock] = []
    starts = [(line.box[0], line.box[1], line.box[3]) for block in texts for line in block.lines
              if not _NUMBER.match(line.text)]
    # The lines that may follow a number, by the height of their middle (in steps of _ROW points).
    rows: dict[int, list[tuple[TextLine, RawBlock]]] = {}
    for block in texts:
        for line in block.lines:
            if not _NUMBER.match(line.text):
                rows.setdefault(int((line.box[1] + line.box[3]) / 2 // _ROW), []).append((line, block))
    for listing in _chained(numbers, settings):
        first = listing[0][0]
        height = max(first.box[3] - first.box[1], 1.0)
        left = min(line.box[0] for line, _ in listing)
        top, bottom = first.box[1], listing[-1][0].box[3]
        # The numbers start the column's lines: text above, below or among them starts where they do.
        if not any(left - 3 * height <= x <= left + 0.5 * height and top - 20 * height <= y1 and y0 <= bottom
                   + 20 * height for x, y0, y1 in starts):
            continue
        members: dict[int, RawBlock] = {}
        joined: dict[int, TextLine] = {}  # a number line's id -> the code line it joins
        for line, block in listing:
            members[id(block)] = block
            if not _NUMBER.match(line.text):
                continue  # already on its code line
            reach = settings.listing_gap * max(line.box[3] - line.box[1], 1.0)
            row = int((line.box[1] + line.box[3]) / 2 // _ROW)
            beside = [(other, candidate) for key in (row - 1, row, row + 1) for other, candidate in rows.get(key, ())
                      if same_line(line, other) and 0 <= other.box[0] - line.box[2] <= reach]
            if beside:
                code, holder = min(beside, key=lambda pair: pair[0].box[0])
                members[id(holder)] = holder
                joined[id(line)] = code
        if not joined:
            continue
        numbered = {id(code): line for line_id, code in joined.items()
                    for line, _ in listing if id(line) == line_id}
        taken = {id(line) for line in numbered.values()}
        # The listing's lines: the numbered ones and those set among them; the rest of a block
        # (the paragraph that introduces the listing) stays a block of its own.
        span_top = min(line.box[1] for line, _ in listing) - 0.5 * height
        span_bottom = max(line.box[3] for line, _ in listing) + 0.5 * height
        right = max(code.box[2] for code in joined.values())
        for block in texts:
            if id(block) not in members and all(
                    span_top <= line.box[1] and line.box[3] <= span_bottom and left <= line.box[0] < right
                    for line in block.lines):
                members[id(block)] = block  # a code line's end, set far out on a line of its own
        lines: list[TextLine] = []
        for block in members.values():
            rest: list[TextLine] = []
            for line in block.lines:
                if id(line) in taken:
                    continue
                number = numbered.get(id(line))
                if number is not None:
                    box = (number.box[0], min(number.box[1], line.box[1]), line.box[2],
                           max(number.box[3], line.box[3]))
                    lines.append(TextLine(box, f"{number.text} {line.text}", line.font_size, line.bold))
                elif span_top <= line.box[1] and line.box[3] <= span_bottom and line.box[0] >= left - 1:
                    lines.append(line)
                else:
                    rest.append(line)
            if rest:
                made.append(block_of_lines(rest))
        lines.sort(key=lambda line: (line.box[1], line.box[0]))
        made.append(block_of_lines(lines))
        page.blocks = [block for block in page.blocks if id(block) not in members] + made
        return True
    return False
