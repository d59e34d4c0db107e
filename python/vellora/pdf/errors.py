"""Errors of the PDF front end, and the lazy import of pdfminer."""

from __future__ import annotations

from typing import Any

__all__ = ["MissingDependencyError", "PdfError", "pdfminer_modules"]


class PdfError(ValueError):
    """A PDF that is missing, unreadable, encrypted or broken, or a page it does not have.

    The message is one line and names the file.
    """


class MissingDependencyError(RuntimeError):
    """pdfminer.six is not installed."""


def pdfminer_modules() -> Any:
    """pdfminer's ``layout`` module, importing pdfminer on first use."""
    try:
        from pdfminer import layout
    except ImportError as error:
        raise MissingDependencyError(
            "reading PDF files needs pdfminer.six: pip install 'vellora[pdf]'"
        ) from error
    return layout
