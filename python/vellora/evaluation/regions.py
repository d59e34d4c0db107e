"""True reading order kept as reading regions, so it outlives changes of the elements.

A truth file lists the reading regions of a page in the order a reader
follows them; each region is a box in page coordinates (y down), optionally
with the first words it holds as a reminder::

    {"regions": [{"box": [72, 60, 540, 90], "text": "Title of ..."}, ...],
     "fixed": "why and how the order was corrected by hand, or null"}

A region marked ``"skip": true`` holds what nobody reads as part of the page
(a diagonal "draft" watermark, margin line numbers): elements that belong to
it are left out of the truth.

The true order of any set of elements is derived from it: each element
belongs to the region that holds most of its area (on a tie a reading
region before a skipped one, then the smaller, then the earlier); elements are ordered by region, and inside a region from top to bottom
and then from left to right. Elements that overlap no region, or belong to a
skipped one, are left out of the truth and so are not scored.
"""

from __future__ import annotations

import json
import os
from collections.abc import Sequence
from dataclasses import dataclass
from typing import Any

from ..page import Box, Page, PageElement, PageError

__all__ = ["Region", "load_regions", "parse_regions", "region_of", "truth_from_regions"]


@dataclass(frozen=True, slots=True)
class Region:
    """One reading region: a box (page coordinates, y down) and a reminder of its text."""

    box: Box
    text: str = ""
    skip: bool = False

    def to_dict(self) -> dict[str, Any]:
        data: dict[str, Any] = {"box": [round(value, 2) for value in self.box]}
        if self.text:
            data["text"] = self.text
        if self.skip:
            data["skip"] = True
        return data


def _overlap(a: Box, b: Box) -> float:
    width = min(a[2], b[2]) - max(a[0], b[0])
    height = min(a[3], b[3]) - max(a[1], b[1])
    if width < 0 or height < 0:
        return 0.0
    # Boxes that only touch do not overlap, but a flat element (a rule, a zero-height
    # line) still belongs where it lies.
    if (width == 0 and a[2] > a[0]) or (height == 0 and a[3] > a[1]):
        return 0.0
    return max(width, 0.01) * max(height, 0.01)


def region_of(box: Box, regions: Sequence[Region]) -> int | None:
    """Index of the region holding most of ``box``, or None.

    On a tie a reading region wins over a skipped one, so a skipped region
    drawn around a backdrop does not take the text lying wholly inside it;
    then the smaller region wins, then the earlier.
    """
    best, best_key = None, (0.0, False, 0.0)
    for index, region in enumerate(regions):
        area = _overlap(box, region.box)
        key = (area, not region.skip, -_overlap(region.box, region.box))
        if area > 0 and key > best_key:
            best, best_key = index, key
    return best


def truth_from_regions(page: Page, regions: Sequence[Region]) -> tuple[int, ...]:
    """The ids of ``page``'s elements in the reading order the regions give.

    Inside a region, elements are read line by line, top to bottom, and the
    elements of one line left to right: two elements share a line when they
    are about as tall and lie side by side over most of their height, so a
    head whose pieces sit a fraction of a point apart is read from its left.
    """
    members: dict[int, list[PageElement]] = {}
    for element in page.elements:
        index = region_of(element.box, regions)
        if index is not None and not regions[index].skip:
            members.setdefault(index, []).append(element)
    order: list[int] = []
    for index in sorted(members):
        lines: list[list[PageElement]] = []
        for element in sorted(members[index], key=lambda e: (e.y1, e.x1, e.id)):
            if lines and lines[-1][0].shares_line_with(element):
                lines[-1].append(element)
            else:
                lines.append([element])
        for line in lines:
            order.extend(element.id for element in sorted(line, key=lambda e: (e.x1, e.y1, e.id)))
    return tuple(order)


def parse_regions(data: object, *, source: str | None = None) -> list[Region]:
    """Validate a truth file's content; raises PageError naming the region."""
    try:
        if not isinstance(data, dict) or not isinstance(data.get("regions"), list):
            raise PageError("a truth file must be an object with a 'regions' array")
        regions = []
        for index, raw in enumerate(data["regions"]):
            box = raw.get("box") if isinstance(raw, dict) else None
            if (
                not isinstance(box, list)
                or len(box) != 4
                or not all(isinstance(v, (int, float)) and not isinstance(v, bool) for v in box)
                or box[2] < box[0]
                or box[3] < box[1]
            ):
                raise PageError(f"regions[{index}]: 'box' must be 4 numbers x1, y1, x2, y2 with x1 <= x2, y1 <= y2")
            text = raw.get("text", "")
            skip = raw.get("skip", False)
            if not isinstance(skip, bool):
                raise PageError(f"regions[{index}]: 'skip' must be true or false")
            regions.append(Region((float(box[0]), float(box[1]), float(box[2]), float(box[3])), str(text), skip))
        return regions
    except PageError as error:
        error.source = source
        raise


def load_regions(path: str | os.PathLike[str]) -> list[Region]:
    """Read and validate a truth file (UTF-8 JSON)."""
    source = os.fspath(path)
    try:
        with open(path, encoding="utf-8") as stream:
            data = json.load(stream)
    except (UnicodeDecodeError, json.JSONDecodeError) as error:
        raise PageError(f"not a valid JSON truth file ({error})", source=source) from None
    return parse_regions(data, source=source)
