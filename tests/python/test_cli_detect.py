"""Detector output on the command line: COCO files, class mappings, --min-score and --furniture."""

import json
import pathlib
import subprocess
import sys

import pytest


EXAMPLE = pathlib.Path(__file__).resolve().parents[2] / "examples" / "two_column_detections.coco.json"


def run(*args):
    return subprocess.run([sys.executable, "-m", "vellora", *map(str, args)], capture_output=True, text=True,
                          timeout=120)


@pytest.fixture
def detections(tmp_path):
    """Two columns under a running head, a weak page number below; a second image of one block."""
    path = tmp_path / "dets.json"
    path.write_text(json.dumps({
        "images": [{"id": 5, "width": 600, "height": 800}],
        "categories": [{"id": 1, "name": "Text"}, {"id": 2, "name": "Page-header"}, {"id": 3, "name": "Marginalia"}],
        "annotations": [
            {"id": 1, "image_id": 5, "category_id": 1, "bbox": [310, 100, 240, 600], "score": 0.9},
            {"id": 2, "image_id": 5, "category_id": 1, "bbox": [50, 100, 240, 600], "score": 0.95},
            {"id": 3, "image_id": 5, "category_id": 2, "bbox": [50, 10, 500, 20], "score": 0.8},
            {"id": 4, "image_id": 5, "category_id": 3, "bbox": [290, 760, 20, 20], "score": 0.3, "label": "Regular"},
            {"id": 1, "image_id": 6, "category_id": 1, "bbox": [50, 100, 240, 600], "score": 0.95},
        ],
    }))
    return path


@pytest.mark.parametrize("options, lines", [
    ([], ["3 2 1 4", "1"]),
    (["--furniture", "drop"], ["2 1 4", "1"]),
    (["--min-score", "0.5"], ["3 2 1", "1"]),
    (["--min-score", "0.92", "--furniture", "drop"], ["2", "1"]),
])
def test_order_detections(detections, options, lines):
    result = run("order", detections, *options)
    assert (result.returncode, result.stdout.splitlines(), result.stderr) == (0, lines, "")


def test_mapping_file_makes_a_class_furniture(detections, tmp_path):
    mapping = tmp_path / "classes.json"
    mapping.write_text(json.dumps({"Marginalia": {"label": "Regular", "role": "furniture"}}))
    result = run("order", detections, "--classes", mapping, "--furniture", "drop", "--format", "jsonl")
    assert result.returncode == 0, result.stderr
    first = json.loads(result.stdout.splitlines()[0])
    assert [e["id"] for e in first["elements"]] == [2, 1]


def test_bad_detections_are_one_line_and_the_others_still_run(detections, tmp_path):
    data = json.loads(detections.read_text())
    data["annotations"][1]["bbox"] = [0, 0, -3, 4]
    detections.write_text(json.dumps(data))
    good = tmp_path / "good.json"
    good.write_text(json.dumps({"page_bounds": [0, 0, 10, 10], "elements": [{"id": 7, "box": [0, 0, 1, 1], "label": "Text"}]}))
    result = run("order", detections, good, "--quiet")
    assert result.returncode == 2
    (message,) = result.stderr.splitlines()
    assert message == f"vellora: error: {detections}: annotations[1] (id 2, image_id 5): 'bbox' has a negative width (-3)"
    assert result.stdout.splitlines() == [f"{good}: 7"]


@pytest.mark.parametrize("options, words", [
    (["--min-score", "high"], "--min-score: must be a number"),
    (["--classes", "{missing}"], "--classes {missing}: cannot read"),
])
def test_bad_options_are_usage_errors(detections, tmp_path, options, words):
    missing = tmp_path / "missing.json"
    result = run("order", detections, *(option.format(missing=missing) for option in options))
    assert result.returncode == 2 and words.format(missing=missing) in result.stderr


def test_example_detections_read_like_the_example_page():
    # The weak section header over the table is dropped; the running head and page number frame the body.
    result = run("order", EXAMPLE, "--min-score", "0.5")
    assert (result.returncode, result.stdout, result.stderr) == (0, "9 1 2 3 4 5 6 7 8 10\n", "")
