"""Reading order of a page with either algorithm of the native module."""

from __future__ import annotations

import math
import os
import struct
from collections.abc import Mapping
from typing import Final, Literal, TypeAlias, get_args

import _vellora_core as core

from .page import Page, PageError, load_page, parse_page

__all__ = [
    "ALGORITHMS",
    "Algorithm",
    "ConfigError",
    "ConfigLike",
    "PageLike",
    "make_config",
    "order",
    "order_all",
    "to_core_elements",
]

Algorithm: TypeAlias = Literal["paper", "ostrel"]

#: The algorithm names accepted by :func:`order`, the default first.
ALGORITHMS: Final[tuple[Algorithm, ...]] = get_args(Algorithm)

#: The tuning values of the paper algorithm and their defaults.
CONFIG_DEFAULTS: Final = {
    "min_cut_threshold": 15.0,
    "histogram_resolution_scale": 0.5,
    "same_row_tolerance": 10.0,
}

#: A page given as a :class:`Page`, as plain data, or as the path of a JSON file.
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


def _as_page(page: PageLike) -> Page:
    if isinstance(page, Page):
        return page
    if isinstance(page, (str, os.PathLike)):
        return load_page(page)
    return parse_page(page)


def to_core_elements(page: Page) -> list[core.Element]:
    """The page's elements as native ``Element`` objects, in input order."""
    return [
        core.Element(element.id, *element.box, getattr(core.SemanticLabel, element.label))
        for element in page.elements
    ]


def _single(value: float) -> float:
    """``value`` rounded to single precision, as the native module stores it."""
    try:
        return float(struct.unpack("f", struct.pack("f", value))[0])
    except OverflowError:
        return math.copysign(math.inf, value)


# The paper algorithm's histograms cannot have this many bins along either side.
_MAX_BINS: Final = 2**60


def _check_paper_page(page: Page, config: core.XYCutConfig | None) -> None:
    """Refuse a page the paper algorithm cannot order.

    The native code stores coordinates in single precision; a page whose width
    or height is not finite and positive there yields no order at all, and one
    whose histograms would need 2**60 bins or more ends the call with
    ``InternalFault``. Both are reported here as a :class:`PageError` instead.
    """
    if not page.elements:
        return  # the native code answers an empty page before looking at it
    left, top, right, bottom = (_single(value) for value in page.page_bounds)
    width, height = _single(right - left), _single(bottom - top)
    if not (math.isfinite(width) and width > 0 and math.isfinite(height) and height > 0):
        raise PageError(
            f"'page_bounds': in single precision, as the native module stores coordinates, the page is "
            f"{width:g} wide and {height:g} high; both must be finite and positive"
        )
    scale = (config or core.XYCutConfig()).histogram_resolution_scale
    if len(page.elements) > 1 and max(_single(width * scale), _single(height * scale)) >= _MAX_BINS:
        raise PageError(
            f"'page_bounds': a page of {width:g} by {height:g} is too large for the paper algorithm at "
            f"histogram_resolution_scale {scale:g} (its histograms would need 2**60 bins or more)"
        )


def _run(page: Page, algorithm: str, config: core.XYCutConfig | None) -> list[int]:
    elements = to_core_elements(page)
    bounds = page.page_bounds
    if algorithm == "paper":
        _check_paper_page(page, config)
        result = core.compute_order(elements, bounds, config)
    elif algorithm == "ostrel":
        result = core.compute_order_ostrel(elements, bounds, config)
    else:
        raise ValueError(f"unknown algorithm {algorithm!r} (choose from {', '.join(ALGORITHMS)})")
    # Both algorithms list every element exactly once for a valid page with
    # unique ids; anything else would silently drop or repeat elements.
    if sorted(result) != sorted(element.id for element in page.elements):
        raise RuntimeError(
            f"the {algorithm} algorithm returned {len(result)} ids for {len(page.elements)} elements"
        )
    return result


def order(page: PageLike, algorithm: Algorithm = "paper", config: ConfigLike = None) -> list[int]:
    """The element ids of ``page`` in reading order.

    ``page`` is a :class:`Page`, plain data in the page format, or the path of
    a JSON page file. ``algorithm`` is ``"paper"`` (XY-cut with re-insertion of
    titles, figures and spanning elements; uses the labels, the page bounds and
    ``config``) or ``"ostrel"`` (gap segmentation on the boxes alone).
    ``config`` holds the paper tuning values (see :func:`make_config`).

    Raises :class:`PageError` for a malformed page (and, for ``"paper"``, a
    page too large for its single-precision coordinates or its histograms at
    the configured resolution) and :class:`ConfigError` for a malformed
    configuration.
    """
    if algorithm not in ALGORITHMS:
        raise ValueError(f"unknown algorithm {algorithm!r} (choose from {', '.join(ALGORITHMS)})")
    checked_page = _as_page(page)
    return _run(checked_page, algorithm, make_config(config))


def order_all(page: PageLike, config: ConfigLike = None) -> dict[str, list[int]]:
    """The reading order of ``page`` from every algorithm, keyed by name."""
    checked_page = _as_page(page)
    checked_config = make_config(config)
    return {algorithm: _run(checked_page, algorithm, checked_config) for algorithm in ALGORITHMS}
