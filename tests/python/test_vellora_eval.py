"""Evaluation: the metrics on hand-computed cases, truth from regions, baseline mapping, `vellora eval`."""

import collections
import csv
import json
import math
import os
import pathlib
import subprocess
import sys
import xml.etree.ElementTree as ET

import pytest

pytest.importorskip("scipy")
pytest.importorskip("nltk")
pytest.importorskip("rapidfuzz")

from vellora import Page, PageElement
from vellora.evaluation.baselines import order_from_flow
from vellora.evaluation.corpus import LAYOUTS, load_eval_page
from vellora.evaluation.metrics import METRICS, OrderError, score_order
from vellora.evaluation.regions import Region, truth_from_regions

ROOT = pathlib.Path(__file__).resolve().parents[2]
CORPUS = ROOT / "eval" / "pages"
NS = {"svg": "http://www.w3.org/2000/svg"}

TRUTH6 = [1, 2, 3, 4, 5, 6]


# Each case worked by hand: tau = (concordant - discordant) / pairs; ARD = mean |displacement|;
# edit = Levenshtein / n; BLEU = geometric mean of the 1..4-gram precisions (brevity penalty 1).
@pytest.mark.parametrize("predicted, truth, expected", [
    pytest.param(TRUTH6, TRUTH6, {"tau": 1, "bleu4": 1, "ard": 0, "ned": 0, "exact": 1}, id="identical"),
    pytest.param([6, 5, 4, 3, 2, 1], TRUTH6, {"tau": -1, "bleu4": 0, "ard": 3.0, "ned": 1.0, "exact": 0},
                 id="reversed"),
    # One swap: 14 of 15 pairs agree; precisions 6/6, 3/5, 2/4, 1/3; two substitutions.
    pytest.param([2, 1, 3, 4, 5, 6], TRUTH6,
                 {"tau": 13 / 15, "bleu4": (1 * 3 / 5 * 2 / 4 * 1 / 3) ** 0.25, "ard": 2 / 6, "ned": 2 / 6,
                  "exact": 0}, id="adjacent-swap"),
    # A block moved: [4 5 6 1 2 3]: 9 of 15 pairs disagree; every element 3 away; 2-gram (3,4) lost.
    pytest.param([4, 5, 6, 1, 2, 3], TRUTH6,
                 {"tau": (6 - 9) / 15, "bleu4": (1 * 4 / 5 * 2 / 4 * 0 / 3) ** 0.25, "ard": 3.0, "ned": 1.0,
                  "exact": 0}, id="columns-swapped"),
    # Three elements: BLEU uses 1- to 3-grams, and no 2-gram survives.
    pytest.param([2, 1, 3], [1, 2, 3], {"tau": 1 / 3, "bleu4": 0, "ard": 2 / 3, "ned": 2 / 3, "exact": 0},
                 id="short-page"),
    pytest.param([7], [7], {"tau": 1, "bleu4": 1, "ard": 0, "ned": 0, "exact": 1}, id="one-element"),
    pytest.param([], [], {"tau": 1, "bleu4": 1, "ard": 0, "ned": 0, "exact": 1}, id="no-element"),
    # Only the ids the truth names are scored: 9 and 8 are ignored.
    pytest.param([9, 2, 8, 1, 3], [1, 2, 3], {"tau": 1 / 3, "bleu4": 0, "ard": 2 / 3, "ned": 2 / 3, "exact": 0},
                 id="subset-truth"),
])
def test_metrics_match_hand_computed_values(predicted, truth, expected):
    scores = score_order(predicted, truth)
    assert list(scores) == list(METRICS)
    for name, value in expected.items():
        assert scores[name] == pytest.approx(value, abs=1e-9), name


@pytest.mark.parametrize("predicted", [[1, 2], [1, 2, 3, 3], [1, 2, 4]], ids=["missing", "repeated", "foreign"])
def test_an_order_that_does_not_cover_the_truth_is_refused(predicted):
    with pytest.raises(OrderError):
        score_order(predicted, [1, 2, 3])


