"""Evaluation pages: a page with its true order, other tools' orders and layout class.

An evaluation page is a page file (see the README's page format) that also
carries ``truth`` (element ids in true reading order, possibly of a subset)
and optionally ``orders`` (tool name to ids, as given by other tools); its
``meta`` names the layout class under ``"layout"`` (``one``, ``two``,
``three`` or ``mixed``).

A corpus page may come with two files beside it, named after it:
``NAME.pdf``, the one-page PDF it was extracted from, and
``NAME.regions.json``, its reading regions (see :mod:`.regions`). With both,
:func:`refresh` extracts the page again with the current PDF front end and
derives the truth and the baseline orders for the new elements, so changes of
the front end are measured.
"""

from __future__ import annotations

import json
import os
from collections.abc import Iterable, Iterator, Mapping
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any, Final

from ..page import Page, PageError, parse_page
from .baselines import order_from_flow, pdfminer_flow, pdftotext_flow
from .regions import load_regions, truth_from_regions

__all__ = ["LAYOUTS", "EvalPage", "find_pages", "load_eval_page", "refresh"]

#: The layout classes, in the order reports show them.
LAYOUTS: Final = ("one", "two", "three", "mixed")

_SIDECARS: Final = (".regions.json",)


@dataclass(frozen=True, slots=True)
class EvalPage:
    """A page to score: its elements, true order, other tools' orders and layout class."""

    source: str
    page: Page
    truth: tuple[int, ...]
    orders: Mapping[str, tuple[int, ...]] = field(default_factory=dict)

    @property
    def layout(self) -> str:
        value = self.page.meta.get("layout")
        return value if isinstance(value, str) and value in LAYOUTS else "unknown"

    @property
    def name(self) -> str:
        return Path(self.source).name.removesuffix(".json")


def _ids(value: object, what: str, page: Page, *, complete: bool) -> tuple[int, ...]:
    if not isinstance(value, list) or not all(isinstance(v, int) and not isinstance(v, bool) for v in value):
        raise PageError(f"{what} must be an array of element ids")
    known = {element.id for element in page.elements}
    unknown = [v for v in value if v not in known]
    if unknown:
        raise PageError(f"{what} names id {unknown[0]}, which is not an element of the page")
    if len(set(value)) != len(value):
        raise PageError(f"{what} lists an id more than once")
    if complete and len(value) != len(known):
        raise PageError(f"{what} must list every element of the page ({len(value)} of {len(known)})")
    return tuple(value)


def _from_data(data: object, source: str) -> EvalPage:
    if not isinstance(data, dict):
        raise PageError("page must be an object", source=source)
    rest = {key: value for key, value in data.items() if key not in ("truth", "orders")}
    page = parse_page(rest, source=source)
    try:
        if "truth" not in data:
            raise PageError("no 'truth' (the element ids in true reading order) to score against")
        truth = _ids(data["truth"], "'truth'", page, complete=False)
        raw_orders = data.get("orders", {})
        if not isinstance(raw_orders, dict):
            raise PageError("'orders' must be an object of tool name to element ids")
        orders = {
            str(name): _ids(ids, f"'orders'.{name}", page, complete=True) for name, ids in raw_orders.items()
        }
    except PageError as error:
        error.source = source
        raise
    return EvalPage(source, page, truth, orders)


def load_eval_page(path: str | os.PathLike[str]) -> EvalPage:
    """Read an evaluation page; raises PageError (naming the file) or OSError."""
    source = os.fspath(path)
    try:
        with open(path, encoding="utf-8") as stream:
            data = json.load(stream)
    except (UnicodeDecodeError, json.JSONDecodeError) as error:
        raise PageError(f"not valid JSON ({error})", source=source) from None
    return _from_data(data, source)


def find_pages(inputs: Iterable[str]) -> Iterator[str]:
    """The page files named by ``inputs``: files as given, folders by their ``*.json`` pages."""
    for item in inputs:
        if os.path.isdir(item):
            for path in sorted(Path(item).glob("*.json")):
                if not path.name.endswith(_SIDECARS):
                    yield str(path)
        else:
            yield item


def refresh(page: EvalPage, baselines: bool = True) -> EvalPage:
    """Extract ``page`` again from the PDF beside it and derive its truth anew.

    Returns ``page`` unchanged when it has no ``NAME.pdf`` and
    ``NAME.regions.json`` beside it. The stored ``meta`` is kept (with the new
    extraction's keys added), and with ``baselines`` the pdftotext and
    pdfminer orders are computed for the new elements.
    """
    from ..pdf import extract_page

    stem = page.source.removesuffix(".json")
    pdf, regions_file = stem + ".pdf", stem + ".regions.json"
    if not (os.path.exists(pdf) and os.path.exists(regions_file)):
        return page
    fresh = extract_page(pdf, 1)
    meta: dict[str, Any] = {**fresh.meta, **page.page.meta}
    new_page = Page(fresh.page_bounds, fresh.elements, meta)
    truth = truth_from_regions(new_page, load_regions(regions_file))
    orders: dict[str, tuple[int, ...]] = {}
    if baselines:
        orders["pdftotext"] = tuple(order_from_flow(new_page, pdftotext_flow(pdf, 1)))
        orders["pdfminer"] = tuple(order_from_flow(new_page, pdfminer_flow(pdf, 1)))
    return EvalPage(page.source, new_page, truth, orders)
