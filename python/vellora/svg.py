"""Drawing a page and its reading order as SVG.

Each element is a box coloured by its label, numbered by its reading position
(1 is read first), and an arrow leads from each element to the next. Several
orders of the same page (for example both algorithms) are drawn side by side,
one panel each, with one shared legend.

The drawing is plain SVG 1.1 without scripts or external resources. Every
element is a ``<g class="element">`` carrying ``data-id``, ``data-label`` and
``data-position`` attributes and a ``<title>`` tooltip, so the file is easy to
inspect or post-process.
"""

from __future__ import annotations

import base64
import math
import os
import re
import xml.etree.ElementTree as ET
from collections.abc import Mapping, Sequence
from fractions import Fraction
from typing import Final

from .page import LABELS, Box, Page, PageElement

__all__ = ["LABEL_COLOURS", "render_svg", "write_svg"]

#: Box colour of each label.
LABEL_COLOURS: Final[Mapping[str, str]] = {
    "CrossLayout": "#e07b00",
    "HorizontalTitle": "#c8324a",
    "VerticalTitle": "#8e44ad",
    "Vision": "#1f9e74",
    "Regular": "#2f66b3",
}

PANEL_WIDTH: Final = 460.0
MARGIN: Final = 24.0
HEADER: Final = 30.0
LEGEND: Final = 34.0
BADGE_RADIUS: Final = 9.0
FONT: Final = "DejaVu Sans, Helvetica, Arial, sans-serif"
#: Boxes off the page are drawn at most this share of the page beyond its edge.
_OFF_PAGE: Final = 0.05
#: Pages taller than wide (or wider than tall) by more than this are drawn at this ratio.
_MAX_ASPECT: Final = 20


# Characters XML 1.0 cannot hold (control characters, lone surrogates, U+FFFE and
# U+FFFF); PDF text and file names can contain them.
_NOT_XML: Final = re.compile("[^\t\n\r\x20-\ud7ff\ue000-\ufffd\U00010000-\U0010ffff]")


def _xml_text(text: str) -> str:
    return _NOT_XML.sub("\ufffd", text)


def _fmt(value: float) -> str:
    text = f"{value:.2f}".rstrip("0").rstrip(".")
    return "0" if text in ("", "-0") else text


def _sub(parent: ET.Element, tag: str, text: str | None = None, **attributes: str | float) -> ET.Element:
    element = ET.SubElement(
        parent,
        tag,
        {key.rstrip("_").replace("_", "-"): _fmt(value) if isinstance(value, float) else _xml_text(str(value))
         for key, value in attributes.items()},
    )
    if text is not None:
        element.text = _xml_text(text)
    return element


def _legend_width(label: str) -> float:
    # Swatch, gap, text (about 6.6 px per character at 11 px), space to the next entry.
    return 16 + 6.6 * len(label) + 16


def _snippet(text: str, width_px: float, font_px: float) -> str:
    limit = int(width_px / (font_px * 0.56))
    flat = " ".join(text.split())
    if limit < 4:
        return ""
    return flat if len(flat) <= limit else flat[: limit - 1].rstrip() + "\u2026"


class _Frame:
    """Maps page coordinates to drawing coordinates, exactly and clamped, whatever their size.

    The fraction of the page width (height) a coordinate lies at is computed
    with exact rationals, so pages and boxes wider than a double holds, or
    narrower than the smallest one, map to finite positions; anything off
    the page is drawn at most a little beyond its edge.
    """

    def __init__(self, bounds: Box, left: float, top: float, width: float, height: float) -> None:
        self.bounds = tuple(Fraction(value) for value in bounds)
        self.left, self.top, self.width, self.height = left, top, width, height

    @staticmethod
    def _share(value: float, low: Fraction, high: Fraction) -> float:
        share = (Fraction(value) - low) / (high - low)
        return float(min(max(share, Fraction(-_OFF_PAGE)), Fraction(1 + _OFF_PAGE)))

    def x(self, value: float) -> float:
        return self.left + self._share(value, self.bounds[0], self.bounds[2]) * self.width

    def y(self, value: float) -> float:
        return self.top + self._share(value, self.bounds[1], self.bounds[3]) * self.height

    def box(self, box: Box) -> tuple[float, float, float, float]:
        """The drawn box: left, top, width and height."""
        x1, y1, x2, y2 = self.x(box[0]), self.y(box[1]), self.x(box[2]), self.y(box[3])
        return x1, y1, x2 - x1, y2 - y1


def _panel_size(page: Page) -> tuple[float, float]:
    """Width and height of a panel: the page's proportions, within bounds a drawing can show."""
    bounds = [Fraction(value) for value in page.page_bounds]
    aspect = (bounds[3] - bounds[1]) / (bounds[2] - bounds[0])
    aspect = min(max(aspect, Fraction(1, _MAX_ASPECT)), Fraction(_MAX_ASPECT))
    return PANEL_WIDTH, float(PANEL_WIDTH * aspect)


