"""Reports of an evaluation: the table, the JSON document and drawings of the worst pages."""

from __future__ import annotations

import math
import os
from collections.abc import Mapping, Sequence
from typing import Any

from ..page import Page
from .corpus import EvalPage
from .metrics import HIGHER_IS_BETTER, METRICS, restrict
from .scoring import PageScore

__all__ = ["draw_worst", "format_pages", "format_table", "to_json", "worst_pages"]

_HEADINGS = {"tau": "tau", "bleu4": "BLEU-4", "ard": "ARD", "ned": "edit", "exact": "exact"}


def format_table(summary: Mapping[str, Mapping[str, Mapping[str, float]]]) -> str:
    """The summary as a plain-text table: one row per layout class and order."""
    header = ["class", "pages", "order", *(_HEADINGS[m] for m in METRICS)]
    rows = []
    for group, by_order in summary.items():
        for name, values in by_order.items():
            cells = [group, str(int(values["pages"])), name]
            for metric in METRICS:
                value = values[metric]
                cells.append("-" if math.isnan(value) else f"{value:.3f}" if metric != "ard" else f"{value:.2f}")
            rows.append(cells)
    widths = [max(len(row[i]) for row in [header, *rows]) for i in range(len(header))]
    lines = []
    for index, row in enumerate([header, *rows]):
        if index > 1 and row[0] != rows[index - 2][0]:
            lines.append("")
        lines.append("  ".join(cell.ljust(w) if i < 3 else cell.rjust(w) for i, (cell, w) in enumerate(zip(row, widths))).rstrip())
    note = "tau, BLEU-4, exact: higher is better; ARD (positions), edit (normalised): lower is better"
    return "\n".join([*lines, "", note]) + "\n"


def format_pages(results: Sequence[PageScore], metric: str = "tau") -> str:
    """One line per page: its name, layout class, scored elements and ``metric`` for every order."""
    names: list[str] = []
    for result in results:
        names.extend(name for name in result.scores if name not in names)
    header = ["page", "class", "n", *names]
    rows = [[os.path.basename(r.source).removesuffix(".json"), r.layout, str(r.size),
             *(f"{r.scores[name][metric]:.3f}" if name in r.scores else "-" for name in names)]
            for r in results]
    widths = [max(len(row[i]) for row in [header, *rows]) for i in range(len(header))]
    lines = ["  ".join(cell.ljust(w) if i < 2 else cell.rjust(w) for i, (cell, w) in enumerate(zip(row, widths)))
             for row in [header, *rows]]
    return "\n".join(lines) + f"\n\n({metric} of each order per page)\n"


def to_json(results: Sequence[PageScore], summary: Mapping[str, Any]) -> dict[str, Any]:
    """The whole evaluation as JSON-ready data: per-page scores and orders, and the summary."""
    return {
        "pages": [
            {"source": r.source, "layout": r.layout, "elements": r.size,
             "scores": {name: dict(values) for name, values in r.scores.items()},
             "orders": {name: list(ids) for name, ids in r.orders.items()}}
            for r in results
        ],
        "summary": summary,
    }


def worst_pages(results: Sequence[PageScore], order_name: str, count: int, metric: str = "tau") -> list[PageScore]:
    """The ``count`` pages where ``order_name`` scores worst on ``metric`` (exact matches never count)."""
    scored = [r for r in results if order_name in r.scores and r.scores[order_name]["exact"] < 1]
    sign = 1 if HIGHER_IS_BETTER[metric] else -1
    return sorted(scored, key=lambda r: (sign * r.scores[order_name][metric], r.source))[:count]


def _subpage(page: Page, ids: Sequence[int]) -> Page:
    keep = set(ids)
    return Page(page.page_bounds, tuple(e for e in page.elements if e.id in keep), page.meta)


def draw_worst(directory: str, pages: Mapping[str, EvalPage], worst: Sequence[PageScore]) -> list[str]:
    """Draw each page in ``worst`` with its truth and every order (restricted to the truth's elements).

    Returns the paths written, ``DIRECTORY/NAME.svg``.
    """
    from ..pdf.render import page_png
    from ..svg import write_svg

    os.makedirs(directory, exist_ok=True)
    written = []
    for result in worst:
        page = pages[result.source]
        panels = {"truth": list(page.truth)}
        for name, ids in result.orders.items():
            tau = result.scores[name]["tau"]
            panels[f"{name} (tau {tau:.2f})"] = restrict(ids, page.truth)
        path = os.path.join(directory, f"{page.name}.svg")
        drawn = _subpage(page.page, page.truth)
        write_svg(path, drawn, panels, title=f"{result.source} ({result.layout})",
                  background=page_png(_beside(page, drawn)))
        written.append(path)
    return written


def _beside(page: EvalPage, drawn: Page) -> Page:
    """``drawn`` pointing at the one-page PDF beside its page file, when there is one, for the rendering."""
    pdf = page.source.removesuffix(".json") + ".pdf"
    if not os.path.isfile(pdf):
        return drawn
    return Page(drawn.page_bounds, drawn.elements, {**drawn.meta, "source": pdf, "page": 1})