def test_metrics_stay_in_range_and_agree_on_perfection():
    # Invariant over every permutation of five ids.
    from itertools import permutations
    for predicted in permutations(range(5)):
        scores = score_order(list(predicted), list(range(5)))
        assert -1 <= scores["tau"] <= 1 and 0 <= scores["bleu4"] <= 1 and 0 <= scores["ned"] <= 1
        perfect = list(predicted) == list(range(5))
        assert (scores["exact"] == 1) == perfect == (scores["ard"] == 0) == math.isclose(scores["tau"], 1)


def element(element_id, box, label="Regular"):
    return PageElement(element_id, box, label)


# Two columns read left then right, a full-width title first; a margin note in no region.
TWO_COLUMNS = Page((0, 0, 600, 800), (
    element(1, (320, 100, 560, 300)),   # right column, top
    element(2, (40, 100, 280, 300)),    # left column, top
    element(3, (40, 320, 280, 500)),    # left column, bottom
    element(4, (40, 30, 560, 80), "HorizontalTitle"),
    element(5, (320, 320, 560, 500)),   # right column, bottom
    element(6, (5, 200, 30, 220)),      # margin line number
    element(7, (200, 300, 400, 330)),   # straddles both columns, mostly right
))
TWO_COLUMN_REGIONS = [Region((30, 20, 570, 90)), Region((30, 90, 290, 520)), Region((290, 90, 570, 520))]


def test_truth_follows_the_regions_then_top_to_bottom():
    assert truth_from_regions(TWO_COLUMNS, TWO_COLUMN_REGIONS) == (4, 2, 3, 1, 7, 5)


def test_truth_reads_a_head_line_left_to_right_however_its_pieces_sit():
    # A running head: the centre piece sits 0.45 pt higher than the left one; a margin
    # number beside a tall paragraph is not on the paragraph's line.
    page = Page((0, 0, 600, 800), (
        element(1, (240, 46.14, 430, 56.1)), element(2, (72, 46.59, 220, 56.55)), element(3, (518, 46.59, 538, 56.55)),
        element(4, (100, 100, 500, 400)), element(5, (80, 300, 90, 310)),
    ))
    regions = [Region((60, 38, 545, 63)), Region((60, 90, 545, 420))]
    assert truth_from_regions(page, regions) == (2, 1, 3, 4, 5)


def test_truth_survives_a_front_end_that_splits_elements_differently():
    # The same page cut into other blocks still reads title, left column, right column.
    split = Page(TWO_COLUMNS.page_bounds, (
        element(10, (40, 100, 280, 200)), element(11, (40, 210, 280, 500)),
        element(12, (320, 100, 560, 500)), element(13, (40, 30, 560, 80)),
    ))
    assert truth_from_regions(split, TWO_COLUMN_REGIONS) == (13, 10, 11, 12)


def test_an_element_inside_nested_regions_goes_to_the_smaller():
    page = Page((0, 0, 100, 100), (element(1, (10, 10, 20, 20)), element(2, (60, 60, 70, 70))))
    regions = [Region((0, 0, 100, 100)), Region((5, 5, 30, 30))]
    assert truth_from_regions(page, regions) == (2, 1)


def test_a_backdrop_skipped_around_text_takes_only_what_it_holds_most_of():
    # A faint title drawn across two boxes is skipped; a line wholly inside both the
    # skipped box and its own box still reads with its own box.
    page = Page((0, 0, 400, 300), (
        element(1, (20, 100, 380, 160)), element(2, (40, 120, 120, 130)), element(3, (240, 110, 300, 120)),
    ))
    regions = [Region((10, 10, 190, 290)), Region((210, 10, 390, 290)), Region((15, 95, 385, 165), skip=True)]
    assert truth_from_regions(page, regions) == (2, 3)


def test_baseline_flow_maps_onto_elements_by_median_position():
    # The flow reads the right column first; element 3 (a picture) has no words and
    # goes next to the word nearest its centre.
    page = Page((0, 0, 600, 800), (
        element(1, (40, 100, 280, 300)), element(2, (320, 100, 560, 300)), element(3, (320, 320, 560, 500), "Vision"),
    ))
    right_words = [(330, 110 + 20 * i, 380, 120 + 20 * i) for i in range(5)]
    left_words = [(50, 110 + 20 * i, 100, 120 + 20 * i) for i in range(5)]
    stray = [(60, 120, 70, 125)]  # one word of element 1 read early does not move it
    assert order_from_flow(page, right_words[:2] + stray + right_words[2:] + left_words) == [2, 3, 1]


