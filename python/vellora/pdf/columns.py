"""Columns: rules drawn between columns, and lines set across the column groups of a page.

* A vertical rule at least :attr:`~.PdfSettings.column_rule_length` long
  (thinner than :attr:`~.PdfSettings.rule_thickness`) separates columns:
  a text line whose characters lie on both sides of it (pdfminer joins the
  lines of neighbouring columns when the gap between them is narrow) is
  cut there, a text block is cut into the lines on each side, and no table
  takes cells from both sides (see :mod:`.tables`).
* A narrow column of dots set as text (a dotted rule drawn with periods) is
  a rule, not text.
* A block whose box overlaps another's without any of its lines doing so,
  because its first line or two run across the top of the other (pdfminer
  joined a heading set across two columns with the first of them), is cut
  where those lines end.
* A line or two of a paragraph that run on into the next column (an
  overfull line) do not widen their block's box over that column, nor
  does a line or two hanging out by a character or less past the edge
  that most of the paragraph's lines share (a justified column's edge).
* A short block (a heading, a caption: at most two lines) that nothing else
  on the page stands beside, nor close above or below it (within half a
  body size: an index's letter heading set level with the gap between two
  entries of the other column stays in its column), with columns ending
  level just above it and others starting level just below it (within
  :attr:`~.PdfSettings.separator_reach` body sizes, their ends and starts
  within a body size of each other, as balanced columns are), and no column rule
  running past it, ends one group of columns and starts the next. Its box
  is widened to the width of those columns, so that what is above it is
  read before what is below it. So is a block at the foot of the page,
  below everything, that reaches across the columns above it (footnotes
  set across the page).
* A block does not reach past the right edge of its column into the
  gutter: the index entries or marginal marks set flush right in the
  gutter beside a code listing would bring its box within a few points of
  the next column, so close that the page would be read across the
  columns. Where two or more paragraphs of its column (above or below it)
  end at one edge and the next column starts beside it past that edge,
  lines reaching more than a character past the edge (at most
  :attr:`~.PdfSettings.gutter_line_share` of the block's lines, and three
  lines or more in the block) do not widen its box beyond it; entries
  making a block of their own, reaching from the column into a gutter at
  most three times their type size wide, keep to the part in the column. (On the
  left, text hanging out past the edge is a column's labels or outdented
  headings, and keeps its place.)
"""

from __future__ import annotations

from collections.abc import Sequence
from typing import Any, Final

from ..page import Box
from .blocks import PageBlocks, RawBlock, TextLine, block_of_lines
from .settings import PdfSettings

__all__ = ["column_rules", "dotted_rules", "page_column_rules", "rule_between", "span_separators", "split_blocks_at_rules",
           "split_lines_at_rules", "split_overlapping", "trim_overflows",
           "trim_to_gutters"]

#: A column is at least this share of the text area wide.
COLUMN_SHARE: Final = 0.2

#: A block between column groups has the band this many body sizes above and below it to itself.
_CLEARANCE: Final = 0.5

#: A gutter holding entries set in it is at most this many times their type size wide.
_GUTTER_CHARS: Final = 3.0

#: Characters a dotted rule set as text is made of (and the line breaks between them).
_DOTS: Final = ".\u00b7\u2022\u2219\u2026:\n "

#: A rule: its x position and the vertical extent it runs along (low, high).
Rule = tuple[float, float, float]


def column_rules(items: Sequence[Any], layout: Any, settings: PdfSettings) -> list[Rule]:
    """The vertical rules among pdfminer's graphic ``items`` (pdfminer coordinates, y up)."""
    rules: list[Rule] = []
    for item in items:
        if not isinstance(item, (layout.LTLine, layout.LTRect)):
            continue
        x0, y0, x1, y1 = item.bbox
        if x1 - x0 < settings.rule_thickness and y1 - y0 >= settings.column_rule_length:
            rules.append(((x0 + x1) / 2, y0, y1))
    return rules


def page_column_rules(page: PageBlocks, settings: PdfSettings) -> list[Rule]:
    """The vertical rules of an analysed page (page coordinates, y down)."""
    return [((rule[0] + rule[2]) / 2, rule[1], rule[3]) for rule in page.rules
            if rule[2] - rule[0] < settings.rule_thickness and rule[3] - rule[1] >= settings.column_rule_length]


