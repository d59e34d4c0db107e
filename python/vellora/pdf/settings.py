"""The numbers every heuristic of the PDF front end uses, in one place.

All lengths are PDF points (1/72 inch); ratios are plain numbers. Change them
from the API (``iter_pages(path, settings=PdfSettings(heading_size_ratio=1.3))``)
or from the command line (``--pdf-setting heading_size_ratio=1.3``).
"""

from __future__ import annotations

import dataclasses
import math
from collections.abc import Iterable
from dataclasses import dataclass

__all__ = ["PdfSettings", "parse_settings"]


@dataclass(frozen=True, slots=True)
class PdfSettings:
    """Settings of the PDF front end (see each field)."""

    # Grouping characters into lines and blocks (pdfminer's layout parameters).
    #: Characters closer than this times their size are on one line.
    char_margin: float = 2.0
    #: Lines closer than this times their height are in one block.
    line_margin: float = 0.5
    #: A gap wider than this times the character size is a space.
    word_margin: float = 0.1
    #: Two characters are on one line when they overlap vertically by this share of the lower one.
    line_overlap: float = 0.5
    #: 1 to widen the line margin on pages whose lines are set further apart (slides), 0 to keep it.
    adapt_line_margin: int = 1

    # Headings.
    #: A block whose font size is at least this times the body size is a heading.
    heading_size_ratio: float = 1.2
    #: A block of at most this many lines set in bold (or numbered like "2.3") may be a heading.
    heading_max_lines: int = 2
    #: ... and of at most this many characters.
    heading_max_chars: int = 120
    #: Share of a block's characters that must be bold for it to count as bold.
    bold_share: float = 0.6

    # Columns.
    #: On a multi-column page, a block this wide relative to the text area is cross-layout.
    full_width_ratio: float = 0.75
    #: A vertical rule at least this long (pt) separates columns: no line, block or table runs across it.
    column_rule_length: float = 40.0
    #: A short block alone across the page, with columns ending and starting within this many body
    #: sizes above and below it, separates the column groups and spans their width (0 turns it off).
    separator_reach: float = 4.0
    #: Lines of a block reaching more than a character past the edge its column's paragraphs share, into
    #: the gutter beside the next column (index entries set in the margin), do not widen the block's box
    #: when they are at most this share of its lines (0 turns this off).
    gutter_line_share: float = 0.34

    #: A rectangle or closed shape at least this wide and high with text in it is a panel: no line, block
    #: or table runs across its sides (0 turns this off).
    panel_min_size: float = 40.0

    # Figures.
    #: Graphics thinner than this (in either direction) are rules or strokes, not figures.
    rule_thickness: float = 4.0
    #: Graphics smaller than this in both directions are icons, not figures.
    icon_size: float = 24.0
    #: A character this many times the body size with other text drawn over it is lettering
    #: behind the text (set apart like a watermark; 0 turns this off) ...
    backdrop_size_ratio: float = 5.0
    #: ... when its box holds the middles of at least this many smaller characters.
    backdrop_min_chars: int = 3

    # Tables.
    #: A table needs at least this many rows ...
    table_min_rows: int = 3
    #: ... and this many columns of cells.
    table_min_columns: int = 2
    #: A block of at least this many lines of running text is a column of text, not a cell: two side by
    #: side make no table (the columns of an article). Running text has ...
    table_prose_lines: int = 6
    #: ... more than this many words a line on average ...
    table_prose_words: float = 2.5
    #: ... and at least this share of its lines going on with the sentence of the line above (starting in
    #: lower case with two words or more, or after a word broken by a hyphen).
    table_prose_share: float = 0.5
    #: An empty band at least this wide (pt) down the whole height of the page's text, between columns
    #: each at least a fifth of the page's width, is a gutter of the page: no table takes cells from both
    #: sides of it (0 turns this off).
    page_gutter: float = 12.0

    #: A text block looks for the cells sharing its baselines among at most this many blocks on each side
    #: of it, the nearest: a row of more cells is still found whole, from cell to cell (0 for no limit; a
    #: page of a few thousand cells in rows hundreds long takes seconds, not minutes).
    table_max_partners: int = 64

    # Numbered listings.
    #: A code line joins its number when it starts at most this many times the number's height to its right ...
    listing_gap: float = 12.0
    #: ... and the next number of the listing is at most this many line heights below.
    listing_spacing: float = 2.5

    # Displayed formulas and code lines broken into pieces.
    #: Pieces of a display have at most this many lines each ...
    display_max_lines: int = 4
    #: ... are at most this many times the body size apart on a shared line ...
    display_gap: float = 2.5
    #: ... and text within this many times the body size above or below runs across the space between them.
    display_reach: float = 4.0

    # Footnotes.
    #: A block at least this share of whose characters are symbols of program text (backslash, braces,
    #: "<>=;&%$#_^|~@") is code, never a footnote, however small and low on the page (0 turns this off).
    code_symbol_share: float = 0.1

    # Page furniture.
    #: Running heads and footers lie in this share of the page height at the top or bottom.
    furniture_band: float = 0.15
    #: Pages before and after a page compared with it to find repeated heads and footers.
    furniture_window: int = 2
    #: Two boxes are "at the same place" when their edges differ by at most this.
    furniture_tolerance: float = 6.0
    #: Margin line numbers lie within this share of the page width beside the text.
    line_number_band: float = 0.15
    #: A side panel of small print (a slide's navigation bar) lies within this share of the page width from an edge ...
    side_panel_width: float = 0.25
    #: ... and its blocks spread over at least this share of the page height.
    side_panel_height: float = 0.5
    #: A block alone in a side column within this lower share of the page is an emblem (a logo), read last
    #: (0 turns this off) ...
    emblem_band: float = 0.5
    #: ... and the rest of the body lies at least this many body sizes to one side of it.
    emblem_gap: float = 5.0

    def __post_init__(self) -> None:
        for item in dataclasses.fields(self):
            value = getattr(self, item.name)
            if not math.isfinite(value) or value < 0:
                raise ValueError(f"PDF setting {item.name} must be a finite number >= 0; got {value}")

    def replace(self, **changes: float) -> PdfSettings:
        """A copy with ``changes`` applied."""
        return dataclasses.replace(self, **changes)  # type: ignore[arg-type]


def parse_settings(items: Iterable[str], base: PdfSettings | None = None) -> PdfSettings:
    """Apply ``KEY=VALUE`` strings (as given on the command line) to ``base``.

    Raises ValueError naming the item for an unknown key or a bad value.
    """
    settings = base or PdfSettings()
    types = {item.name: item.type for item in dataclasses.fields(PdfSettings)}
    changes: dict[str, float] = {}
    for item in items:
        key, sep, raw = item.partition("=")
        key = key.strip().replace("-", "_")
        if not sep:
            raise ValueError(f"PDF setting {item!r} must look like KEY=VALUE")
        if key not in types:
            raise ValueError(f"unknown PDF setting {key!r} (known: {', '.join(sorted(types))})")
        try:
            value: float = int(raw) if types[key] in (int, "int") else float(raw)
        except ValueError:
            raise ValueError(f"PDF setting {key} must be a number; got {raw!r}") from None
        changes[key] = value
    return settings.replace(**changes)
