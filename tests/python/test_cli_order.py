"""The command line, driven end to end as a user would (`python -m vellora order ...`)."""

import json
import os
import pathlib
import subprocess
import sys
import xml.etree.ElementTree as ET

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
EXAMPLE = ROOT / "examples" / "two_column_page.json"
NS = {"svg": "http://www.w3.org/2000/svg"}


def run(*args, cwd=None):
    return subprocess.run([sys.executable, "-m", "vellora", *map(str, args)], capture_output=True, text=True,
                          cwd=cwd, timeout=120)


def example_ids():
    return sorted(e["id"] for e in json.loads(EXAMPLE.read_text())["elements"])


def write_page(path, data):
    path.write_text(json.dumps(data))
    return path


class TestOrder:
    @pytest.mark.parametrize("algorithm", ["paper", "ostrel"])
    def test_prints_the_order(self, algorithm):
        result = run("order", EXAMPLE, "--algorithm", algorithm)
        assert result.returncode == 0, result.stderr
        assert result.stderr == ""
        lines = result.stdout.splitlines()
        assert len(lines) == 1
        ids = [int(word) for word in lines[0].split()]
        assert sorted(ids) == example_ids()
        # Checked in a subprocess, so this file never touches the native logging cache itself.
        api = subprocess.run([sys.executable, "-c", f"import vellora; print(vellora.order({str(EXAMPLE)!r}, {algorithm!r}))"],
                             capture_output=True, text=True, timeout=120)
        assert api.stdout.strip() == str(ids)

    def test_json_output(self):
        result = run("order", EXAMPLE, "--json")
        assert result.returncode == 0, result.stderr
        data = json.loads(result.stdout)
        assert data["source"] == str(EXAMPLE)
        assert list(data["orders"]) == ["ostrel"]  # the default algorithm
        assert sorted(data["orders"]["ostrel"]) == example_ids()
        assert "page" not in data and "svg" not in data

    def test_compare(self):
        result = run("order", EXAMPLE, "--compare", "--json")
        data = json.loads(result.stdout)
        assert list(data["orders"]) == ["paper", "ostrel"]
        plain = run("order", EXAMPLE, "--compare").stdout.splitlines()
        assert plain[0].split()[0] == "paper:" and plain[1].split()[0] == "ostrel:"
        assert [int(w) for w in plain[1].split()[1:]] == data["orders"]["ostrel"]

    def test_list(self):
        result = run("order", EXAMPLE, "--list")
        lines = result.stdout.splitlines()
        assert len(lines) == 1 + len(example_ids())
        first_id = int(lines[0].split()[0])
        assert lines[1].split()[:3] == ["1.", "id", str(first_id)]

    def test_config_values_and_file(self, tmp_path):
        base = run("order", EXAMPLE, "--json")
        same = run("order", EXAMPLE, "--json", "--config", "min_cut_threshold=15", "-c", "same_row_tolerance=10")
        assert same.returncode == 0, same.stderr
        assert json.loads(same.stdout)["orders"] == json.loads(base.stdout)["orders"]
        config = write_page(tmp_path / "config.json", {"histogram_resolution_scale": 0.5})
        from_file = run("order", EXAMPLE, "--json", "--config", config)
        assert from_file.returncode == 0, from_file.stderr

    def test_columns_whole_orders_the_body_in_one_run(self):
        page = ROOT / "tests" / "python" / "data" / "columns_ending_above_a_band_wider_than_their_gutter.json"
        assert run("order", page).stdout.split() == ["1", "2", "3", "4"]
        assert run("order", page, "--columns", "whole").stdout.split() == ["1", "3", "2", "4"]

    def test_explain_prints_the_diagnostic_records(self):
        result = run("order", EXAMPLE, "--explain", "--compare")
        assert result.returncode == 0, result.stderr
        out = result.stdout
        assert "DEBUG   velloray: compute_order (paper): 8 elements" in out
        assert "DEBUG   velloray: compute_order_ostrel: 8 elements" in out
        assert "velloray.paper: " in out and "velloray.ostrel: " in out
        data = json.loads(run("order", EXAMPLE, "--explain", "--json", "-a", "paper").stdout)
        records = data["diagnostics"]["paper"]
        assert records[0] == {"logger": "velloray", "level": "DEBUG", "message": "compute_order (paper): 8 elements"}

    def test_no_diagnostics_without_explain(self):
        assert "velloray" not in run("order", EXAMPLE).stdout


