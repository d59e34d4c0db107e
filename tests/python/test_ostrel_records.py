"""Records of compute_order_ostrel as Python logging receives them."""

import logging

import pytest

import _vellora_core as core
from logging_isolation import Collect, isolated_logging, listen  # noqa: F401

Element = core.Element
Regular = core.SemanticLabel.Regular

SORTER_FILE = "src\\ostrel\\vellora_sorter\\src\\lib"
NAN = float("nan")


class Capture(Collect):
    def ostrel(self):
        """(levelno, pathname, lineno, message) of the sorter's records."""
        return [
            (r.levelno, r.pathname, r.lineno, r.getMessage())
            for r in self.records
            if r.name == "velloray.ostrel"
        ]

    def ostrel_messages(self):
        return [message for _, _, _, message in self.ostrel()]


@pytest.fixture
def captured(isolated_logging):
    """`velloray` at DEBUG with a capturing handler, undone afterwards."""
    return listen("velloray", logging.DEBUG, Capture())


@pytest.fixture
def captured_warnings(isolated_logging):
    """`velloray` at WARNING with a capturing handler, undone afterwards."""
    return listen("velloray", logging.WARNING, Capture())


def box(id, x1, y1, x2, y2):
    return Element(id, x1, y1, x2, y2, Regular)


def two_column_page():
    return [
        box(1, 0, 0, 200, 20),
        box(2, 0, 30, 90, 60),
        box(4, 110, 30, 200, 60),
        box(3, 0, 70, 90, 100),
        box(5, 110, 70, 200, 100),
        box(6, 0, 110, 200, 130),
    ]


PAGE = (0, 0, 200, 140)


class TestWholePageRecords:
    def test_two_column_page_records_in_order(self, captured):
        assert core.compute_order_ostrel(two_column_page(), PAGE) == [1, 2, 3, 4, 5, 6]
        debug = logging.DEBUG
        assert captured.ostrel() == [
            (debug, SORTER_FILE, 87, "[sort] 6 elements (beta=2, density_threshold=0.9)"),
            (debug, SORTER_FILE, 110, "[sort] cross-layout: 2, remaining: 4"),
            (debug, SORTER_FILE, 126, "[sort] density_ratio=0.771, prefer_horizontal_first=false"),
            (debug, SORTER_FILE, 270, "[segment] vertical cut at x=100.0 (gap=20.0) on 4 elements"),
            (debug, SORTER_FILE, 287, "[segment] split into 2 groups: 2, 2"),
            (debug, SORTER_FILE, 263, "[segment] horizontal cut at y=65.0 (gap=10.0) on 2 elements"),
            (debug, SORTER_FILE, 287, "[segment] split into 2 groups: 1, 1"),
            (debug, SORTER_FILE, 263, "[segment] horizontal cut at y=65.0 (gap=10.0) on 2 elements"),
            (debug, SORTER_FILE, 287, "[segment] split into 2 groups: 1, 1"),
            (debug, SORTER_FILE, 468, "[merge] merging 2 cross-layout elements into 4 main elements"),
            (debug, SORTER_FILE, 500, "[merge] result: 6 elements total"),
        ]

    def test_binding_record_comes_first_under_the_parent_logger(self, captured):
        core.compute_order_ostrel(two_column_page(), PAGE)
        first = captured.records[0]
        assert first.name == "velloray"
        assert first.getMessage() == "compute_order_ostrel: 6 elements"
        assert all(r.name == "velloray.ostrel" for r in captured.records[1:])

    def test_messages_arrive_unformatted(self, captured):
        core.compute_order_ostrel(two_column_page(), PAGE)
        for record in captured.records:
            assert record.args == ()
            assert record.getMessage() == record.msg

    def test_twelve_elements_start_record(self, captured):
        rows = [box(i, 0, 3 * i, 10, 3 * i + 1) for i in range(12)]
        core.compute_order_ostrel(rows, PAGE)
        assert captured.ostrel_messages()[0] == "[sort] 12 elements (beta=2, density_threshold=0.9)"

    @pytest.mark.parametrize("elements", [[], [box(7, 0, 0, 1, 1)]], ids=["empty", "single"])
    def test_trivial_inputs_emit_no_sorter_record(self, captured, elements):
        core.compute_order_ostrel(elements, PAGE)
        assert captured.ostrel() == []


class TestSegmentRecords:
    def test_gap_of_four_point_nine_falls_back(self, captured):
        # The right box starts higher, so the fallback lists it first.
        elements = [box(2, 14.9, 0, 24.9, 10), box(1, 0, 2, 10, 12)]
        assert core.compute_order_ostrel(elements, PAGE) == [2, 1]
        assert captured.ostrel()[3:] == [
            (logging.DEBUG, SORTER_FILE, 254,
             "[segment] no valid cuts for 2 elements, falling back to y-then-x sort"),
        ]

    def test_gap_of_five_cuts(self, captured):
        elements = [box(2, 15, 0, 25, 10), box(1, 0, 2, 10, 12)]
        assert core.compute_order_ostrel(elements, PAGE) == [1, 2]
        assert captured.ostrel_messages()[3:] == [
            "[segment] vertical cut at x=12.5 (gap=5.0) on 2 elements",
            "[segment] split into 2 groups: 1, 1",
        ]

    def test_cut_leaving_one_side_empty_warns(self, captured):
        # NaN y1: the upper box's edges are both 10, but its centre is NaN.
        elements = [box(2, 0, 20, 10, 30), box(1, 0, NAN, 10, 10)]
        assert core.compute_order_ostrel(elements, PAGE) == [1, 2]
        assert captured.ostrel()[3:] == [
            (logging.DEBUG, SORTER_FILE, 263, "[segment] horizontal cut at y=15.0 (gap=10.0) on 2 elements"),
            (logging.WARNING, SORTER_FILE, 279,
             "[segment] cut produced only 1 group for 2 elements, falling back to y-then-x sort"),
        ]

    def test_only_warnings_arrive_at_warning_level(self, captured_warnings):
        elements = [box(2, 0, 20, 10, 30), box(1, 0, NAN, 10, 10)]
        assert core.compute_order_ostrel(elements, PAGE) == [1, 2]
        assert [(r.name, r.levelno, r.lineno) for r in captured_warnings.records] == [
            ("velloray.ostrel", logging.WARNING, 279),
        ]


class TestDensityRecords:
    def test_exactly_nine_tenths_does_not_prefer_horizontal(self, captured):
        core.compute_order_ostrel([box(1, 0, 0, 10, 1), box(2, 0, 2, 10, 10)], PAGE)
        assert captured.ostrel_messages()[2] == "[sort] density_ratio=0.900, prefer_horizontal_first=false"

    def test_overlapping_boxes_cap_density_at_one(self, captured):
        core.compute_order_ostrel([box(1, 0, 0, 10, 10), box(2, 0, 0, 10, 10)], PAGE)
        assert captured.ostrel_messages()[2] == "[sort] density_ratio=1.000, prefer_horizontal_first=true"

    def test_two_wide_elements_are_not_cross_layout(self, captured):
        core.compute_order_ostrel([box(1, 0, 0, 1000, 10), box(2, 0, 20, 1, 30)], PAGE)
        assert captured.ostrel_messages()[1] == "[sort] cross-layout: 0, remaining: 2"
