"""Reading order of a page with either algorithm of the native module."""

from __future__ import annotations

import math
import os
from collections.abc import Mapping
from typing import Final, Literal, TypeAlias, get_args

import _vellora_core as core

from .page import Page, load_page, parse_page

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


def _run(page: Page, algorithm: str, config: core.XYCutConfig | None) -> list[int]:
    elements = to_core_elements(page)
    bounds = page.page_bounds
    if algorithm == "paper":
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

    Raises :class:`PageError` for a malformed page and :class:`ConfigError`
    for a malformed configuration.
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
