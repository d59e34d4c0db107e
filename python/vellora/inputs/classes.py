"""Detector class sets and their mapping to the five labels.

A layout detector names its classes in its own vocabulary ("Section-header",
"plain text", "figure_caption", ...). Each class maps to one of the five labels
the ordering uses, to a category in a common vocabulary (``Title``,
``Section-header``, ``Text``, ``List-item``, ``Caption``, ``Footnote``,
``Formula``, ``Table``, ``Picture``, ``Page-header``, ``Page-footer``,
``Page-number``, ``Line-number``) and to a role: ``body``, ``header``,
``footer``, or ``furniture`` for classes that may sit at either end of the page
(page numbers, DocStructBench's ``abandon``), which become headers in the upper
half of the page and footers in the lower half.

Class names are matched without regard to case, and ``-``, ``_`` and spaces
are the same, so ``List-item``, ``list_item`` and ``list item`` are one class.
A mapping file (JSON) adds classes or overrides built-in ones::

    {"Figure": "Vision",
     "Marginalia": {"label": "Regular", "role": "furniture"},
     "Table": {"label": "Vision", "category": "Table"}}
"""

from __future__ import annotations

import re
from collections.abc import Iterator, Mapping
from dataclasses import dataclass
from typing import Any, Final

from ..page import LABELS, ROLES, Box, PageError

__all__ = [
    "BUILTIN_CLASSES",
    "CLASS_ROLES",
    "CLASS_SETS",
    "ClassInfo",
    "ClassMapping",
    "class_key",
    "parse_class_mapping",
]

#: The roles a class may map to: the element roles, and ``furniture`` (header or footer by position).
CLASS_ROLES: Final = (*ROLES, "furniture")

_SEPARATORS: Final = re.compile(r"[-_\s]+")


def class_key(name: str) -> str:
    """The form class names are matched in: case-folded, with ``-``, ``_`` and spaces alike."""
    return _SEPARATORS.sub("-", name.strip()).casefold()


@dataclass(frozen=True, slots=True)
class ClassInfo:
    """What a detector class becomes: a label, a category (None: none) and a role."""

    label: str
    category: str | None = None
    role: str = "body"

    def role_at(self, box: Box, page_bounds: Box) -> str:
        """The element role for a box on a page; ``furniture`` is decided by the box's centre."""
        if self.role != "furniture":
            return self.role
        middle = (page_bounds[1] + page_bounds[3]) / 2
        return "header" if (box[1] + box[3]) / 2 < middle else "footer"

    def label_for(self, box: Box) -> str:
        """The label for a box: a title at least twice as tall as wide is a vertical title."""
        if self.label == "HorizontalTitle" and box[3] - box[1] >= 2 * (box[2] - box[0]) > 0:
            return "VerticalTitle"
        return self.label


def _info(label: str, category: str | None, role: str = "body") -> ClassInfo:
    return ClassInfo(label, category, role)


_TITLE = "HorizontalTitle"
_TEXT = "Regular"

#: The class names of the common class sets, as the detectors write them.
CLASS_SETS: Final[Mapping[str, Mapping[str, ClassInfo]]] = {
    "DocLayNet": {
        "Caption": _info(_TEXT, "Caption"),
        "Footnote": _info(_TEXT, "Footnote"),
        "Formula": _info(_TEXT, "Formula"),
        "List-item": _info(_TEXT, "List-item"),
        "Page-footer": _info(_TEXT, "Page-footer", "footer"),
        "Page-header": _info(_TEXT, "Page-header", "header"),
        "Picture": _info("Vision", "Picture"),
        "Section-header": _info(_TITLE, "Section-header"),
        "Table": _info(_TEXT, "Table"),
        "Text": _info(_TEXT, "Text"),
        "Title": _info(_TITLE, "Title"),
    },
    "PubLayNet": {
        "text": _info(_TEXT, "Text"),
        "title": _info(_TITLE, "Title"),
        "list": _info(_TEXT, "List-item"),
        "table": _info(_TEXT, "Table"),
        "figure": _info("Vision", "Picture"),
    },
    "DocStructBench": {
        "title": _info(_TITLE, "Title"),
        "plain text": _info(_TEXT, "Text"),
        "abandon": _info(_TEXT, "abandon", "furniture"),
        "figure": _info("Vision", "Picture"),
        "figure_caption": _info(_TEXT, "Caption"),
        "table": _info(_TEXT, "Table"),
        "table_caption": _info(_TEXT, "Caption"),
        "table_footnote": _info(_TEXT, "Footnote"),
        "isolate_formula": _info(_TEXT, "Formula"),
        "formula_caption": _info(_TEXT, "Caption"),
    },
    # The finer categories of the PDF front end, and the five labels themselves.
    "vellora": {
        "Page-number": _info(_TEXT, "Page-number", "furniture"),
        "Line-number": _info(_TEXT, "Line-number", "footer"),
        **{label: _info(label, None) for label in LABELS},
    },
}


