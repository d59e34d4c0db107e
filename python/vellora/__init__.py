"""Reading order of the layout elements of a document page.

A thin, typed layer over the native module ``_vellora_core``: pages are plain
data (a dict, or a JSON file) with ``page_bounds`` and ``elements``, each
element an ``id``, a ``box`` and a ``label``; :func:`order` returns the element
ids in reading order from either algorithm (``ostrel`` by default)::

    import vellora

    page = {
        "page_bounds": [0, 0, 612, 792],
        "elements": [
            {"id": 1, "box": [72, 60, 540, 90], "label": "HorizontalTitle"},
            {"id": 2, "box": [72, 110, 296, 400], "label": "Regular"},
            {"id": 3, "box": [316, 110, 540, 400], "label": "Regular"},
        ],
    }
    vellora.order(page)                      # [1, 2, 3]
    vellora.order(page, algorithm="ostrel")  # [1, 2, 3]

Malformed pages raise :class:`PageError` (a ValueError) naming the field and
the element. :mod:`vellora.inputs` reads lists of pages, JSON Lines and
detector output (COCO, detector class names), :mod:`vellora.svg` draws pages,
:mod:`vellora.pdf` reads PDF pages (optional extra ``vellora[pdf]``),
:mod:`vellora.cluster` orders many files on Dask (optional extra
``vellora[dask]``), :mod:`vellora.diagnostics` collects the native diagnostic
records, and ``python -m vellora`` is the command line.
"""

from __future__ import annotations

from .diagnostics import DiagnosticRecord, capture_diagnostics
from .ordering import (
    ALGORITHMS,
    DEFAULT_ALGORITHM,
    Algorithm,
    Columns,
    ConfigError,
    Furniture,
    make_config,
    order,
    order_all,
    split_columns,
    split_furniture,
    to_core_elements,
)
from .page import LABELS, ROLES, Box, Page, PageElement, PageError, load_page, parse_page
from .svg import render_svg, write_svg

__version__ = "0.1.0"

__all__ = [
    "ALGORITHMS",
    "DEFAULT_ALGORITHM",
    "LABELS",
    "ROLES",
    "Algorithm",
    "Box",
    "Columns",
    "ConfigError",
    "DiagnosticRecord",
    "Furniture",
    "Page",
    "PageElement",
    "PageError",
    "capture_diagnostics",
    "load_page",
    "make_config",
    "order",
    "order_all",
    "parse_page",
    "render_svg",
    "split_columns",
    "split_furniture",
    "to_core_elements",
    "write_svg",
]
