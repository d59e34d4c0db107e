"""COCO-style detection results: pages in and out.

The file is an object with ``categories`` (``{"id", "name"}`` each),
``annotations`` (``{"image_id", "category_id", "bbox", "score"?, "id"?}``,
``bbox`` as x, y, width, height) and optionally ``images`` (``{"id", "width",
"height", ...}``). Each image is a page, in the order of ``images`` and then of
first appearance in ``annotations``. The page bounds are ``[0, 0, width,
height]`` of the image when it gives its size, otherwise the extent of its
boxes (from the origin, or from the smallest coordinates when they are
negative, to the largest).

Category names are mapped by the class mapping of the options (see
:mod:`vellora.inputs.classes`). Element ids are the annotations' ids when every
annotation of the page has a distinct one, else 1, 2, ... in file order.
An annotation may also carry ``label``, ``role``, ``text`` and ``font_size``,
which win over the mapping; any other field is kept in the element's
``extra``. Other fields of an image go into the page's ``meta`` with its
``image_id``. :func:`pages_to_coco` writes pages in this form.
"""

from __future__ import annotations

from collections.abc import Mapping, Sequence
from typing import Any

from ..page import LABELS, Box, Page, PageElement, PageError
from .options import ImportOptions, apply_min_score, class_error, four_numbers

__all__ = ["is_coco", "pages_from_coco", "pages_to_coco"]

# Annotation fields read into element fields; the rest go to ``extra``.
_READ: frozenset[str] = frozenset({"id", "image_id", "category_id", "bbox", "score", "label", "role", "text", "font_size"})
_IMAGE_READ: frozenset[str] = frozenset({"id", "width", "height", "page_bounds"})


def is_coco(data: object) -> bool:
    """Whether a JSON value looks like COCO-style detections rather than pages."""
    return isinstance(data, Mapping) and "annotations" in data and "elements" not in data


def _number(value: object) -> bool:
    return isinstance(value, (int, float)) and not isinstance(value, bool)


def _annotation_error(index: int, raw: Mapping[str, Any], message: str) -> PageError:
    details = [f"{key} {raw[key]}" for key in ("id", "image_id") if _number(raw.get(key))]
    return PageError(f"annotations[{index}]" + (f" ({', '.join(details)})" if details else "") + f": {message}")


def _categories(data: Mapping[str, Any]) -> dict[object, str]:
    raw = data.get("categories")
    if not isinstance(raw, list):
        raise PageError("COCO detections need a 'categories' array of {\"id\", \"name\"} objects")
    names: dict[object, str] = {}
    for index, category in enumerate(raw):
        if not isinstance(category, Mapping) or "id" not in category or not isinstance(category.get("name"), str):
            raise PageError(f"categories[{index}]: must be an object with an 'id' and a string 'name'")
        names[category["id"]] = category["name"]
    return names


def _images(data: Mapping[str, Any]) -> dict[object, Mapping[str, Any]]:
    raw = data.get("images", [])
    if not isinstance(raw, list):
        raise PageError("'images' must be an array of {\"id\", \"width\", \"height\"} objects")
    images: dict[object, Mapping[str, Any]] = {}
    for index, image in enumerate(raw):
        if not isinstance(image, Mapping) or "id" not in image:
            raise PageError(f"images[{index}]: must be an object with an 'id'")
        images[image["id"]] = image
    return images


def _bounds(image: Mapping[str, Any] | None, boxes: Sequence[Box], where: str) -> Box:
    if image is not None:
        given = four_numbers(image.get("page_bounds"))
        if given is not None:
            return given
        width, height = image.get("width"), image.get("height")
        if _number(width) and _number(height):
            if not (width > 0 and height > 0):  # type: ignore[operator]
                raise PageError(f"{where}: 'width' and 'height' must be positive; got {width} and {height}")
            return (0.0, 0.0, float(width), float(height))  # type: ignore[arg-type]
    left = min([0.0, *(box[0] for box in boxes)])
    top = min([0.0, *(box[1] for box in boxes)])
    right = max([left + 1.0, *(box[2] for box in boxes)])
    bottom = max([top + 1.0, *(box[3] for box in boxes)])
    return (left, top, right, bottom)


def _box(index: int, raw: Mapping[str, Any]) -> Box:
    bbox = raw.get("bbox")
    numbers = four_numbers(bbox)
    if numbers is None:
        raise _annotation_error(index, raw, f"'bbox' must be 4 finite numbers (x, y, width, height); got {bbox!r}")
    x, y, width, height = numbers
    if width < 0:
        raise _annotation_error(index, raw, f"'bbox' has a negative width ({width:g})")
    if height < 0:
        raise _annotation_error(index, raw, f"'bbox' has a negative height ({height:g})")
    return (x, y, x + width, y + height)


