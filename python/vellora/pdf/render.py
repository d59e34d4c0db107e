"""A picture of a PDF page, to draw the elements over: poppler's ``pdftoppm``.

Optional: without ``pdftoppm`` on the PATH (Debian package poppler-utils),
:func:`page_png` returns None and drawings use a blank page.
"""

from __future__ import annotations

import os
import shutil
import subprocess
from typing import Final

from ..page import Page

__all__ = ["RENDER_DPI", "page_png"]

#: Resolution of the page picture, in dots per inch.
RENDER_DPI: Final = 80
#: Longest a rendering may take, in seconds.
_TIMEOUT: Final = 60


def page_png(page: Page, *, dpi: int = RENDER_DPI) -> bytes | None:
    """The PNG picture of the visible area of the PDF page ``page`` was extracted from.

    The page's ``meta`` names the file (``source``) and page (``page``). The
    picture shows the page as a viewer does (its ``/Rotate`` applied); a
    further turn the front end made is in ``meta["turn"]``. None when
    pdftoppm is missing, fails or the page does not name its PDF.
    """
    source, number = page.meta.get("source"), page.meta.get("page")
    program = shutil.which("pdftoppm")
    if program is None or not isinstance(source, str) or not isinstance(number, int) or not os.path.isfile(source):
        return None
    command = [program, "-png", "-cropbox", "-singlefile", "-r", str(dpi), "-f", str(number), "-l", str(number),
               source]
    try:
        done = subprocess.run(command, capture_output=True, timeout=_TIMEOUT, check=False)
    except (OSError, subprocess.SubprocessError):
        return None
    if done.returncode != 0 or not done.stdout.startswith(b"\x89PNG"):
        return None
    return done.stdout
