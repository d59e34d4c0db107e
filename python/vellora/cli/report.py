"""Printing results: the id lines with their listings, and the JSON objects of ``--json``."""

from __future__ import annotations

from dataclasses import dataclass, field
from typing import Any, Final, TextIO

from ..diagnostics import DiagnosticRecord
from ..page import LABELS, Page
from .common import visible

__all__ = ["Result", "json_object", "print_plain", "summary", "visible"]

_LIST_TEXT_WIDTH: Final = 60


@dataclass
class Result:
    """One ordered page: where it came from, the orders and what else was made of it."""

    source: str
    page: Page
    orders: dict[str, list[int]] = field(default_factory=dict)
    diagnostics: dict[str, list[DiagnosticRecord]] = field(default_factory=dict)
    svg: str | None = None
    summary: str | None = None


def summary(source: str, page: Page, page_number: int) -> str:
    counts = dict.fromkeys(LABELS, 0)
    for element in page.elements:
        counts[element.label] += 1
    parts = ", ".join(f"{count} {label}" for label, count in counts.items() if count)
    return f"{source}, page {page_number}: {len(page.elements)} elements ({parts or 'none'})"


def print_plain(result: Result, *, prefix: str, listing: bool, out: TextIO) -> None:
    """The id lines (one per algorithm), with ``listing`` a line per element under each."""
    if result.summary is not None:
        print(result.summary, file=out)
    labelled = len(result.orders) > 1
    width = max(len(name) for name in result.orders)
    for name, ids in result.orders.items():
        head = f"{name + ':':<{width + 1}} " if labelled else ""
        print(f"{prefix}{head}{' '.join(str(i) for i in ids)}", file=out)
        if listing:
            for position, element in enumerate(result.page.elements_in(ids), start=1):
                text = " ".join((element.text or "").split())
                if len(text) > _LIST_TEXT_WIDTH:
                    text = text[: _LIST_TEXT_WIDTH - 1] + "\u2026"
                print(f"  {position:>3}. id {element.id:<4} {element.label:<15} {visible(text)}".rstrip(), file=out)
        if name in result.diagnostics:
            print(f"  diagnostics ({name}): {len(result.diagnostics[name])} records", file=out)
            for record in result.diagnostics[name]:
                print(f"    {record}", file=out)
    if result.svg is not None:
        print(f"{prefix}svg written to {result.svg}", file=out)


def json_object(result: Result, include_page: bool) -> dict[str, Any]:
    """The ``--json`` object of one page."""
    data: dict[str, Any] = {"source": result.source, "orders": result.orders}
    if result.diagnostics:
        data["diagnostics"] = {
            name: [{"logger": r.logger, "level": r.level, "message": r.message} for r in records]
            for name, records in result.diagnostics.items()
        }
    if result.svg is not None:
        data["svg"] = result.svg
    if include_page:
        data["page"] = result.page.to_dict()
    return data