# --- the command --------------------------------------------------------------------------


def run(*args):
    return subprocess.run([sys.executable, "-m", "vellora", "eval", *map(str, args)], capture_output=True,
                          text=True, timeout=300)


def eval_page(path, truth, layout, **extra):
    data = TWO_COLUMNS.to_dict()
    data["meta"] = {"layout": layout}
    data["truth"] = truth
    data.update(extra)
    path.write_text(json.dumps(data))
    return path


@pytest.fixture
def small_corpus(tmp_path):
    folder = tmp_path / "pages"
    folder.mkdir()
    eval_page(folder / "a.json", [4, 2, 3, 1, 7, 5], "two", orders={"reversed": [6, 5, 7, 1, 3, 2, 4]})
    eval_page(folder / "b.json", [4, 2, 1], "mixed")
    return folder


def test_eval_prints_a_table_per_layout_class(small_corpus):
    result = run(small_corpus, "-q")
    assert result.returncode == 0, result.stderr
    rows = [line.split() for line in result.stdout.splitlines()]
    classes = {row[0] for row in rows if len(row) == 8 and row[1].isdigit()}
    assert classes == {"all", "two", "mixed"}
    reversed_row = next(row for row in rows if row[:3] == ["two", "1", "reversed"])
    assert float(reversed_row[3]) == -1.0  # the stored order is the truth backwards


def test_eval_json_holds_every_page_and_the_summary(small_corpus):
    result = run(small_corpus, "--json", "--algorithm", "ostrel", "-q")
    data = json.loads(result.stdout)
    assert [pathlib.Path(p["source"]).name for p in data["pages"]] == ["a.json", "b.json"]
    assert set(data["pages"][0]["scores"]) == {"ostrel", "reversed"}
    assert set(data["pages"][1]["scores"]) == {"ostrel"}
    assert data["summary"]["all"]["ostrel"]["pages"] == 2
    assert set(data["summary"]["all"]["ostrel"]) == {"pages", *METRICS}


def test_eval_draws_the_worst_pages_with_truth_and_orders(small_corpus, tmp_path):
    out = tmp_path / "worst"
    result = run(small_corpus, "--svg", out, "--worst", "1", "-a", "paper", "-q")
    assert result.returncode == 0, result.stderr
    drawings = list(out.glob("*.svg"))
    assert len(drawings) <= 1
    for drawing in drawings:
        panels = ET.parse(drawing).getroot().findall("svg:g[@class='panel']", NS)
        assert panels[0].get("data-algorithm") == "truth"


@pytest.mark.parametrize("content, message", [
    ({"page_bounds": [0, 0, 10, 10], "elements": []}, "no 'truth'"),
    ({"page_bounds": [0, 0, 10, 10], "elements": [], "truth": [3]}, "no element has id 3"),
    ("{not json", "not valid JSON"),
], ids=["no-truth", "unknown-id", "not-json"])
def test_a_bad_page_is_reported_and_the_rest_scored(small_corpus, content, message):
    bad = small_corpus / "bad.json"
    bad.write_text(content if isinstance(content, str) else json.dumps(content))
    result = run(small_corpus, "-q")
    assert result.returncode == 2
    assert result.stderr.count("\n") == 1 and str(bad) in result.stderr and message in result.stderr
    assert "2 pages scored" in result.stdout


# --- the corpus -----------------------------------------------------------------------------


def test_corpus_pages_are_complete_and_traceable():
    rows = {row["name"]: row for row in csv.DictReader((ROOT / "eval" / "PROVENANCE.tsv").open(), delimiter="\t")}
    pages = sorted(p for p in CORPUS.glob("*.json") if not p.name.endswith(".regions.json"))
    assert len(pages) >= 80
    for path in pages:
        page = load_eval_page(path)
        name = path.name.removesuffix(".json")
        assert page.layout in LAYOUTS, name
        assert page.truth, name
        assert set(page.orders) == {"pdftotext", "pdfminer"}, name
        assert (CORPUS / f"{name}.regions.json").is_file(), name
        row = rows[name]
        assert row["package"] and row["version"] and row["licence"] and row["file"].endswith((".pdf", ".pdf.gz")), name
        assert row["package"] != "texlive-publishers-doc"


