"""Results of compute_order and compute_order_paper."""

import pytest

import _vellora_core as core

Element = core.Element
Label = core.SemanticLabel
SQUARE_PAGE = (0.0, 0.0, 1000.0, 1000.0)


def two_column_page(label=Label.Regular):
    return [
        Element(1, 0.0, 50.0, 490.0, 1000.0, label),
        Element(2, 510.0, 50.0, 1000.0, 1000.0, label),
    ]


@pytest.mark.parametrize("compute", [core.compute_order, core.compute_order_paper])
class TestBothEntryPoints:
    def test_empty_list(self, compute):
        assert compute([], SQUARE_PAGE) == []

    def test_single_regular_element(self, compute):
        assert compute([Element(7, 0, 0, 10, 10, Label.Regular)], SQUARE_PAGE) == [7]

    def test_single_figure(self, compute):
        assert compute([Element(7, 0, 0, 10, 10, Label.Vision)], SQUARE_PAGE) == [7]

    def test_columns_read_left_to_right(self, compute):
        assert compute(list(reversed(two_column_page())), SQUARE_PAGE) == [1, 2]

    def test_invalid_page_gives_nothing(self, compute):
        assert compute(two_column_page(), (0.0, 0.0, 0.0, 792.0)) == []


def test_both_entry_points_agree_on_a_mixed_page():
    page = [
        Element(0, 0, 0, 1000, 40, Label.HorizontalTitle),
        Element(1, 0, 100, 400, 200, Label.Regular),
        Element(2, 600, 100, 1000, 200, Label.Regular),
        Element(3, 0, 600, 400, 700, Label.Regular),
        Element(4, 600, 600, 1000, 700, Label.Regular),
        Element(5, 100, 150, 900, 180, Label.Regular),
        Element(6, 600, 300, 1000, 500, Label.Vision),
    ]
    first = core.compute_order(page, SQUARE_PAGE)
    assert first == core.compute_order_paper(page, SQUARE_PAGE)
    assert sorted(first) == list(range(7))
    assert first[0] == 0


def test_config_none_and_omitted_agree():
    page = two_column_page()
    assert core.compute_order(page, SQUARE_PAGE, None) == core.compute_order(page, SQUARE_PAGE)


def test_config_reaches_the_cut():
    # A minimum gap wider than the page leaves only the position sort, which
    # orders the two columns (same row) by centre x.
    page = [
        Element(1, 510.0, 50.0, 1000.0, 1000.0, Label.Regular),
        Element(2, 0.0, 50.0, 490.0, 1000.0, Label.Regular),
    ]
    config = core.XYCutConfig(min_cut_threshold=5000.0)
    assert core.compute_order(page, SQUARE_PAGE, config) == [2, 1]
    rows = core.XYCutConfig(same_row_tolerance=1.0)
    assert core.compute_order(page, SQUARE_PAGE, rows) == [2, 1]


def test_large_and_repeated_ids_come_back_unchanged():
    big = 2**64 - 1
    page = [
        Element(big, 0.0, 0.0, 100.0, 100.0, Label.Regular),
        Element(2**63, 0.0, 500.0, 100.0, 600.0, Label.Regular),
        Element(big, 0.0, 800.0, 100.0, 900.0, Label.Vision),
    ]
    result = core.compute_order(page, SQUARE_PAGE)
    assert sorted(result) == sorted([big, 2**63, big])


def test_tuple_of_elements_is_accepted():
    assert core.compute_order(tuple(two_column_page()), SQUARE_PAGE) == [1, 2]


def test_capacity_overflow_is_an_internal_fault():
    # Overlapping rows leave the column search, which would need 2**60 bins.
    page = [Element(1, 0, 0, 10, 100, Label.Regular), Element(2, 20, 0, 30, 100, Label.Regular)]
    with pytest.raises(core.InternalFault, match=r"^capacity overflow$"):
        core.compute_order(page, (0.0, 0.0, 2.0**61, 100.0))


def test_histograms_far_beyond_memory_are_still_searched():
    # Up to 2**60 bins are accepted; the counters are never materialised.
    page = [Element(1, 0, 0, 10, 100, Label.Regular), Element(2, 20, 0, 30, 100, Label.Regular)]
    assert core.compute_order(page, (0.0, 0.0, 1e17, 100.0)) == [1, 2]
    config = core.XYCutConfig(histogram_resolution_scale=1e14)
    assert sorted(core.compute_order(page, SQUARE_PAGE, config)) == [1, 2]
