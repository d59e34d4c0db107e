"""Pages as plain data: the JSON page format, its validation and its model.

A page is a JSON object (or the equivalent Python ``dict``)::

    {
      "page_bounds": [0, 0, 612, 792],
      "elements": [
        {"id": 1, "box": [72, 60, 540, 90], "label": "HorizontalTitle"},
        {"id": 2, "box": [72, 110, 296, 250], "label": "Regular", "text": "..."}
      ]
    }

Coordinates are page coordinates with y growing downwards: ``page_bounds`` is
``[left, top, right, bottom]`` and every ``box`` is ``[x1, y1, x2, y2]`` with
``x1 <= x2`` and ``y1 <= y2``. ``label`` is one of :data:`LABELS`.

Elements may also carry ``text`` (shown in listings and outputs), a finer
``category`` (a detector's class name such as ``"Table"``), a detector
``score``, a ``role`` (``"body"``, the default, or ``"header"`` / ``"footer"``
for page furniture, which is kept out of the body order) and a ``font_size``.
Any other element field is kept in :attr:`PageElement.extra`, written back by
:meth:`Page.to_dict` and ignored by the ordering. The required fields are still
checked, so a misspelt ``label`` is reported as missing.

The page may carry ``truth`` (ids in the true reading order, possibly of a
subset), ``orders`` (orders given by other tools, keyed by name) and ``meta``
(carried along untouched; the PDF front end records where the page came from).

Everything is checked before any ordering runs, and a problem raises
:class:`PageError` naming the field and the element, for example
``elements[3] (id 7): 'label' must be one of ...``.
"""

from __future__ import annotations

import difflib
import json
import math
import os
from collections.abc import Mapping, Sequence
from dataclasses import dataclass, field
from typing import Any, Final

__all__ = [
    "LABELS",
    "ROLES",
    "Box",
    "Page",
    "PageElement",
    "PageError",
    "load_page",
    "parse_page",
]

#: The element categories, in the order of their numeric codes.
LABELS: Final = ("CrossLayout", "HorizontalTitle", "VerticalTitle", "Vision", "Regular")

#: Identifiers are unsigned 64-bit integers.
MAX_ID: Final = 2**64 - 1

#: Element roles: the body of the page, and the page furniture above and below it.
ROLES: Final = ("body", "header", "footer")

_PAGE_KEYS: Final = frozenset({"page_bounds", "elements", "meta", "truth", "orders"})
_REQUIRED_ELEMENT_KEYS: Final = ("id", "box", "label")
_ELEMENT_KEYS: Final = frozenset({*_REQUIRED_ELEMENT_KEYS, "text", "category", "score", "role", "font_size"})

Box = tuple[float, float, float, float]


class PageError(ValueError):
    """A page that is not well formed.

    The message names the offending field, and the element (its index and, when
    known, its id) where there is one. ``source`` is the file the page came
    from, when it came from a file.
    """

    def __init__(self, message: str, *, source: str | None = None) -> None:
        super().__init__(message)
        self.message = message
        self.source = source

    def __str__(self) -> str:
        if self.source is not None:
            return f"{self.source}: {self.message}"
        return self.message


@dataclass(frozen=True, slots=True)
class PageElement:
    """One layout element of a page: identifier, box, label and optional details.

    ``category`` is the finer class name from a detector or the PDF front end,
    ``score`` a detector's confidence, ``role`` ``"body"`` or ``"header"`` /
    ``"footer"`` for page furniture, ``font_size`` the median character size.
    ``extra`` holds any other fields of the element as read; they are written
    back by :meth:`to_dict` and play no part in the ordering.
    """

    id: int
    box: Box
    label: str
    text: str | None = None
    category: str | None = None
    score: float | None = None
    role: str = "body"
    font_size: float | None = None
    extra: Mapping[str, Any] = field(default_factory=dict, hash=False)

    @property
    def is_furniture(self) -> bool:
        """Whether the element is a running head, footer or the like."""
        return self.role != "body"

    @property
    def x1(self) -> float:
        return self.box[0]

    @property
    def y1(self) -> float:
        return self.box[1]

    @property
    def x2(self) -> float:
        return self.box[2]

    @property
    def y2(self) -> float:
        return self.box[3]

    @property
    def width(self) -> float:
        return self.box[2] - self.box[0]

    @property
    def height(self) -> float:
        return self.box[3] - self.box[1]

    @property
    def center(self) -> tuple[float, float]:
        return ((self.box[0] + self.box[2]) / 2, (self.box[1] + self.box[3]) / 2)

    def shares_line_with(self, other: PageElement) -> bool:
        """Whether ``other`` is set on one line with this element: side by side, about as tall, sharing
        more than 80 % of the taller one's height (pieces of a running head in different fonts)."""
        beside = min(self.x2, other.x2) <= max(self.x1, other.x1)
        shared = min(self.y2, other.y2) - max(self.y1, other.y1)
        return beside and shared > 0.8 * max(self.height, other.height)

    def to_dict(self) -> dict[str, Any]:
        data: dict[str, Any] = {"id": self.id, "box": list(self.box), "label": self.label}
        for key in ("text", "category", "score"):
            value = getattr(self, key)
            if value is not None:
                data[key] = value
        if self.role != "body":
            data["role"] = self.role
        if self.font_size is not None:
            data["font_size"] = self.font_size
        data.update(self.extra)
        return data


