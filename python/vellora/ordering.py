"""Reading order of a page with either algorithm of the native module.

Page furniture (elements whose ``role`` is ``"header"`` or ``"footer"``) is
kept out of the body order: with ``furniture="keep"`` the headers come first,
then the body in the algorithm's order, then the footers; with
``furniture="drop"`` only the body is returned.

With ``columns="split"`` (the default) the body is first split into its
columns: where an empty vertical band at least :data:`COLUMN_GUTTER` wide runs
down the whole body, crossed by no element, and every side of it is at least
:data:`COLUMN_SHARE` of the body's width, the columns are read one after
another, left to right, each in the algorithm's order. Titles set above the
columns and across their gutters are read first. A reader finishes a
column before the next; the algorithms alone may cut across all columns at an
empty band that happens to line up, such as a gap before a heading that is
wider than the gutter. A narrow strip (margin notes, line numbers) is not a
column. ``columns="whole"`` hands the whole body to the algorithm.
"""

from __future__ import annotations

import bisect
import math
import os
import struct
from collections.abc import Mapping, Sequence
from typing import Final, Literal, TypeAlias, get_args

import _vellora_core as core

from .fileio import InputError
from .inputs import load_pages
from .page import Page, PageElement, PageError, parse_page

__all__ = [
    "ALGORITHMS",
    "COLUMNS",
    "COLUMN_GUTTER",
    "COLUMN_SHARE",
    "DEFAULT_ALGORITHM",
    "FURNITURE",
    "Algorithm",
    "Columns",
    "ConfigError",
    "ConfigLike",
    "Furniture",
    "PageLike",
    "make_config",
    "order",
    "order_all",
    "split_columns",
    "split_furniture",
    "to_core_elements",
]

Algorithm: TypeAlias = Literal["paper", "ostrel"]

#: The algorithm names accepted by :func:`order`.
ALGORITHMS: Final[tuple[Algorithm, ...]] = get_args(Algorithm)

#: The algorithm used when none is named: it reads real pages best (multi-column
#: articles above all), where the paper algorithm's first cuts tend to be
#: horizontal bands across the columns.
DEFAULT_ALGORITHM: Final[Algorithm] = "ostrel"

Furniture: TypeAlias = Literal["keep", "drop"]

#: What to do with page furniture: keep it around the body, or drop it.
FURNITURE: Final[tuple[Furniture, ...]] = get_args(Furniture)

Columns: TypeAlias = Literal["split", "whole"]

#: How the body reaches the algorithm: split into its columns first, or whole.
COLUMNS: Final[tuple[Columns, ...]] = get_args(Columns)

#: Least width of a gutter between columns, in page units (the least band the
#: ostrel algorithm cuts at).
COLUMN_GUTTER: Final = 5.0

#: Least width of a column as a share of the body's width.
COLUMN_SHARE: Final = 0.2

#: The tuning values of the paper algorithm and their defaults.
CONFIG_DEFAULTS: Final = {
    "min_cut_threshold": 15.0,
    "histogram_resolution_scale": 0.5,
    "same_row_tolerance": 10.0,
}

#: A page given as a :class:`Page`, as plain data, or as the path of a file holding one page.
PageLike: TypeAlias = Page | Mapping[str, object] | str | os.PathLike[str]

#: Paper tuning values, as an ``XYCutConfig`` or a mapping of its field names.
ConfigLike: TypeAlias = core.XYCutConfig | Mapping[str, float] | None


class ConfigError(ValueError):
    """A configuration with an unknown field or a value that is not a number."""


