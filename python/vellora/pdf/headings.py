"""Headings: found by size, weight, numbering and position.

A text block is a heading when

* its font size is at least :attr:`~.PdfSettings.heading_size_ratio` times
  the body size (the most common character size on the page); or
* it is short (at most :attr:`~.PdfSettings.heading_max_lines` lines and
  :attr:`~.PdfSettings.heading_max_chars` characters), does not end like a
  sentence, and is set in bold, or starts with a section number ("1
  Introduction", "2.3 Results", "IV. EXPERIMENTS", "A. Data") and is bold,
  slightly larger than the body, or in capitals.

A block whose first line is a heading of this kind and whose remaining
lines are not (a heading set close above its paragraph) is split in two
first. The largest heading in the top part of the first pages, clearly
larger than the body, is the ``Title``; other headings are ``Section-header``.
"""

from __future__ import annotations

import re
from collections import Counter
from typing import Final

from .blocks import PageBlocks, RawBlock, TextLine, block_of_lines
from .settings import PdfSettings
from .spatial import BoxGrid, cell_size

__all__ = ["body_size", "find_headings", "is_heading_text"]

_NUMBERED: Final = re.compile(
    r"^(?:(?:\d+(?:\.\d+)*\.?)|(?:[IVXLC]+\.)|(?:[A-H]\.)|(?:(?:section|chapter|appendix)\s+\w+[.:]?))\s+\S",
    re.I,
)
_SENTENCE_END: Final = re.compile(r"[.,;:]$")
#: A title must be at least this much larger than the body (and the largest text of the page).
_TITLE_RATIO: Final = 1.3


def body_size(blocks: list[RawBlock]) -> float:
    """The most common character size of the page's text (counted per character), 0 without text."""
    counts: Counter[float] = Counter()
    exact: Counter[float] = Counter()
    for block in blocks:
        if block.kind == "text":
            for line in block.lines:
                counts[round(line.font_size * 2) / 2] += len(line.text)
                exact[line.font_size] += len(line.text)
    if not counts:
        return 0.0
    # Most characters win (by half-point steps; ties go to the smaller size) ...
    step = min(counts, key=lambda size: (-counts[size], size))
    # ... and the body size is the most common exact size within that step.
    return max((size for size in exact if round(size * 2) / 2 == step), key=lambda size: (exact[size], -size))


def _capitals(text: str) -> bool:
    letters = [char for char in text if char.isalpha()]
    return len(letters) >= 3 and sum(char.isupper() for char in letters) >= 0.8 * len(letters)


def _letters(text: str, count: int) -> bool:
    """Whether ``text`` holds at least ``count`` letters (looking no further than needed)."""
    for char in text:
        if char.isalpha():
            count -= 1
            if count <= 0:
                return True
    return count <= 0


