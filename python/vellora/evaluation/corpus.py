"""Evaluation pages: a page with its true order, other tools' orders and layout class.

An evaluation page is a page file (see the README's page format) that
carries ``truth`` (element ids in true reading order, possibly of a subset)
and optionally ``orders`` (tool name to ids, as given by other tools); its
``meta`` names the layout class under ``"layout"`` (``one``, ``two``,
``three`` for three or more columns, or ``mixed``).

A corpus page may come with two files beside it, named after it:
``NAME.pdf``, the one-page PDF it was extracted from, and
``NAME.regions.json``, its reading regions (see :mod:`.regions`). With both,
:func:`refresh` extracts the page again with the current PDF front end and
derives the truth and the baseline orders for the new elements, so changes of
the front end are measured.
"""

from __future__ import annotations

import os
from collections.abc import Iterable, Iterator, Mapping
from dataclasses import dataclass
from pathlib import Path
from typing import Any, Final

from ..fileio import read_text
from ..page import Page, PageError, parse_page
from .baselines import order_from_flow, pdfminer_flow, pdftotext_flow
from .regions import load_regions, truth_from_regions

__all__ = ["LAYOUTS", "EvalPage", "find_pages", "load_eval_page", "refresh"]

#: The layout classes, in the order reports show them.
LAYOUTS: Final = ("one", "two", "three", "mixed")

_SIDECARS: Final = (".regions.json",)


@dataclass(frozen=True, slots=True)
class EvalPage:
    """A page to score and the file it came from; the page has a ``truth``."""

    source: str
    page: Page

    @property
    def truth(self) -> tuple[int, ...]:
        return self.page.truth or ()

    @property
    def orders(self) -> Mapping[str, tuple[int, ...]]:
        return self.page.orders

    @property
    def layout(self) -> str:
        value = self.page.meta.get("layout")
        return value if isinstance(value, str) and value in LAYOUTS else "unknown"

    @property
    def name(self) -> str:
        return Path(self.source).name.removesuffix(".json")


def _decode(text: str, source: str) -> object:
    import json

    try:
        return json.loads(text)
    except (json.JSONDecodeError, RecursionError, ValueError) as error:
        raise PageError(f"not valid JSON ({error})", source=source) from None


def load_eval_page(path: str | os.PathLike[str], limit: int | None = None) -> EvalPage:
    """Read an evaluation page; raises PageError (naming the file), InputError or OSError."""
    source = os.fspath(path)
    page = parse_page(_decode(read_text(path, limit), source), source=source)
    if page.truth is None:
        raise PageError("no 'truth' (the element ids in true reading order) to score against", source=source)
    return EvalPage(source, page)


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
    ``NAME.regions.json`` beside it. The stored ``meta`` is kept (the new
    extraction's keys, such as ``source``, replace its own), and with ``baselines`` the pdftotext and
    pdfminer orders are computed for the new elements.
    """
    from ..pdf import extract_page

    stem = page.source.removesuffix(".json")
    pdf, regions_file = stem + ".pdf", stem + ".regions.json"
    if not (os.path.exists(pdf) and os.path.exists(regions_file)):
        return page
    fresh = extract_page(pdf, 1)
    meta: dict[str, Any] = {**page.page.meta, **fresh.meta}
    draft = Page(fresh.page_bounds, fresh.elements, meta)
    orders: dict[str, tuple[int, ...]] = {}
    if baselines:
        orders["pdftotext"] = tuple(order_from_flow(draft, pdftotext_flow(pdf, 1)))
        orders["pdfminer"] = tuple(order_from_flow(draft, pdfminer_flow(pdf, 1)))
    truth = truth_from_regions(draft, load_regions(regions_file))
    return EvalPage(page.source, Page(fresh.page_bounds, fresh.elements, meta, truth, orders))


