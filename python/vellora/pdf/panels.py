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
    # Middles of the characters sorted by x: each shape looks only at those within its width.
    middles = sorted(((char.x0 + char.x1) / 2, (char.y0 + char.y1) / 2) for char in chars)
    xs = [x for x, _y in middles]
    found = []
    for shape in shapes:
        start, stop = bisect.bisect_right(xs, shape[0]), bisect.bisect_left(xs, shape[2])
        if any(shape[1] < y < shape[3] for _x, y in middles[start:stop]):
            found.append(shape)
    return sorted(found)


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
