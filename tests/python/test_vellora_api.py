"""The vellora ordering API on top of the native module."""

import json
import logging
import pathlib

import pytest

import _vellora_core as core
import vellora
from vellora import ConfigError, PageError, capture_diagnostics, make_config, order, order_all

EXAMPLES = pathlib.Path(__file__).resolve().parents[2] / "examples"


def column_page():
    """One column, elements listed bottom-up with ids unrelated to position."""
    return {
        "page_bounds": [0, 0, 600, 800],
        "elements": [
            {"id": 30, "box": [50, 500, 550, 600], "label": "Regular"},
            {"id": 10, "box": [50, 300, 550, 400], "label": "Regular"},
            {"id": 20, "box": [50, 100, 550, 200], "label": "Regular"},
        ],
    }


class TestOrder:
    @pytest.mark.parametrize("algorithm", ["paper", "ostrel"])
    def test_single_column_reads_top_down(self, algorithm):
        assert order(column_page(), algorithm) == [20, 10, 30]

    def test_default_algorithm_is_ostrel(self):
        page = vellora.load_page(EXAMPLES / "two_column_page.json")
        assert vellora.DEFAULT_ALGORITHM == "ostrel"
        assert order(page) == order(page, "ostrel")

    @pytest.mark.parametrize("algorithm, function", [("paper", "compute_order"), ("ostrel", "compute_order_ostrel")])
    def test_same_result_as_the_native_function(self, algorithm, function):
        page = vellora.load_page(EXAMPLES / "two_column_page.json")
        native = getattr(core, function)(vellora.to_core_elements(page), page.page_bounds)
        assert order(page, algorithm) == native
        assert sorted(native) == sorted(e.id for e in page.elements)

    def test_page_as_path_dict_or_page(self, tmp_path):
        path = tmp_path / "p.json"
        path.write_text(json.dumps(column_page()))
        expected = order(column_page())
        assert order(path) == expected
        assert order(str(path)) == expected
        assert order(vellora.parse_page(column_page())) == expected

    def test_path_of_detector_output_or_several_pages(self, tmp_path):
        assert order(EXAMPLES / "two_column_detections.coco.json", furniture="drop") == [1, 2, 3, 4, 5, 6, 11, 7, 8]
        path = tmp_path / "pages.json"
        path.write_text(json.dumps([column_page(), column_page()]))
        with pytest.raises(PageError, match=r"pages\.json: holds 2 pages; read them with vellora.inputs.load_pages"):
            order(path)

    def test_order_all(self):
        orders = order_all(EXAMPLES / "two_column_page.json")
        assert list(orders) == ["paper", "ostrel"]
        for name, ids in orders.items():
            assert ids == order(EXAMPLES / "two_column_page.json", name)

    def test_unknown_algorithm(self):
        with pytest.raises(ValueError, match="unknown algorithm 'xy'.*paper, ostrel"):
            order(column_page(), "xy")

    def test_malformed_page_raises_page_error(self):
        page = column_page()
        page["elements"][1]["label"] = "Paragraph"
        with pytest.raises(PageError, match=r"elements\[1\] \(id 10\): 'label'"):
            order(page)

    @pytest.mark.parametrize("bounds, config, words", [
        ([0, 0, 1e39, 1e39], None, "single precision"),
        ([-3e38, 0, 3e38, 10], None, "single precision"),
        ([1e8, 0, 1e8 + 1, 10], None, "single precision"),
        ([0, 0, 1e30, 1e30], None, "too large for the paper algorithm"),
        ([0, 0, 600, 800], {"histogram_resolution_scale": 1e20}, "too large for the paper algorithm"),
    ])
    def test_page_the_paper_algorithm_cannot_handle_is_page_error(self, bounds, config, words):
        width = bounds[2] - bounds[0]
        page = {"page_bounds": bounds, "elements": [
            {"id": 1, "box": [bounds[0], 0, bounds[0] + width / 4, 1], "label": "Regular"},
            {"id": 2, "box": [bounds[0] + width / 2, 0, bounds[2], 1], "label": "Regular"}]}
        with pytest.raises(PageError, match=words):
            order(page, "paper", config)
        assert sorted(order(page, "ostrel")) == [1, 2]

    def test_empty_page(self):
        assert order({"page_bounds": [0, 0, 1, 1], "elements": []}, "paper") == []
        assert order({"page_bounds": [0, 0, 1, 1], "elements": []}, "ostrel") == []

    def test_labels_reach_the_native_elements(self):
        data = {"page_bounds": [0, 0, 100, 100],
                "elements": [{"id": i, "box": [0, i, 1, i + 1], "label": label} for i, label in enumerate(vellora.LABELS)]}
        natives = vellora.to_core_elements(vellora.parse_page(data))
        assert [int(e.label) for e in natives] == [0, 1, 2, 3, 4]
        assert natives[3].label is core.SemanticLabel.Vision
        assert (natives[2].id, natives[2].x1, natives[2].y1, natives[2].x2, natives[2].y2) == (2, 0.0, 2.0, 1.0, 3.0)


