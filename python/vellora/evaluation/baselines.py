"""The orders other tools give the same elements: pdftotext and pdfminer.

Neither tool knows our elements, only its own text flow. Each tool's flow is
read as a sequence of small boxes (pdftotext's words in its reading order;
pdfminer's characters, text box by text box, in the order its layout analysis
puts the boxes), and mapped onto the page's elements: a flow unit belongs to
the element that holds its centre (the smallest one when several do), an
element is placed at the median position of its units, and an element with
none (a picture) at the position of the unit nearest its centre. Ties keep
the page's element order.
"""

from __future__ import annotations

import os
import re
import shutil
import statistics
import subprocess
from collections.abc import Sequence
from typing import Any, Final

from ..page import Box, Page

__all__ = ["BASELINES", "BaselineError", "MissingToolError", "order_from_flow", "pdfminer_flow", "pdftotext_flow"]

#: The tools whose orders are scored beside the algorithms.
BASELINES: Final = ("pdftotext", "pdfminer")


_WORD: Final = re.compile(
    r'<word xMin="([-\d.]+)" yMin="([-\d.]+)" xMax="([-\d.]+)" yMax="([-\d.]+)"'
)


class BaselineError(RuntimeError):
    """A tool that fails on a file."""


class MissingToolError(BaselineError):
    """pdftotext or pdfminer.six is not installed."""


def _contains(box: Box, x: float, y: float) -> bool:
    return box[0] <= x <= box[2] and box[1] <= y <= box[3]


def order_from_flow(page: Page, flow: Sequence[Box]) -> list[int]:
    """The page's element ids in the order a tool's flow of boxes visits them."""
    positions: dict[int, list[int]] = {element.id: [] for element in page.elements}
    by_area = sorted(page.elements, key=lambda element: element.width * element.height)
    centres = [((box[0] + box[2]) / 2, (box[1] + box[3]) / 2) for box in flow]
    for index, (x, y) in enumerate(centres):
        for element in by_area:
            if _contains(element.box, x, y):
                positions[element.id].append(index)
                break
    keys: dict[int, float] = {}
    for element in page.elements:
        found = positions[element.id]
        if found:
            keys[element.id] = float(statistics.median(found))
        elif centres:
            cx, cy = element.center
            nearest = min(range(len(centres)), key=lambda i: (centres[i][0] - cx) ** 2 + (centres[i][1] - cy) ** 2)
            keys[element.id] = nearest + 0.5
        else:
            keys[element.id] = 0.0
    rank = {element.id: index for index, element in enumerate(page.elements)}
    return sorted(keys, key=lambda element_id: (keys[element_id], rank[element_id]))


def pdftotext_flow(path: str | os.PathLike[str], page_number: int) -> list[Box]:
    """pdftotext's words on page ``page_number`` (1-based), in its reading order."""
    tool = shutil.which("pdftotext")
    if tool is None:
        raise MissingToolError("the pdftotext order needs pdftotext (Debian package poppler-utils)")
    command = [tool, "-q", "-f", str(page_number), "-l", str(page_number), "-bbox-layout", os.fspath(path), "-"]
    try:
        done = subprocess.run(command, capture_output=True, check=True, timeout=120)
    except (subprocess.CalledProcessError, subprocess.TimeoutExpired) as error:
        raise BaselineError(f"{os.fspath(path)}: pdftotext failed ({error})") from None
    # Read the word boxes from the tags alone: the words' text is not always well-formed XML.
    return [
        (float(x1), float(y1), float(x2), float(y2))
        for x1, y1, x2, y2 in _WORD.findall(done.stdout.decode("utf-8", "replace"))
    ]


def _pdfminer_chars(item: Any, layout: Any, out: list[Any]) -> None:
    if isinstance(item, layout.LTChar):
        if item.get_text().strip():
            out.append(item)
        return
    if isinstance(item, (layout.LTTextBox, layout.LTTextLine)):
        for child in item:
            _pdfminer_chars(child, layout, out)


def pdfminer_flow(path: str | os.PathLike[str], page_number: int) -> list[Box]:
    """The characters of pdfminer's text boxes, box by box in its layout order."""
    try:
        from pdfminer import high_level, layout
    except ImportError as error:
        raise MissingToolError("the pdfminer order needs pdfminer.six: pip install 'vellora[pdf]'") from error
    pages = list(high_level.extract_pages(os.fspath(path), page_numbers=[page_number - 1],
                                          laparams=layout.LAParams()))
    if not pages:
        raise BaselineError(f"{os.fspath(path)}: page {page_number} does not exist")
    lt_page = pages[0]
    x0, _y0, _x1, top = lt_page.bbox
    chars: list[Any] = []
    for item in lt_page:
        _pdfminer_chars(item, layout, chars)
    return [(c.x0 - x0, top - c.y1, c.x1 - x0, top - c.y0) for c in chars]
