"""Page files: one page object, a list of pages, or JSON Lines of pages.

Elements may name a detector class instead of one of the five labels, in
``label`` or (with no ``label``) in ``category``; the class mapping of the
options turns it into a label, a category and a role (see
:mod:`vellora.inputs.classes`). An element's own ``category`` and ``role``
win over the mapping's.
"""

from __future__ import annotations

from collections.abc import Mapping
from typing import Any

from ..page import LABELS, Page, PageError, decode_json, parse_page
from .options import ImportOptions, apply_min_score, class_error, four_numbers

__all__ = ["decode_json", "page_from_data", "pages_from_jsonl"]


def _where(index: int, raw: Mapping[str, Any]) -> str:
    element_id = raw.get("id")
    if isinstance(element_id, int) and not isinstance(element_id, bool):
        return f"elements[{index}] (id {element_id})"
    return f"elements[{index}]"


def _map_element(index: int, raw: object, data: Mapping[str, Any], options: ImportOptions) -> object:
    """``raw`` with a detector class name turned into a label, category and role."""
    if not isinstance(raw, Mapping):
        return raw
    label = raw.get("label")
    if label in LABELS:
        return raw
    name = label if "label" in raw else raw.get("category")
    if not isinstance(name, str):
        return raw  # the page's own checks report the missing or mistyped label
    info = options.classes.get_class(name)
    if info is None:
        raise class_error(f"{_where(index, raw)}: {'label' if 'label' in raw else 'category'!r}", name)
    mapped = dict(raw)
    box = four_numbers(raw.get("box"))
    bounds = four_numbers(data.get("page_bounds"))
    mapped["label"] = info.label if box is None else info.label_for(box)
    if "category" not in raw and info.category is not None:
        mapped["category"] = info.category
    if "role" not in raw and info.role != "body":
        mapped["role"] = info.role_at(box, bounds) if box is not None and bounds is not None else "header"
    return mapped


def page_from_data(data: object, options: ImportOptions, where: str = "") -> Page:
    """One page from its JSON value, with class names mapped and weak elements dropped.

    ``where`` ("pages[3]: ", "line 4: ") prefixes error messages.
    """
    try:
        if isinstance(data, Mapping) and isinstance(data.get("elements"), list):
            elements = [_map_element(index, raw, data, options) for index, raw in enumerate(data["elements"])]
            data = {**data, "elements": elements}
        return apply_min_score(parse_page(data), options.min_score)
    except PageError as error:
        raise PageError(where + error.message) from None


def pages_from_jsonl(text: str, options: ImportOptions) -> list[Page]:
    """The pages of JSON Lines text: one page object per line; blank lines are skipped."""
    pages = []
    for number, line in enumerate(text.splitlines(), start=1):
        if not line.strip():
            continue
        try:
            data = decode_json(line)
        except PageError as error:
            raise PageError(f"line {number}: {error.message.replace(' (line 1, ', ' (')}") from None
        pages.append(page_from_data(data, options, f"line {number}: "))
    return pages
