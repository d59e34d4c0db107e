"""Reading input files and writing output files, with ``-`` for the standard streams.

Inputs are read whole, up to a size limit, so that a runaway input (a device
such as ``/dev/zero``, or a huge file given by mistake) is refused with a clear
message instead of exhausting memory. The limit is :data:`DEFAULT_INPUT_LIMIT`
(64 MiB) unless the environment variable :data:`LIMIT_VARIABLE`
(``VELLORA_MAX_INPUT_SIZE``) or an explicit ``limit`` says otherwise; sizes are
given in bytes, optionally with a ``K``, ``M`` or ``G`` suffix (powers of 1024).

Outputs are written atomically: into a temporary file in the target's folder,
which is renamed over the target once complete. A failed write (a full disk,
an interruption) leaves the earlier file at that path as it was and no
partial file behind. ``-`` is the standard output, and never a file name.
"""

from __future__ import annotations

import os
import re
import sys
import tempfile
from typing import Final

__all__ = [
    "DEFAULT_INPUT_LIMIT",
    "LIMIT_VARIABLE",
    "STDIO",
    "InputError",
    "format_size",
    "input_limit",
    "parse_size",
    "read_bytes",
    "read_text",
    "write_atomic",
]

#: The name that stands for standard input (when read) or standard output (when written).
STDIO: Final = "-"
#: Largest input read when neither the caller nor the environment sets a limit.
DEFAULT_INPUT_LIMIT: Final = 64 * 1024 * 1024
#: Environment variable overriding :data:`DEFAULT_INPUT_LIMIT`.
LIMIT_VARIABLE: Final = "VELLORA_MAX_INPUT_SIZE"

_UNITS: Final = {"": 1, "K": 1024, "M": 1024**2, "G": 1024**3}
_SIZE: Final = re.compile(r"\s*(\d+)\s*([KMG]?)(?:I?B|BYTES?)?\s*", re.IGNORECASE)


class InputError(ValueError):
    """An input that cannot be used as it is: too large, or not UTF-8 text.

    The message names the input.
    """


def parse_size(text: str) -> int:
    """``"512"``, ``"64K"``, ``"64M"``, ``"1G"`` (also ``"64MiB"``) as a number of bytes."""
    match = _SIZE.fullmatch(text)
    if match is None:
        raise ValueError(f"{text!r} is not a size (a number of bytes, optionally with K, M or G)")
    return int(match.group(1)) * _UNITS[match.group(2).upper()]


def format_size(size: int) -> str:
    """A byte count in the largest unit that divides it (``67108864`` is ``"64 MiB"``)."""
    for unit in ("G", "M", "K"):
        if size >= _UNITS[unit] and size % _UNITS[unit] == 0:
            return f"{size // _UNITS[unit]} {unit}iB"
    return f"{size} bytes"


def input_limit(limit: int | None = None) -> int:
    """The size limit in force: ``limit`` if given, else the environment's, else the default."""
    if limit is not None:
        return limit
    configured = os.environ.get(LIMIT_VARIABLE)
    if configured:
        try:
            return parse_size(configured)
        except ValueError as error:
            raise InputError(f"{LIMIT_VARIABLE}: {error}") from None
    return DEFAULT_INPUT_LIMIT


def _name(path: str | os.PathLike[str]) -> str:
    name = os.fspath(path)
    return "<stdin>" if name == STDIO else name


def read_bytes(path: str | os.PathLike[str], limit: int | None = None) -> bytes:
    """The content of ``path`` (``-``: standard input), at most ``limit`` bytes.

    Raises :class:`InputError` when the input is larger than the limit (see
    :func:`input_limit`) and OSError when it cannot be read.
    """
    maximum = input_limit(limit)
    too_large = InputError(
        f"{_name(path)}: larger than the input size limit of {format_size(maximum)} "
        f"(set another with --max-input-size or {LIMIT_VARIABLE})"
    )
    if os.fspath(path) == STDIO:
        data = sys.stdin.buffer.read(maximum + 1)
    else:
        with open(path, "rb") as stream:
            if os.fstat(stream.fileno()).st_size > maximum:  # a regular file: refused unread
                raise too_large
            data = stream.read(maximum + 1)  # devices and pipes report no size
    if len(data) > maximum:
        raise too_large
    return data


def read_text(path: str | os.PathLike[str], limit: int | None = None) -> str:
    """The UTF-8 text of ``path`` (``-``: standard input); see :func:`read_bytes`.

    Raises :class:`InputError` for text that is not UTF-8 (naming the byte).
    """
    raw = read_bytes(path, limit)
    try:
        return raw.decode("utf-8")
    except UnicodeDecodeError as error:
        raise InputError(f"{_name(path)}: not UTF-8 text (byte {error.start} is {raw[error.start]:#04x})") from None


def _creation_mode() -> int:
    mask = os.umask(0)
    os.umask(mask)
    return 0o666 & ~mask


def write_atomic(path: str | os.PathLike[str], data: str | bytes) -> None:
    """Write ``data`` (text is encoded as UTF-8) to ``path``; ``-`` is standard output.

    A file is written to a temporary file in the same folder, flushed to disk
    and renamed over ``path``, so readers see the old content or the new, never
    a part. An existing file keeps its permissions; a new one gets the usual
    ones (0666 less the umask). Raises OSError when it cannot be written, after
    removing the temporary file.
    """
    raw = data.encode("utf-8", "backslashreplace") if isinstance(data, str) else data
    target = os.fspath(path)
    if target == STDIO:
        sys.stdout.flush()
        sys.stdout.buffer.write(raw)
        sys.stdout.buffer.flush()
        return
    folder, name = os.path.split(target)
    try:
        mode = os.stat(target).st_mode & 0o7777
    except OSError:
        mode = _creation_mode()
    descriptor, temporary = tempfile.mkstemp(prefix=f".{name}.", suffix=".tmp", dir=folder or ".")
    try:
        with os.fdopen(descriptor, "wb") as stream:
            stream.write(raw)
            stream.flush()
            os.fsync(stream.fileno())
        os.chmod(temporary, mode)
        os.replace(temporary, target)
    except BaseException:
        try:
            os.unlink(temporary)
        except OSError:
            pass
        raise