def make_config(config: ConfigLike = None) -> core.XYCutConfig | None:
    """Turn a mapping of tuning values into an ``XYCutConfig``.

    Missing fields keep their defaults (``min_cut_threshold`` 15,
    ``histogram_resolution_scale`` 0.5, ``same_row_tolerance`` 10). An
    ``XYCutConfig`` and None pass through unchanged.
    """
    if config is None or isinstance(config, core.XYCutConfig):
        return config
    if not isinstance(config, Mapping):
        raise ConfigError(f"config must be a mapping or an XYCutConfig; got {type(config).__name__}")
    values = dict(CONFIG_DEFAULTS)
    for key, value in config.items():
        if key not in CONFIG_DEFAULTS:
            raise ConfigError(f"unknown config field {key!r} (allowed: {', '.join(CONFIG_DEFAULTS)})")
        if isinstance(value, bool) or not isinstance(value, (int, float)):
            raise ConfigError(f"config field {key!r} must be a number; got {type(value).__name__}")
        if not math.isfinite(value):
            raise ConfigError(f"config field {key!r} must be finite; got {value}")
        values[key] = float(value)
    return core.XYCutConfig(**values)


def _load_single_page(path: str | os.PathLike[str]) -> Page:
    """The one page of a page file in any of the forms :mod:`vellora.inputs` reads."""
    source = os.fspath(path)
    try:
        pages = load_pages(path)
    except InputError as error:  # too large, or not UTF-8
        raise PageError(str(error)) from None
    if len(pages) != 1:
        raise PageError(f"holds {len(pages)} pages; read them with vellora.inputs.load_pages", source=source)
    return pages[0]


def _as_page(page: PageLike) -> Page:
    if isinstance(page, Page):
        return page
    if isinstance(page, (str, os.PathLike)):
        return _load_single_page(page)
    return parse_page(page)


def to_core_elements(page: Page | Sequence[PageElement]) -> list[core.Element]:
    """The elements (of a page) as native ``Element`` objects, in input order."""
    elements = page.elements if isinstance(page, Page) else page
    return [
        core.Element(element.id, *element.box, getattr(core.SemanticLabel, element.label))
        for element in elements
    ]


#: Tops closer than this (pt) are level: set on one line, they differ only by how the boxes were rounded.
_LEVEL: Final = 0.1


def _top_down(elements: Sequence[PageElement]) -> list[int]:
    """Ids from top to bottom, then left to right (input order breaks ties); elements on one line (level
    tops, or side by side sharing most of their height) read left to right."""
    rows: list[list[PageElement]] = []
    for element in sorted(elements, key=lambda element: (element.y1, element.x1)):
        if rows and (element.y1 - rows[-1][0].y1 < _LEVEL or rows[-1][0].shares_line_with(element)):
            rows[-1].append(element)
        else:
            rows.append([element])
    return [element.id for row in rows for element in sorted(row, key=lambda element: element.x1)]


def split_furniture(page: Page) -> tuple[list[PageElement], list[PageElement], list[PageElement]]:
    """The page's header, body and footer elements, each in input order."""
    parts: dict[str, list[PageElement]] = {"header": [], "body": [], "footer": []}
    for element in page.elements:
        parts[element.role].append(element)
    return parts["header"], parts["body"], parts["footer"]


def _columns_at_gutters(elements: Sequence[PageElement]) -> list[list[PageElement]] | None:
    """The columns of ``elements`` left to right, split at gutters down their whole height, or None."""
    if len(elements) < 2:
        return None
    spans: list[list[float]] = []  # [left, right] of each column, left to right
    for box in sorted(element.box for element in elements):  # by left edge (the boxes' own tuples: no copies)
        if spans and box[0] - spans[-1][1] < COLUMN_GUTTER:
            if box[2] > spans[-1][1]:
                spans[-1][1] = box[2]
        else:
            spans.append([box[0], box[2]])
    width = spans[-1][1] - spans[0][0]
    if len(spans) < 2 or any(right - left < COLUMN_SHARE * width for left, right in spans):
        return None
    columns: list[list[PageElement]] = [[] for _ in spans]
    lefts = [left for left, _ in spans]
    for element in elements:
        columns[bisect.bisect_right(lefts, element.x1) - 1].append(element)
    return columns


