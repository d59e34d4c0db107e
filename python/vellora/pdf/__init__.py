"""PDF front end: turn the pages of a PDF into labelled :class:`~vellora.page.Page` objects.

Needs the optional dependency pdfminer.six (``pip install 'vellora[pdf]'``).

:func:`iter_pages` parses a file once and yields its pages lazily;
:func:`extract_page` reads one page. Each page is cropped to its visible area
and turned upright (:mod:`.geometry`); pdfminer groups its characters into
text blocks (:mod:`.extract`, :mod:`.blocks`); figures (:mod:`.figures`),
tables (:mod:`.tables`), headings (:mod:`.headings`) and page furniture
(:mod:`.furniture`) are found, and every block gets a category and a label
(:mod:`.labels`). Every number the heuristics use is a field of
:class:`PdfSettings`.

Boxes are in page coordinates (origin at the top left of the visible page,
y down), and the page bounds are ``[0, 0, width, height]``. Identifiers
number the elements 1, 2, ... from top to bottom and left to right by their
top left corners, so they say nothing about the reading order. Text keeps
its line breaks as "\\n"; characters without a Unicode map are U+FFFD.
``meta`` holds ``source`` (the path as given), ``page`` (1-based) and
``body_font_size``.
"""

from __future__ import annotations

from .blocks import RawBlock
from .errors import MissingDependencyError, PdfError
from .extract import extract_page, iter_pages, page_count, parse_page_selection
from .labels import label_blocks
from .settings import PdfSettings, parse_settings

__all__ = [
    "MissingDependencyError",
    "PdfError",
    "PdfSettings",
    "RawBlock",
    "extract_page",
    "iter_pages",
    "label_blocks",
    "page_count",
    "parse_page_selection",
    "parse_settings",
]
