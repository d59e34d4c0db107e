"""Records of the XY-cut ordering as Python logging receives them."""

import logging
import math

import pytest

import _vellora_core as core
from logging_isolation import Collect, isolated_logging, listen  # noqa: F401

Element = core.Element
Label = core.SemanticLabel

PAPER_FILE = "src\\paper\\vellora\\src\\core"
BINDING_FILE = "src\\lib"
SQUARE_PAGE = (0.0, 0.0, 1000.0, 1000.0)
DEBUG = logging.DEBUG
WARNING = logging.WARNING


class Capture(Collect):
    def rows(self):
        """(logger, levelno, pathname, lineno, message) of every record."""
        return [
            (r.name, r.levelno, r.pathname, r.lineno, r.getMessage())
            for r in self.records
        ]

    def paper(self):
        """(levelno, lineno, message) of the XY-cut ordering's records."""
        rows = []
        for name, levelno, pathname, lineno, message in self.rows():
            if name == "velloray.paper":
                assert pathname == PAPER_FILE
                rows.append((levelno, lineno, message))
        return rows


@pytest.fixture
def captured(isolated_logging):
    """`velloray` at DEBUG with a capturing handler, undone afterwards."""
    return listen("velloray", DEBUG, Capture())


@pytest.fixture
def warnings_only(isolated_logging):
    return listen("velloray", WARNING, Capture())


def two_column_page():
    return [
        Element(1, 0.0, 50.0, 490.0, 1000.0, Label.Regular),
        Element(2, 510.0, 50.0, 1000.0, 1000.0, Label.Regular),
    ]


TWO_COLUMN_RECORDS = [
    (DEBUG, 164, "[XYCut] Horizontal cut at y=24, splitting 2 elements"),
    (DEBUG, 171, "  Top: 0 elements, Bottom: 2 elements"),
    (DEBUG, 164, "[XYCut] Horizontal cut at y=36, splitting 2 elements"),
    (DEBUG, 171, "  Top: 0 elements, Bottom: 2 elements"),
    (DEBUG, 164, "[XYCut] Horizontal cut at y=42, splitting 2 elements"),
    (DEBUG, 171, "  Top: 0 elements, Bottom: 2 elements"),
    (DEBUG, 185, "[XYCut] Vertical cut at x=500, splitting 2 elements"),
    (DEBUG, 192, "  Left: 1 elements, Right: 1 elements"),
]


class TestTwoColumnPage:
    def test_compute_order_records(self, captured):
        assert core.compute_order(two_column_page(), SQUARE_PAGE) == [1, 2]
        rows = captured.rows()
        assert rows[0] == ("velloray", DEBUG, BINDING_FILE, 219, "compute_order (paper): 2 elements")
        assert [(r[0], r[2]) for r in rows[1:]] == [("velloray.paper", PAPER_FILE)] * 8
        assert captured.paper() == TWO_COLUMN_RECORDS

    def test_compute_order_paper_records(self, captured):
        assert core.compute_order_paper(two_column_page(), SQUARE_PAGE) == [1, 2]
        assert captured.rows()[0] == (
            "velloray", DEBUG, BINDING_FILE, 231, "compute_order_paper: 2 elements")
        assert captured.paper() == TWO_COLUMN_RECORDS

    def test_records_carry_no_arguments(self, captured):
        core.compute_order(two_column_page(), SQUARE_PAGE)
        paper_records = [r for r in captured.records if r.name == "velloray.paper"]
        assert paper_records and all(r.args == () for r in paper_records)

    def test_cross_layout_columns_are_cut_first(self, captured):
        page = [
            Element(1, 0.0, 50.0, 490.0, 1000.0, Label.CrossLayout),
            Element(2, 510.0, 50.0, 1000.0, 1000.0, Label.CrossLayout),
        ]
        assert core.compute_order(page, SQUARE_PAGE) == [1, 2]
        assert captured.paper()[:2] == [
            (DEBUG, 142, "[XYCut] Vertical cut at x=500, splitting 2 elements (multi-column)"),
            (DEBUG, 149, "  Left: 1 elements, Right: 1 elements"),
        ]


