"""Panels: shapes drawn around or behind text, such as a poster's boxes or a brochure's frames.

A panel is a rectangle or a closed path (rounded corners) at least
:attr:`~.PdfSettings.panel_min_size` wide and high, filled or stroked, with
text inside it, that does not cover the whole page (a page background is no
panel). Text does not run across the side of a panel: each side is a rule
between columns (see :mod:`.columns`), so a line pdfminer ran from one panel
into the next is cut there, a block is cut into its lines on each side, and
no table takes cells from two panels. A picture running out of the panel
holding its middle (an image zoomed to fill the panel, shown only inside it)
is cut to the panel.
"""

from __future__ import annotations

import bisect
from collections.abc import Sequence
from typing import Any, Final

from ..page import Box
from .blocks import PageBlocks
from .columns import Rule
from .settings import PdfSettings

__all__ = ["clip_to_panels", "find_panels", "panel_rules"]

#: A shape covering at least this share of the page's width and height is its background.
_BACKGROUND: Final = 0.9

#: pdfminer's box: x0, y0, x1, y1 with y up.
Rect = tuple[float, float, float, float]


def find_panels(items: Sequence[Any], chars: Sequence[Any], layout: Any, width: float, height: float,
                settings: PdfSettings) -> list[Rect]:
    """The panels among pdfminer's graphic ``items`` (pdfminer coordinates), each once."""
    least = settings.panel_min_size
    if least <= 0:
        return []
    shapes: set[Rect] = set()
    for item in items:
        if not isinstance(item, layout.LTCurve) or not (item.fill or item.stroke):
            continue
        if isinstance(item, layout.LTLine) or item.width < least or item.height < least:
            continue
        if item.width >= _BACKGROUND * width and item.height >= _BACKGROUND * height:
            continue
        shapes.add((round(item.x0, 1), round(item.y0, 1), round(item.x1, 1), round(item.y1, 1)))
    if not shapes:
        return []
    index = _PointIndex([((char.x0 + char.x1) / 2, (char.y0 + char.y1) / 2) for char in chars])
    found = [shape for shape in shapes if index.any_inside(shape)]
    return sorted(found)


class _PointIndex:
    """Points sorted by x, in a tree of runs each holding its points' y sorted, to ask whether any lies in a box.

    Each question looks at about ``log2(len(points))`` runs, so a page with
    thousands of shapes costs no more than a few passes over its characters.
    """

    def __init__(self, points: Sequence[tuple[float, float]]) -> None:
        ordered = sorted(points)
        self.xs = [x for x, _y in ordered]
        self.size = size = len(ordered)
        # Node n covers a run of points; its children 2n and 2n + 1 cover its halves; leaves are size + i.
        self.ys: list[list[float]] = [[] for _ in range(2 * size)]
        for position, (_x, y) in enumerate(ordered):
            self.ys[size + position] = [y]
        for node in range(size - 1, 0, -1):
            self.ys[node] = sorted(self.ys[2 * node] + self.ys[2 * node + 1])

    def any_inside(self, box: Rect) -> bool:
        """Whether a point lies strictly inside ``box`` (x0, y0, x1, y1)."""
        low, high = box[1], box[3]
        start = bisect.bisect_right(self.xs, box[0]) + self.size
        stop = bisect.bisect_left(self.xs, box[2]) + self.size
        while start < stop:
            if start & 1:
                if self._holds(self.ys[start], low, high):
                    return True
                start += 1
            if stop & 1:
                stop -= 1
                if self._holds(self.ys[stop], low, high):
                    return True
            start //= 2
            stop //= 2
        return False

    @staticmethod
    def _holds(ys: list[float], low: float, high: float) -> bool:
        return bisect.bisect_right(ys, low) < bisect.bisect_left(ys, high)


def panel_rules(panels: Sequence[Rect]) -> list[Rule]:
    """The sides of ``panels`` as column rules: x position and vertical extent (pdfminer coordinates)."""
    return sorted({(x, y0, y1) for x0, y0, x1, y1 in panels for x in (x0, x1)})


def clip_to_panels(page: PageBlocks, panels: Sequence[Box]) -> None:
    """Cut each figure running out of the panel that holds its middle (page coordinates) to that panel."""
    for block in page.blocks:
        if block.kind != "figure":
            continue
        x0, y0, x1, y1 = block.box
        middle_x, middle_y = (x0 + x1) / 2, (y0 + y1) / 2
        area = (x1 - x0) * (y1 - y0)
        # Most of the figure lies in the panel: a drawing with a small framed node in its middle stays whole.
        holding = [panel for panel in panels if panel[0] <= middle_x <= panel[2] and panel[1] <= middle_y <= panel[3]
                   and not (panel[0] <= x0 and x1 <= panel[2] and panel[1] <= y0 and y1 <= panel[3])
                   and 2 * _overlap(block.box, panel) >= area]
        # The smallest panel holding it: a figure in a box inside a larger box is cut to the inner one.
        if holding:
            panel = min(holding, key=lambda box: (box[2] - box[0]) * (box[3] - box[1]))
            box = (max(x0, panel[0]), max(y0, panel[1]), min(x1, panel[2]), min(y1, panel[3]))
            if box[2] > box[0] and box[3] > box[1]:
                block.box = box


def _overlap(a: Box, b: Box) -> float:
    return max(min(a[2], b[2]) - max(a[0], b[0]), 0.0) * max(min(a[3], b[3]) - max(a[1], b[1]), 0.0)
