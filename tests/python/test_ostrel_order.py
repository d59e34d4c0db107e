"""Orders of compute_order_ostrel: worked pages and invariants."""

import itertools
import math

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import _vellora_core as core

Element = core.Element
Label = core.SemanticLabel
LABELS = [Label.CrossLayout, Label.HorizontalTitle, Label.VerticalTitle, Label.Vision, Label.Regular]

PAGE = (0, 0, 200, 140)

# (id, x1, y1, x2, y2): a title and a footer across two columns of two rows.
TWO_COLUMNS = [
    (1, 0, 0, 200, 20),
    (2, 0, 30, 90, 60),
    (4, 110, 30, 200, 60),
    (3, 0, 70, 90, 100),
    (5, 110, 70, 200, 100),
    (6, 0, 110, 200, 130),
]


def elements(boxes, labels=None):
    labels = labels or [Label.Regular] * len(boxes)
    return [Element(*b, label) for b, label in zip(boxes, labels)]


class TestWorkedPages:
    def test_two_columns_with_title_and_footer(self):
        assert core.compute_order_ostrel(elements(TWO_COLUMNS), PAGE) == [1, 2, 3, 4, 5, 6]

    def test_equal_gaps_cut_the_topmost_first(self):
        rows = [(3, 0, 40, 10, 50), (1, 0, 0, 10, 10), (2, 0, 20, 10, 30)]
        assert core.compute_order_ostrel(elements(rows), PAGE) == [1, 2, 3]

    def test_cross_layout_element_half_way_lands_in_the_first_column(self):
        # The band across the page starts at 65, above the second left row.
        boxes = [
            (2, 0, 30, 90, 60), (4, 110, 30, 200, 60),
            (3, 0, 70, 90, 100), (5, 110, 70, 200, 100),
            (9, 0, 65, 200, 66),
        ]
        assert core.compute_order_ostrel(elements(boxes), PAGE) == [2, 9, 3, 4, 5]

    def test_duplicate_ids_stay(self):
        rows = [(7, 0, 40, 10, 50), (7, 0, 0, 10, 10), (7, 0, 20, 10, 30)]
        assert core.compute_order_ostrel(elements(rows), PAGE) == [7, 7, 7]

    def test_largest_ids_round_trip(self):
        rows = [(2**64 - 1, 0, 20, 10, 30), (0, 0, 0, 10, 10)]
        assert core.compute_order_ostrel(elements(rows), PAGE) == [0, 2**64 - 1]

    def test_empty_and_single(self):
        assert core.compute_order_ostrel([], PAGE) == []
        assert core.compute_order_ostrel(elements([(5, math.nan, 0, 1, 1)]), PAGE) == [5]


class TestIndependence:
    @pytest.mark.parametrize("shift", range(len(LABELS)))
    def test_labels_do_not_change_the_order(self, shift):
        labels = [LABELS[(i + shift) % len(LABELS)] for i in range(len(TWO_COLUMNS))]
        assert core.compute_order_ostrel(elements(TWO_COLUMNS, labels), PAGE) == [1, 2, 3, 4, 5, 6]

    @pytest.mark.parametrize(
        "page_bounds",
        [(0, 0, 0, 0), (0, 0, 0, 792), (0, 0, math.nan, 792), (500, 500, 0, 0), (-1e30, -1e30, 1e30, 1e30)],
    )
    def test_page_bounds_do_not_change_the_order(self, page_bounds):
        assert core.compute_order_ostrel(elements(TWO_COLUMNS), page_bounds) == [1, 2, 3, 4, 5, 6]

    @pytest.mark.parametrize(
        "config",
        [None, core.XYCutConfig(), core.XYCutConfig(0.0, 100.0, -5.0), core.XYCutConfig(math.nan, math.inf, 0.0)],
    )
    def test_config_does_not_change_the_order(self, config):
        assert core.compute_order_ostrel(elements(TWO_COLUMNS), PAGE, config) == [1, 2, 3, 4, 5, 6]
        assert core.compute_order_ostrel(elements=elements(TWO_COLUMNS), page_bounds=PAGE, config=config) == [
            1, 2, 3, 4, 5, 6,
        ]


# Coordinates: mostly ordinary numbers on a coarse grid (so gaps and
# overlaps are common), sometimes the awkward ones.
SPECIAL = [0.0, -0.0, math.inf, -math.inf, math.nan, 1e30, -1e30, 3.4e38, 1e-45]
coordinate = st.one_of(
    st.integers(min_value=-20, max_value=120).map(lambda v: v * 5.0),
    st.floats(min_value=-1000, max_value=1000, allow_nan=False, width=32),
    st.sampled_from(SPECIAL),
)
element_tuple = st.tuples(
    st.integers(min_value=0, max_value=2**64 - 1) | st.integers(min_value=0, max_value=3),
    coordinate, coordinate, coordinate, coordinate,
    st.sampled_from(LABELS),
)
page_bounds = st.tuples(coordinate, coordinate, coordinate, coordinate)


class TestProperties:
    @settings(max_examples=150, deadline=None, suppress_health_check=[HealthCheck.too_slow])
    @given(st.lists(element_tuple, max_size=30), page_bounds)
    def test_result_is_a_permutation_of_the_input_ids(self, tuples, bounds):
        result = core.compute_order_ostrel([Element(*t) for t in tuples], bounds)
        assert sorted(result) == sorted(t[0] for t in tuples)

    @settings(max_examples=60, deadline=None)
    @given(st.lists(element_tuple, min_size=2, max_size=12), page_bounds, page_bounds)
    def test_labels_and_bounds_never_matter(self, tuples, bounds_a, bounds_b):
        relabelled = [t[:5] + (LABELS[i % len(LABELS)],) for i, t in enumerate(tuples)]
        first = core.compute_order_ostrel([Element(*t) for t in tuples], bounds_a)
        second = core.compute_order_ostrel([Element(*t) for t in relabelled], bounds_b, core.XYCutConfig(1, 2, 3))
        assert first == second

    @settings(max_examples=60, deadline=None)
    @given(st.lists(st.tuples(coordinate, coordinate, coordinate, coordinate), min_size=1, max_size=20))
    def test_repeated_calls_agree(self, boxes):
        items = [Element(i, *b, Label.Regular) for i, b in enumerate(boxes)]
        assert core.compute_order_ostrel(items, PAGE) == core.compute_order_ostrel(list(items), PAGE)


def test_degenerate_grid_of_identical_boxes():
    # Every box the same: no band, y-then-x keeps input order.
    items = [Element(i, 0, 0, 10, 10, Label.Regular) for i in range(9)]
    assert core.compute_order_ostrel(items, PAGE) == list(range(9))


def test_every_permutation_of_three_rows_reads_top_down():
    rows = [(1, 0, 0, 10, 10), (2, 0, 20, 10, 30), (3, 0, 40, 10, 50)]
    for perm in itertools.permutations(rows):
        assert core.compute_order_ostrel(elements(list(perm)), PAGE) == [1, 2, 3]