def _title_bands(body: Sequence[PageElement]) -> list[list[PageElement]]:
    """The leading bands of the body that hold titles alone, top to bottom.

    The body is cut into bands at empty horizontal bands of at least
    :data:`COLUMN_GUTTER`; the leading bands that hold titles alone (a page's
    or a poster's title, its author line) are returned, unless they are all
    there is.
    """
    if not any(element.label == "HorizontalTitle" for element in body):
        return []
    bands: list[list[PageElement]] = []
    bottom = -math.inf
    for element in sorted(body, key=lambda element: element.box[1]):
        if bands and element.box[1] - bottom < COLUMN_GUTTER:
            bands[-1].append(element)
        elif bands and any(other.label != "HorizontalTitle" for other in bands[-1]):
            break  # the bands of titles have ended: the rest does not matter
        else:
            bands.append([element])
        bottom = max(bottom, element.box[3])
    leading = 0
    while leading < len(bands) - 1 and all(element.label == "HorizontalTitle" for element in bands[leading]):
        leading += 1
    return bands[:leading]


def _heads_row(band: Sequence[PageElement], columns: Sequence[Sequence[PageElement]]) -> bool:
    """Whether a band of titles is a row of the columns' own heads: each inside one column, in two or more."""
    spans = [(min(e.x1 for e in column), max(e.x2 for e in column)) for column in columns]
    homes = set()
    for element in band:
        home = [index for index, (left, right) in enumerate(spans) if left <= element.x1 and element.x2 <= right]
        if not home:
            return False
        homes.add(home[0])
    return len(homes) >= 2


def split_columns(body: Sequence[PageElement]) -> list[list[PageElement]]:
    """The parts of the body a reader takes in turn: its columns, left to right.

    A gutter is an empty vertical band of at least :data:`COLUMN_GUTTER` down
    the whole body; the body is split at its gutters only when every column is
    at least :data:`COLUMN_SHARE` of the body's width. When titles set above
    the columns run across their gutters (a page's or a poster's title, with
    its subtitle or author line), those titles come first as a part of their
    own and the columns below them follow; a row of the columns' own heads
    stays with its columns. A body with no such gutter is one part. Each part
    keeps the input order of its elements.
    """
    columns = _columns_at_gutters(body)
    if columns is not None:
        return columns
    bands = _title_bands(body)
    if not bands:
        return [list(body)]
    titles = {id(element) for band in bands for element in band}
    columns = _columns_at_gutters([element for element in body if id(element) not in titles])
    if columns is None:
        return [list(body)]
    while bands and _heads_row(bands[-1], columns):
        titles.difference_update(id(element) for element in bands.pop())
    if not bands:
        return [list(body)]
    rest = [element for element in body if id(element) not in titles]
    columns = _columns_at_gutters(rest) or [rest]
    return [[element for element in body if id(element) in titles], *columns]


def _single(value: float) -> float:
    """``value`` rounded to single precision, as the native module stores it."""
    try:
        return float(struct.unpack("f", struct.pack("f", value))[0])
    except OverflowError:
        return math.copysign(math.inf, value)


# The paper algorithm's histograms cannot have this many bins along either side.
_MAX_BINS: Final = 2**60


def _check_paper_page(page: Page, elements: Sequence[PageElement], config: core.XYCutConfig | None) -> None:
    """Refuse a page the paper algorithm cannot order.

    The native code stores coordinates in single precision; a page whose width
    or height is not finite and positive there yields no order at all, and one
    whose histograms would need 2**60 bins or more ends the call with
    ``InternalFault``. Both are reported here as a :class:`PageError` instead.
    """
    if not elements:
        return  # the native code answers an empty page before looking at it
    left, top, right, bottom = (_single(value) for value in page.page_bounds)
    width, height = _single(right - left), _single(bottom - top)
    if not (math.isfinite(width) and width > 0 and math.isfinite(height) and height > 0):
        raise PageError(
            f"'page_bounds': in single precision, as the native module stores coordinates, the page is "
            f"{width:g} wide and {height:g} high; both must be finite and positive"
        )
    scale = (config or core.XYCutConfig()).histogram_resolution_scale
    if len(elements) > 1 and max(_single(width * scale), _single(height * scale)) >= _MAX_BINS:
        raise PageError(
            f"'page_bounds': a page of {width:g} by {height:g} is too large for the paper algorithm at "
            f"histogram_resolution_scale {scale:g} (its histograms would need 2**60 bins or more)"
        )


