"""A grid index of boxes: the boxes near a place found without testing every box of the page.

Passes that compare each block with the blocks around it (the block a word
lies in, the blocks overlapping or level with another) ask the index for the
boxes touching an area and test only those, so that a page of thousands of
small boxes takes time in proportion to their number, not its square. The
index only narrows the search: callers test the boxes it returns exactly as
they would test every box, so the results do not depend on it.
"""

from __future__ import annotations

import math
import statistics
from collections.abc import Callable, Iterable, Iterator, Sequence
from typing import Final

from ..page import Box

__all__ = ["BoxGrid", "any_side_by_side", "cell_size"]

#: A box covering more cells than this is kept apart and returned by every search (a page-wide block).
_MAX_CELLS: Final = 1024


def cell_size(boxes: Iterable[Box]) -> float:
    """A cell size for a grid of ``boxes``: the median of their larger sides, at least a point."""
    sides = [max(box[2] - box[0], box[3] - box[1]) for box in boxes]
    if not sides:
        return 1.0
    side = float(statistics.median(sides))
    return side if math.isfinite(side) and side >= 1.0 else 1.0


class BoxGrid:
    """Keys of boxes filed by the square cells (of side ``cell``) their boxes cover.

    :meth:`near` returns every key whose box touches an area (edges included),
    and maybe a few more: it is a superset for the caller to test.
    """

    def __init__(self, cell: float, *, row: float | None = None) -> None:
        """Cells ``cell`` wide and ``row`` high (``cell`` too by default); an infinite ``cell`` files boxes
        by rows only, to find those level with an area, and an infinite ``row`` by columns only."""
        self._cell = cell if cell > 0 and not math.isnan(cell) else 1.0
        height = cell if row is None else row
        self._row = height if height > 0 and not math.isnan(height) else 1.0
        self._cells: dict[tuple[int, int], set[int]] = {}
        self._spans: dict[int, tuple[int, int, int, int] | None] = {}
        self._wide: set[int] = set()
        #: The last column of any box filed.
        self._last = -1

    @classmethod
    def of(cls, boxes: Sequence[Box]) -> BoxGrid:
        """A grid of ``boxes``, each filed under its index, with cells of :func:`cell_size`."""
        grid = cls(cell_size(boxes))
        for index, box in enumerate(boxes):
            grid.add(index, box)
        return grid

    @classmethod
    def rows_of(cls, spans: Sequence[tuple[float, float]]) -> BoxGrid:
        """A grid of heights (top, bottom), each filed under its index by rows of the page alone: ask it with
        :meth:`near` or :meth:`each_near` for the box ``(0, top, 0, bottom)`` of a height."""
        boxes = [(0.0, top, 0.0, bottom) for top, bottom in spans]
        grid = cls(math.inf, row=cell_size(boxes))
        for index, box in enumerate(boxes):
            grid.add(index, box)
        return grid

    def _span(self, box: Box) -> tuple[int, int, int, int] | None:
        """The cells ``box`` covers (first and last column and row), None when its edges are not finite."""
        if not all(math.isfinite(value) for value in box):
            return None
        cell, row = self._cell, self._row
        return (math.floor(box[0] / cell), math.floor(box[1] / row), math.floor(box[2] / cell),
                math.floor(box[3] / row))

    @staticmethod
    def _count(span: tuple[int, int, int, int]) -> int:
        return max(span[2] - span[0] + 1, 0) * max(span[3] - span[1] + 1, 0)

    @staticmethod
    def _cells_of(span: tuple[int, int, int, int]) -> Iterator[tuple[int, int]]:
        for column in range(span[0], span[2] + 1):
            for row in range(span[1], span[3] + 1):
                yield column, row

    def add(self, key: int, box: Box) -> None:
        """File ``key`` under the cells of ``box`` (a key already filed is moved)."""
        if key in self._spans:
            self.remove(key)
        span = self._span(box)
        if span is not None and self._count(span) > _MAX_CELLS:
            span = None
        self._spans[key] = span
        if span is None:
            self._wide.add(key)
            return
        self._last = max(self._last, span[2])
        for place in self._cells_of(span):
            self._cells.setdefault(place, set()).add(key)

    def remove(self, key: int) -> None:
        """Forget ``key`` (nothing happens for a key not filed)."""
        if key not in self._spans:
            return
        span = self._spans.pop(key)
        if span is None:
            self._wide.discard(key)
            return
        for place in self._cells_of(span):
            self._cells[place].discard(key)

    def near(self, box: Box) -> set[int]:
        """The keys of the boxes that may touch ``box`` (all boxes touching it among them)."""
        found = set(self._wide)
        span = self._span(box)
        if span is None or self._count(span) > len(self._spans):
            # An area of more cells than there are boxes: every box.
            found.update(self._spans)
            return found
        cells = self._cells
        for place in self._cells_of(span):
            keys = cells.get(place)
            if keys:
                found.update(keys)
        return found

    def each_near(self, box: Box) -> Iterator[int]:
        """The keys :meth:`near` returns, one cell at a time (a key may come more than once): to stop at the
        first box that tells."""
        yield from self._wide
        span = self._span(box)
        if span is None or self._count(span) > len(self._spans):
            yield from self._spans
            return
        cells = self._cells
        for place in self._cells_of(span):
            keys = cells.get(place)
            if keys:
                yield from keys

    def nearest_start(self, x: float, low: float, high: float, accept: Callable[[int], Box | None]) -> float | None:
        """The least left edge of the boxes that ``accept`` takes (giving their box; None for those it
        refuses), among those that may start at or right of ``x`` in the rows ``low``-``high``: the grid is
        searched a column of cells at a time from ``x`` rightwards, stopping at the column of the edge found."""

        def least(keys: Iterable[int], start: float | None) -> float | None:
            for key in keys:
                box = accept(key)
                if box is not None and (start is None or box[0] < start):
                    start = box[0]
            return start

        start = least(self._wide, None)
        if not all(math.isfinite(value) for value in (x, low, high)):
            return least(self._spans, start)
        cell = self._cell
        first, low_row, high_row = math.floor(x / cell), math.floor(low / self._row), math.floor(high / self._row)
        if (high_row - low_row + 1) * max(self._last - first + 1, 0) > 4 * len(self._spans) + _MAX_CELLS:
            return least(self._spans, start)  # more cells to search than there are boxes: every box at once
        cells = self._cells
        for column in range(first, self._last + 1):
            if start is not None and math.floor(start / cell) < column:
                break  # a box starting in this column or later starts right of the edge found
            for row in range(low_row, high_row + 1):
                keys = cells.get((column, row))
                if keys:
                    start = least(keys, start)
        return start


def any_side_by_side(boxes: list[Box]) -> bool:
    """Whether two of ``boxes`` lie side by side: apart horizontally (edges may touch), sharing some height.

    Each box is tested only against those reaching into its height, found by rows of the page.
    """
    rows = BoxGrid.rows_of([(box[1], box[3]) for box in boxes])
    for index, box in enumerate(boxes):
        for other_index in rows.each_near((0.0, box[1], 0.0, box[3])):
            other = boxes[other_index]
            if other_index > index and (box[2] <= other[0] or other[2] <= box[0]) \
                    and min(box[3], other[3]) > max(box[1], other[1]):
                return True
    return False