class TestSvg:
    def test_one_numbered_box_per_element(self, tmp_path):
        out = tmp_path / "page.svg"
        result = run("order", EXAMPLE, "--svg", out)
        assert result.returncode == 0, result.stderr
        assert result.stdout.splitlines()[-1] == f"svg written to {out}"
        order = [int(w) for w in result.stdout.splitlines()[0].split()]
        root = ET.parse(out).getroot()
        panels = root.findall("svg:g[@class='panel']", NS)
        assert len(panels) == 1
        badges = panels[0].findall(".//svg:g[@class='badge']", NS)
        assert len(badges) == len(order)
        numbered = {int(b.get("data-id")): int(b.find("svg:text", NS).text) for b in badges}
        assert numbered == {element_id: position for position, element_id in enumerate(order, start=1)}
        assert len(panels[0].findall("svg:g[@class='arrows']/svg:path", NS)) == len(order) - 1

    def test_compare_side_by_side(self, tmp_path):
        out = tmp_path / "both.svg"
        result = run("order", EXAMPLE, "--compare", "--svg", out, "--json")
        data = json.loads(result.stdout)
        assert data["svg"] == str(out)
        panels = ET.parse(out).getroot().findall("svg:g[@class='panel']", NS)
        assert [p.get("data-algorithm") for p in panels] == ["paper", "ostrel"]
        for panel in panels:
            positions = {int(g.get("data-id")): int(g.get("data-position"))
                         for g in panel.findall(".//svg:g[@class='element']", NS)}
            order = data["orders"][panel.get("data-algorithm")]
            assert positions == {element_id: n for n, element_id in enumerate(order, start=1)}

    def test_unwritable_svg_is_exit_1(self, tmp_path):
        result = run("order", EXAMPLE, "--svg", tmp_path / "no" / "such" / "dir.svg")
        assert result.returncode == 1
        assert result.stderr.startswith("vellora: error: cannot write ")


class TestErrors:
    def test_malformed_page_names_field_and_element(self, tmp_path):
        data = json.loads(EXAMPLE.read_text())
        data["elements"][3]["label"] = "Diagram"
        bad = write_page(tmp_path / "bad.json", data)
        result = run("order", bad)
        assert result.returncode == 2
        assert result.stdout == ""
        assert result.stderr.splitlines() == [
            f"vellora: error: {bad}: elements[3] (id 4): 'label': unknown class 'Diagram' (not one of "
            "CrossLayout, HorizontalTitle, VerticalTitle, Vision, Regular, nor a class of DocLayNet, PubLayNet, "
            "DocStructBench or the class mapping)"]

    @pytest.mark.parametrize("content, words", [
        ("{not json", ["not valid JSON", "line 1"]),
        ('{"page_bounds": [0, 0, 10], "elements": []}', ["'page_bounds' must have 4 numbers; got 3"]),
        ('{"page_bounds": [0, 0, 10, 10], "elements": [{"id": 1, "box": [0, 0, 1], "label": "Regular"}]}',
         ["elements[0] (id 1): 'box' must have 4 numbers"]),
    ])
    def test_other_malformed_input(self, tmp_path, content, words):
        bad = tmp_path / "bad.json"
        bad.write_text(content)
        result = run("order", bad)
        assert result.returncode == 2
        assert len(result.stderr.splitlines()) == 1
        for word in words:
            assert word in result.stderr

    @pytest.mark.parametrize("content, words", [
        (b"\xff\xfe", "not UTF-8"),
        (b"[" * 100_000 + b"]" * 100_000, "nested too deeply"),
        (b'{"page_bounds": [0, 0, 1e39, 1e39], "elements": [{"id": 1, "box": [0, 0, 1, 1], "label": "Regular"},'
         b' {"id": 2, "box": [5, 0, 6, 1], "label": "Regular"}]}', "single precision"),
        (b'{"page_bounds": [0, 0, 1e30, 1e30], "elements": [{"id": 1, "box": [0, 0, 1, 1], "label": "Regular"},'
         b' {"id": 2, "box": [5, 0, 6, 1], "label": "Regular"}]}', "too large for the paper algorithm"),
    ], ids=["latin1", "deep", "float32", "bins"])
    def test_unusable_page_is_one_line(self, tmp_path, content, words):
        bad = tmp_path / "bad.json"
        bad.write_bytes(content)
        result = run("order", bad, "--algorithm", "paper")
        assert result.returncode == 2, result.stderr
        assert result.stderr.splitlines() == [result.stderr.strip()] and words in result.stderr, result.stderr
        if b"page_bounds" not in content:  # the same file given as --config
            result = run("order", EXAMPLE, "--config", bad)
            assert result.returncode == 2, result.stderr
            assert result.stderr.splitlines() == [result.stderr.strip()] and words in result.stderr, result.stderr

    def test_odd_text_and_file_names_are_printed(self, tmp_path):
        data = json.loads(EXAMPLE.read_text())
        data["elements"][0]["text"] = "lone \ud800 surrogate"
        odd = write_page(tmp_path / "odd.json", data)
        name = os.fsdecode(b"\xff.json")
        write_page(tmp_path / name, json.loads(EXAMPLE.read_text()))
        result = run("order", odd, name, "--list", "--svg", tmp_path / "svgs", "-q", cwd=tmp_path)
        assert result.returncode == 0, result.stderr
        assert "lone" in result.stdout and "svg written to" in result.stdout
        for drawing in (tmp_path / "svgs").iterdir():
            ET.parse(drawing)

    @pytest.mark.parametrize("stdout", ["closed", "full"])
    def test_unwritable_standard_output_is_exit_1(self, stdout):
        command = [sys.executable, "-m", "vellora", "order", str(EXAMPLE)]
        if stdout == "closed":
            result = subprocess.run(["sh", "-c", 'exec "$@" >&-', "sh", *command], stderr=subprocess.PIPE,
                                    text=True, timeout=120)
        else:
            if not os.path.exists("/dev/full"):
                pytest.skip("no /dev/full")
            with open("/dev/full", "w") as full:
                result = subprocess.run(command, stdout=full, stderr=subprocess.PIPE, text=True, timeout=120)
        assert result.returncode == 1
        assert result.stderr.startswith("vellora: error: cannot write to standard output"), result.stderr
        assert len(result.stderr.splitlines()) == 1, result.stderr

    def test_missing_file(self, tmp_path):
        result = run("order", tmp_path / "absent.json")
        assert result.returncode == 2
        assert "absent.json: cannot read: No such file or directory" in result.stderr

    @pytest.mark.parametrize("args, words", [
        ([], ["usage"]),
        (["order"], ["usage", "PAGE.json"]),
        (["order", EXAMPLE, "--algorithm", "fast"], ["invalid choice: 'fast'"]),
        (["order", EXAMPLE, "--compare", "--algorithm", "paper"], ["--compare runs both algorithms"]),
        (["order", EXAMPLE, "--config", "min_cut=3"], ["unknown config field 'min_cut'"]),
        (["order", EXAMPLE, "--config", "min_cut_threshold=big"], ["'big' is not a number"]),
        (["order", EXAMPLE, "--config", "absent.json"], ["--config absent.json: cannot read"]),
        (["frobnicate"], ["invalid choice: 'frobnicate'"]),
    ])
    def test_usage_errors_exit_2(self, args, words):
        result = run(*args)
        assert result.returncode == 2
        assert result.stdout == ""
        for word in words:
            assert word in result.stderr


