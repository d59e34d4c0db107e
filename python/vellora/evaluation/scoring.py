"""Scoring evaluation pages: every order of every page, and the means per layout class."""

from __future__ import annotations

import math
from collections.abc import Mapping, Sequence
from dataclasses import dataclass, field

from ..ordering import order
from .corpus import LAYOUTS, EvalPage
from .metrics import METRICS, score_order

__all__ = ["PageScore", "score_page", "summarise"]


@dataclass(frozen=True, slots=True)
class PageScore:
    """The scores of one page: order name to metric name to value, and the orders themselves."""

    source: str
    layout: str
    size: int  # how many elements the truth names
    scores: Mapping[str, Mapping[str, float]]
    orders: Mapping[str, tuple[int, ...]] = field(default_factory=dict)


def score_page(page: EvalPage, algorithms: Sequence[str], config: Mapping[str, float] | None = None) -> PageScore:
    """Order ``page`` with each algorithm and score it, and the page's stored orders, against its truth."""
    orders: dict[str, tuple[int, ...]] = {}
    for algorithm in algorithms:
        orders[algorithm] = tuple(order(page.page, algorithm, config))  # type: ignore[arg-type]
    for name, ids in page.orders.items():
        orders.setdefault(name, ids)
    scores = {name: score_order(ids, page.truth) for name, ids in orders.items()}
    return PageScore(page.source, page.layout, len(page.truth), scores, orders)


def _mean(values: Sequence[float]) -> float:
    return math.fsum(values) / len(values) if values else math.nan


def summarise(results: Sequence[PageScore]) -> dict[str, dict[str, dict[str, float]]]:
    """Mean of each metric per layout class (and ``all``), per order name.

    ``{"all": {"paper": {"pages": 80, "tau": ..., ...}, ...}, "one": {...}, ...}``;
    a class without pages is left out, and an order is averaged over the pages that have it.
    """
    names: list[str] = []
    for result in results:
        names.extend(name for name in result.scores if name not in names)
    groups = ["all", *LAYOUTS, *sorted({r.layout for r in results} - set(LAYOUTS))]
    summary: dict[str, dict[str, dict[str, float]]] = {}
    for group in groups:
        members = [r for r in results if group == "all" or r.layout == group]
        if not members:
            continue
        summary[group] = {}
        for name in names:
            scored = [r.scores[name] for r in members if name in r.scores]
            if scored:
                summary[group][name] = {"pages": float(len(scored))}
                summary[group][name].update({metric: _mean([s[metric] for s in scored]) for metric in METRICS})
    return summary