def is_heading_text(lines: tuple[TextLine, ...], body: float, settings: PdfSettings) -> bool:
    """Whether the lines of a block make a heading (by the rules of this module)."""
    if not lines:
        return False
    text = " ".join(line.text for line in lines)
    chars = sum(len(line.text) for line in lines)
    if not _letters(text, 2):
        return False  # a number or a mark alone is no heading
    size = sorted(line.font_size for line in lines)[len(lines) // 2]
    if body > 0 and size >= settings.heading_size_ratio * body and chars <= 4 * settings.heading_max_chars:
        return True
    if len(lines) > settings.heading_max_lines or chars > settings.heading_max_chars:
        return False
    if not any(char.isalpha() for char in text):
        return False
    bold = sum(line.bold * len(line.text) for line in lines) / max(chars, 1)
    ends_sentence = bool(_SENTENCE_END.search(text.rstrip())) and not _NUMBERED.match(text)
    if bold >= settings.bold_share and not ends_sentence:
        return True
    if _NUMBERED.match(text) and not ends_sentence:
        larger = body > 0 and size >= 1.05 * body
        return larger or _capitals(re.sub(r"^\S+\s+", "", text))
    return False


_LEADERS_OR_NUMBER: Final = re.compile(r"^[\s.\u00b7\u2026]*(?:\d{1,4}|[ivxlc]{1,6})?[\s.]*$", re.I)


#: Widest gap (pt) between a contents entry and its page number.
_ENTRY_GAP: Final = 300.0
_ENDS_WITH_PAGE: Final = re.compile(r"(?:\.\s*){3,}\s*(?:\d{1,4}|[ivxlc]{1,6})$", re.I)


def _contents_entries(blocks: list[RawBlock]) -> set[int]:
    """The lines (by id) followed on their baseline by a page number or leaders: entries of a contents list."""
    numbers = [line for block in blocks if block.kind == "text" for line in block.lines
               if _LEADERS_OR_NUMBER.match(line.text) and any(char.isdigit() or char == "." for char in line.text)]
    # The numbers by where they start and stand: those a line's number may be are on its baseline right of it.
    starts = _line_starts(numbers)
    entries: set[int] = set()
    for block in blocks:
        for line in block.lines:
            if _ENDS_WITH_PAGE.search(line.text):
                entries.add(id(line))
                continue
            near = starts.each_near((line.box[2] - 1.0, line.box[3] - 2.0, line.box[2] + _ENTRY_GAP + 1.0,
                                     line.box[3] + 2.0))
            if any(number is not line and abs(number.box[3] - line.box[3]) <= 1.5
                   and 0 <= number.box[0] - line.box[2] <= _ENTRY_GAP for number in (numbers[index] for index in near)):
                entries.add(id(line))
    return entries


def _line_starts(lines: list[TextLine]) -> BoxGrid:
    """``lines`` (keyed by their place in the list) filed by the start of their foot."""
    starts = BoxGrid(cell_size(line.box for line in lines))
    for index, line in enumerate(lines):
        starts.add(index, (line.box[0], line.box[3], line.box[0], line.box[3]))
    return starts


def _split_heading_line(block: RawBlock, body: float, settings: PdfSettings) -> list[RawBlock]:
    """A block whose first line alone is a heading, as the heading and the rest."""
    if block.kind != "text" or len(block.lines) < 2:
        return [block]
    first, rest = block.lines[:1], block.lines[1:]
    if not is_heading_text(first, body, settings) or is_heading_text(rest[:1], body, settings):
        return [block]
    # The first line must stand on its own: bold or larger than the lines that follow.
    follow = sorted(line.font_size for line in rest)[len(rest) // 2]
    follow_bold = sum(line.bold for line in rest) / len(rest)
    if not (first[0].bold >= settings.bold_share > follow_bold or first[0].font_size >= 1.1 * follow):
        return [block]
    return [block_of_lines(first), block_of_lines(rest)]


_SECTION_NUMBER: Final = re.compile(r"^(?:\d+(?:\.\d+)*\.?|[IVXLC]+\.?|[A-H]\.)$")


def _join_numbers(blocks: list[RawBlock], body: float) -> list[RawBlock]:
    """A section number set apart from its title on the same line ("6   Index") joins the title."""
    joined: list[RawBlock] = []
    taken: set[int] = set()
    # The blocks by where their first line starts and stands: a number's title starts on its baseline right of it.
    titled = [(index, block) for index, block in enumerate(blocks) if block.lines]
    starts = _line_starts([block.lines[0] for _index, block in titled])
    for number in blocks:
        if number.kind != "text" or len(number.lines) != 1 or not _SECTION_NUMBER.match(number.text.strip()):
            continue
        line = number.lines[0]
        reach = 4 * max(line.font_size, 1.0) + 1.0
        near = starts.near((line.box[2] - 1.0, line.box[3] - 2.0, line.box[2] + reach, line.box[3] + 2.0))
        for title in (titled[index][1] for index in sorted(near)):
            if title is number or id(title) in taken or title.kind != "text" or not title.lines:
                continue
            first = title.lines[0]
            gap = first.box[0] - line.box[2]
            # Only a heading's number: the title is bold or large, like the number.
            if abs(first.bold - line.bold) > 0.5 or not (first.bold >= 0.8 or first.font_size >= 1.15 * body):
                continue
            if (abs(first.box[3] - line.box[3]) <= 1.5 and abs(first.font_size - line.font_size) <= 0.5
                    and 0 <= gap <= 4 * max(line.font_size, 1.0)):
                merged = TextLine((line.box[0], min(line.box[1], first.box[1]), first.box[2],
                                   max(line.box[3], first.box[3])), f"{line.text} {first.text}",
                                  first.font_size, min(line.bold, first.bold) if first.bold else line.bold)
                joined.append(block_of_lines((merged, *title.lines[1:])))
                taken.update((id(number), id(title)))
                break
    return [block for block in blocks if id(block) not in taken] + joined


def _join_heading_lines(page: PageBlocks, headings: list[RawBlock]) -> list[RawBlock]:
    """A heading broken over two blocks (its second line centred or indented) becomes one."""
    result: list[RawBlock] = []
    for block in sorted(headings, key=lambda block: (block.box[1], block.box[0])):
        above = result[-1] if result else None
        if (above is not None and abs(above.font_size - block.font_size) <= 0.5
                and abs(above.bold - block.bold) <= 0.3
                and 0 <= block.box[1] - above.box[3] <= 0.5 * (block.box[3] - block.box[1])
                and min(above.box[2], block.box[2]) > max(above.box[0], block.box[0])
                and not _NUMBERED.match(block.text)):
            joined = block_of_lines((*above.lines, *block.lines))
            joined.category = above.category
            page.blocks = [b for b in page.blocks if b is not above and b is not block] + [joined]
            result[-1] = joined
        else:
            result.append(block)
    return result


def find_headings(page: PageBlocks, settings: PdfSettings) -> None:
    """Split headings off their paragraphs and set the category of headings."""
    body = body_size(page.blocks)
    blocks: list[RawBlock] = []
    for block in _join_numbers(page.blocks, body):
        blocks.extend(_split_heading_line(block, body, settings) if block.category is None else [block])
    page.blocks = blocks
    entries = _contents_entries(blocks)
    headings = [block for block in blocks
                if block.kind == "text" and block.category is None and is_heading_text(block.lines, body, settings)
                and not any(id(line) in entries for line in block.lines)]
    for block in headings:
        block.category = "Section-header"
    headings = _join_heading_lines(page, headings)
    # The title: on the first page, in its upper part, the largest text there is, well above the body size.
    largest = max((block.font_size for block in blocks if block.kind == "text" and block.role == "body"), default=0.0)
    title_candidates = [block for block in headings
                        if page.number == 1 and block.box[1] < 0.4 * page.height and body > 0
                        and block.font_size >= max(_TITLE_RATIO * body, largest - 0.5)
                        and sum(char.isalpha() for char in block.text) >= 3]
    if title_candidates:
        min(title_candidates, key=lambda block: block.box[1]).category = "Title"