class TestManyFiles:
    def test_progress_and_every_good_page_is_ordered(self, tmp_path):
        data = json.loads(EXAMPLE.read_text())
        good = write_page(tmp_path / "a.json", data)
        data["elements"][0]["box"] = [10, 10, 5, 20]
        bad = write_page(tmp_path / "b.json", data)
        other = write_page(tmp_path / "c.json", json.loads(EXAMPLE.read_text()))
        svg_dir = tmp_path / "svgs"
        result = run("order", good, bad, other, "--svg", svg_dir)
        assert result.returncode == 2
        err = result.stderr.splitlines()
        assert err[0] == f"[1/3] {good}"
        assert f"[2/3] {bad}" in err and f"[3/3] {other}" in err
        assert f"vellora: error: {bad}: elements[0] (id 1): 'box': x2 (5) is less than x1 (10)" in err
        out = result.stdout.splitlines()
        assert out[0].startswith(f"{good}: ") and out[2].startswith(f"{other}: ")
        assert sorted(p.name for p in svg_dir.iterdir()) == ["a.svg", "c.svg"]

    def test_quiet_and_json_lines(self, tmp_path):
        a = write_page(tmp_path / "a.json", json.loads(EXAMPLE.read_text()))
        result = run("order", a, EXAMPLE, "--json", "--quiet")
        assert result.returncode == 0 and result.stderr == ""
        objects = [json.loads(line) for line in result.stdout.splitlines()]
        assert [o["source"] for o in objects] == [str(a), str(EXAMPLE)]
        assert objects[0]["orders"] == objects[1]["orders"]

    def test_same_stem_gets_distinct_svgs(self, tmp_path):
        (tmp_path / "x").mkdir()
        (tmp_path / "y").mkdir()
        first = write_page(tmp_path / "x" / "p.json", json.loads(EXAMPLE.read_text()))
        second = write_page(tmp_path / "y" / "p.json", json.loads(EXAMPLE.read_text()))
        result = run("order", first, second, "--svg", tmp_path / "out", "-q")
        assert result.returncode == 0, result.stderr
        assert sorted(p.name for p in (tmp_path / "out").iterdir()) == ["p-2.svg", "p.svg"]


def test_console_script_is_installed():
    script = pathlib.Path(sys.executable).parent / "vellora"
    if not script.exists():
        pytest.skip("not running from an environment with the vellora console script")
    result = subprocess.run([str(script), "order", str(EXAMPLE)], capture_output=True, text=True, timeout=120,
                            env={**os.environ})
    assert result.returncode == 0, result.stderr
    assert result.stdout == run("order", EXAMPLE).stdout


def test_version():
    result = run("--version")
    assert result.returncode == 0
    assert result.stdout.startswith("vellora ")
