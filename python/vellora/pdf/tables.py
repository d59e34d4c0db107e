"""Tables: ruled or aligned cells become one element.

* Ruled tables: at least two horizontal rules of about the same extent
  (within :attr:`~.PdfSettings.furniture_tolerance`), one above the other,
  with cells side by side between them (not columns with a rule between
  them), or with three rules as a "booktabs" table has, and not two
  paragraphs or more (three lines or more, over four words a line: the
  columns of an article between its rules), nor a paragraph with no cell
  beside it (an article boxed with a few words set side by side under it).
  Every text block inside the area they span is a cell.
* Aligned tables: at least :attr:`~.PdfSettings.table_min_columns` text
  blocks side by side whose lines sit on the same baselines for at least
  :attr:`~.PdfSettings.table_min_rows` rows, with short lines (cells, not
  paragraphs: at most four words a line on average), with no column rule
  between them, and not across a gutter of the page (see
  :func:`page_gutters`): the command and description rows of a reference
  card sit on one baseline grid across all its columns, but each column is
  read on its own.

Neither takes two columns of running text side by side (see
:func:`_running_text`): the narrow justified columns of a newspaper share
their baselines and hold few words a line, but their sentences run on from
line to line, as a table's cells do not.

The cells are merged into one block of kind ``table``; its text keeps the
rows on lines, the cells of a row separated by tabs.
"""

from __future__ import annotations

import bisect
from collections.abc import Sequence
from typing import Final

from ..page import Box
from .blocks import PageBlocks, RawBlock, TextLine
from .columns import Rule, RuleIndex, page_column_rules
from .settings import PdfSettings
from .spatial import BoxGrid, cell_size

__all__ = ["find_tables"]

#: A column of the page is at least this share of the page's width (a narrower one is a table's).
_PAGE_COLUMN: Final = 0.2

#: Lines of two cells whose feet lie this close (pt) share a baseline.
_BASELINE_SLACK: Final = 1.5

#: Rules looked at right of a cell for one running along all its height (past it, no cell is beside it with
#: no rule between): only a shortcut, the answer is the same without it.
_RULES_SEARCHED: Final = 32


def _union(boxes: Sequence[Box]) -> Box:
    return (min(box[0] for box in boxes), min(box[1] for box in boxes),
            max(box[2] for box in boxes), max(box[3] for box in boxes))


def _within(box: Box, area: Box, slack: float = 1.0) -> bool:
    cx, cy = (box[0] + box[2]) / 2, (box[1] + box[3]) / 2
    return area[0] - slack <= cx <= area[2] + slack and area[1] - slack <= cy <= area[3] + slack


def _table_text(cells: list[RawBlock]) -> str:
    lines = sorted((line for cell in cells for line in cell.lines), key=lambda line: (line.box[1], line.box[0]))
    rows: list[list[TextLine]] = []
    for line in lines:
        if rows and abs(rows[-1][0].box[1] - line.box[1]) <= 0.5 * max(line.box[3] - line.box[1], 1.0):
            rows[-1].append(line)
        else:
            rows.append([line])
    return "\n".join("\t".join(cell.text for cell in sorted(row, key=lambda line: line.box[0])) for row in rows)


