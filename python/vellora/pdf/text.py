"""Text of the PDF: character codes to Unicode, and how unmapped characters are shown.

pdfminer maps a font's character codes to Unicode through the font's own
``/ToUnicode`` map, its encoding, or, for CID-keyed fonts, the ordering of its
character collection (``Adobe-Japan1``, ``Adobe-GB1``, ...). The tables for
those orderings, and the predefined CMaps that take a font's codes to CIDs
(``UniJIS-UCS2-H``, ``UniGB-UCS2-H``, ...), ship with poppler's data package;
:func:`install_cid_maps` hands them to pdfminer when its own copies are
missing. A character without
any map is shown as U+FFFD (the replacement character), never as a code.
"""

from __future__ import annotations

import os
import re
from pathlib import Path
from typing import Any, Final

__all__ = ["CID_TO_UNICODE_DIRS", "CMAP_DIRS", "UNMAPPED", "clean_text", "install_cid_maps"]

#: What a character without a Unicode map becomes.
UNMAPPED: Final = "\ufffd"

#: Folders searched for CID-to-Unicode tables (one file per ordering, e.g.
#: ``Adobe-Japan1``, one hexadecimal code per line, line n for CID n). The
#: environment variable ``VELLORA_CID_TO_UNICODE`` puts another folder first.
CID_TO_UNICODE_DIRS: Final = ("/usr/share/poppler/cidToUnicode",)

#: Folders holding the predefined CMaps (code to CID), one subfolder per ordering
#: (``Adobe-Japan1/UniJIS-UCS2-H``, ...). ``VELLORA_CMAPS`` names another folder searched first.
CMAP_DIRS: Final = ("/usr/share/poppler/cMap",)

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

    original_cmap = cmapdb.CMapDB.get_cmap.__func__

    def get_cmap(cls: Any, name: str) -> Any:
        try:
            return original_cmap(cls, name)
        except cmapdb.CMapDB.CMapNotFound:
            path = _find_cmap(name)
            if path is None:
                raise
            cmap = cmapdb.CMap(CMapName=name)
            text = path.read_text(encoding="latin-1")
            parent = _USECMAP.search(text)
            if parent is not None:
                cmap.use_cmap(cls.get_cmap(parent.group(1)))
            _read_code_ranges(text, cmap.code2cid)
            if re.search(r"/WMode\s+1\s+def", text):
                cmap.set_attr("WMode", 1)
            cls._cmap_cache[name] = cmap
            return cmap

    cmapdb.CMapDB.get_cmap = classmethod(get_cmap)


_USECMAP: Final = re.compile(r"/([\w.+-]+)\s+usecmap")
_SECTION: Final = re.compile(r"begincid(range|char)(.*?)endcid\1", re.S)
_RANGE: Final = re.compile(r"<([0-9a-fA-F]+)>\s*<([0-9a-fA-F]+)>\s*(\d+)")
_CHAR: Final = re.compile(r"<([0-9a-fA-F]+)>\s*(\d+)")


def _add_code(table: dict[int, object], code: bytes, cid: int) -> None:
    for byte in code[:-1]:
        inner = table.setdefault(byte, {})
        if not isinstance(inner, dict):
            return
        table = inner
    table[code[-1]] = cid


def _read_code_ranges(text: str, table: dict[int, object]) -> None:
    """Add the ``cidrange`` and ``cidchar`` entries of a predefined CMap's text to ``table`` (code bytes to CID)."""
    for kind, body in _SECTION.findall(text):
        if kind == "range":
            for start, end, cid in _RANGE.findall(body):
                first, last, width = int(start, 16), int(end, 16), len(start) // 2
                for offset in range(max(last - first + 1, 0)):
                    _add_code(table, (first + offset).to_bytes(width, "big"), int(cid) + offset)
        else:
            for code, cid in _CHAR.findall(body):
                _add_code(table, bytes.fromhex(code), int(cid))


def _find_cmap(name: str) -> Path | None:
    """The file of the predefined CMap ``name`` (for example ``UniJIS-UCS2-H``), in any ordering's folder."""
    if not name or "/" in name or name.startswith("."):
        return None
    for folder in [Path(os.environ["VELLORA_CMAPS"])] if os.environ.get("VELLORA_CMAPS") else []:
        if (folder / name).is_file():
            return folder / name
    for root in CMAP_DIRS:
        for path in sorted(Path(root).glob(f"*/{name}")):
            if path.is_file():
                return path
    return None
