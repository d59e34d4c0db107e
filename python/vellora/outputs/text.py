"""Plain text in reading order.

An element's lines are joined with spaces. A hyphen at the end of a line that
splits a word (a letter before it, a lower-case letter after it) is removed
and the halves joined; before an upper-case letter or a digit it is kept, as
in compounds (``Jean-Paul``, ``COVID-19``), without a space. A soft hyphen at
a line end always goes. Elements are separated by a blank line, and every page
ends with a form feed, as pdftotext does, so ``split("\\f")`` gives the pages.
"""

from __future__ import annotations

from collections.abc import Iterable
from typing import Final

from ..page import PageElement

__all__ = ["PAGE_END", "element_text", "join_lines", "page_text"]

#: What ends every page of the text output.
PAGE_END: Final = "\f"

_HYPHENS: Final = ("-", "\u2010")
_SOFT_HYPHEN: Final = "\u00ad"


def join_lines(lines: Iterable[str]) -> str:
    """The lines as one line, words split across line ends joined again."""
    out = ""
    for raw in lines:
        line = " ".join(raw.split())
        if not line:
            continue
        if not out:
            out = line
        elif out.endswith(_SOFT_HYPHEN):
            out = out[:-1] + line
        elif out.endswith(_HYPHENS) and len(out) > 1 and out[-2].isalpha():
            if line[0].islower():
                out = out[:-1] + line  # a word split at the line end
            elif line[0].isupper() or line[0].isdigit():
                out += line  # a compound: keep the hyphen
            else:
                out += " " + line
        else:
            out += " " + line
    return out


def element_text(element: PageElement) -> str:
    """The element's text on one line ('' when it has none)."""
    return join_lines((element.text or "").splitlines())


def page_text(elements: Iterable[PageElement]) -> str:
    """The text of one page: its elements' text in the given order, then a form feed."""
    paragraphs = [text for text in map(element_text, elements) if text]
    return ("\n\n".join(paragraphs) + "\n" if paragraphs else "") + PAGE_END