def test_the_three_column_class_is_drawn_from_many_documents():
    # One document must not dominate the class: a class mean that one page moves by 0.02 measures little.
    rows = [row for row in csv.DictReader((ROOT / "eval" / "PROVENANCE.tsv").open(), delimiter="\t")
            if row["layout"] == "three"]
    per_document = collections.Counter((row["package"], row["file"]) for row in rows)
    assert len(rows) >= 20 and len(per_document) >= 10
    assert max(per_document.values()) <= 3


def test_refresh_extracts_a_corpus_page_again_and_derives_its_truth_and_baselines():
    pytest.importorskip("pdfminer")
    import shutil

    if shutil.which("pdftotext") is None:
        pytest.skip("pdftotext (poppler-utils) is not installed")
    from vellora.evaluation.corpus import refresh

    page = refresh(load_eval_page(CORPUS / "ltnews09-p1.json"))
    ids = {element.id for element in page.page.elements}
    assert page.layout == "two" and page.page.meta["source"].endswith("ltnews09-p1.pdf")
    assert page.truth and set(page.truth) <= ids
    for name in ("pdftotext", "pdfminer"):
        assert sorted(page.orders[name]) == sorted(ids), name
        assert score_order(page.orders[name], page.truth)["tau"] > 0.5, name


@pytest.mark.parametrize("content, message", [
    ({"regions": [{"box": [0, 0, 10]}]}, "regions[0]: 'box'"),
    ({"regions": [{"box": [10, 0, 0, 10]}]}, "regions[0]: 'box'"),
    ({"regions": [{"box": [0, 0, 1, 1], "skip": "yes"}]}, "'skip' must be true or false"),
    ({"areas": []}, "'regions' array"),
], ids=["three-numbers", "inverted", "skip-not-boolean", "no-regions"])
def test_a_malformed_truth_file_names_the_region(content, message):
    from vellora import PageError
    from vellora.evaluation.regions import parse_regions

    with pytest.raises(PageError, match=message.replace("[", r"\[").replace("]", r"\]")):
        parse_regions(content, source="x.regions.json")


def test_refresh_without_pdftotext_is_one_clean_error(tmp_path):
    # Two corpus pages with their PDFs and regions, and a PATH without pdftotext.
    import shutil

    for name in ("ltnews09-p1", "ltnews20-p2"):
        for suffix in (".json", ".pdf", ".regions.json"):
            shutil.copy(CORPUS / f"{name}{suffix}", tmp_path / f"{name}{suffix}")
    env = {**os.environ, "PATH": str(tmp_path / "no-tools"), "PYTHONPATH": ":".join(sys.path)}
    result = subprocess.run([sys.executable, "-m", "vellora", "eval", str(tmp_path), "--refresh", "-q"],
                            capture_output=True, text=True, timeout=300, env=env)
    assert result.returncode == 1
    assert result.stderr == "vellora: error: the pdftotext order needs pdftotext (Debian package poppler-utils)\n"


def test_per_page_lines_come_before_the_table(small_corpus):
    result = run(small_corpus, "--per-page", "-a", "ostrel", "-q")
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert lines[0].split() == ["page", "class", "n", "ostrel", "reversed"]
    assert lines[1].split()[:3] == ["a", "two", "6"] and lines[1].split()[4] == "-1.000"
    assert lines[2].split()[:3] == ["b", "mixed", "3"] and lines[2].split()[4] == "-"
    assert lines.index("2 pages scored") > 2


def test_missing_metric_libraries_are_one_clean_error(small_corpus):
    code = ("import sys; sys.modules['scipy'] = sys.modules['scipy.stats'] = None\n"
            "from vellora.cli import main\n"
            f"sys.exit(main(['eval', {str(small_corpus)!r}, '-q']))")
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120)
    assert result.returncode == 1
    assert result.stderr == ("vellora: error: evaluation needs scipy, nltk and rapidfuzz (missing scipy): "
                             "pip install 'vellora[eval]'\n")
