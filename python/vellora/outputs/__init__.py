"""Output formats of ordered pages, one module per format.

- :mod:`.text`: the text in reading order, as pdftotext prints it (a form
  feed after every page);
- :mod:`.markdown`: a Markdown document (headings, pictures with their
  captions, tables);
- :mod:`.jsonl`: one JSON object per page (see ``schemas/page-order.schema.json``).

The ``ids`` format (ids on a line, with optional listings) belongs to the
command line.
"""

from __future__ import annotations

from typing import Final

__all__ = ["FORMATS"]

#: The names of ``--format``.
FORMATS: Final = ("ids", "text", "markdown", "jsonl")