def _centre(frame: _Frame, element: PageElement) -> tuple[float, float]:
    x1, y1, width, height = frame.box(element.box)
    return x1 + width / 2, y1 + height / 2


def _draw_background(panel: ET.Element, frame: _Frame, png: bytes, turn: int) -> None:
    """The page's picture under the boxes, turned clockwise by ``turn`` degrees to match them."""
    width, height = (frame.height, frame.width) if turn % 180 else (frame.width, frame.height)
    centre_x, centre_y = frame.left + frame.width / 2, frame.top + frame.height / 2
    image = _sub(panel, "image", class_="rendering", x=-width / 2, y=-height / 2, width=width, height=height,
                 preserveAspectRatio="none",
                 transform=f"translate({_fmt(centre_x)},{_fmt(centre_y)}) rotate({turn % 360})")
    image.set("xlink:href", "data:image/png;base64," + base64.b64encode(png).decode("ascii"))


def _draw_panel(
    svg: ET.Element, page: Page, name: str, order: Sequence[int], frame: _Frame, background: bytes | None
) -> None:
    left, top = frame.left, frame.top
    panel = _sub(svg, "g", class_="panel", data_algorithm=name)
    _sub(panel, "text", f"{name}", x=left, y=top - 10, font_size=15, font_weight="bold", fill="#222")
    _sub(panel, "rect", class_="page", x=left, y=top, width=frame.width, height=frame.height,
         fill="#ffffff", stroke="#9a9a9a", stroke_width=1)
    if background is not None:
        turn = page.meta.get("turn", 0)
        _draw_background(panel, frame, background, turn if isinstance(turn, int) else 0)

    position_of = {element_id: position for position, element_id in enumerate(order, start=1)}
    elements = page.elements_in(order)

    boxes = _sub(panel, "g", class_="elements")
    for element in page.elements:
        position = position_of[element.id]
        colour = LABEL_COLOURS[element.label]
        x1, y1, width, height = frame.box(element.box)
        group = _sub(boxes, "g", class_="element", data_id=element.id, data_label=element.label,
                     data_position=position)
        tooltip = f"#{position}: id {element.id}, {element.label}"
        if element.text:
            tooltip += "\n" + element.text
        _sub(group, "title", tooltip)
        _sub(group, "rect", x=x1, y=y1, width=width, height=height, fill=colour, fill_opacity=0.16,
             stroke=colour, stroke_width=1.5, rx=2)
        if element.text and background is None:
            snippet = _snippet(element.text, width - 2 * BADGE_RADIUS - 10, 8.0)
            if snippet and height >= 12:
                _sub(group, "text", snippet, class_="snippet", x=x1 + 2 * BADGE_RADIUS + 6, y=y1 + 12,
                     font_size=8, fill="#444")
        if height >= 18 and width >= 34:
            _sub(group, "text", f"id {element.id}", class_="id", x=x1 + width - 3, y=y1 + height - 4,
                 font_size=8, fill=colour, text_anchor="end")

    arrows = _sub(panel, "g", class_="arrows", stroke="#333", stroke_width=1.3, fill="none",
                  stroke_opacity=0.75)
    for before, after in zip(elements, elements[1:]):
        (ax, ay), (bx, by) = _centre(frame, before), _centre(frame, after)
        _sub(arrows, "path", d=f"M{_fmt(ax)},{_fmt(ay)} L{_fmt(bx)},{_fmt(by)}",
             marker_end="url(#arrow)")

    badges = _sub(panel, "g", class_="badges")
    placed: list[tuple[float, float]] = []
    for element in page.elements:
        position = position_of[element.id]
        colour = LABEL_COLOURS[element.label]
        cx, cy = _place_badge(frame.box(element.box), placed)
        placed.append((cx, cy))
        badge = _sub(badges, "g", class_="badge", data_id=element.id)
        _sub(badge, "circle", cx=cx, cy=cy, r=BADGE_RADIUS, fill=colour, stroke="#ffffff", stroke_width=1)
        _sub(badge, "text", str(position), class_="position", x=cx, y=cy + 3.5, font_size=10,
             font_weight="bold", fill="#ffffff", text_anchor="middle")


