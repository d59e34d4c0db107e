"""The PDF front end on pages of the evaluation corpus (eval/pages) that it used to read wrongly."""

import pathlib

import pytest

pytest.importorskip("pdfminer")

import vellora  # noqa: E402
from vellora.pdf import extract_page  # noqa: E402

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