def _run_body(page: Page, body: Sequence[PageElement], algorithm: str, config: core.XYCutConfig | None) -> list[int]:
    elements = to_core_elements(body)
    bounds = page.page_bounds
    if algorithm == "paper":
        result = core.compute_order(elements, bounds, config)
    elif algorithm == "ostrel":
        result = core.compute_order_ostrel(elements, bounds, config)
    else:
        raise ValueError(f"unknown algorithm {algorithm!r} (choose from {', '.join(ALGORITHMS)})")
    # Both algorithms list every element exactly once for a valid page with
    # unique ids; anything else would silently drop or repeat elements.
    if sorted(result) != sorted(element.id for element in body):
        raise RuntimeError(f"the {algorithm} algorithm returned {len(result)} ids for {len(body)} elements")
    return result


def _run(page: Page, algorithm: str, config: core.XYCutConfig | None, furniture: str, columns: str) -> list[int]:
    header, body, footer = split_furniture(page)
    if algorithm == "paper":  # the whole page, however its body is split
        _check_paper_page(page, body, config)
    parts = split_columns(body) if columns == "split" else [list(body)]
    result = [id_ for part in parts for id_ in _run_body(page, part, algorithm, config)]
    if furniture == "drop":
        return result
    return _top_down(header) + result + _top_down(footer)


def _check_options(furniture: object, columns: object) -> None:
    if furniture not in FURNITURE:
        raise ValueError(f"furniture must be one of {', '.join(FURNITURE)}; got {furniture!r}")
    if columns not in COLUMNS:
        raise ValueError(f"columns must be one of {', '.join(COLUMNS)}; got {columns!r}")


def order(
    page: PageLike,
    algorithm: Algorithm = DEFAULT_ALGORITHM,
    config: ConfigLike = None,
    *,
    furniture: Furniture = "keep",
    columns: Columns = "split",
) -> list[int]:
    """The element ids of ``page`` in reading order.

    ``page`` is a :class:`Page`, plain data in the page format, or the path of
    a file holding one page (a page object, or detector output as
    :mod:`vellora.inputs` reads it). ``algorithm`` is ``"ostrel"`` (the default: gap
    segmentation on the boxes alone) or ``"paper"`` (XY-cut with re-insertion
    of titles, figures and spanning elements; uses the labels, the page bounds
    and ``config``). ``config`` holds the paper tuning values (see
    :func:`make_config`).

    Only body elements are ordered by the algorithm. Page furniture (role
    ``"header"`` or ``"footer"``) is placed around them with ``furniture="keep"``
    (headers first, footers last, each from top to bottom, then left to right)
    or left out with ``furniture="drop"``. With ``columns="split"`` the body's
    columns, where a gutter runs down its whole height, are read one after
    another (see :func:`split_columns`); ``"whole"`` orders the body in one run.

    Raises :class:`PageError` for a malformed page (and, for ``"paper"``, a
    page too large for its single-precision coordinates or its histograms at
    the configured resolution) and :class:`ConfigError` for a malformed
    configuration.
    """
    if algorithm not in ALGORITHMS:
        raise ValueError(f"unknown algorithm {algorithm!r} (choose from {', '.join(ALGORITHMS)})")
    _check_options(furniture, columns)
    checked_page = _as_page(page)
    return _run(checked_page, algorithm, make_config(config), furniture, columns)


def order_all(
    page: PageLike, config: ConfigLike = None, *, furniture: Furniture = "keep", columns: Columns = "split"
) -> dict[str, list[int]]:
    """The reading order of ``page`` from every algorithm, keyed by name (see :func:`order`)."""
    _check_options(furniture, columns)
    checked_page = _as_page(page)
    checked_config = make_config(config)
    return {algorithm: _run(checked_page, algorithm, checked_config, furniture, columns) for algorithm in ALGORITHMS}
