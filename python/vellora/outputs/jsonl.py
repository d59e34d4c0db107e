"""JSON Lines: one object per ordered page.

Each object holds ``schema_version`` (:data:`SCHEMA_VERSION`), the ``source``
it came from and its 1-based ``page`` number there, the ``page_bounds`` and
the page's ``width`` and ``height``, the ``algorithm`` and the ``elements`` in
reading order, each with its ``id``, ``box``, ``label``, 1-based ``position``
and, when set, ``text``, ``category``, ``role`` (other than ``body``) and
``score``. With several algorithms, ``orders`` maps each to its ids. The
published JSON Schema is ``schemas/page-order.schema.json`` in the repository.
"""

from __future__ import annotations

import json
from collections.abc import Mapping, Sequence
from typing import Any, Final

from ..page import Page, PageElement

__all__ = ["SCHEMA_VERSION", "element_record", "page_line", "page_record"]

#: Raised when a field changes meaning or is removed; new optional fields keep it.
SCHEMA_VERSION: Final = 1


def element_record(element: PageElement, position: int) -> dict[str, Any]:
    data: dict[str, Any] = {"id": element.id, "box": list(element.box), "label": element.label,
                            "position": position}
    if element.text is not None:
        data["text"] = element.text
    category = getattr(element, "category", None)
    if category is not None:
        data["category"] = category
    role = getattr(element, "role", "body")
    if role not in (None, "body"):
        data["role"] = role
    score = getattr(element, "score", None)
    if score is not None:
        data["score"] = score
    return data


def page_record(source: str, number: int, page: Page, algorithm: str, order: Sequence[int],
                orders: Mapping[str, Sequence[int]] | None = None) -> dict[str, Any]:
    """The JSON Lines object of ``page`` (page ``number`` of ``source``) read in ``order``."""
    data: dict[str, Any] = {
        "schema_version": SCHEMA_VERSION,
        "source": source,
        "page": number,
        "page_bounds": list(page.page_bounds),
        "width": page.width,
        "height": page.height,
        "algorithm": algorithm,
        "elements": [element_record(element, position)
                     for position, element in enumerate(page.elements_in(order), start=1)],
    }
    if orders is not None and len(orders) > 1:
        data["orders"] = {name: list(ids) for name, ids in orders.items()}
    return data


def page_line(record: Mapping[str, Any]) -> str:
    """One line of the output (ending in a newline)."""
    return json.dumps(record, ensure_ascii=False) + "\n"
