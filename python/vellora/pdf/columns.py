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

import bisect
import heapq
from collections.abc import Iterable, Sequence
from typing import Any, Final

from ..page import Box
from .blocks import PageBlocks, RawBlock, TextLine, block_of_lines
from .settings import PdfSettings
from .spatial import BoxGrid, any_side_by_side, cell_size

__all__ = ["RuleIndex", "column_rules", "dotted_rules", "page_column_rules", "rule_between", "span_separators", "split_blocks_at_rules",
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


#: Rules few enough to test them all rather than search the index.
_FEW_RULES: Final = 16


class RuleIndex:
    """Column rules filed by where they run, to find those crossing a line or a block."""

    def __init__(self, rules: Sequence[Rule]) -> None:
        self.rules = list(rules)
        boxes = [(x, min(top, bottom), x, max(top, bottom)) for x, top, bottom in self.rules]
        self.grid = BoxGrid.of(boxes)

    def crossed(self, x0: float, x1: float, low: float, high: float) -> list[float]:
        """Positions of the rules lying strictly inside ``x0``-``x1`` that run along ``low``-``high``, in order."""
        rules = self.rules
        return sorted(x for x, top, bottom in (rules[index] for index in self.grid.near((x0, low, x1, high)))
                      if x0 < x < x1 and min(high, bottom) > max(low, top))

    def between(self, a: Box, b: Box) -> bool:
        """:func:`rule_between` among these rules."""
        if len(self.rules) <= _FEW_RULES:
            return rule_between(a, b, self.rules)
        left, right = (a, b) if a[0] <= b[0] else (b, a)
        return rule_between(a, b, [self.rules[index] for index in sorted(
            self.grid.near((left[2] - 1, max(a[1], b[1]), right[0] + 1, min(a[3], b[3]))))])


def split_lines_at_rules(lines: list[Any], rules: Sequence[Rule], layout: Any, word_margin: float) -> list[Any]:
    """pdfminer text lines, each cut where a column rule passes between two of its characters."""
    if not rules:
        return lines
    index = RuleIndex(rules)
    result: list[Any] = []
    for line in lines:
        if not isinstance(line, layout.LTTextLineHorizontal):
            result.append(line)
            continue
        cuts = index.crossed(line.x0, line.x1, line.y0, line.y1)
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
    index = RuleIndex(rules)
    blocks: list[RawBlock] = []
    for block in page.blocks:
        cuts = [] if block.kind != "text" or block.category is not None or len(block.lines) < 2 \
            else index.crossed(block.box[0], block.box[2], block.box[1], block.box[3])
        if not cuts:
            blocks.append(block)
            continue
        sides: dict[int, list[TextLine]] = {}
        for line in block.lines:
            middle = (line.box[0] + line.box[2]) / 2
            sides.setdefault(sum(1 for x in cuts if middle >= x), []).append(line)
        if len(sides) < 2:
            blocks.append(block)
            continue
        blocks.extend(block_of_lines(lines) for _, lines in sorted(sides.items()))
    page.blocks = blocks


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
    boxes = [block.box for block in content]
    if not any_side_by_side(boxes):
        return
    # The blocks level with a block (any that could be beside it, above or below it) found by rows of the page.
    rows = BoxGrid.rows_of([(box[1], box[3]) for box in boxes])
    rules = RuleIndex(page_column_rules(page, settings))
    reach = settings.separator_reach * body
    # Columns are wide: a sidebar or a margin note beside the text is not one.
    texts = [block.box for block in content if block.kind == "text"]
    if not texts:
        return  # only text is widened: pictures side by side and no text in the body
    area = max(box[2] for box in texts) - min(box[0] for box in texts)
    least, full = COLUMN_SHARE * area, settings.full_width_ratio * area
    # The boxes by their bottom edge and by their top edge, to find those ending above or starting below a block.
    by_bottom = sorted(boxes, key=lambda box: box[3])
    bottoms = [box[3] for box in by_bottom]
    by_top = sorted(boxes, key=lambda box: box[1])
    tops = [box[1] for box in by_top]
    lowest_top = tops[-1]

    def spanning(boxes: list[Box]) -> bool:
        return any(box[2] - box[0] >= full for box in boxes)
    widened: list[tuple[RawBlock, Box]] = []
    for block in content:
        if block.kind != "text" or not block.lines:
            continue
        top, bottom = block.box[1], block.box[3]
        # Something beside it, or close above or below it beside it, makes it part of a column.
        clear = _CLEARANCE * body
        if any(content[index] is not block and min(other[3], bottom + clear) > max(other[1], top - clear)
               and (other[2] <= block.box[0] or block.box[2] <= other[0])
               for index in rows.each_near((0.0, top - clear, 0.0, bottom + clear)) for other in (boxes[index],)):
            continue
        if any(content[index] is not block and min(other[3], bottom) > max(other[1], top)
               for index in rows.each_near((0.0, top, 0.0, bottom)) for other in (boxes[index],)):
            continue
        above = by_bottom[bisect.bisect_left(bottoms, top - reach) : bisect.bisect_right(bottoms, top)]
        below = by_top[bisect.bisect_left(tops, bottom) : bisect.bisect_right(tops, bottom + reach)]
        columns_above, columns_below = _in_columns(above, least, 3, body), _in_columns(below, least, 1, body)
        if not lowest_top >= bottom:
            # At the foot of the page, a block reaching across the columns above it (page-wide footnotes).
            if not _in_columns([box for box in above if box[0] < block.box[2] and block.box[0] < box[2]],
                               least, 3, reach):
                continue
        elif not _short(block) or not (columns_above and (columns_below or spanning(below))
                                        or columns_below and spanning(above)):
            continue  # columns on one side, and columns or a block across them on the other
        left = min(box[0] for box in [*above, *below, block.box])
        right = max(box[2] for box in [*above, *below, block.box])
        if rules.crossed(left, right, top, bottom):
            continue  # the columns run on past it
        widened.append((block, (left, top, right, bottom)))
    for block, box in widened:
        block.box = box


def _overlap(a: Box, b: Box) -> bool:
    return min(a[2], b[2]) > max(a[0], b[0]) and min(a[3], b[3]) > max(a[1], b[1])


def _common_edge(edges: list[float]) -> float | None:
    """The edge most of ``edges`` share (within half a point), if most do."""
    ordered = sorted(edges)
    best: tuple[int, float] | None = None
    for value in dict.fromkeys(edges):
        # The edges within half a point of ``value`` are a run of the sorted edges around it.
        position = bisect.bisect_left(ordered, value)
        first = bisect.bisect_left(range(position + 1), True, key=lambda index: abs(ordered[index] - value) <= 0.5)
        last = bisect.bisect_left(range(position, len(ordered)), True,
                                  key=lambda index: abs(ordered[index] - value) > 0.5) + position
        if best is None or (last - first, value) > best:
            best = (last - first, value)
    assert best is not None
    count, edge = best
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
    grid = BoxGrid.of([block.box for block in texts])
    for index, block in enumerate(texts):
        if len(block.lines) < 3:
            continue
        left, right = _edges([line.box for line in block.lines], block.font_size)
        block.box = (left, block.box[1], right, block.box[3])
        # The box stays within its lines' extent: the blocks it may overlap are among those touching that.
        reach = (min(line.box[0] for line in block.lines), block.box[1], max(line.box[2] for line in block.lines),
                 block.box[3])
        for other in [texts[key] for key in sorted(grid.near(reach))]:
            if other is block or not _overlap(block.box, other.box):
                continue
            entering = [line for line in block.lines if _overlap(line.box, other.box)]
            if not entering or 3 * len(entering) > len(block.lines):
                continue
            entered = {id(line) for line in entering}
            left, right = _edges([line.box for line in block.lines if id(line) not in entered], block.font_size)
            box = (left, block.box[1], right, block.box[3])
            if not _overlap(box, other.box):
                block.box = box
        grid.add(index, block.box)


def _across(a: Box, b: Box) -> bool:
    return min(a[2], b[2]) > max(a[0], b[0])


def _heading_across(block: RawBlock, texts: Iterable[RawBlock]) -> tuple[list[TextLine], list[TextLine]] | None:
    """The lines of ``block`` above and below the top of the first of ``texts`` its box overlaps though none of
    its lines does, when its first line or two run across the top of that block (a heading set across both)."""
    other = next((other for other in texts if other is not block and _overlap(block.box, other.box)
                  and not any(_overlap(line.box, other.box) for line in block.lines)), None)
    if other is None:
        return None
    upper = [line for line in block.lines if line.box[3] <= other.box[1]]
    lower = [line for line in block.lines if line.box[3] > other.box[1]]
    # Lines across the top of a column beside the block's own column (a heading set across both).
    if not upper or len(upper) > 2 or not lower or len(other.lines) < 2 \
            or not any(_across(line.box, other.box) for line in upper) \
            or any(_across(line.box, other.box) for line in lower):
        return None
    return upper, lower


def _split_overlapping_plain(page: PageBlocks) -> None:
    """:func:`split_overlapping` block by block, each against all others, the page read again after each cut."""
    changed = True
    while changed:
        changed = False
        texts = [block for block in page.blocks if block.kind == "text" and block.category is None]
        for block in texts:
            parts = _heading_across(block, texts)
            if parts is None:
                continue
            index = page.blocks.index(block)
            page.blocks[index : index + 1] = [block_of_lines(parts[0]), block_of_lines(parts[1])]
            changed = True
            break


def split_overlapping(page: PageBlocks) -> None:
    """Cut a text block whose box overlaps another's, though none of its lines does, above the other block.

    Blocks are cut in the page's order, the first block to cut first, as if
    the page were read again after each cut; only the blocks touching a block
    cut are looked at again (nothing else changed around the others), and each
    block is tested only against the blocks touching it (see :mod:`.spatial`).
    """
    texts = [block for block in page.blocks if block.kind == "text" and block.category is None]
    if len({id(block) for block in texts}) != len(texts):
        _split_overlapping_plain(page)  # a block listed twice
        return
    grid = BoxGrid(cell_size(block.box for block in texts))
    # Each block's place in the page's order: the two parts of a block cut take its place, one after the other.
    order: dict[int, tuple[int, ...]] = {}
    held: dict[int, RawBlock] = {}
    waiting: list[tuple[tuple[int, ...], int]] = []
    pending: set[int] = set()

    def file(key: int, block: RawBlock, place: tuple[int, ...]) -> None:
        order[key], held[key] = place, block
        grid.add(key, block.box)
        heapq.heappush(waiting, (place, key))
        pending.add(key)

    for key, block in enumerate(texts):
        file(key, block, (key,))
    serial = len(texts)
    while waiting:
        _place, key = heapq.heappop(waiting)
        if key not in pending:
            continue
        pending.discard(key)
        block = held[key]
        near = sorted((order[other], other) for other in grid.near(block.box) if other != key)
        parts = _heading_across(block, (held[other] for _place, other in near))
        if parts is None:
            continue
        index = page.blocks.index(block)
        if page.blocks[index] is not block:  # an equal block earlier on the page takes the cut
            _split_overlapping_plain(page)
            return
        upper, lower = block_of_lines(parts[0]), block_of_lines(parts[1])
        page.blocks[index : index + 1] = [upper, lower]
        touched = grid.near(block.box) | grid.near(upper.box) | grid.near(lower.box)
        grid.remove(key)
        del held[key]
        file(serial, upper, order[key] + (0,))
        file(serial + 1, lower, order[key] + (1,))
        serial += 2
        for other in touched - {key}:
            if other not in pending:
                pending.add(other)
                heapq.heappush(waiting, (order[other], other))


class _Gutters:
    """The blocks of a page, indexed to find beside a block the nearest start of text to its right, and
    above or below it the right edges of paragraphs of its column (see :func:`_column_edge`)."""

    def __init__(self, texts: list[RawBlock]) -> None:
        self.texts = texts
        self.grid = BoxGrid.of([block.box for block in texts])
        # Paragraphs by their right edge.
        self.paragraphs = sorted((block.box[2], index) for index, block in enumerate(texts) if len(block.lines) >= 2)
        self.edges = [edge for edge, _index in self.paragraphs]

    def start_beside(self, block: RawBlock) -> float | None:
        """The left edge of the nearest text starting right of ``block`` level with it (None if none does)."""
        top, bottom = block.box[1], block.box[3]

        def beside(index: int) -> Box | None:
            other = self.texts[index].box
            return other if other[0] >= block.box[2] and min(other[3], bottom) > max(other[1], top) else None

        return self.grid.nearest_start(block.box[2], top, bottom, beside)


def _column_edge(block: RawBlock, gutters: _Gutters) -> tuple[float, float] | None:
    """The right edge of ``block``'s column that at least two of its paragraphs (above or below it) share,
    when another column starts beside ``block`` past it: the near side of the gutter, and its far side."""
    start = gutters.start_beside(block)
    if start is None:
        return None
    # The paragraphs across ``block`` ending at or before ``start``, the rightmost first: the edge is the first
    # one's, shared by a second within half a point of it.
    edge: float | None = None
    sharing = 0
    for position in range(bisect.bisect_right(gutters.edges, start) - 1, -1, -1):
        right, index = gutters.paragraphs[position]
        if right <= block.box[0] or (edge is not None and abs(right - edge) > 0.5):
            break
        other = gutters.texts[index]
        if other is block or not _across(other.box, block.box):
            continue
        if edge is None:
            edge = right
        sharing += 1
        if sharing >= 2:
            return edge, start
    return None


def trim_to_gutters(page: PageBlocks, settings: PdfSettings) -> None:
    """Keep the box of a text block out of the gutter beside its column (see the module documentation)."""
    share = settings.gutter_line_share
    texts = [block for block in page.blocks if block.kind == "text" and block.role == "body"] if share > 0 else []
    trimmed: list[tuple[RawBlock, Box]] = []
    gutters = _Gutters(texts)
    for block in texts:
        found = _column_edge(block, gutters) if block.lines else None
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