def _crossed(x0: float, x1: float, low: float, high: float, rules: Sequence[Rule]) -> list[float]:
    """Positions of the rules lying strictly inside ``x0``-``x1`` that run along ``low``-``high``."""
    return sorted(x for x, top, bottom in rules if x0 < x < x1 and min(high, bottom) > max(low, top))


def split_lines_at_rules(lines: list[Any], rules: Sequence[Rule], layout: Any, word_margin: float) -> list[Any]:
    """pdfminer text lines, each cut where a column rule passes between two of its characters."""
    if not rules:
        return lines
    result: list[Any] = []
    for line in lines:
        if not isinstance(line, layout.LTTextLineHorizontal):
            result.append(line)
            continue
        cuts = _crossed(line.x0, line.x1, line.y0, line.y1, rules)
        chars = [item for item in line if isinstance(item, layout.LTChar)]
        # A character drawn over the rule (text struck through by it) keeps the line whole; a blank
        # (a listing's spaces, set as glyphs) does not.
        if not cuts or any(char.x0 < x < char.x1 and char.get_text().strip() for x in cuts for char in chars):
            result.append(line)
            continue
        pieces: list[Any] = []
        for char in chars:
            side = sum(1 for x in cuts if (char.x0 + char.x1) / 2 >= x)
            while len(pieces) <= side:
                pieces.append(layout.LTTextLineHorizontal(word_margin))
            pieces[side].add(char)
        result.extend(piece for piece in pieces if len(piece))
    return result


def rule_between(a: Box, b: Box, rules: Sequence[Rule]) -> bool:
    """Whether a column rule runs between two boxes set side by side (along the height they share)."""
    left, right = (a, b) if a[0] <= b[0] else (b, a)
    low, high = max(a[1], b[1]), min(a[3], b[3])
    return any(left[2] - 1 <= x <= right[0] + 1 and min(high, bottom) > max(low, top) for x, top, bottom in rules)


def dotted_rules(page: PageBlocks, settings: PdfSettings) -> None:
    """Text blocks that are only dots, thinner than a rule and as long as a column rule, become rules."""
    dotted = [block for block in page.blocks if block.kind == "text" and block.category is None
              and block.width < settings.rule_thickness and block.height >= settings.column_rule_length
              and block.text and not block.text.strip(_DOTS)]
    if dotted:
        page.rules.extend(block.box for block in dotted)
        page.blocks = [block for block in page.blocks if all(block is not rule for rule in dotted)]


def split_blocks_at_rules(page: PageBlocks, settings: PdfSettings) -> None:
    """Text blocks whose lines lie on both sides of a column rule become a block per side."""
    rules = page_column_rules(page, settings)
    if not rules:
        return
    blocks: list[RawBlock] = []
    for block in page.blocks:
        if block.kind != "text" or block.category is not None or len(block.lines) < 2 \
                or not _crossed(block.box[0], block.box[2], block.box[1], block.box[3], rules):
            blocks.append(block)
            continue
        sides: dict[int, list[TextLine]] = {}
        cuts = _crossed(block.box[0], block.box[2], block.box[1], block.box[3], rules)
        for line in block.lines:
            middle = (line.box[0] + line.box[2]) / 2
            sides.setdefault(sum(1 for x in cuts if middle >= x), []).append(line)
        if len(sides) < 2:
            blocks.append(block)
            continue
        blocks.extend(block_of_lines(lines) for _, lines in sorted(sides.items()))
    page.blocks = blocks


def _side_by_side(a: Box, b: Box) -> bool:
    return (a[2] <= b[0] or b[2] <= a[0]) and min(a[3], b[3]) > max(a[1], b[1])


def _in_columns(boxes: list[Box], least: float, edge: int, level: float) -> bool:
    """Whether two of ``boxes``, each at least ``least`` wide, lie in different columns (disjoint horizontally)
    and end (``edge`` 3) or start (``edge`` 1) level with each other, within ``level``: balanced columns."""
    wide = [box for box in boxes if box[2] - box[0] >= least]
    return any((a[2] <= b[0] or b[2] <= a[0]) and abs(a[edge] - b[edge]) <= level
               for index, a in enumerate(wide) for b in wide[index + 1 :])


