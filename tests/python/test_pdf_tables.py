"""Tables of the evaluation corpus: columns of an article are no table, real tables stay whole."""

import pathlib

import pytest

pytest.importorskip("pdfminer")

from vellora.pdf import PdfSettings, extract_page  # noqa: E402

EVAL = pathlib.Path(__file__).resolve().parents[2] / "eval" / "pages"


def tables(name, **settings):
    page = extract_page(EVAL / f"{name}.pdf", 1, settings=PdfSettings(**settings))
    return page, [e for e in page.elements if e.category == "Table"]


@pytest.mark.parametrize(("name", "columns"), [
    ("papertex-p3", 4),  # four justified newspaper columns on one baseline grid
    ("papertex-p4", 4),
    ("mcrule-examples-p13", 4),  # columns whose word gaps split their lines into pieces
])
def test_narrow_columns_of_running_text_are_no_table(name, columns):
    page, found = tables(name)
    # Before: three or four words a line on shared baselines made the columns one "table" of cells.
    assert found == []
    column_blocks = [e for e in page.elements if e.category == "Text" and e.y2 - e.y1 > 100 and e.x2 - e.x1 < 130]
    assert len(column_blocks) >= columns
    # With running text not told apart (no column of fewer than 10^6 lines is prose), they are one again.
    assert tables(name, table_prose_lines=10**6)[1]


def test_boxed_article_with_words_side_by_side_under_it_is_no_table():
    page, found = tables("papertex-p1")
    # Before: the rules around the third article and its weather box made all of it one "table".
    assert found == []
    assert next(e for e in page.elements if (e.text or "").startswith("Third subheading")).category == "Text"


@pytest.mark.parametrize(("name", "count", "starts"), [
    ("newspaper-p3", 2, "Parameter"),  # ruled, short cells
    ("longtable-p3", 1, "*"),  # one "p" column of prose beside columns of cells
    ("tugboat-babelbib-p3", 1, "Element"),  # a column of lower-case keywords is cells
    ("layout-p2", 2, "Margin"),  # aligned cells of a legend under a diagram
])
def test_tables_with_a_column_of_words_or_prose_stay_tables(name, count, starts):
    _page, found = tables(name)
    assert len(found) == count
    assert any((table.text or "").startswith(starts) for table in found)
