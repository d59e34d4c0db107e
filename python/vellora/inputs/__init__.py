"""Page files and detector output in: the formats :func:`pages_from_text` reads.

- one page object (see :mod:`vellora.page`);
- a JSON array of page objects;
- JSON Lines: one page object per line;
- COCO-style detection results (see :mod:`vellora.inputs.coco`).

Elements may name a detector class (DocLayNet, PubLayNet, DocStructBench or a
mapping file's) instead of one of the five labels; see
:mod:`vellora.inputs.classes`. ``ImportOptions.min_score`` drops weak
detections. Every problem is a :class:`~vellora.page.PageError` with a
one-line message naming the source and the page and element.
"""

from __future__ import annotations

import os
from collections.abc import Mapping

from ..fileio import read_text
from ..page import Page, PageError
from .classes import BUILTIN_CLASSES, CLASS_SETS, ClassInfo, ClassMapping, parse_class_mapping
from .coco import is_coco, pages_from_coco, pages_to_coco
from .options import ImportOptions
from .pagefile import decode_json, page_from_data, pages_from_jsonl

__all__ = [
    "BUILTIN_CLASSES",
    "CLASS_SETS",
    "ClassInfo",
    "ClassMapping",
    "ImportOptions",
    "load_class_mapping",
    "load_pages",
    "pages_from_text",
    "pages_to_coco",
    "parse_class_mapping",
]


def _looks_like_jsonl(text: str, error: PageError) -> bool:
    """Whether text that is not one JSON value is several, one per line."""
    return "Extra data" in error.message and text.lstrip().startswith("{")


def _decode(text: str, options: ImportOptions) -> list[Page]:
    try:
        data = decode_json(text)
    except PageError as error:
        if _looks_like_jsonl(text, error):
            return pages_from_jsonl(text, options)
        raise
    if is_coco(data):
        assert isinstance(data, Mapping)
        return pages_from_coco(data, options)
    if isinstance(data, list):
        if data and isinstance(data[0], Mapping) and "bbox" in data[0] and "category_id" in data[0]:
            raise PageError(
                "a bare list of detections names no categories; give an object with 'categories' "
                "and 'annotations' (and 'images' for the page sizes)"
            )
        return [page_from_data(item, options, f"pages[{index}]: ") for index, item in enumerate(data)]
    return [page_from_data(data, options)]


def pages_from_text(text: str, *, source: str, options: ImportOptions | None = None) -> list[Page]:
    """The pages held by the text of a page file, in file order.

    ``source`` names the file in error messages. Raises :class:`PageError`
    (``source: pages[2]: elements[1] (id 5): ...``) for anything malformed.
    """
    try:
        return _decode(text, options or ImportOptions())
    except PageError as error:
        if error.source is None:
            error.source = source
        raise


def load_pages(path: str | os.PathLike[str], options: ImportOptions | None = None, limit: int | None = None) -> list[Page]:
    """The pages of the file at ``path`` (``-``: standard input), read with :func:`vellora.fileio.read_text`.

    Raises :class:`PageError`, :class:`vellora.fileio.InputError` (too large,
    not UTF-8) or OSError.
    """
    source = os.fspath(path)
    return pages_from_text(read_text(path, limit), source="<stdin>" if source == "-" else source, options=options)


def load_class_mapping(path: str | os.PathLike[str], limit: int | None = None) -> ClassMapping:
    """The class mapping of a JSON mapping file, on top of the built-in class sets."""
    source = os.fspath(path)
    try:
        return parse_class_mapping(decode_json(read_text(path, limit)), source=source)
    except PageError as error:
        if error.source is None:
            error.source = source
        raise