def test_sixteen_stacked_cross_layout_elements(captured):
    page = [
        Element(i, 0.0, 10.0 * i, 1000.0, 10.0 * i + 10.0, Label.CrossLayout)
        for i in range(16)
    ]
    assert core.compute_order(page, (0.0, 0.0, 1000.0, 160.0)) == list(range(16))
    histogram = (DEBUG, 253, "[Histogram] Vertical: 500 bins, min_gap=7, x_range=0-1000")
    assert captured.paper() == [
        histogram,
        histogram,
        (DEBUG, 205, "[XYCut] No cuts found, sorting 16 elements by position"),
    ]


def test_two_columns_of_eight_report_the_gap(captured):
    page = [
        Element(8 * c + r, 510.0 * c, 100.0 * r, 510.0 * c + 490.0, 100.0 * r + 100.0,
                Label.CrossLayout)
        for c in range(2)
        for r in range(8)
    ]
    core.compute_order(page, (0.0, 0.0, 1000.0, 800.0))
    assert captured.paper()[:3] == [
        (DEBUG, 253, "[Histogram] Vertical: 500 bins, min_gap=7, x_range=0-1000"),
        (DEBUG, 264, "[Histogram] Found gap at bin 250, x=500"),
        (DEBUG, 142, "[XYCut] Vertical cut at x=500, splitting 16 elements (multi-column)"),
    ]


class TestInsertionRecords:
    def test_figure_goes_before_the_element_below_it(self, captured):
        page = [
            Element(1, 0.0, 20.0, 10.0, 30.0, Label.Regular),
            Element(2, 20.0, 0.0, 30.0, 10.0, Label.Regular),
            Element(9, 0.0, 0.0, 10.0, 10.0, Label.Vision),
        ]
        # The cut orders 2 (upper row) before 1; 9 costs least in front of 1.
        assert core.compute_order(page, SQUARE_PAGE) == [2, 9, 1]
        assert captured.paper()[-1] == (
            DEBUG, 403, "[INSERT] Masked element 9 (Vision) -> position 1 (before element 1)")

    def test_lone_figure_is_appended_with_a_warning(self, captured):
        page = [Element(4, 0.0, 0.0, 10.0, 10.0, Label.Vision)]
        assert core.compute_order(page, SQUARE_PAGE) == [4]
        assert captured.paper() == [
            (WARNING, 414, "No valid insertion for element 4 (Vision), appending")]

    def test_title_and_figure_alone(self, captured):
        page = [
            Element(5, 0.0, 0.0, 100.0, 100.0, Label.Vision),
            Element(6, 0.0, 200.0, 100.0, 220.0, Label.HorizontalTitle),
        ]
        assert core.compute_order(page, SQUARE_PAGE) == [6, 5]
        assert captured.paper() == [
            (WARNING, 414, "No valid insertion for element 6 (HorizontalTitle), appending"),
            (WARNING, 414, "No valid insertion for element 5 (Vision), appending"),
        ]


class TestInvalidPage:
    def test_zero_width(self, captured):
        assert core.compute_order([Element(1, 0, 0, 1, 1, Label.Regular)], (0.0, 0.0, 0.0, 792.0)) == []
        assert captured.paper() == [(WARNING, 63, "Invalid page dimensions (0, 792)")]

    def test_nan_right_edge(self, captured):
        page = (0.0, 0.0, math.nan, 1000.0)
        assert core.compute_order([Element(1, 0, 0, 1, 1, Label.Regular)], page) == []
        assert captured.paper() == [(WARNING, 63, "Invalid page dimensions (NaN, 1000)")]

    def test_empty_input_says_nothing(self, captured):
        assert core.compute_order([], (0.0, 0.0, 0.0, 0.0)) == []
        assert captured.paper() == []


def test_at_warning_level_only_warnings_arrive(warnings_only):
    page = two_column_page() + [Element(9, 0.0, 0.0, 10.0, 10.0, Label.Vision)]
    core.compute_order(page, SQUARE_PAGE)
    core.compute_order([Element(1, 0, 0, 1, 1, Label.Regular)], (0.0, 0.0, -1.0, 10.0))
    assert warnings_only.paper() == [(WARNING, 63, "Invalid page dimensions (-1, 10)")]