class ClassMapping(Mapping[str, ClassInfo]):
    """Class names to :class:`ClassInfo`, matched as :func:`class_key` says."""

    __slots__ = ("_entries",)

    def __init__(self, entries: Mapping[str, ClassInfo] | None = None) -> None:
        self._entries: dict[str, tuple[str, ClassInfo]] = {}
        for name, info in (entries or {}).items():
            self._entries[class_key(name)] = (name, info)

    def __getitem__(self, name: str) -> ClassInfo:
        return self._entries[class_key(name)][1]

    def __contains__(self, name: object) -> bool:
        return isinstance(name, str) and class_key(name) in self._entries

    def __iter__(self) -> Iterator[str]:
        return (name for name, _ in self._entries.values())

    def __len__(self) -> int:
        return len(self._entries)

    def get_class(self, name: object) -> ClassInfo | None:
        """The class named ``name``, or None for an unknown class or a non-string."""
        if not isinstance(name, str):
            return None
        entry = self._entries.get(class_key(name))
        return None if entry is None else entry[1]

    def updated(self, overrides: Mapping[str, ClassInfo]) -> ClassMapping:
        """This mapping with the classes of ``overrides`` added or replaced."""
        merged = ClassMapping(self)
        for name, info in overrides.items():
            merged._entries[class_key(name)] = (name, info)
        return merged


def _builtin() -> ClassMapping:
    mapping = ClassMapping()
    for classes in CLASS_SETS.values():
        mapping = mapping.updated(classes)
    return mapping


#: Every class of :data:`CLASS_SETS`.
BUILTIN_CLASSES: Final = _builtin()


def parse_class_mapping(data: object, *, source: str | None = None) -> ClassMapping:
    """The classes of a mapping file's JSON value, on top of the built-in ones.

    The value is an object from class names to a label, or to an object with
    ``label`` and optional ``category`` (default: the built-in class's category,
    or the class name for a new class) and ``role``
    (``body``, ``header``, ``footer`` or ``furniture``). Raises
    :class:`PageError` naming the class for anything else.
    """
    if not isinstance(data, Mapping):
        raise PageError("a class mapping must be an object of class names", source=source)
    overrides: dict[str, ClassInfo] = {}
    for name, value in data.items():
        where = f"class {name!r}"
        entry: Mapping[str, Any] = {"label": value} if isinstance(value, str) else value
        if not isinstance(entry, Mapping):
            raise PageError(f"{where}: must be a label or an object with 'label'", source=source)
        unknown = sorted(str(key) for key in entry if key not in ("label", "category", "role"))
        if unknown:
            raise PageError(f"{where}: unknown field {unknown[0]!r} (allowed: category, label, role)", source=source)
        label = entry.get("label")
        if label not in LABELS:
            raise PageError(f"{where}: 'label' must be one of {', '.join(LABELS)}; got {label!r}", source=source)
        known = BUILTIN_CLASSES.get_class(name)
        category = entry.get("category", known.category if known is not None else name)
        if category is not None and not isinstance(category, str):
            raise PageError(f"{where}: 'category' must be a string or null", source=source)
        role = entry.get("role", "body")
        if role not in CLASS_ROLES:
            raise PageError(f"{where}: 'role' must be one of {', '.join(CLASS_ROLES)}; got {role!r}", source=source)
        overrides[str(name)] = ClassInfo(str(label), category, str(role))
    return BUILTIN_CLASSES.updated(overrides)