def pages_from_coco(data: Mapping[str, Any], options: ImportOptions) -> list[Page]:
    """The pages of COCO-style detections (see the module's description)."""
    names = _categories(data)
    images = _images(data)
    annotations = data.get("annotations")
    if not isinstance(annotations, list):
        raise PageError("'annotations' must be an array of detections")
    grouped: dict[object, list[tuple[int, Mapping[str, Any], Box]]] = {key: [] for key in images}
    for index, raw in enumerate(annotations):
        if not isinstance(raw, Mapping):
            raise PageError(f"annotations[{index}]: must be an object")
        for key in ("image_id", "category_id", "bbox"):
            if key not in raw:
                raise _annotation_error(index, raw, f"missing field {key!r}")
        if raw["category_id"] not in names:
            raise _annotation_error(index, raw, f"category_id {raw['category_id']!r} is not in 'categories'")
        image_id = raw["image_id"]
        if isinstance(image_id, (list, dict)):
            raise _annotation_error(index, raw, "'image_id' must be a number or a string")
        grouped.setdefault(image_id, []).append((index, raw, _box(index, raw)))
    pages = []
    for image_id, entries in grouped.items():
        image = images.get(image_id)
        bounds = _bounds(image, [box for _, _, box in entries], f"image {image_id!r}")
        ids = [raw.get("id") for _, raw, _ in entries]
        own_ids = all(isinstance(i, int) and not isinstance(i, bool) and 0 <= i < 2**64 for i in ids)
        if own_ids and len(set(ids)) < len(ids):
            own_ids = False
        elements = [
            _element(index, raw, box, bounds, i if own_ids else position, names, options)
            for position, ((index, raw, box), i) in enumerate(zip(entries, ids), start=1)
        ]
        meta = {"image_id": image_id, **{k: v for k, v in (image or {}).items() if k not in _IMAGE_READ}}
        try:
            page = Page(bounds, tuple(elements), meta)
        except PageError as error:
            raise PageError(f"image {image_id!r}: {error.message}") from None
        pages.append(apply_min_score(page, options.min_score))
    return pages


def _element(
    index: int,
    raw: Mapping[str, Any],
    box: Box,
    bounds: Box,
    element_id: object,
    names: Mapping[object, str],
    options: ImportOptions,
) -> PageElement:
    name = names[raw["category_id"]]
    info = options.classes.get_class(name)
    label = raw.get("label")
    if label is None:
        if info is None:
            error = class_error(f"category {raw['category_id']!r}", name)
            raise _annotation_error(index, raw, error.message)
        label = info.label_for(box)
    elif label not in LABELS:
        raise _annotation_error(index, raw, f"'label' must be one of {', '.join(LABELS)}; got {label!r}")
    if info is not None and info.label == name:
        category = None  # one of the five labels, used as a class
    elif "label" in raw:
        category = name  # written with its label (as pages_to_coco does): the name is the category
    else:
        category = info.category if info is not None and info.category is not None else name
    role = raw.get("role", info.role_at(box, bounds) if info is not None else "body")
    element = PageElement(
        element_id,  # type: ignore[arg-type]  # checked by Page
        box,
        str(label),
        raw.get("text"),
        category,
        raw.get("score"),
        role,
        raw.get("font_size"),
        {str(key): value for key, value in raw.items() if key not in _READ},
    )
    return element


def pages_to_coco(pages: Sequence[Page]) -> dict[str, Any]:
    """Pages as COCO-style detections that :func:`pages_from_coco` reads back unchanged.

    Each page is an image (``id`` 1, 2, ... unless its ``meta`` has an
    ``image_id``); each element an annotation whose category is the element's
    category, or its label when it has none. Label, role, text and font size
    are written as annotation fields, so nothing depends on a class mapping.
    """
    categories: dict[str, int] = {}
    images: list[dict[str, Any]] = []
    annotations: list[dict[str, Any]] = []
    for number, page in enumerate(pages, start=1):
        meta = dict(page.meta)
        image_id = meta.pop("image_id", number)
        left, top, right, bottom = page.page_bounds
        image: dict[str, Any] = {"id": image_id, "width": right - left, "height": bottom - top, **meta}
        if left or top:
            image["page_bounds"] = list(page.page_bounds)
        images.append(image)
        for element in page.elements:
            name = element.category if element.category is not None else element.label
            category_id = categories.setdefault(name, len(categories) + 1)
            x1, y1, x2, y2 = element.box
            annotation: dict[str, Any] = {
                "id": element.id,
                "image_id": image_id,
                "category_id": category_id,
                "bbox": [x1, y1, x2 - x1, y2 - y1],
                "label": element.label,
                "role": element.role,
            }
            for key in ("score", "text", "font_size"):
                if getattr(element, key) is not None:
                    annotation[key] = getattr(element, key)
            annotation.update(element.extra)
            annotations.append(annotation)
    return {
        "images": images,
        "annotations": annotations,
        "categories": [{"id": number, "name": name} for name, number in categories.items()],
    }
