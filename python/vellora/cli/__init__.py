"""The ``vellora`` command line (also ``python -m vellora``).

    vellora order PAGE.json [PAGE.json ...] [options]
    vellora pdf FILE.pdf [FILE.pdf ...] [--page N] [--save-page OUT.json] [options]

:mod:`.args` builds the argument parser; each subcommand lives in its own
module (:mod:`.order`, :mod:`.pdf`), which registers its arguments and does its
work; :mod:`.batch` runs a list of inputs and :mod:`.report` prints results.

Exit status: 0 when every input was ordered, 2 for a usage error or a
malformed, unreadable or over-size input (with a one-line message naming the
file, the field and the element), 1 when an output cannot be written, a needed
package is missing or an internal error occurs, 130 when interrupted.
"""

from __future__ import annotations

from .run import main

__all__ = ["main"]