def _place_badge(box: tuple[float, float, float, float], placed: list[tuple[float, float]]) -> tuple[float, float]:
    """Where an element's badge goes: the first free spot in or beside its box (greedy)."""
    x, y, width, height = box
    inset = BADGE_RADIUS + 2
    if height >= 2 * inset:
        candidates = [(x + inset, y + inset), (x + width - inset, y + inset), (x + inset, y + height - inset),
                      (x + width - inset, y + height - inset)]
        steps = int(min(height / (2 * BADGE_RADIUS), 20))
        candidates += [(x + inset, y + inset + step * 2 * BADGE_RADIUS) for step in range(1, steps)]
    else:  # too low for the badge: just left of it (not over its first letters), on its edges, or along it
        candidates = [(x - BADGE_RADIUS - 1, y + height / 2), (x, y + height / 2), (x + width, y + height / 2)]
        steps = int(min(width / (2 * BADGE_RADIUS), 20))
        candidates += [(x + step * 2 * BADGE_RADIUS, y + height / 2) for step in range(1, steps)]
    candidates += [(x - inset, y + inset), (x + inset, y - inset), (x - inset, y + height - inset)]
    # Then further out, on rings around the box's corner, for crowded spots (labels of a diagram).
    for ring in range(1, 4):
        distance = ring * 2.2 * BADGE_RADIUS
        candidates += [(x + distance * math.cos(step * math.pi / 4), y + distance * math.sin(step * math.pi / 4))
                       for step in range(8)]
    gap = 2 * BADGE_RADIUS + 1

    def clearance(spot: tuple[float, float]) -> float:
        return min((math.hypot(spot[0] - other[0], spot[1] - other[1]) for other in placed), default=math.inf)

    for spot in candidates:
        if clearance(spot) >= gap:
            return spot
    return max(candidates, key=clearance)


def render_svg(page: Page, orders: Mapping[str, Sequence[int]], *, title: str | None = None,
               background: bytes | None = None) -> str:
    """Draw ``page`` once per entry of ``orders`` (name to list of ids) as SVG text.

    Every order must list each element of the page exactly once.
    ``background`` is a PNG picture of the page (for a PDF page, see
    :func:`vellora.pdf.render.page_png`), embedded under the boxes.
    """
    if not orders:
        raise ValueError("at least one order is needed")
    ids = sorted(element.id for element in page.elements)
    for name, order in orders.items():
        if sorted(order) != ids:
            raise ValueError(f"order {name!r} does not list each element of the page exactly once")

    panel_width, panel_height = _panel_size(page)
    title_height = 24.0 if title else 0.0
    legend_widths = [_legend_width(label) for label in LABELS]
    width = max(MARGIN + len(orders) * (PANEL_WIDTH + MARGIN), 2 * MARGIN + sum(legend_widths))
    height = title_height + HEADER + panel_height + LEGEND + MARGIN

    svg = ET.Element("svg", {
        "xmlns": "http://www.w3.org/2000/svg",
        "xmlns:xlink": "http://www.w3.org/1999/xlink",
        "version": "1.1",
        "width": _fmt(width),
        "height": _fmt(height),
        "viewBox": f"0 0 {_fmt(width)} {_fmt(height)}",
        "font-family": FONT,
    })
    defs = _sub(svg, "defs")
    marker = _sub(defs, "marker", id="arrow", viewBox="0 0 10 10", refX=9, refY=5, markerWidth=7,
                  markerHeight=7, orient="auto")
    _sub(marker, "path", d="M0,0 L10,5 L0,10 z", fill="#333")
    _sub(svg, "rect", width=width, height=height, fill="#f6f6f4")
    if title:
        _sub(svg, "text", title, class_="title", x=MARGIN, y=22, font_size=14, fill="#222")

    top = title_height + HEADER
    for index, (name, order) in enumerate(orders.items()):
        frame = _Frame(page.page_bounds, MARGIN + index * (PANEL_WIDTH + MARGIN), top, panel_width, panel_height)
        _draw_panel(svg, page, name, order, frame, background)

    legend = _sub(svg, "g", class_="legend", font_size=11, fill="#222")
    lx, ly = MARGIN, top + panel_height + 22
    for label, label_width in zip(LABELS, legend_widths):
        _sub(legend, "rect", x=lx, y=ly - 9, width=12, height=12, fill=LABEL_COLOURS[label],
             fill_opacity=0.5, stroke=LABEL_COLOURS[label])
        _sub(legend, "text", label, x=lx + 16, y=ly + 1)
        lx += label_width
    return ET.tostring(svg, encoding="unicode", xml_declaration=False) + "\n"


def write_svg(path: str | os.PathLike[str], page: Page, orders: Mapping[str, Sequence[int]], *,
              title: str | None = None, background: bytes | None = None) -> None:
    """Write :func:`render_svg` output to ``path`` (UTF-8; ``-``: standard output), atomically."""
    from .fileio import write_atomic

    text = render_svg(page, orders, title=title, background=background)
    write_atomic(path, '<?xml version="1.0" encoding="UTF-8"?>\n' + text)
