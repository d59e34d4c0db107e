"""Whole documents through `vellora pdf`: every page, selections, formats, bad inputs, worker processes."""

import io
import json
import pathlib
import re
import runpy
import subprocess
import sys

import pytest

pytest.importorskip("pdfminer")
pytest.importorskip("reportlab")

ROOT = pathlib.Path(__file__).resolve().parents[2]
SAMPLE = ROOT / "examples" / "two_column_article.pdf"
EXAMPLE = ROOT / "examples" / "two_column_page.json"
SCHEMA = json.loads((ROOT / "schemas" / "page-order.schema.json").read_text())


def run(*args):
    return subprocess.run([sys.executable, "-m", "vellora", *map(str, args)], capture_output=True, text=True,
                          timeout=300)


@pytest.fixture(scope="module")
def three_pages(tmp_path_factory):
    """A generated three-page two-column article; paragraph n of page p starts 'Paragraph p.n'."""
    make_pdf = runpy.run_path(str(ROOT / "bench" / "make_long_pdf.py"))["make_pdf"]
    path = tmp_path_factory.mktemp("pdf") / "three.pdf"
    make_pdf(str(path), 3)
    return path


@pytest.fixture(scope="module")
def broken(tmp_path_factory):
    path = tmp_path_factory.mktemp("bad") / "broken.pdf"
    path.write_bytes(b"%PDF-1.4\nnothing here\n")
    return path


def paragraph_numbers(text):
    return [(int(page), int(n)) for page, n in re.findall(r"Paragraph (\d+)\.(\d+)", text)]


def test_every_page_is_read_in_order_with_a_form_feed_after_each(three_pages):
    result = run("pdf", three_pages)
    assert result.returncode == 0 and result.stderr == "", result.stderr
    pages = result.stdout.split("\f")
    assert len(pages) == 4 and pages[-1] == ""
    for number, text in enumerate(pages[:3], start=1):
        found = paragraph_numbers(text)
        assert found == [(number, n) for n in range(1, len(found) + 1)] and len(found) > 4
    assert pages[0].startswith("A Long Two-Column Article\n\nParagraph 1.1 ")


@pytest.mark.parametrize("selection, pages", [("2-3", [2, 3]), ("3,1", [1, 3]), ("2", [2])])
def test_page_selection(three_pages, selection, pages):
    result = run("pdf", three_pages, "--pages", selection, "--format", "jsonl")
    assert result.returncode == 0, result.stderr
    assert [json.loads(line)["page"] for line in result.stdout.splitlines()] == pages


@pytest.mark.parametrize("selection", ["2", "0", "3-2", "x", "1,,2"])
def test_bad_selection_names_the_file_and_other_inputs_go_on(three_pages, selection):
    # The sample has one page: every selection here is bad for it.
    result = run("pdf", SAMPLE, three_pages, "--pages", selection, "--format", "jsonl")
    assert result.returncode == 2
    errors = result.stderr.splitlines()
    assert errors[0].startswith(f"vellora: error: {SAMPLE}: ")
    if selection == "2":
        assert errors == [errors[0]] and [json.loads(line)["page"] for line in result.stdout.splitlines()] == [2]


def test_bad_inputs_are_reported_and_the_others_ordered(three_pages, broken, tmp_path):
    missing = tmp_path / "missing.pdf"
    result = run("pdf", missing, broken, SAMPLE, "--format", "jsonl")
    assert result.returncode == 2
    errors = result.stderr.splitlines()
    assert len(errors) == 2
    assert errors[0].startswith(f"vellora: error: {missing}: ") and errors[1].startswith(f"vellora: error: {broken}: ")
    assert [json.loads(line)["source"] for line in result.stdout.splitlines()] == [str(SAMPLE)]


@pytest.mark.parametrize("command", ["pdf", "order"])
def test_jsonl_output_follows_the_schema(three_pages, command):
    jsonschema = pytest.importorskip("jsonschema")
    source = three_pages if command == "pdf" else EXAMPLE
    result = run(command, source, "--format", "jsonl", "--compare")
    assert result.returncode == 0, result.stderr
    records = [json.loads(line) for line in result.stdout.splitlines()]
    for record in records:
        jsonschema.validate(record, SCHEMA)
        assert record["algorithm"] == "ostrel" and set(record["orders"]) == {"paper", "ostrel"}
        assert [e["id"] for e in record["elements"]] == record["orders"]["ostrel"]
    assert len(records) == (3 if command == "pdf" else 1)


