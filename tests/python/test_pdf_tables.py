"""Tables of the evaluation corpus: columns of an article are no table, real tables stay whole."""

import pathlib

import pytest

pytest.importorskip("pdfminer")

from vellora.pdf import PdfSettings, extract_page  # noqa: E402
from vellora.pdf.blocks import PageBlocks, TextLine, block_of_lines  # noqa: E402
from vellora.pdf.tables import find_tables  # noqa: E402

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


def cell(x, top, rows, step=12.0, text="ab 12", width=40.0):
    return block_of_lines([TextLine((x, top + step * row, x + width, top + step * row + 10), text, 10.0, 0.0)
                           for row in range(rows)])


@pytest.mark.parametrize("name", ["pari-refcard-p3", "octave-refcard-p2", "debian-refcard-p2"])
def test_reference_card_rows_on_one_grid_make_no_table_across_its_columns(name):
    page, found = tables(name)
    # Before: commands and descriptions sharing baselines across the card's three columns made one
    # "table" over two or three of them, drawn as a picture and read before the columns.
    assert found
    assert all(table.x2 - table.x1 < page.page_bounds[2] / 3 for table in found)


@pytest.mark.parametrize(("gutter", "title", "count"), [(12.0, False, 3), (12.0, True, 3), (0.0, False, 1)])
def test_card_columns_on_one_baseline_grid_are_tables_of_their_own(gutter, title, count):
    blocks = [block for left in (20, 220, 420) for block in (cell(left, 200, 4), cell(left + 50, 200, 4, width=130))]
    # A title across the top of the card runs over its gutters.
    heads = [cell(20, 30, 1, text="Reference card", width=560)] if title else []
    page = PageBlocks(1, 612, 792, blocks=heads + blocks)
    find_tables(page, PdfSettings(page_gutter=gutter))
    assert [block.kind for block in page.blocks] == ["text"] * len(heads) + ["table"] * count


@pytest.mark.parametrize(("columns", "tall"), [
    ([cell(0, 100, 3), cell(60, 100, 3), cell(120, 100, 3)], None),
    # A first column of numbers running down all twenty rows beside cells of three rows each:
    # the cells level with any of its rows are found, however far down they start.
    ([cell(60, 100 + 36 * band, 3) for band in range(6)], cell(0, 100, 20, text="7")),
])
def test_cells_on_shared_baselines_make_one_table(columns, tall):
    blocks = columns + ([tall] if tall else []) + [cell(0, 600, 3, text="a line of running prose here")]
    page = PageBlocks(1, 612, 792, blocks=list(blocks))
    find_tables(page, PdfSettings())
    (table,) = [block for block in page.blocks if block.kind == "table"]
    assert len(table.lines) == sum(len(block.lines) for block in columns) + (len(tall.lines) if tall else 0)
    assert len(page.blocks) == 2  # the table and the paragraph below it
