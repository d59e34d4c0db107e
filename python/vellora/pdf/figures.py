"""Figures: which graphics are pictures, and the text drawn over them.

An image or a form object that draws graphics is a figure unless it is a
rule or stroke (thinner than :attr:`~.PdfSettings.rule_thickness`, already
set apart when the blocks were collected) or an icon (smaller than
:attr:`~.PdfSettings.icon_size` both ways, such as an ORCID or e-mail
symbol). A text block lying inside a figure (axis labels, legends drawn as
page text) is part of the figure: its text joins the figure's.
"""

from __future__ import annotations

from .blocks import PageBlocks, RawBlock
from .settings import PdfSettings

__all__ = ["settle_figures"]


def _inside(inner: RawBlock, outer: RawBlock, slack: float = 2.0) -> bool:
    a, b = inner.box, outer.box
    return a[0] >= b[0] - slack and a[1] >= b[1] - slack and a[2] <= b[2] + slack and a[3] <= b[3] + slack


def settle_figures(page: PageBlocks, settings: PdfSettings) -> None:
    """Drop icons, and fold text lying inside a figure into it."""
    kept: list[RawBlock] = []
    for block in page.blocks:
        if block.kind == "figure" and max(block.width, block.height) < settings.icon_size:
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
            host = next((figure for figure in outer if _inside(block, figure)), None)
            if host is not None:
                host.text = f"{host.text}\n{block.text}" if host.text else block.text
                continue
        result.append(block)
    page.blocks = result