def _short(block: RawBlock) -> bool:
    return block.kind == "text" and 0 < len(block.lines) <= 2


def span_separators(page: PageBlocks, body: float, settings: PdfSettings) -> None:
    """Widen the short blocks that separate two groups of columns to the width of those columns."""
    if body <= 0 or settings.separator_reach <= 0:
        return
    content = [block for block in page.blocks if block.role == "body" and block.kind in ("text", "figure", "table")]
    if not any(_side_by_side(a.box, b.box) for index, a in enumerate(content) for b in content[index + 1 :]):
        return
    rules = page_column_rules(page, settings)
    reach = settings.separator_reach * body
    # Columns are wide: a sidebar or a margin note beside the text is not one.
    texts = [block.box for block in content if block.kind == "text"]
    area = max(box[2] for box in texts) - min(box[0] for box in texts)
    least, full = COLUMN_SHARE * area, settings.full_width_ratio * area

    def spanning(boxes: list[Box]) -> bool:
        return any(box[2] - box[0] >= full for box in boxes)
    widened: list[tuple[RawBlock, Box]] = []
    for block in content:
        if block.kind != "text" or not block.lines:
            continue
        top, bottom = block.box[1], block.box[3]
        # Something beside it, or close above or below it beside it, makes it part of a column.
        clear = _CLEARANCE * body
        if any(other is not block and min(other.box[3], bottom + clear) > max(other.box[1], top - clear)
               and (other.box[2] <= block.box[0] or block.box[2] <= other.box[0]) for other in content):
            continue
        if any(other is not block and min(other.box[3], bottom) > max(other.box[1], top) for other in content):
            continue
        above = [other.box for other in content if top - reach <= other.box[3] <= top]
        below = [other.box for other in content if bottom <= other.box[1] <= bottom + reach]
        columns_above, columns_below = _in_columns(above, least, 3, body), _in_columns(below, least, 1, body)
        if not any(other.box[1] >= bottom for other in content):
            # At the foot of the page, a block reaching across the columns above it (page-wide footnotes).
            if not _in_columns([box for box in above if box[0] < block.box[2] and block.box[0] < box[2]],
                               least, 3, reach):
                continue
        elif not _short(block) or not (columns_above and (columns_below or spanning(below))
                                        or columns_below and spanning(above)):
            continue  # columns on one side, and columns or a block across them on the other
        left = min(box[0] for box in [*above, *below, block.box])
        right = max(box[2] for box in [*above, *below, block.box])
        if _crossed(left, right, top, bottom, rules):
            continue  # the columns run on past it
        widened.append((block, (left, top, right, bottom)))
    for block, box in widened:
        block.box = box


def _overlap(a: Box, b: Box) -> bool:
    return min(a[2], b[2]) > max(a[0], b[0]) and min(a[3], b[3]) > max(a[1], b[1])


def _common_edge(edges: list[float]) -> float | None:
    """The edge most of ``edges`` share (within half a point), if most do."""
    count, edge = max((sum(1 for other in edges if abs(other - value) <= 0.5), value) for value in edges)
    return edge if count >= 2 and 2 * count >= len(edges) else None


def _edges(lines: list[Box], size: float) -> tuple[float, float]:
    """Left and right edge of lines of a paragraph, without a line or two hanging out past the edges most
    of them share (a justified column's) by a character or less."""
    x0, x1 = min(box[0] for box in lines), max(box[2] for box in lines)
    reach = max(size, 1.0)
    right = _common_edge([box[2] for box in lines])
    if right is not None and 0 < sum(1 for box in lines if right + 0.5 < box[2] <= right + reach) <= 2:
        x1 = max([right] + [box[2] for box in lines if box[2] > right + reach])
    left = _common_edge([box[0] for box in lines])
    if left is not None and 0 < sum(1 for box in lines if left - reach <= box[0] < left - 0.5) <= 2:
        x0 = min([left] + [box[0] for box in lines if box[0] < left - reach])
    return x0, x1


