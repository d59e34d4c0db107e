"""Page geometry: the visible area (crop box), rotation, and the change to y-down page coordinates.

A page is analysed as it is shown: the crop box (clipped to the media box) is
the page, turned by the page's ``/Rotate`` and by any extra turn that makes
most of its text upright. pdfminer then sees the page with its origin at the
bottom left of that visible area; :func:`to_page_box` flips a box to page
coordinates (origin at the top left, y down).
"""

from __future__ import annotations

import math
from collections.abc import Iterable

from ..page import Box

__all__ = ["Rect", "clip_to", "inside_share", "is_slanted", "page_matrix", "text_turn", "to_page_box", "visible_box"]

Rect = tuple[float, float, float, float]
Matrix = tuple[float, float, float, float, float, float]


def _normal(rect: Iterable[float]) -> Rect:
    x0, y0, x1, y1 = rect
    return (min(x0, x1), min(y0, y1), max(x0, x1), max(y0, y1))


def visible_box(mediabox: Iterable[float], cropbox: Iterable[float]) -> Rect:
    """The crop box clipped to the media box (the media box when they do not overlap)."""
    mx0, my0, mx1, my1 = _normal(mediabox)
    cx0, cy0, cx1, cy1 = _normal(cropbox)
    box = (max(mx0, cx0), max(my0, cy0), min(mx1, cx1), min(my1, cy1))
    if box[2] - box[0] <= 0 or box[3] - box[1] <= 0:
        return (mx0, my0, mx1, my1)
    return box


def page_matrix(visible: Rect, rotate: int) -> Matrix:
    """Matrix taking PDF user space to the upright visible page, origin at its bottom left.

    ``rotate`` is the clockwise turn in degrees (a multiple of 90) that shows the page upright.
    """
    x0, y0, x1, y1 = visible
    turn = rotate % 360
    if turn == 90:
        return (0, -1, 1, 0, -y0, x1)
    if turn == 180:
        return (-1, 0, 0, -1, x1, y1)
    if turn == 270:
        return (0, 1, -1, 0, y1, -x0)
    return (1, 0, 0, 1, -x0, -y0)


def text_turn(matrices: Iterable[tuple[float, float, float, float, float, float]]) -> int:
    """The clockwise turn (0, 90, 180 or 270) that makes most characters upright.

    Each character's text matrix tells which way its baseline runs; the turn
    is the one shared by most characters, 0 when the page has no text.
    """
    votes = [0, 0, 0, 0]
    for a, b, _c, _d, _e, _f in matrices:
        if b == 0 and a > 0:  # upright already, the common case
            votes[0] += 1
            continue
        # Direction of the baseline in the page as currently seen.
        angle = math.degrees(math.atan2(b, a)) % 360
        votes[int(((angle + 45) % 360) // 90)] += 1
    best = max(range(4), key=lambda index: (votes[index], index == 0))
    # A baseline running up (90 degrees) is upright after a clockwise quarter turn.
    return (best * 90) % 360


def is_slanted(matrix: tuple[float, float, float, float, float, float], tolerance: float = 3.0) -> bool:
    """Whether a character's baseline runs at an angle other than a multiple of 90 degrees."""
    angle = math.degrees(math.atan2(matrix[1], matrix[0])) % 90
    return tolerance < angle < 90 - tolerance


def to_page_box(bbox: Rect, width: float, height: float) -> Box:
    """A pdfminer box (y up) as a page box (y down), clipped to the page, rounded to 0.01 pt."""

    def clamp(value: float, high: float) -> float:
        return round(min(max(value, 0.0), high), 2)

    x0, y0, x1, y1 = _normal(bbox)
    return (clamp(x0, width), clamp(height - y1, height), clamp(x1, width), clamp(height - y0, height))


def inside_share(bbox: Rect, width: float, height: float) -> float:
    """The share of ``bbox``'s area (or length, for a line) that lies on the page ``[0, 0, width, height]``."""
    x0, y0, x1, y1 = _normal(bbox)
    inner = clip_to((x0, y0, x1, y1), (0.0, 0.0, width, height))
    if inner is None:
        return 0.0
    span_x, span_y = x1 - x0, y1 - y0
    share_x = (inner[2] - inner[0]) / span_x if span_x > 0 else 1.0
    share_y = (inner[3] - inner[1]) / span_y if span_y > 0 else 1.0
    return share_x * share_y


def clip_to(rect: Rect, bounds: Rect) -> Rect | None:
    """``rect`` clipped to ``bounds``, None when they do not touch."""
    x0, y0 = max(rect[0], bounds[0]), max(rect[1], bounds[1])
    x1, y1 = min(rect[2], bounds[2]), min(rect[3], bounds[3])
    if x1 < x0 or y1 < y0:
        return None
    return (x0, y0, x1, y1)
