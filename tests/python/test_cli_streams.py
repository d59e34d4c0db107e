"""Standard streams, input size limits, atomic outputs and escaped listings of the command line."""

import json
import os
import pathlib
import resource
import signal
import subprocess
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
EXAMPLE = ROOT / "examples" / "two_column_page.json"


def run(*args, stdin=None, cwd=None, env=None, preexec_fn=None):
    return subprocess.run([sys.executable, "-m", "vellora", *map(str, args)], capture_output=True,
                          input=stdin, cwd=cwd, env={**os.environ, **(env or {})}, preexec_fn=preexec_fn,
                          timeout=120)


def test_dash_reads_the_page_from_standard_input():
    piped = run("order", "-", stdin=EXAMPLE.read_bytes())
    assert piped.returncode == 0, piped.stderr
    assert piped.stdout == run("order", EXAMPLE).stdout


def test_svg_dash_writes_the_drawing_to_standard_output_and_no_file(tmp_path):
    result = run("order", EXAMPLE, "--svg", "-", cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    assert result.stdout.startswith(b'<?xml version="1.0"') and result.stdout.rstrip().endswith(b"</svg>")
    assert list(tmp_path.iterdir()) == []


def test_svg_dash_with_several_inputs_is_a_usage_error(tmp_path):
    result = run("order", EXAMPLE, EXAMPLE, "--svg", "-", cwd=tmp_path)
    assert result.returncode == 2 and b"--svg -" in result.stderr
    assert list(tmp_path.iterdir()) == []


def padded(path, content):
    """A valid file padded with whitespace past 1 MiB."""
    path.write_bytes(content + b" " * (1024 * 1024))
    return path


@pytest.mark.parametrize("how", ["option", "environment"])
@pytest.mark.parametrize("role", ["page", "config"])
def test_oversize_input_is_refused_in_one_line(tmp_path, how, role):
    limit = ["--max-input-size", "1M"] if how == "option" else []
    env = {"VELLORA_MAX_INPUT_SIZE": "1M"} if how == "environment" else {}
    if role == "page":
        big = padded(tmp_path / "page.json", EXAMPLE.read_bytes())
        args = [big]
    else:
        big = padded(tmp_path / "config.json", b'{"same_row_tolerance": 10}')
        args = [EXAMPLE, "--config", big]
    result = run("order", *args, *limit, env=env)
    assert result.returncode == 2, result.stderr
    lines = result.stderr.decode().splitlines()
    assert len(lines) == 1 and str(big) in lines[0] and "1 MiB" in lines[0], lines
    # Under the default limit the same file is fine.
    assert run("order", *args).returncode == 0


@pytest.mark.skipif(not os.path.exists("/dev/zero"), reason="no /dev/zero")
def test_endless_device_is_refused():
    result = run("order", "/dev/zero", "--max-input-size", "64K")
    assert result.returncode == 2
    assert result.stderr.decode().splitlines() == [
        "vellora: error: /dev/zero: larger than the input size limit of 64 KiB "
        "(set another with --max-input-size or VELLORA_MAX_INPUT_SIZE)"]


def _limit_file_size():
    # Writes past 4 KiB fail with EFBIG, as on a full disk.
    signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
    resource.setrlimit(resource.RLIMIT_FSIZE, (4096, 4096))


@pytest.mark.parametrize("option", ["--svg", "--save-page"])
def test_failed_write_keeps_the_earlier_file(tmp_path, option):
    sample = ROOT / "examples" / "two_column_article.pdf"
    if option == "--save-page":
        pytest.importorskip("pdfminer")
    target = tmp_path / "out"
    target.write_text("earlier content")
    command = ["pdf", sample, "--page", "1"] if option == "--save-page" else ["order", EXAMPLE]
    result = run(*command, option, target, preexec_fn=_limit_file_size,
                 env={"PYTHONDONTWRITEBYTECODE": "1"})
    assert result.returncode == 1
    assert result.stderr.decode().startswith(f"vellora: error: cannot write {target}")
    assert target.read_text() == "earlier content"
    assert [p.name for p in tmp_path.iterdir()] == ["out"]


def test_listing_and_error_lines_escape_control_characters(tmp_path):
    data = json.loads(EXAMPLE.read_text())
    data["elements"][0]["text"] = "\x1b[31mred\x1b[0m \u202eevil\x07"
    page = tmp_path / "escapes.json"
    page.write_text(json.dumps(data))
    result = run("order", page, "--list")
    assert result.returncode == 0, result.stderr
    assert b"\x1b" not in result.stdout and b"\x07" not in result.stdout
    assert "\\x1b[31mred\\x1b[0m \\u202eevil\\x07" in result.stdout.decode()
    # A file name is shown escaped in its error line, which stays one line.
    missing = tmp_path / "no\x1b[2J\nsuch.json"
    result = run("order", missing)
    assert result.returncode != 0
    assert b"\x1b" not in result.stderr and result.stderr.count(b"\n") == 1
    assert "no\\x1b[2J\\x0asuch.json" in result.stderr.decode()


def test_page_file_of_several_pages_from_standard_input():
    page = json.loads(EXAMPLE.read_text())
    lines = (json.dumps(page) + "\n") * 2
    result = run("order", "-", "--format", "jsonl", stdin=lines.encode())
    assert result.returncode == 0, result.stderr
    records = [json.loads(line) for line in result.stdout.splitlines()]
    assert [(r["source"], r["page"]) for r in records] == [("-", 1), ("-", 2)]
    assert records[0]["elements"] == records[1]["elements"]


@pytest.mark.parametrize("text, size", [("512", 512), ("64K", 65536), ("64 MiB", 64 << 20), ("1g", 1 << 30)])
def test_sizes(text, size):
    from vellora.fileio import format_size, parse_size

    assert parse_size(text) == size
    assert parse_size(format_size(size)) == size


@pytest.mark.parametrize("text", ["", "-1", "1.5M", "12 parsecs"])
def test_bad_sizes(text):
    from vellora.fileio import parse_size

    with pytest.raises(ValueError):
        parse_size(text)


def test_atomic_write_keeps_the_mode_of_the_file_it_replaces(tmp_path):
    from vellora.fileio import write_atomic

    target = tmp_path / "out.txt"
    target.write_text("old")
    target.chmod(0o640)
    write_atomic(target, "new")
    assert target.read_text() == "new" and target.stat().st_mode & 0o777 == 0o640
    assert [p.name for p in tmp_path.iterdir()] == ["out.txt"]