def furnished_page():
    """Two columns under a running head of two parts, with a page number and a footnote-style footer."""
    return {
        "page_bounds": [0, 0, 600, 800],
        "elements": [
            {"id": 9, "box": [50, 760, 300, 780], "label": "Regular", "role": "footer"},
            {"id": 8, "box": [300, 20, 550, 35], "label": "Regular", "role": "header"},
            {"id": 1, "box": [50, 100, 290, 700], "label": "Regular"},
            {"id": 2, "box": [310, 100, 550, 700], "label": "Regular"},
            {"id": 7, "box": [50, 20, 250, 35], "label": "Regular", "role": "header", "category": "Page-header"},
            {"id": 6, "box": [290, 740, 310, 755], "label": "Regular", "role": "footer", "category": "Page-number"},
        ],
    }


class TestFurniture:
    @pytest.mark.parametrize("algorithm", ["paper", "ostrel"])
    def test_furniture_surrounds_the_body(self, algorithm):
        assert order(furnished_page(), algorithm) == [7, 8, 1, 2, 6, 9]
        assert order(furnished_page(), algorithm, furniture="drop") == [1, 2]

    @pytest.mark.parametrize("algorithm", ["paper", "ostrel"])
    def test_body_order_ignores_furniture(self, algorithm):
        # Furniture between the columns' tops must not change how the body is cut.
        page = vellora.load_page(EXAMPLES / "two_column_page.json")
        data = page.to_dict()
        spanning = {"id": 1000, "box": [0, 300, 612, 310], "label": "CrossLayout", "role": "header"}
        with_furniture = {**data, "elements": [*data["elements"], spanning]}
        kept = order(with_furniture, algorithm)
        assert kept == [1000, *order(page, algorithm)]
        assert order_all(with_furniture, furniture="drop") == order_all(page)

    def test_pieces_of_a_running_head_in_other_fonts_read_left_to_right(self):
        # The right piece's box starts 0.5 pt higher (a taller font), but both share one line.
        page = furnished_page()
        page["elements"][1]["box"] = [300, 19.5, 550, 35]
        page["elements"][4]["box"] = [50, 20, 250, 35]
        assert order(page, furniture="keep")[:2] == [7, 8]

    def test_unknown_furniture_mode(self):
        with pytest.raises(ValueError, match="furniture must be one of keep, drop; got 'hide'"):
            order(furnished_page(), furniture="hide")


#: Two columns 10 apart whose paragraphs both end above an empty band 14 high, wider than the gutter.
WIDE_BAND = pathlib.Path(__file__).parent / "data" / "columns_ending_above_a_band_wider_than_their_gutter.json"


def two_columns_with_a_wide_band():
    return json.loads(WIDE_BAND.read_text())