@dataclass(frozen=True, slots=True)
class Page:
    """A validated page: its bounds and its elements in input order.

    Identifiers are unique, so an order (a list of ids) maps back to elements
    with :meth:`elements_in`.
    """

    page_bounds: Box
    elements: tuple[PageElement, ...]
    meta: Mapping[str, Any] = field(default_factory=dict)
    truth: tuple[int, ...] | None = None
    orders: Mapping[str, tuple[int, ...]] = field(default_factory=dict)

    def __post_init__(self) -> None:
        # Pages built directly (not parsed) get the same checks as parsed ones.
        _check_bounds(self.page_bounds, "page_bounds")
        seen: dict[int, int] = {}
        for index, element in enumerate(self.elements):
            where = _where(index, element.id)
            _check_id(element.id, where)
            _check_box(element.box, f"{where}: 'box'")
            _check_details(element, where)
            if element.id in seen:
                raise PageError(f"{where}: duplicate id {element.id} (also used by elements[{seen[element.id]}])")
            seen[element.id] = index
        if self.truth is not None:
            object.__setattr__(self, "truth", _check_order(self.truth, "'truth'", seen))
        if not isinstance(self.orders, Mapping):
            raise PageError(f"'orders' must be an object; got {_type_name(self.orders)}")
        orders: dict[str, tuple[int, ...]] = {}
        for name, ids in self.orders.items():
            if not isinstance(name, str):
                raise PageError(f"'orders': names must be strings; got {_type_name(name)}")
            orders[name] = _check_order(ids, f"'orders'[{name!r}]", seen)
        object.__setattr__(self, "orders", orders)

    @property
    def width(self) -> float:
        return self.page_bounds[2] - self.page_bounds[0]

    @property
    def height(self) -> float:
        return self.page_bounds[3] - self.page_bounds[1]

    def element(self, element_id: int) -> PageElement:
        """The element with identifier ``element_id`` (KeyError if there is none)."""
        for element in self.elements:
            if element.id == element_id:
                return element
        raise KeyError(element_id)

    def elements_in(self, order: Sequence[int]) -> list[PageElement]:
        """The elements listed by ``order``, a sequence of identifiers."""
        by_id = {element.id: element for element in self.elements}
        return [by_id[element_id] for element_id in order]

    def to_dict(self) -> dict[str, Any]:
        """The page as JSON-ready plain data (the inverse of :func:`parse_page`)."""
        data: dict[str, Any] = {
            "page_bounds": list(self.page_bounds),
            "elements": [element.to_dict() for element in self.elements],
        }
        if self.truth is not None:
            data["truth"] = list(self.truth)
        if self.orders:
            data["orders"] = {name: list(ids) for name, ids in self.orders.items()}
        if self.meta:
            data["meta"] = dict(self.meta)
        return data

    def to_json(self, *, indent: int | None = 2) -> str:
        return json.dumps(self.to_dict(), indent=indent)


def _where(index: int, element_id: object = None) -> str:
    if isinstance(element_id, int) and not isinstance(element_id, bool):
        return f"elements[{index}] (id {element_id})"
    return f"elements[{index}]"


def _type_name(value: object) -> str:
    if value is None:
        return "null"
    return {bool: "boolean", int: "integer", float: "number", str: "string", list: "array", dict: "object"}.get(
        type(value), type(value).__name__
    )


def _is_number(value: object) -> bool:
    return isinstance(value, (int, float)) and not isinstance(value, bool)


def _check_id(value: object, where: str) -> int:
    if not isinstance(value, int) or isinstance(value, bool):
        raise PageError(f"{where}: 'id' must be an integer; got {_type_name(value)}")
    if not 0 <= value <= MAX_ID:
        raise PageError(f"{where}: 'id' must be between 0 and 2**64-1; got {value}")
    return value


