"""Lettering behind the text: huge characters that other text is drawn over.

Posters and title pages print a word or two in giant, pale letters across
the page (the name of the event, a "DRAFT" set upright) and set the body over
them. pdfminer groups such a letter with the small text inside it into one
line, so a block would run across the panels it spans. A character at least
``backdrop_size_ratio`` times the body size whose box holds the middle of at
least ``backdrop_min_chars`` smaller characters (in the middle half of the box,
both ways) is backdrop, and so are the
giant letters next to it: they are set apart with the slanted watermark
text and never join a text block. Their text is read as the rest of the
page's is: a space where the gap to the next letter along the baseline is
wider than ``word_margin`` times the letter's size, a line break where the
next letter starts a new line.
"""

from __future__ import annotations

import bisect
import math
import statistics
from collections.abc import Sequence
from typing import Any

from .settings import PdfSettings

__all__ = ["backdrop_chars", "backdrop_text"]


def backdrop_chars(chars: Sequence[Any], settings: PdfSettings) -> list[Any]:
    """The characters of ``chars`` that are lettering behind other text (pdfminer's LTChar items)."""
    ratio, needed = settings.backdrop_size_ratio, int(settings.backdrop_min_chars)
    if ratio <= 0 or len(chars) <= needed:
        return []
    body = statistics.median(char.size for char in chars)
    if body <= 0:
        return []
    giants = [char for char in chars if char.size >= ratio * body]
    if not giants:
        return []
    # Middles of the ordinary characters, sorted by x, to count those inside each giant letter.
    middles = sorted(((char.x0 + char.x1) / 2, (char.y0 + char.y1) / 2)
                     for char in chars if char.size < ratio * body)
    xs = [x for x, _y in middles]
    found: list[Any] = []
    for giant in giants:
        # Only the middle of the letter's box counts: a subtitle set close under a huge title reaches
        # into the title's descender space, not into its middle.
        left, right = giant.x0 + 0.25 * (giant.x1 - giant.x0), giant.x1 - 0.25 * (giant.x1 - giant.x0)
        low, high = giant.y0 + 0.25 * (giant.y1 - giant.y0), giant.y1 - 0.25 * (giant.y1 - giant.y0)
        start, stop = bisect.bisect_left(xs, left), bisect.bisect_right(xs, right)
        inside = sum(1 for _x, y in middles[start:stop] if low <= y <= high)
        if inside >= needed:
            found.append(giant)
    # The other letters of the same words go with them, even where nothing is printed over them.
    rest = [giant for giant in giants if giant not in found]
    grown = True
    while rest and found and grown:
        near = [giant for giant in rest if any(_near(giant, other) for other in found)]
        grown = bool(near)
        found.extend(near)
        rest = [giant for giant in rest if giant not in near]
    return _reading(found)


def _reading(chars: list[Any]) -> list[Any]:
    """``chars`` line by line from the top, each line left to right (a raised or lowered letter stays in its line)."""
    lines: list[list[Any]] = []
    for char in sorted(chars, key=lambda char: -char.y1):
        line = next((line for line in lines if any(min(other.y1, char.y1) - max(other.y0, char.y0)
                                                   >= 0.5 * min(other.y1 - other.y0, char.y1 - char.y0)
                                                   for other in line)), None)
        if line is None:
            lines.append([char])
        else:
            line.append(char)
    return [char for line in lines for char in sorted(line, key=lambda char: char.x0)]


def _near(a: Any, b: Any) -> bool:
    reach = 0.5 * min(a.size, b.size)
    return bool(a.x0 - reach <= b.x1 and b.x0 - reach <= a.x1 and a.y0 - reach <= b.y1 and b.y0 - reach <= a.y1)


def backdrop_text(chars: Sequence[Any], word_margin: float) -> str:
    """The text of ``chars`` (set apart, in reading order), with spaces between words and line breaks.

    Gaps are measured along each letter's baseline, so slanted lettering is
    spaced as upright lettering is.
    """
    pieces: list[str] = []
    for index, char in enumerate(chars):
        if index:
            pieces.append(_separator(chars[index - 1], char, word_margin))
        pieces.append(char.get_text())
    return "".join(pieces)


def _separator(before: Any, char: Any, word_margin: float) -> str:
    """What stands between two letters read one after the other: nothing, a space or a line break."""
    a, b = before.matrix[0], before.matrix[1]
    scale = math.hypot(a, b)
    if scale <= 0:
        return ""
    along, across = a / scale, b / scale
    dx, dy = char.matrix[4] - before.matrix[4], char.matrix[5] - before.matrix[5]
    size = max(before.size, char.size, 1e-9)
    # A raised or lowered letter (the A and E of a logo) stays on its line.
    if abs(dy * along - dx * across) > 0.5 * size:
        return "\n"
    gap = dx * along + dy * across - before.adv * scale
    return " " if gap > word_margin * size else ""