class TestColumns:
    @pytest.mark.parametrize("algorithm", ["paper", "ostrel"])
    def test_columns_split_at_a_gutter_are_read_in_turn(self, algorithm):
        page = two_columns_with_a_wide_band()
        assert order(page, algorithm) == [1, 2, 3, 4]
        assert order(page, "ostrel", columns="whole") == [1, 3, 2, 4]  # cut across at the wider band

    @pytest.mark.parametrize("extra, label, parts", [
        ([20, 320, 45, 330], "Regular", [5]),            # a margin note: a strip too narrow to be a column
        ([200, 50, 400, 80], "Regular", [5]),            # text across the gutter
        ([200, 50, 400, 80], "HorizontalTitle", [1, 2, 2]),  # a title above the columns is read first
        ([200, 710, 400, 730], "HorizontalTitle", [5]),  # but not one below them
    ], ids=["margin-strip", "spanning-text", "title-above", "title-below"])
    def test_only_a_gutter_down_the_whole_body_between_wide_columns_splits_it(self, extra, label, parts):
        page = vellora.parse_page(two_columns_with_a_wide_band())
        assert [[e.id for e in column] for column in vellora.split_columns(page.elements)] == [[1, 2], [3, 4]]
        data = page.to_dict()
        data["elements"].append({"id": 5, "box": extra, "label": label})
        assert [len(part) for part in vellora.split_columns(vellora.parse_page(data).elements)] == parts

    def test_unknown_columns_mode(self):
        with pytest.raises(ValueError, match="columns must be one of split, whole; got 'auto'"):
            order(furnished_page(), columns="auto")


class TestConfig:
    def test_mapping_fills_defaults(self):
        config = make_config({"same_row_tolerance": 4})
        assert isinstance(config, core.XYCutConfig)
        assert (config.min_cut_threshold, config.histogram_resolution_scale, config.same_row_tolerance) == (15.0, 0.5, 4.0)

    def test_passthrough(self):
        config = core.XYCutConfig(20.0)
        assert make_config(config) is config
        assert make_config(None) is None

    @pytest.mark.parametrize("bad, message", [
        ({"min_cut": 3}, "unknown config field 'min_cut'"),
        ({"same_row_tolerance": "4"}, "'same_row_tolerance' must be a number"),
        ({"same_row_tolerance": True}, "'same_row_tolerance' must be a number"),
        ({"min_cut_threshold": float("nan")}, "'min_cut_threshold' must be finite"),
        ([("min_cut_threshold", 1)], "mapping or an XYCutConfig"),
    ])
    def test_bad_config(self, bad, message):
        with pytest.raises(ConfigError, match=message):
            make_config(bad)

    def test_config_changes_the_paper_order_only_through_its_values(self):
        page = vellora.load_page(EXAMPLES / "two_column_page.json")
        assert order(page, "paper", {}) == order(page, "paper")
        assert order(page, "paper", core.XYCutConfig()) == order(page, "paper")
        # The ostrel algorithm takes no configuration.
        assert order(page, "ostrel", {"min_cut_threshold": 400}) == order(page, "ostrel")


class TestDiagnostics:
    def test_records_of_both_algorithms(self):
        page = vellora.load_page(EXAMPLES / "two_column_page.json")
        with capture_diagnostics() as records:
            order(page, "paper")
        assert records, "the paper run emitted no record"
        assert records[0].logger == "velloray" and records[0].level == "DEBUG"
        assert records[0].message == "compute_order (paper): 8 elements"
        assert any(r.logger == "velloray.paper" for r in records)
        with capture_diagnostics() as records:
            order(page, "ostrel")
        assert records[0].message == "compute_order_ostrel: 8 elements"
        assert any(r.logger == "velloray.ostrel" for r in records)
        assert "velloray.ostrel: " in str(records[-1])

    def test_logger_is_restored_and_records_stop(self):
        logger = logging.getLogger("velloray")
        saved = logger.level
        logger.setLevel(logging.WARNING)
        handlers = list(logger.handlers)
        try:
            with capture_diagnostics() as records:
                pass
            assert logger.level == logging.WARNING
            assert logger.handlers == handlers
            order(column_page())
            assert records == []
        finally:
            logger.setLevel(saved)
            core.reset_log_cache()

    def test_records_do_not_reach_the_callers_handlers(self):
        # A program with logging.basicConfig() must not see its console flooded while capturing.
        seen = []
        handler = logging.Handler()
        handler.emit = seen.append
        root = logging.getLogger()
        root.addHandler(handler)
        try:
            with capture_diagnostics() as records:
                order(column_page())
        finally:
            root.removeHandler(handler)
        assert records and seen == []
        assert logging.getLogger("velloray").propagate

    def test_level_filters(self):
        with capture_diagnostics(logging.INFO) as records:
            order(column_page())
        assert all(r.level != "DEBUG" for r in records)
