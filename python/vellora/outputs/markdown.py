"""Markdown: a document's pages as one Markdown text.

- Titles (``HorizontalTitle``/``VerticalTitle`` labels, or the categories
  ``Title`` and ``Section-header``) become headings. Their level is the rank
  of their size among the document's title sizes, largest first (``#`` for
  the largest, at most ``######``); the size is the element's ``font_size``
  when known, else its box height.
- Pictures (``Vision``, or the category ``Picture``) become an image line
  whose text is their caption: the nearest element of category ``Caption`` on
  the page, which is then not repeated as a paragraph.
- Tables (category ``Table``) become a fenced block of their text, lines kept.
- List items (category ``List-item``) become list entries.
- Page furniture (role ``header`` or ``footer``) is left out, and so are page
  boundaries: a Markdown document has no pages.
- Everything else is a paragraph, its lines joined as in the text output.
"""

from __future__ import annotations

import math
from collections.abc import Sequence
from dataclasses import dataclass
from typing import Final

from ..page import PageElement
from .text import element_text

__all__ = ["MarkdownPage", "document_markdown"]

_TITLE_LABELS: Final = frozenset({"HorizontalTitle", "VerticalTitle"})
_TITLE_CATEGORIES: Final = frozenset({"Title", "Section-header"})
_BULLETS: Final = ("-", "*", "\u2022", "\u2013")


@dataclass(frozen=True)
class MarkdownPage:
    """One page's elements in reading order, and where the page came from."""

    source: str
    number: int
    elements: Sequence[PageElement]


def _category(element: PageElement) -> str | None:
    category = getattr(element, "category", None)
    return category if isinstance(category, str) else None


def _is_title(element: PageElement) -> bool:
    category = _category(element)
    if category is not None:
        return category in _TITLE_CATEGORIES
    return element.label in _TITLE_LABELS


def _is_picture(element: PageElement) -> bool:
    category = _category(element)
    return category == "Picture" if category is not None else element.label == "Vision"


def _size(element: PageElement) -> float:
    size = getattr(element, "font_size", None)
    value = float(size) if isinstance(size, (int, float)) and size > 0 else element.height
    return round(value * 2) / 2


def _gap(a: PageElement, b: PageElement) -> float:
    dx = max(a.x1 - b.x2, b.x1 - a.x2, 0.0)
    dy = max(a.y1 - b.y2, b.y1 - a.y2, 0.0)
    return math.hypot(dx, dy)


def _captions(elements: Sequence[PageElement]) -> dict[int, PageElement]:
    """Each picture's caption (by id): the nearest unclaimed Caption element."""
    captions = [element for element in elements if _category(element) == "Caption"]
    pictures = [element for element in elements if _is_picture(element)]
    pairs = sorted((_gap(p, c), index, c_index) for index, p in enumerate(pictures)
                   for c_index, c in enumerate(captions))
    found: dict[int, PageElement] = {}
    used: set[int] = set()
    for _, index, c_index in pairs:
        if pictures[index].id not in found and c_index not in used:
            found[pictures[index].id] = captions[c_index]
            used.add(c_index)
    return found


def _escape_alt(text: str) -> str:
    return text.replace("\\", "\\\\").replace("[", "\\[").replace("]", "\\]")


def document_markdown(pages: Sequence[MarkdownPage]) -> str:
    """The Markdown text of a document given as its pages in order."""
    sizes = sorted({_size(e) for page in pages for e in page.elements if _is_title(e)}, reverse=True)
    level = {size: min(rank, 6) for rank, size in enumerate(sizes, start=1)}
    blocks: list[str] = []
    for page in pages:
        body = [e for e in page.elements if getattr(e, "role", "body") in (None, "body")]
        captions = _captions(body)
        caption_ids = {caption.id for caption in captions.values()}
        for element in body:
            if element.id in caption_ids:
                continue
            text = element_text(element)
            category = _category(element)
            if _is_picture(element):
                caption = captions.get(element.id)
                alt = element_text(caption) if caption is not None else text
                blocks.append(f"![{_escape_alt(alt)}](<{page.source}#page={page.number}>)")
                if caption is not None:
                    blocks.append(f"*{alt}*")
            elif not text:
                continue
            elif _is_title(element):
                blocks.append(f"{'#' * level[_size(element)]} {text}")
            elif category == "Table":
                lines = [line.rstrip() for line in (element.text or "").splitlines() if line.strip()]
                blocks.append("```\n" + "\n".join(lines) + "\n```")
            elif category == "List-item":
                blocks.append("- " + (text[1:].lstrip() if text.startswith(_BULLETS) else text))
            else:
                blocks.append(text)
    return "\n\n".join(blocks) + "\n" if blocks else ""
