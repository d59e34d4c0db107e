"""The PDF front end on pages of the evaluation corpus (eval/pages) that it used to read wrongly."""

import pathlib

import pytest

pytest.importorskip("pdfminer")

import vellora  # noqa: E402
from vellora.pdf import PdfSettings, extract_page  # noqa: E402
from vellora.pdf.blocks import PageBlocks, TextLine, block_of_lines  # noqa: E402
from vellora.pdf.displays import join_displays  # noqa: E402

EVAL = pathlib.Path(__file__).resolve().parents[2] / "eval" / "pages"


def eval_page(name):
    return extract_page(EVAL / f"{name}.pdf", 1)


@pytest.mark.parametrize("name", ["beamer-lecture-p5", "beamer-lecture-p20"])
def test_slide_navigation_bar_is_a_side_panel_read_after_the_body(name):
    page = eval_page(name)
    panel = [e for e in page.elements if e.category == "Sidebar"]
    # Before: the bar's entries were body text, read between the slide's items.
    assert len(panel) >= 8 and all(e.role == "footer" and e.x1 > 300 for e in panel)
    assert all(e.x2 < 300 for e in page.elements if e.role == "body")
    assert vellora.order(page)[-len(panel):] == [e.id for e in sorted(panel, key=lambda e: (e.y1, e.x1))]


def test_displayed_formulas_are_one_element_each_with_their_number():
    page = eval_page("turnstile-p4")
    # Before: 33 elements, each formula in three to five pieces read like narrow columns, its number apart.
    formulas = [e for e in page.elements if "Γ" in (e.text or "") and "\\" not in e.text]
    assert [e.text.splitlines()[-1] for e in formulas] == [f"({n})" for n in range(2, 8)]
    assert all("P" in e.text and e.x2 > 500 for e in formulas)
    kinds = ["formula" if e in formulas else "code" if e.text.startswith("\\Gamma") else "text"
             for e in page.elements_in(vellora.order(page, furniture="drop"))]
    assert kinds == ["code", "formula"] * 2 + ["text"] * 2 + ["code", "formula"] * 4


def test_matrix_set_in_a_line_of_text_joins_that_line():
    page = eval_page("beamer-conference-p20")
    # Before: "the submatrix", its brackets, the matrix and the full stop were five elements side by side.
    (line,) = [e for e in page.elements if "the submatrix" in (e.text or "")]
    assert all(row in line.text for row in ("2 2 2", "1 0 0", "the submatrix 0 1 0 .", "0 0 1"))


def test_fields_of_listing_rows_are_one_element_per_row():
    page = eval_page("array-p3")
    rows = [e.text for e in page.elements if (e.text or "").endswith("\\end{tabular}")]
    assert rows == ["1 & 1\\newline x \\\\[20pt] 2 & 2 \\end{tabular}", "1\\newline 1 & x \\\\[20pt] 2 & 2 \\end{tabular}"]


def test_running_head_and_page_number_on_one_line_read_left_to_right():
    page = eval_page("layout-p2")
    # Before: the page number's top lay 0.01 pt above the head's, so it was read first.
    head = [e.text for e in page.elements_in(vellora.order(page)) if e.role == "header"]
    assert head == ["layout package version v1.2e as of 2021-03-10", "2"]


def test_page_numbers_set_flush_right_join_the_contents_entries_they_end():
    page = eval_page("source2e-p5")
    # Before: "263", "265", "282", ... were a column of their own, read after all the entries.
    assert [e.text for e in page.elements if (e.text or "").isdigit()] == []
    texts = {e.text: e for e in page.elements}
    entries = ["ltcmdhooks.dtx 263", "1 Introduction 263", "3 Package Author Interface 265", "1 Program control structure 284"]
    assert all(texts[entry].x2 > 520 for entry in entries)
    body = vellora.order(page, furniture="drop")
    assert body == sorted(body, key=lambda i: page.elements_in([i])[0].y1)


def lines(x1, x2, top, count=1, text="text"):
    return block_of_lines([TextLine((x1, y, x2, y + 10), text, 10.0, 0.0) for y in range(top, top + 12 * count, 12)])


def single_lines(page):
    return sorted(block.text for block in page.blocks if len(block.lines) == 1)


def test_pieces_of_a_display_inside_a_paragraph_join():
    page = PageBlocks(1, 600, 800, [lines(72, 540, 300, 3), lines(200, 250, 345, text="x + y"),
                                    lines(270, 300, 345, text="= z"), lines(72, 540, 370, 3)])
    join_displays(page, PdfSettings())
    assert single_lines(page) == ["x + y = z"]


def test_first_lines_of_two_columns_under_a_block_across_both_stay_apart():
    page = PageBlocks(1, 600, 800, [lines(72, 540, 300, 3), lines(72, 290, 345, text="1 Introduction"),
                                    lines(314, 400, 345, text="2 Methods"), lines(72, 296, 365, 3),
                                    lines(314, 540, 365, 3)])
    join_displays(page, PdfSettings())
    assert single_lines(page) == ["1 Introduction", "2 Methods"]


def test_brochure_columns_are_read_in_turn_past_a_band_wider_than_their_gutter():
    page = eval_page("flowfram-brochure-p3")
    # Before: a 12 pt band under the second column's end, wider than the 10 pt gutter, was cut
    # first, so the second column was read between the first column's opening and its "Flow Frames".
    heads = [e.text for e in page.elements_in(vellora.order(page, furniture="drop")) if e.label == "HorizontalTitle"]
    assert heads == ["SETTING UP FRAMES", "Flow Frames", "Static Frames", "Dynamic Frames"]


def test_poster_title_above_its_columns_is_read_before_them():
    page = eval_page("modernposter-demo")
    # Before: the title band ran across the gutter, so no column split applied and the
    # poster's boxes were read row by row across both columns.
    heads = [e.text for e in page.elements_in(vellora.order(page, furniture="drop"))
             if e.label == "HorizontalTitle"]
    assert heads[2:] == ["Introduction", "Motivation", "Contribution", "Construction", "Implementation",
                     "Results", "Conclusions"]