def _check_four_numbers(value: object, what: str) -> Box:
    if not isinstance(value, (list, tuple)):
        raise PageError(f"{what} must be an array of 4 numbers; got {_type_name(value)}")
    if len(value) != 4:
        raise PageError(f"{what} must have 4 numbers; got {len(value)}")
    numbers = []
    for position, item in enumerate(value):
        if not _is_number(item):
            raise PageError(f"{what}[{position}] must be a number; got {_type_name(item)}")
        number = float(item)
        if not math.isfinite(number):
            raise PageError(f"{what}[{position}] must be finite; got {number}")
        numbers.append(number)
    return (numbers[0], numbers[1], numbers[2], numbers[3])


def _check_bounds(value: object, what: str) -> Box:
    bounds = _check_four_numbers(value, what)
    left, top, right, bottom = bounds
    if not right > left:
        raise PageError(f"{what}: right ({right:g}) must be greater than left ({left:g})")
    if not bottom > top:
        raise PageError(f"{what}: bottom ({bottom:g}) must be greater than top ({top:g})")
    return bounds


def _check_box(value: object, what: str) -> Box:
    box = _check_four_numbers(value, what)
    x1, y1, x2, y2 = box
    if x2 < x1:
        raise PageError(f"{what}: x2 ({x2:g}) is less than x1 ({x1:g})")
    if y2 < y1:
        raise PageError(f"{what}: y2 ({y2:g}) is less than y1 ({y1:g})")
    return box


def _check_details(element: PageElement, where: str) -> None:
    """Check the fields of an element other than its id and box."""
    if not isinstance(element.label, str):
        raise PageError(f"{where}: 'label' must be a string; got {_type_name(element.label)}")
    if element.label not in LABELS:
        raise PageError(f"{where}: 'label' must be one of {', '.join(LABELS)}; got {element.label!r}")
    for key in ("text", "category"):
        value = getattr(element, key)
        if value is not None and not isinstance(value, str):
            raise PageError(f"{where}: {key!r} must be a string; got {_type_name(value)}")
    if element.role not in ROLES:
        raise PageError(f"{where}: 'role' must be one of {', '.join(ROLES)}; got {element.role!r}")
    for key in ("score", "font_size"):
        value = getattr(element, key)
        if value is None:
            continue
        if not _is_number(value):
            raise PageError(f"{where}: {key!r} must be a number; got {_type_name(value)}")
        if not math.isfinite(value):
            raise PageError(f"{where}: {key!r} must be finite; got {value}")
    if element.font_size is not None and not element.font_size > 0:
        raise PageError(f"{where}: 'font_size' must be positive; got {element.font_size:g}")
    if not isinstance(element.extra, Mapping):
        raise PageError(f"{where}: extra fields must be a mapping; got {_type_name(element.extra)}")
    clashes = sorted(str(key) for key in element.extra if key in _ELEMENT_KEYS)
    if clashes:
        raise PageError(f"{where}: extra field {clashes[0]!r} clashes with the element field of that name")


def _check_order(ids: object, what: str, positions: Mapping[int, int]) -> tuple[int, ...]:
    """Check a list of element ids: known on the page, each at most once."""
    if not isinstance(ids, (list, tuple)):
        raise PageError(f"{what} must be an array of element ids; got {_type_name(ids)}")
    seen: set[int] = set()
    for position, value in enumerate(ids):
        if not isinstance(value, int) or isinstance(value, bool):
            raise PageError(f"{what}[{position}] must be an integer id; got {_type_name(value)}")
        if value not in positions:
            raise PageError(f"{what}[{position}]: no element has id {value}")
        if value in seen:
            raise PageError(f"{what}[{position}]: id {value} is listed twice")
        seen.add(value)
    return tuple(ids)


def _number_or_none(raw: Mapping[Any, Any], key: str, where: str) -> float | None:
    value = raw.get(key)
    if value is None:
        return None
    if not _is_number(value):
        raise PageError(f"{where}: {key!r} must be a number; got {_type_name(value)}")
    return float(value)


def _missing_field(where: str, key: str, raw: Mapping[Any, Any]) -> PageError:
    """A missing required field, pointing at a look-alike extra field if there is one."""
    near = difflib.get_close_matches(key, [str(name) for name in raw if name not in _ELEMENT_KEYS], n=1, cutoff=0.6)
    hint = f" (is {near[0]!r} a misspelling?)" if near else ""
    return PageError(f"{where}: missing field {key!r}{hint}")