def _merge(cells: list[RawBlock], extra: Sequence[Box] = ()) -> RawBlock:
    box = _union([cell.box for cell in cells] + list(extra))
    lines = tuple(line for cell in cells for line in cell.lines)
    sizes = sorted(line.font_size for line in lines) or [0.0]
    return RawBlock(box, "table", _table_text(cells), sizes[len(sizes) // 2], 0.0, lines, "Table")


def _running_text(block: RawBlock, settings: PdfSettings) -> bool:
    """Whether ``block`` is a column of prose rather than a column of cells.

    Prose runs on from line to line: most of its lines start in lower case
    (with more than one word: a column of single lower-case keywords is
    cells) or follow a word broken by a hyphen, and its lines hold several
    words. Cells start afresh on each line.
    """
    lines = block.lines
    if len(lines) < max(settings.table_prose_lines, 1):
        return False
    texts = [line.text.strip() for line in lines]
    if sum(len(text.split()) for text in texts) <= settings.table_prose_words * len(texts):
        return False
    going_on = sum(1 for index, text in enumerate(texts)
                   if (index and texts[index - 1].endswith("-")) or (text[:1].islower() and len(text.split()) >= 2))
    return going_on >= settings.table_prose_share * len(texts)


def _paragraph(block: RawBlock, settings: PdfSettings) -> bool:
    """A paragraph (three lines or more, over four words a line) or a column of running text."""
    return ((len(block.lines) >= 3 and sum(len(line.text.split()) for line in block.lines) > 4 * len(block.lines))
            or _running_text(block, settings))


def _beside(a: Box, b: Box) -> bool:
    return (a[2] <= b[0] or b[2] <= a[0]) and min(a[3], b[3]) > max(a[1], b[1])


def _ruled_areas(page: PageBlocks, settings: PdfSettings) -> list[tuple[Box, int]]:
    tolerance = settings.furniture_tolerance
    horizontal = sorted((rule for rule in page.rules if rule[2] - rule[0] >= 3 * max(rule[3] - rule[1], 1.0)
                         and rule[2] - rule[0] >= 40), key=lambda rule: (rule[1], rule[0]))
    # Rules sorted by their left end: each rule looks only at those starting within the tolerance of it.
    by_left = sorted(range(len(horizontal)), key=lambda index: horizontal[index][0])
    lefts = [horizontal[index][0] for index in by_left]
    areas: list[tuple[Box, int]] = []
    used: set[int] = set()
    for index, rule in enumerate(horizontal):
        if index in used:
            continue
        window = by_left[bisect.bisect_left(lefts, rule[0] - tolerance) : bisect.bisect_right(lefts, rule[0] + tolerance)]
        stack = [rule]
        for other_index in sorted(other for other in window if other > index):
            other = horizontal[other_index]
            if abs(other[0] - rule[0]) <= tolerance and abs(other[2] - rule[2]) <= tolerance:
                stack.append(other)
                used.add(other_index)
        if len(stack) >= 2:
            areas.append((_union(stack), len(stack)))
    return areas


def _aligned_groups(blocks: list[RawBlock], settings: PdfSettings, rules: RuleIndex) -> list[list[RawBlock]]:
    candidates = [block for block in blocks if block.kind == "text" and block.category is None
                  and len(block.lines) >= settings.table_min_rows
                  and sum(len(line.text.split()) for line in block.lines) <= 4 * len(block.lines)]
    # Partners share baselines, so their lines' feet lie within reach of the block's: the candidates
    # filed by the height of their feet, each block looks only at those level with it, and at most
    # table_max_partners of them on each side (a page of thousands of cells costs its cells, not their square).
    feet = [(min(line.box[3] for line in block.lines), max(line.box[3] for line in block.lines))
            for block in candidates]
    levels = BoxGrid.rows_of(feet)
    span = max((low_foot - high_foot for high_foot, low_foot in feet), default=0.0)
    reach = _BASELINE_SLACK + 0.5  # a rounded baseline lies within half a point of its line's foot
    most = settings.table_max_partners
    groups: list[list[RawBlock]] = []
    owners: dict[int, list[int]] = {}  # id of a member: the groups holding it
    for block_index, block in enumerate(candidates):
        baselines = sorted({round(line.box[3]) for line in block.lines})
        if settings.table_min_rows >= 1:
            top, bottom = feet[block_index]
            lowest, highest, reached = top - reach - span, bottom + reach, top - reach
            near = sorted(index for index in levels.near((0.0, reached, 0.0, highest))
                          if lowest <= feet[index][0] <= highest and feet[index][1] >= reached)
        else:
            near = list(range(len(candidates)))
        if most > 0:
            near = _nearest(block, block_index, near, candidates, int(most))
        partners = []
        for other in (candidates[index] for index in near):
            if other is block or not (other.box[2] <= block.box[0] or block.box[2] <= other.box[0]):
                continue
            if rules.between(block.box, other.box):
                continue  # neighbouring columns, not cells
            shared = sum(1 for line in other.lines if _near_baseline(line.box[3], baselines))
            if shared >= settings.table_min_rows:
                partners.append(other)
        if len(partners) + 1 >= settings.table_min_columns:
            group = [block, *partners]
            holding = [owner for member in group for owner in owners.get(id(member), ())]
            if holding:
                # The first group holding any of them takes the others in.
                target = min(holding)
                held = {id(member) for member in groups[target]}
                for member in group:
                    if id(member) not in held:
                        groups[target].append(member)
                        held.add(id(member))
                        owners.setdefault(id(member), []).append(target)
            else:
                for member in group:
                    owners.setdefault(id(member), []).append(len(groups))
                groups.append(group)
    return groups


def _nearest(block: RawBlock, block_index: int, near: list[int], candidates: list[RawBlock], most: int) -> list[int]:
    """``near`` (indexes of ``candidates`` level with ``block``, in order) or, when more than ``most`` of them
    lie on one side of it, the ``most`` nearest on each side, in order."""
    left = [index for index in near if index != block_index and candidates[index].box[2] <= block.box[0]]
    right = [index for index in near if index != block_index and block.box[2] <= candidates[index].box[0]]
    if len(left) <= most and len(right) <= most:
        return near
    left.sort(key=lambda index: (block.box[0] - candidates[index].box[2], index))
    right.sort(key=lambda index: (candidates[index].box[0] - block.box[2], index))
    return sorted(set(left[:most]) | set(right[:most]))


def _near_baseline(foot: float, baselines: list[int]) -> bool:
    """Whether a line's ``foot`` lies within the slack of one of the sorted ``baselines``."""
    index = bisect.bisect_left(baselines, foot - _BASELINE_SLACK)
    return index < len(baselines) and baselines[index] <= foot + _BASELINE_SLACK


def page_gutters(page: PageBlocks, settings: PdfSettings) -> list[Rule]:
    """The gutters between the page's columns, as rules down the whole height of its text.

    A gutter is an empty vertical band at least :attr:`~.PdfSettings.page_gutter`
    wide that no text line crosses from the top of the page's text to its
    bottom, but for a title, running head or foot in the top or bottom
    :attr:`~.PdfSettings.furniture_band` of the page, which may run across
    it; the columns it separates are each at least a fifth of the page's
    width (narrower strips are columns of a table, not of the page).
    """
    if settings.page_gutter <= 0:
        return []
    # A title, running head or foot in the top or bottom band of the page may run across the gutters.
    band = settings.furniture_band * page.height
    every = [line.box for block in page.blocks if block.kind == "text" for line in block.lines]
    lines = [box for box in every if band < box[3] and box[1] < page.height - band]
    if len(lines) < 2:
        return []
    spans: list[list[float]] = []  # [left, right] of the strips the lines cover, left to right
    for box in sorted(lines):
        if spans and box[0] - spans[-1][1] < settings.page_gutter:
            spans[-1][1] = max(spans[-1][1], box[2])
        else:
            spans.append([box[0], box[2]])
    # A strip too narrow to be a column joins its neighbour across the narrower gap.
    while len(spans) > 1:
        narrow = min(range(len(spans)), key=lambda index: spans[index][1] - spans[index][0])
        if spans[narrow][1] - spans[narrow][0] >= _PAGE_COLUMN * page.width:
            break
        gaps = [(spans[index + 1][0] - spans[index][1], index) for index in (narrow - 1, narrow)
                if 0 <= index < len(spans) - 1]
        _gap, index = min(gaps)
        spans[index : index + 2] = [[spans[index][0], max(spans[index][1], spans[index + 1][1])]]
    top, bottom = min(box[1] for box in every), max(box[3] for box in every)
    return [((left[1] + right[0]) / 2, top, bottom) for left, right in zip(spans, spans[1:])]


class _Centres:
    """Blocks filed by their centres, to find those :func:`_within` an area (in the blocks' order)."""

    def __init__(self, blocks: list[RawBlock]) -> None:
        self.blocks = blocks
        self.grid = BoxGrid(cell_size(block.box for block in blocks))
        for index, block in enumerate(blocks):
            centre = ((block.box[0] + block.box[2]) / 2, (block.box[1] + block.box[3]) / 2)
            self.grid.add(index, (centre[0], centre[1], centre[0], centre[1]))

    def within(self, area: Box, slack: float = 1.0) -> list[RawBlock]:
        near = self.grid.near((area[0] - slack, area[1] - slack, area[2] + slack, area[3] + slack))
        return [self.blocks[index] for index in sorted(near) if _within(self.blocks[index].box, area, slack)]


def _cells_side_by_side(cells: list[RawBlock], columns: RuleIndex) -> bool:
    """Whether two of ``cells`` lie side by side with no column rule between them.

    Each cell looks right of it, level with it, as far as the first rule running along all its height (any
    cell past that rule has it between them); the rules are searched from the nearest for a few of them.
    """
    grid = BoxGrid.of([cell.box for cell in cells])
    rules = sorted(columns.rules)
    positions = [rule[0] for rule in rules]
    right_edge = max((cell.box[2] for cell in cells), default=0.0)
    for cell in cells:
        x0, top, x1, bottom = cell.box
        stop = right_edge
        first = bisect.bisect_left(positions, x1 - 1)
        for x, low, high in rules[first : first + _RULES_SEARCHED]:
            if low <= top and high >= bottom:
                stop = min(x, right_edge)
                break
        if any(other is not cell and _beside(cell.box, other.box) and not columns.between(cell.box, other.box)
               for other in (cells[index] for index in grid.each_near((x1, top, stop, bottom)))):
            return True
    return False


def _alone(paragraphs: list[RawBlock], cells: list[RawBlock]) -> bool:
    """Whether one of ``paragraphs`` has none of ``cells`` beside it."""
    if not paragraphs:
        return False
    rows = BoxGrid.rows_of([(cell.box[1], cell.box[3]) for cell in cells])
    return any(not any(other is not cell and _beside(cell.box, other.box)
                       for other in (cells[index] for index in rows.each_near((0.0, cell.box[1], 0.0, cell.box[3]))))
               for cell in paragraphs)


def find_tables(page: PageBlocks, settings: PdfSettings) -> None:
    """Merge the cells of each table on the page into one block."""
    tables: list[RawBlock] = []
    taken: set[int] = set()
    columns = page_column_rules(page, settings)
    column_index = RuleIndex(columns)
    texts = _Centres([block for block in page.blocks if block.kind == "text"])
    for area, rules in _ruled_areas(page, settings):
        cells = texts.within(area)
        # Columns with a rule between them, framed above and below, are no cells.
        side_by_side = _cells_side_by_side(cells, column_index)
        # A frame around a paragraph has two rules and no cells side by side; paragraphs side by side
        # between rules are columns of text (a newspaper's article between its rules), not cells.
        paragraphs = [cell for cell in cells if _paragraph(cell, settings)]
        # A paragraph with no cell beside it is text between rules, as a boxed article: no row of a table.
        alone = _alone(paragraphs, cells)
        if len(cells) >= 2 and (side_by_side or rules >= 3) and len(paragraphs) < 2 and not alone:
            tables.append(_merge(cells, [area]))
            taken.update(id(cell) for cell in cells)
    rest = [block for block in page.blocks if id(block) not in taken]
    gutters = page_gutters(page, settings)
    rest_texts = _Centres([block for block in rest if block.kind == "text"])
    for group in _aligned_groups(rest, settings, RuleIndex(columns + gutters)):
        area = _union([cell.box for cell in group])
        cells = [block for block in rest_texts.within(area) if id(block) not in taken]
        if len(cells) < settings.table_min_columns:
            continue
        if sum(1 for cell in cells if _running_text(cell, settings)) >= 2:
            continue  # columns of an article on a shared baseline grid
        tables.append(_merge(cells))
        taken.update(id(cell) for cell in cells)
    if tables:
        page.blocks = [block for block in page.blocks if id(block) not in taken] + _merge_overlapping(tables)


def _overlap(a: Box, b: Box) -> bool:
    return min(a[2], b[2]) > max(a[0], b[0]) and min(a[3], b[3]) > max(a[1], b[1])


def _merge_overlapping(tables: list[RawBlock]) -> list[RawBlock]:
    """Tables whose areas overlap (a diagram's frames found as several tables) become one."""
    merged = True
    while merged:
        merged = False
        for index, table in enumerate(tables):
            other = next((o for o in tables[index + 1 :] if _overlap(table.box, o.box)), None)
            if other is not None:
                lines = table.lines + other.lines
                box = _union([table.box, other.box])
                text = "\n".join(part for part in (table.text, other.text) if part)
                tables = [t for t in tables if t is not table and t is not other]
                tables.append(RawBlock(box, "table", text, table.font_size, 0.0, lines, "Table"))
                merged = True
                break
    return tables
