"""`vellora pdf`, end to end on the shipped sample PDF page."""

import json
import pathlib
import subprocess
import sys
import xml.etree.ElementTree as ET

import pytest

pytest.importorskip("pdfminer")

ROOT = pathlib.Path(__file__).resolve().parents[2]
SAMPLE = ROOT / "examples" / "two_column_article.pdf"
NS = {"svg": "http://www.w3.org/2000/svg"}


def run(*args):
    return subprocess.run([sys.executable, "-m", "vellora", *map(str, args)], capture_output=True, text=True,
                          timeout=120)


def test_pdf_page_is_ordered_drawn_and_saved(tmp_path):
    svg, saved = tmp_path / "demo.svg", tmp_path / "page.json"
    result = run("pdf", SAMPLE, "--page", "1", "--compare", "--svg", svg, "--save-page", saved)
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert lines[0] == (f"{SAMPLE}, page 1: 17 elements "
                        "(1 CrossLayout, 5 HorizontalTitle, 1 Vision, 10 Regular)")
    assert lines[1].startswith("paper:  ") and lines[2].startswith("ostrel: ")
    assert lines[-1] == f"svg written to {svg}"
    paper = [int(w) for w in lines[1].split()[1:]]
    ostrel = [int(w) for w in lines[2].split()[1:]]
    assert sorted(paper) == sorted(ostrel) == list(range(1, 18))

    # The saved page is a valid JSON page that orders the same way.
    again = run("order", saved, "--compare", "--json")
    assert again.returncode == 0, again.stderr
    assert json.loads(again.stdout)["orders"] == {"paper": paper, "ostrel": ostrel}

    panels = ET.parse(svg).getroot().findall("svg:g[@class='panel']", NS)
    assert [len(p.findall(".//svg:g[@class='element']", NS)) for p in panels] == [17, 17]
    title = ET.parse(svg).getroot().find("svg:text[@class='title']", NS).text
    assert title == f"{SAMPLE}, page 1"


def test_json_includes_the_extracted_page():
    result = run("pdf", SAMPLE, "--json", "--algorithm", "ostrel")
    assert result.returncode == 0, result.stderr
    data = json.loads(result.stdout)
    assert list(data["orders"]) == ["ostrel"]
    page = data["page"]
    assert page["page_bounds"] == [0, 0, 612, 792]
    assert page["meta"] == {"source": str(SAMPLE), "page": 1, "body_font_size": 10.0}
    labels = [e["label"] for e in page["elements"]]
    assert labels.count("Vision") == 1 and labels.count("CrossLayout") == 1


def test_title_is_read_first_and_columns_in_order():
    result = run("pdf", SAMPLE, "--list", "--algorithm", "ostrel")
    listing = [line.split(None, 4) for line in result.stdout.splitlines()[2:]]
    texts = [row[4] if len(row) > 4 else "" for row in listing]
    assert texts[0] == "Reading Order in Two-Column Documents"
    # Each section heading comes before the paragraph that follows it in its column.
    assert texts.index("1 Introduction") < texts.index(next(t for t in texts if t.startswith("A page is more")))
    assert texts.index("2 Method") < texts.index(next(t for t in texts if t.startswith("Titles, figures")))


def test_missing_page_is_exit_2():
    result = run("pdf", SAMPLE, "--page", "4")
    assert result.returncode == 2
    assert result.stderr.splitlines() == [
        f"vellora: error: {SAMPLE}: page selection '4': page 4 does not exist (the document has 1 page)"]


def test_not_a_pdf_is_exit_2(tmp_path):
    fake = tmp_path / "fake.pdf"
    fake.write_bytes(b"%PDF-1.4\nnothing here\n")
    result = run("pdf", fake)
    assert result.returncode == 2
    assert result.stderr.startswith(f"vellora: error: {fake}: not a readable PDF")
    assert len(result.stderr.splitlines()) == 1


def test_save_page_needs_one_input(tmp_path):
    result = run("pdf", SAMPLE, SAMPLE, "--save-page", tmp_path / "x.json")
    assert result.returncode == 2
    assert "--save-page takes a single input file" in result.stderr


def test_missing_pdfminer_is_exit_1(monkeypatch, capsys):
    import sys

    from vellora.cli import main

    monkeypatch.setitem(sys.modules, "pdfminer", None)  # import pdfminer now fails
    assert main(["pdf", str(SAMPLE)]) == 1
    captured = capsys.readouterr()
    assert captured.out == ""
    assert captured.err == "vellora: error: reading PDF files needs pdfminer.six: pip install 'vellora[pdf]'\n"


@pytest.mark.parametrize(("settings", "status", "message"), [
    (["heading_size_ratio=9", "heading_max_chars=0"], 0, ""),
    (["heading_size_ratio=x"], 2, "--pdf-setting: PDF setting heading_size_ratio must be a number; got 'x'"),
    (["colour=red"], 2, "--pdf-setting: unknown PDF setting 'colour'"),
])
def test_pdf_settings_from_the_command_line(settings, status, message):
    options = [word for setting in settings for word in ("--pdf-setting", setting)]
    result = run("pdf", SAMPLE, *options, "--json")
    assert result.returncode == status, result.stderr
    assert message in result.stderr
    if status == 0:  # no heading is nine times the body size, none short enough to go by weight
        labels = {e["label"] for e in json.loads(result.stdout)["page"]["elements"]}
        assert "HorizontalTitle" not in labels