def _parse_element(index: int, raw: object) -> PageElement:
    if not isinstance(raw, Mapping):
        raise PageError(f"{_where(index)}: must be an object; got {_type_name(raw)}")
    raw_id = raw.get("id")
    where = _where(index, raw_id)
    for key in _REQUIRED_ELEMENT_KEYS:
        if key not in raw:
            raise _missing_field(where, key, raw)
    element_id = _check_id(raw_id, where)
    box = _check_box(raw["box"], f"{where}: 'box'")
    role = raw.get("role", "body")
    if not isinstance(role, str):
        raise PageError(f"{where}: 'role' must be a string; got {_type_name(role)}")
    extra = {str(key): value for key, value in raw.items() if key not in _ELEMENT_KEYS}
    element = PageElement(
        element_id,
        box,
        raw["label"],
        raw.get("text"),
        raw.get("category"),
        _number_or_none(raw, "score", where),
        role,
        _number_or_none(raw, "font_size", where),
        extra,
    )
    _check_details(element, where)
    return element


def parse_page(data: object, *, source: str | None = None) -> Page:
    """Validate plain data (as read from JSON) and return a :class:`Page`.

    ``source`` names where the data came from; it prefixes error messages.
    Raises :class:`PageError` for anything malformed.
    """
    try:
        if not isinstance(data, Mapping):
            raise PageError(f"page must be an object; got {_type_name(data)}")
        unknown = sorted(str(key) for key in data if key not in _PAGE_KEYS)
        if unknown:
            raise PageError(
                f"unknown field {unknown[0]!r} (allowed: {', '.join(sorted(_PAGE_KEYS))}; "
                f"put anything else in 'meta')"
            )
        for key in ("page_bounds", "elements"):
            if key not in data:
                raise PageError(f"missing field {key!r}")
        bounds = _check_bounds(data["page_bounds"], "'page_bounds'")
        raw_elements = data["elements"]
        if not isinstance(raw_elements, (list, tuple)):
            raise PageError(f"'elements' must be an array; got {_type_name(raw_elements)}")
        elements = tuple(_parse_element(index, raw) for index, raw in enumerate(raw_elements))
        meta = data.get("meta", {})
        if not isinstance(meta, Mapping):
            raise PageError(f"'meta' must be an object; got {_type_name(meta)}")
        truth = data.get("truth")
        if truth is not None and not isinstance(truth, (list, tuple)):
            raise PageError(f"'truth' must be an array of element ids; got {_type_name(truth)}")
        orders = data.get("orders", {})
        if not isinstance(orders, Mapping):
            raise PageError(f"'orders' must be an object; got {_type_name(orders)}")
        for name, ids in orders.items():
            if not isinstance(ids, (list, tuple)):
                raise PageError(f"'orders'[{name!r}] must be an array of element ids; got {_type_name(ids)}")
        return Page(
            bounds,
            elements,
            dict(meta),
            None if truth is None else tuple(truth),
            {name: tuple(ids) for name, ids in orders.items()},
        )
    except PageError as error:
        if source is not None and error.source is None:
            error.source = source
        raise


def _read_json(path: str | os.PathLike[str]) -> object:
    """The JSON value held by the file at ``path``.

    Raises PageError (without a source) for a file that is not UTF-8 or not
    usable JSON, and OSError when the file cannot be read.
    """
    with open(path, "rb") as stream:
        raw = stream.read()
    try:
        text = raw.decode("utf-8")
    except UnicodeDecodeError as error:
        raise PageError(f"not UTF-8 text (byte {error.start} is {raw[error.start]:#04x})") from None
    return decode_json(text)


def decode_json(text: str) -> object:
    """The JSON value of ``text``; PageError with the line and column when it is not JSON."""
    try:
        return json.loads(text)
    except json.JSONDecodeError as error:
        raise PageError(f"not valid JSON: {error.msg} (line {error.lineno}, column {error.colno})") from None
    except RecursionError:
        raise PageError("not usable JSON: arrays or objects nested too deeply") from None
    except ValueError as error:  # an integer with more digits than Python converts
        raise PageError(f"not valid JSON: {str(error).split(';')[0]}") from None


def load_page(path: str | os.PathLike[str]) -> Page:
    """Read a JSON page file and validate it (see :func:`parse_page`).

    Raises :class:`PageError` for a file that is not UTF-8, not valid JSON or
    not a valid page, and OSError when the file cannot be read.
    """
    source = os.fspath(path)
    try:
        data = _read_json(path)
    except PageError as error:
        error.source = source
        raise
    return parse_page(data, source=source)
