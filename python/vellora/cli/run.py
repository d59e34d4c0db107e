"""The entry point: parse the arguments, run the subcommand, turn failures into exit statuses."""

from __future__ import annotations

import os
import sys
from collections.abc import Sequence
from typing import TextIO

from ..fileio import STDIO
from .args import Runner, parse_args
from .common import EXIT_FAILURE, EXIT_INTERRUPTED, EXIT_USAGE, PROG, OutputError, error_line

__all__ = ["main"]


def _main(argv: Sequence[str] | None, out: TextIO, err: TextIO) -> int:
    parser, args = parse_args(argv)
    if args.command is None:
        parser.print_help(err)
        return EXIT_USAGE
    args.parser = parser
    if args.compare and args.algorithm is not None:
        parser.error("--compare runs both algorithms; leave out --algorithm")
    if args.svg == STDIO and len(args.inputs) > 1:
        parser.error("--svg - draws a single page; give a folder to draw several inputs")
    if args.svg == STDIO and getattr(args, "save_page", None) == STDIO:
        parser.error("--svg - and --save-page - cannot both use standard output")
    runner: Runner = args.run
    return runner(args, out, err)


def _silence_stdout() -> None:
    # Point the standard output descriptor at the null device, so that the
    # interpreter's final flush of what is still buffered does not fail again.
    try:
        target = sys.stdout.fileno()
    except (OSError, ValueError):  # not backed by a descriptor (for example captured in a test)
        return
    devnull = os.open(os.devnull, os.O_WRONLY)
    os.dup2(devnull, target)
    os.close(devnull)


def main(argv: Sequence[str] | None = None) -> int:
    """Run the command line with ``argv`` (default: ``sys.argv[1:]``); returns the exit status."""
    err = sys.stderr if sys.stderr is not None else open(os.devnull, "w", encoding="utf-8")
    if sys.stdout is None:  # started with standard output closed
        print(error_line("cannot write to standard output: it is closed"), file=err)
        return EXIT_FAILURE
    # Text from pages and PDF files, and file names, may hold lone surrogates;
    # print them escaped, as standard error does, rather than fail.
    reconfigure = getattr(sys.stdout, "reconfigure", None)
    if reconfigure is not None:
        reconfigure(errors="backslashreplace")
    try:
        return _main(argv, sys.stdout, err)
    except KeyboardInterrupt:
        print(f"{PROG}: interrupted", file=err)
        return EXIT_INTERRUPTED
    except BrokenPipeError:
        # The reader went away (for example `vellora order ... | head`).
        _silence_stdout()
        return EXIT_FAILURE
    except OutputError as error:
        print(error_line(f"cannot write to standard output: {error}"), file=err)
        _silence_stdout()
        return EXIT_FAILURE
