"""PDF front end: turn one PDF page into a labelled :class:`~vellora.page.Page`.

Needs the optional dependency pdfminer.six (``pip install 'vellora[pdf]'``).

Extraction. pdfminer's layout analysis groups characters into text blocks;
each non-empty text block becomes one element, with its text. Each figure
(an image, or a form object drawing an image or vector graphics) becomes one
element. Loose vector strokes such as rules and frames are not elements.
Boxes are converted from PDF coordinates (origin at the bottom left, y up) to
page coordinates (origin at the top left of the page, y down), and the page
bounds are ``[0, 0, width, height]``. Identifiers number the elements 1, 2, ...
from top to bottom and left to right by their top left corners, so they say
nothing about the reading order.

Labels, by these rules in this order:

1. Figures are ``Vision``.
2. Headings are titles: a text block whose font size (the median size of its
   characters) is at least :data:`HEADING_SIZE_RATIO` times the body size
   (the most common character size on the page, counted per character).
   A heading at least twice as tall as wide is ``VerticalTitle``, any other
   ``HorizontalTitle``.
3. On a multi-column page (two body text blocks side by side: disjoint
   horizontally, overlapping vertically), a body text block at least
   :data:`FULL_WIDTH_RATIO` times as wide as the text area (from the leftmost
   to the rightmost text block) is ``CrossLayout``.
4. Everything else is ``Regular``.
"""

from __future__ import annotations

import os
import statistics
from collections import Counter
from collections.abc import Iterable, Iterator, Sequence
from dataclasses import dataclass
from typing import Any, Final

from .page import Box, Page, PageElement

__all__ = [
    "FULL_WIDTH_RATIO",
    "HEADING_SIZE_RATIO",
    "MissingDependencyError",
    "PdfError",
    "RawBlock",
    "extract_page",
    "iter_pages",
    "label_blocks",
    "page_count",
    "parse_page_selection",
]

#: A text block is a heading when its font size is at least this times the body size.
HEADING_SIZE_RATIO: Final = 1.2
#: On a multi-column page, a block this wide relative to the text area is cross-layout.
FULL_WIDTH_RATIO: Final = 0.75


class PdfError(ValueError):
    """A file that is not a readable PDF, or a page number it does not have."""


class MissingDependencyError(RuntimeError):
    """pdfminer.six is not installed."""


@dataclass(frozen=True, slots=True)
class RawBlock:
    """An extracted block before labelling: box in page coordinates (y down)."""

    box: Box
    kind: str  # "text" or "figure"
    text: str = ""
    font_size: float = 0.0


def _pdfminer() -> Any:
    try:
        from pdfminer import high_level, layout
    except ImportError as error:
        raise MissingDependencyError(
            "reading PDF files needs pdfminer.six: pip install 'vellora[pdf]'"
        ) from error
    return high_level, layout


def page_count(path: str | os.PathLike[str]) -> int:
    """Number of pages of the PDF file at ``path``."""
    _pdfminer()
    from pdfminer.pdfpage import PDFPage

    try:
        with open(path, "rb") as stream:
            return sum(1 for _ in PDFPage.get_pages(stream))
    except OSError:
        raise
    except Exception as error:  # pdfminer raises many kinds on broken input
        raise PdfError(f"{os.fspath(path)}: not a readable PDF ({type(error).__name__}: {error})") from error


def _chars(item: Any, char_type: type) -> Iterable[Any]:
    if isinstance(item, char_type):
        yield item
        return
    try:
        children = list(item)
    except TypeError:
        return
    for child in children:
        yield from _chars(child, char_type)


def _has_graphics(item: Any, layout: Any) -> bool:
    drawable = (layout.LTImage, layout.LTCurve)
    if isinstance(item, drawable):
        return True
    if isinstance(item, layout.LTFigure):
        return any(_has_graphics(child, layout) for child in item)
    return False


def _to_page_box(bbox: tuple[float, float, float, float], page_bbox: tuple[float, float, float, float]) -> Box:
    px0, _py0, px1, py1 = page_bbox
    x0, y0, x1, y1 = bbox
    width = px1 - px0

    def clamp(value: float, high: float) -> float:
        return round(min(max(value, 0.0), high), 2)

    height = py1 - page_bbox[1]
    return (clamp(x0 - px0, width), clamp(py1 - y1, height), clamp(x1 - px0, width), clamp(py1 - y0, height))


def _extract_blocks(lt_page: Any, layout: Any) -> list[RawBlock]:
    blocks: list[RawBlock] = []
    for item in lt_page:
        box = _to_page_box(item.bbox, lt_page.bbox)
        if isinstance(item, layout.LTTextBox):
            text = item.get_text().strip()
            if not text:
                continue
            sizes = [char.size for char in _chars(item, layout.LTChar) if char.get_text().strip()]
            size = float(statistics.median(sizes)) if sizes else 0.0
            blocks.append(RawBlock(box, "text", text, round(size, 2)))
        elif isinstance(item, (layout.LTFigure, layout.LTImage)) and _has_graphics(item, layout):
            blocks.append(RawBlock(box, "figure"))
    return blocks


