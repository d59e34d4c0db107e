"""Figures: which graphics are pictures, and the text drawn over them.

An image or a form object that draws graphics is a figure unless it is a
rule or stroke (thinner than :attr:`~.PdfSettings.rule_thickness`, already
set apart when the blocks were collected) or an icon (smaller than
:attr:`~.PdfSettings.icon_size` both ways, such as an ORCID or e-mail
symbol). A figure with sentences inside it (a shaded frame around paragraphs, a
slide's block) is decoration, not a picture, and is left out. Vector
drawings made on the page itself (a TikZ or PSTricks picture) are
figures too (see :func:`drawings`). A text block lying inside a figure
(axis labels, legends drawn as page text) is part of the figure: its text
joins the figure's.
"""

from __future__ import annotations

from typing import Final

from ..page import Box
from .blocks import PageBlocks, RawBlock
from .settings import PdfSettings
from .spatial import BoxGrid, cell_size

__all__ = ["drawings", "settle_figures"]

#: Short labels (up to four characters) this close (pt) to a figure belong to it.
_LABEL_SLACK: Final = 8.0
#: A drawing holds less text than this (characters) ...
_DRAWING_TEXT: Final = 200
#: ... and no label this long: a sentence inside makes it a box of text, not a picture.
_LABEL_CHARS: Final = 40
#: Strokes closer than this (pt) belong to one drawing.
_STROKE_GAP: Final = 6.0


def _inside(inner: RawBlock, outer: RawBlock, slack: float = 2.0) -> bool:
    a, b = inner.box, outer.box
    return a[0] >= b[0] - slack and a[1] >= b[1] - slack and a[2] <= b[2] + slack and a[3] <= b[3] + slack


def _near(a: Box, b: Box, gap: float) -> bool:
    return a[0] - gap <= b[2] and b[0] - gap <= a[2] and a[1] - gap <= b[3] and b[1] - gap <= a[3]


def drawings(page: PageBlocks, settings: PdfSettings) -> list[Box]:
    """Areas of vector drawings made on the page itself (not in a form object).

    Strokes lying within :data:`_STROKE_GAP` of each other form a group; a
    group of at least three strokes, one of them a curve (a line or a frame
    alone is a rule or a box around text), larger than an icon, with strokes
    in its middle (a frame around text has them only along its edges), is a
    drawing.
    Strokes across most of the page (rules under running heads) stay apart.
    """
    strokes = [(box, curve) for box, curve in page.strokes if box[2] - box[0] < 0.6 * page.width]
    # The groups in the order they were made (a group merged into another is gone, the grown one made last),
    # filed by their areas to find those near a stroke without testing every group.
    groups: dict[int, tuple[Box, list[tuple[Box, bool]]]] = {}
    grid = BoxGrid(cell_size(box for box, _curve in strokes))
    reach = _STROKE_GAP + 1.0
    for serial, (box, curve) in enumerate(strokes):
        area, members = box, [(box, curve)]
        # Merge with every group it touches, the first made first, repeatedly, as a group grows.
        while True:
            near = grid.near((area[0] - reach, area[1] - reach, area[2] + reach, area[3] + reach))
            first = min((key for key in near if _near(area, groups[key][0], _STROKE_GAP)), default=None)
            if first is None:
                break
            other, others = groups.pop(first)
            grid.remove(first)
            area = (min(area[0], other[0]), min(area[1], other[1]), max(area[2], other[2]), max(area[3], other[3]))
            members += others
        groups[serial] = (area, members)
        grid.add(serial, area)
    return [area for area, members in groups.values()
            if any(curve for _box, curve in members) and len(members) >= 3
            and max(area[2] - area[0], area[3] - area[1]) >= settings.icon_size
            and min(area[2] - area[0], area[3] - area[1]) >= settings.rule_thickness
            and _strokes_inside(area, members) >= 2]


def _strokes_inside(area: Box, members: list[tuple[Box, bool]]) -> int:
    """How many strokes lie in the middle of ``area``: a drawing has some, a frame around text has none."""
    margin_x, margin_y = 0.2 * (area[2] - area[0]), 0.2 * (area[3] - area[1])
    inner = (area[0] + margin_x, area[1] + margin_y, area[2] - margin_x, area[3] - margin_y)
    count = 0
    for box, _curve in members:
        centre_x, centre_y = (box[0] + box[2]) / 2, (box[1] + box[3]) / 2
        if inner[0] <= centre_x <= inner[2] and inner[1] <= centre_y <= inner[3]:
            count += 1
    return count


def _holds_prose(figure: RawBlock, blocks: list[RawBlock]) -> bool:
    """Whether sentences lie inside ``figure``: then it is a decorated box of text (a shaded frame,
    a slide's block), not a picture. A picture is labelled with a few words at most."""
    inside = [block for block in blocks if block.kind == "text" and _inside(block, figure)]
    return sum(len(block.text) for block in inside) >= _DRAWING_TEXT or any(
        len(block.text) >= _LABEL_CHARS for block in inside)


def settle_figures(page: PageBlocks, settings: PdfSettings) -> None:
    """Find drawings, drop icons and frames around text, and fold text lying inside a figure into it."""
    page.blocks.extend(RawBlock(area, "figure") for area in drawings(page, settings))
    kept: list[RawBlock] = []
    for block in page.blocks:
        if block.kind == "figure" and (max(block.width, block.height) < settings.icon_size
                                       or _holds_prose(block, page.blocks)):
            continue
        kept.append(block)
    figures = [block for block in kept if block.kind == "figure"]
    # A figure inside a larger figure is part of it.
    figures.sort(key=lambda block: -block.width * block.height)
    outer: list[RawBlock] = []
    for figure in figures:
        if not any(_inside(figure, big) for big in outer):
            outer.append(figure)
    result: list[RawBlock] = []
    for block in kept:
        if block.kind == "figure" and all(block is not figure for figure in outer):
            continue
        if block.kind == "text":
            # Short labels just outside the drawing (vertex or axis labels) belong to it too.
            slack = _LABEL_SLACK if len(block.text) <= 4 else 2.0
            host = next((figure for figure in outer if _inside(block, figure, slack)), None)
            if host is not None:
                host.text = f"{host.text}\n{block.text}" if host.text else block.text
                continue
        result.append(block)
    page.blocks = result