def trim_overflows(page: PageBlocks) -> None:
    """Keep the box of a paragraph to its column: out of a neighbouring block that one or two of its lines
    run into, and inside the edges its justified lines share."""
    texts = [block for block in page.blocks if block.kind == "text" and block.role == "body"]
    for block in texts:
        if len(block.lines) < 3:
            continue
        left, right = _edges([line.box for line in block.lines], block.font_size)
        block.box = (left, block.box[1], right, block.box[3])
        for other in texts:
            if other is block or not _overlap(block.box, other.box):
                continue
            entering = [line for line in block.lines if _overlap(line.box, other.box)]
            if not entering or 3 * len(entering) > len(block.lines):
                continue
            left, right = _edges([line.box for line in block.lines if all(line is not entered for entered in entering)],
                                 block.font_size)
            box = (left, block.box[1], right, block.box[3])
            if not _overlap(box, other.box):
                block.box = box


def _across(a: Box, b: Box) -> bool:
    return min(a[2], b[2]) > max(a[0], b[0])


def split_overlapping(page: PageBlocks) -> None:
    """Cut a text block whose box overlaps another's, though none of its lines does, above the other block."""
    changed = True
    while changed:
        changed = False
        texts = [block for block in page.blocks if block.kind == "text" and block.category is None]
        for block in texts:
            other = next((other for other in texts if other is not block and _overlap(block.box, other.box)
                          and not any(_overlap(line.box, other.box) for line in block.lines)), None)
            if other is None:
                continue
            upper = [line for line in block.lines if line.box[3] <= other.box[1]]
            lower = [line for line in block.lines if line.box[3] > other.box[1]]
            # Lines across the top of a column beside the block's own column (a heading set across both).
            if not upper or len(upper) > 2 or not lower or len(other.lines) < 2 \
                    or not any(_across(line.box, other.box) for line in upper) \
                    or any(_across(line.box, other.box) for line in lower):
                continue
            index = page.blocks.index(block)
            page.blocks[index : index + 1] = [block_of_lines(upper), block_of_lines(lower)]
            changed = True
            break


def _column_edge(block: RawBlock, texts: list[RawBlock]) -> tuple[float, float] | None:
    """The right edge of ``block``'s column that at least two of its paragraphs (above or below it) share,
    when another column starts beside ``block`` past it: the near side of the gutter, and its far side."""
    top, bottom = block.box[1], block.box[3]
    beside = [other.box[0] for other in texts
              if other.box[0] >= block.box[2] and min(other.box[3], bottom) > max(other.box[1], top)]
    if not beside:
        return None
    start = min(beside)
    edges = [other.box[2] for other in texts if other is not block and len(other.lines) >= 2
             and other.box[2] <= start and _across(other.box, block.box)]
    if not edges:
        return None
    edge = max(edges)
    return (edge, start) if sum(1 for other in edges if abs(other - edge) <= 0.5) >= 2 else None


def trim_to_gutters(page: PageBlocks, settings: PdfSettings) -> None:
    """Keep the box of a text block out of the gutter beside its column (see the module documentation)."""
    share = settings.gutter_line_share
    texts = [block for block in page.blocks if block.kind == "text" and block.role == "body"] if share > 0 else []
    trimmed: list[tuple[RawBlock, Box]] = []
    for block in texts:
        found = _column_edge(block, texts) if block.lines else None
        # Reaching out by a character or less is the ragged edge of the text, not an entry in the gutter.
        slack = max(block.font_size, 1.0)
        x0, top, x1, bottom = block.box
        if found is None or not x0 < found[0] < x1 - slack:
            continue
        edge, start = found
        inside = [line.box[2] for line in block.lines if line.box[2] <= edge + slack]
        if not inside and start - edge <= _GUTTER_CHARS * slack:
            # Entries making a block of their own, in a gutter as narrow as gutters are: their part in the column.
            trimmed.append((block, (x0, top, edge, bottom)))
        elif len(block.lines) >= 3 and inside and len(block.lines) - len(inside) <= share * len(block.lines):
            trimmed.append((block, (x0, top, max(edge, *inside), bottom)))
    for block, box in trimmed:
        block.box = box
