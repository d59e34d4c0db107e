"""What the command line's modules share: exit statuses, failures and the parser class."""

from __future__ import annotations

import argparse
import sys
import unicodedata
from typing import Final, NoReturn

EXIT_OK: Final = 0
EXIT_FAILURE: Final = 1
EXIT_USAGE: Final = 2
EXIT_INTERRUPTED: Final = 130

PROG: Final = "vellora"


class Failure(Exception):
    """An error that ends the processing of one input (or of the whole run)."""

    def __init__(self, message: str, status: int) -> None:
        super().__init__(message)
        self.status = status


class OutputError(Exception):
    """Standard output cannot be written (other than a closed pipe)."""

    def __init__(self, error: OSError) -> None:
        super().__init__(error.strerror or str(error))


class Parser(argparse.ArgumentParser):
    """An argument parser whose usage errors exit with :data:`EXIT_USAGE`."""

    def error(self, message: str) -> NoReturn:
        self.print_usage(sys.stderr)
        self.exit(EXIT_USAGE, f"{self.prog}: error: {visible(message)}\n")


def reason(error: OSError) -> str:
    """The readable part of an OSError (``No such file or directory``)."""
    return error.strerror or str(error)


def visible(text: str) -> str:
    """``text`` with control and format characters escaped (``\\x1b``, ``\\u202e``).

    Text from PDF files and page files, and file names, may hold terminal
    escape sequences, line breaks or bidirectional overrides; listings and
    error lines show them instead of passing them on.
    """
    out = []
    for char in text:
        if unicodedata.category(char) in ("Cc", "Cf"):
            code = ord(char)
            out.append(f"\\x{code:02x}" if code < 0x100 else f"\\u{code:04x}" if code < 0x10000 else f"\\U{code:08x}")
        else:
            out.append(char)
    return "".join(out)


def error_line(message: str) -> str:
    """The one line that reports ``message`` on standard error."""
    return f"{PROG}: error: {visible(message)}"
