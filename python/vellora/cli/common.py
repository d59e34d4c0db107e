"""What the command line's modules share: exit statuses, failures and the parser class."""

from __future__ import annotations

import argparse
import sys
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
        self.exit(EXIT_USAGE, f"{self.prog}: error: {message}\n")


def reason(error: OSError) -> str:
    """The readable part of an OSError (``No such file or directory``)."""
    return error.strerror or str(error)