def test_api_records_match_the_command_line(three_pages):
    from vellora.pipeline import PipelineOptions, iter_input, order_input

    items = iter_input(three_pages, PipelineOptions(pages="2-3"))
    assert next(items).number == 2  # pages come one at a time
    cli = run("pdf", three_pages, "--format", "jsonl").stdout.splitlines()
    assert order_input(three_pages) == [json.loads(line) for line in cli]


def test_pipeline_error_survives_a_trip_to_another_process(broken):
    import pickle

    from vellora.pipeline import PipelineError, order_input

    with pytest.raises(PipelineError) as raised:
        order_input(broken)
    copy = pickle.loads(pickle.dumps(raised.value))
    assert copy.failure == raised.value.failure and str(copy) == str(raised.value)


def test_jobs_give_the_serial_output(three_pages, broken):
    inputs = [three_pages, broken, SAMPLE, three_pages]
    serial = run("pdf", *inputs, "--jobs", "1")
    parallel = run("pdf", *inputs, "--jobs", "2")
    assert serial.returncode == parallel.returncode == 2
    assert parallel.stdout == serial.stdout and parallel.stderr == serial.stderr
    assert serial.stdout.count("\f") == 3 + 1 + 3


def test_several_pages_draw_into_a_folder(three_pages, tmp_path):
    result = run("pdf", three_pages, "--svg", tmp_path / "drawings", "--format", "ids")
    assert result.returncode == 0, result.stderr
    assert sorted(p.name for p in (tmp_path / "drawings").iterdir()) == [
        "three-p1.svg", "three-p2.svg", "three-p3.svg"]


class Terminal(io.StringIO):
    def isatty(self):
        return True


@pytest.mark.parametrize("terminal, quiet, shown", [(True, False, True), (True, True, False), (False, False, False)])
def test_progress_bar_only_on_a_terminal(three_pages, monkeypatch, capsys, terminal, quiet, shown):
    pytest.importorskip("tqdm")
    from vellora.cli import main

    err = Terminal() if terminal else io.StringIO()
    monkeypatch.setattr(sys, "stderr", err)
    assert main(["pdf", str(three_pages), "--pages", "1-2", *(["--quiet"] if quiet else [])]) == 0
    assert capsys.readouterr().out.count("\f") == 2
    assert ("/2 " in err.getvalue() and "page/s" in err.getvalue()) == shown, err.getvalue()


def test_markdown_of_the_sample_page():
    result = run("pdf", SAMPLE, "--format", "markdown")
    assert result.returncode == 0, result.stderr
    blocks = result.stdout.split("\n\n")
    assert blocks[0] == "# Reading Order in Two-Column Documents"
    assert blocks[1] == "## 1 Introduction"
    caption = "Figure 1. Blocks per page in a small sample of reports, by layout."
    image = blocks.index(f"![{caption}](<{SAMPLE}#page=1>)")
    assert blocks[image + 1] == f"*{caption}*" and result.stdout.count(caption) == 2
    assert blocks[-1] != "1\n"  # the page number is furniture, left out


def test_pdf_from_standard_input(three_pages, tmp_path):
    piped = subprocess.run([sys.executable, "-m", "vellora", "pdf", "-", "--format", "jsonl", "--pages", "2-3"],
                           input=three_pages.read_bytes(), capture_output=True, cwd=tmp_path, timeout=300)
    assert piped.returncode == 0, piped.stderr
    from_file = run("pdf", three_pages, "--format", "jsonl", "--pages", "2-3").stdout.splitlines()
    assert [json.loads(line) for line in piped.stdout.splitlines()] == [
        {**json.loads(line), "source": "-"} for line in from_file]
    assert list(tmp_path.iterdir()) == []


@pytest.mark.parametrize("args, words", [
    (["--format", "text", "--list"], "--list goes with --format ids"),
    (["--format", "markdown", "--compare"], "--compare goes with --format ids or jsonl"),
    (["--jobs", "0"], "must be a whole number from 1"),
    (["--format", "html"], "invalid choice: 'html'"),
])
def test_option_conflicts_are_usage_errors(args, words):
    result = run("pdf", SAMPLE, *args)
    assert result.returncode == 2 and result.stdout == ""
    assert words in result.stderr