def _body_size(blocks: list[RawBlock]) -> float:
    counts: Counter[float] = Counter()
    for block in blocks:
        if block.kind == "text":
            counts[round(block.font_size * 2) / 2] += len(block.text)
    if not counts:
        return 0.0
    # Most characters win; ties go to the smaller size.
    return min(counts, key=lambda size: (-counts[size], size))


def _side_by_side(a: Box, b: Box) -> bool:
    horizontally_disjoint = a[2] <= b[0] or b[2] <= a[0]
    vertically_overlapping = min(a[3], b[3]) > max(a[1], b[1])
    return horizontally_disjoint and vertically_overlapping


def label_blocks(blocks: list[RawBlock]) -> list[str]:
    """The label of each block, by the rules in this module's documentation."""
    body = _body_size(blocks)

    def is_heading(block: RawBlock) -> bool:
        return block.kind == "text" and body > 0 and block.font_size >= HEADING_SIZE_RATIO * body

    body_boxes = [block.box for block in blocks if block.kind == "text" and not is_heading(block)]
    multi_column = any(
        _side_by_side(a, b) for index, a in enumerate(body_boxes) for b in body_boxes[index + 1 :]
    )
    text_boxes = [block.box for block in blocks if block.kind == "text"]
    text_width = (max(box[2] for box in text_boxes) - min(box[0] for box in text_boxes)) if text_boxes else 0.0

    labels = []
    for block in blocks:
        width, height = block.box[2] - block.box[0], block.box[3] - block.box[1]
        if block.kind == "figure":
            labels.append("Vision")
        elif is_heading(block):
            labels.append("VerticalTitle" if height >= 2 * width else "HorizontalTitle")
        elif multi_column and text_width > 0 and width >= FULL_WIDTH_RATIO * text_width:
            labels.append("CrossLayout")
        else:
            labels.append("Regular")
    return labels


def extract_page(path: str | os.PathLike[str], page_number: int = 1) -> Page:
    """Extract and label the elements of page ``page_number`` (1-based) of a PDF.

    Raises :class:`PdfError` for an unreadable file or a missing page,
    :class:`MissingDependencyError` without pdfminer.six, and OSError when the
    file cannot be opened.
    """
    high_level, layout = _pdfminer()
    source = os.fspath(path)
    if page_number < 1:
        raise PdfError(f"{source}: page numbers start at 1; got {page_number}")
    try:
        pages = list(high_level.extract_pages(source, page_numbers=[page_number - 1], laparams=layout.LAParams()))
    except OSError:
        raise
    except Exception as error:  # pdfminer raises many kinds on broken input
        raise PdfError(f"{source}: not a readable PDF ({type(error).__name__}: {error})") from error
    if not pages:
        count = page_count(source)
        raise PdfError(f"{source}: page {page_number} does not exist (the file has {count} page{'s' * (count != 1)})")
    return _build_page(pages[0], layout, source, page_number)


def _build_page(lt_page: Any, layout: Any, source: str, page_number: int) -> Page:
    px0, py0, px1, py1 = lt_page.bbox
    blocks = _extract_blocks(lt_page, layout)
    blocks.sort(key=lambda block: (block.box[1], block.box[0]))
    labels = label_blocks(blocks)
    elements = tuple(
        PageElement(index, block.box, label, block.text or None)
        for index, (block, label) in enumerate(zip(blocks, labels), start=1)
    )
    meta = {"source": source, "page": page_number, "body_font_size": _body_size(blocks)}
    return Page((0.0, 0.0, round(px1 - px0, 2), round(py1 - py0, 2)), elements, meta)


def parse_page_selection(text: str, page_count: int) -> list[int]:
    """The 1-based pages named by ``text`` such as ``"1-3,7"``, sorted, each once (ValueError if bad)."""
    pages: set[int] = set()
    for item in text.split(","):
        first, dash, last = item.strip().partition("-")
        try:
            low, high = int(first), int(last) if dash else int(first)
        except ValueError:
            raise ValueError(f"page selection {text!r}: {item.strip()!r} is not a page or a range like 2-5") from None
        if low < 1 or high < low:
            raise ValueError(f"page selection {text!r}: {item.strip()!r} is not a page or a range like 2-5")
        if high > page_count:
            raise ValueError(f"page {high} does not exist (the file has {page_count} page{'s' * (page_count != 1)})")
        pages.update(range(low, high + 1))
    return sorted(pages)


def iter_pages(path: str | os.PathLike[str], pages: Sequence[int] | None = None) -> Iterator[Page]:
    """Extract and label the pages of a PDF (``pages``: 1-based numbers, all when None), parsing it once."""
    high_level, layout = _pdfminer()
    source = os.fspath(path)
    numbers = None if pages is None else sorted({number - 1 for number in pages})
    try:
        for index, lt_page in enumerate(high_level.extract_pages(source, page_numbers=numbers,
                                                                 laparams=layout.LAParams())):
            yield _build_page(lt_page, layout, source, numbers[index] + 1 if numbers is not None else index + 1)
    except OSError:
        raise
    except Exception as error:  # pdfminer raises many kinds on broken input
        raise PdfError(f"{source}: not a readable PDF ({type(error).__name__}: {error})") from error
