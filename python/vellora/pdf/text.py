"""Text of the PDF: character codes to Unicode, and how unmapped characters are shown.

pdfminer maps a font's character codes to Unicode through the font's own
``/ToUnicode`` map, its encoding, or, for CID-keyed fonts, the ordering of its
character collection (``Adobe-Japan1``, ``Adobe-GB1``, ...). The tables for
those orderings ship with poppler's data package; :func:`install_cid_maps`
hands them to pdfminer when its own copies are missing. A character without
any map is shown as U+FFFD (the replacement character), never as a code.
"""

from __future__ import annotations

import os
import re
from pathlib import Path
from typing import Any, Final

__all__ = ["CID_TO_UNICODE_DIRS", "UNMAPPED", "clean_text", "install_cid_maps"]

#: What a character without a Unicode map becomes.
UNMAPPED: Final = "\ufffd"

#: Folders searched for CID-to-Unicode tables (one file per ordering, e.g.
#: ``Adobe-Japan1``, one hexadecimal code per line, line n for CID n). The
#: environment variable ``VELLORA_CID_TO_UNICODE`` puts another folder first.
CID_TO_UNICODE_DIRS: Final = ("/usr/share/poppler/cidToUnicode",)

_CID_CODE: Final = re.compile(r"\(cid:\d+\)")
_installed = False


def clean_text(text: str) -> str:
    """``text`` with pdfminer's ``(cid:N)`` placeholders replaced by U+FFFD."""
    return _CID_CODE.sub(UNMAPPED, text)


class _Table:
    """Stands in for pdfminer's generated table module of one ordering."""

    def __init__(self, mapping: dict[int, str]) -> None:
        self.CID2UNICHR_H = mapping
        self.CID2UNICHR_V = mapping


def _read_table(path: Path) -> dict[int, str]:
    mapping: dict[int, str] = {}
    with open(path, encoding="ascii", errors="replace") as stream:
        for cid, line in enumerate(stream):
            code = line.strip()
            if not code:
                continue
            try:
                value = int(code.split()[0], 16)
            except ValueError:
                continue
            if value and value < 0x110000 and not 0xD800 <= value < 0xE000:
                mapping[cid] = chr(value)
    return mapping


def _folders() -> list[Path]:
    extra = os.environ.get("VELLORA_CID_TO_UNICODE")
    return [Path(folder) for folder in ([extra] if extra else []) + list(CID_TO_UNICODE_DIRS)]


def install_cid_maps() -> None:
    """Let pdfminer find CID-to-Unicode tables it lacks, read lazily on first use of each ordering."""
    global _installed
    if _installed:
        return
    _installed = True
    from pdfminer import cmapdb as module

    cmapdb: Any = module
    original = cmapdb.CMapDB.get_unicode_map.__func__

    def get_unicode_map(cls: Any, name: str, vertical: bool = False) -> Any:
        try:
            return original(cls, name, vertical)
        except cmapdb.CMapDB.CMapNotFound:
            for folder in _folders():
                path = folder / name
                if name and "/" not in name and path.is_file():
                    table = _Table(_read_table(path))
                    maps = [cmapdb.PyUnicodeMap(name, table, False), cmapdb.PyUnicodeMap(name, table, True)]
                    cls._umap_cache[name] = maps
                    return maps[vertical]
            raise

    cmapdb.CMapDB.get_unicode_map = classmethod(get_unicode_map)
