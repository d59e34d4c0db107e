"""Footnotes of the evaluation corpus: small print at the foot of a page, but not the code listed there."""

import pathlib

import pytest

pytest.importorskip("pdfminer")

from vellora.pdf import PdfSettings, extract_page  # noqa: E402
from vellora.pdf.labels import is_code  # noqa: E402

EVAL = pathlib.Path(__file__).resolve().parents[2] / "eval" / "pages"


def category(name, start, **settings):
    page = extract_page(EVAL / f"{name}.pdf", 1, settings=PdfSettings(**settings))
    return next(e for e in page.elements if (e.text or "").startswith(start)).category


@pytest.mark.parametrize(("name", "start"), [
    ("array-p3", "\\begin{tabular}[t]{lp{1cm}}"),  # an example's source in a smaller size
    ("ftnright-p2", "\\makeatletter"),
    ("multicol-p12", "200 \\def\\clearpage"),  # a numbered code line
    ("multicol-p20", "488 \\ifnum"),
])
def test_code_near_the_foot_of_a_page_is_no_footnote(name, start):
    # Before: set smaller than the body, low on the page, with no body text below: a footnote.
    assert category(name, start) == "Text"
    assert category(name, start, code_symbol_share=0) == "Footnote"


def test_small_print_of_a_box_low_on_a_poster_is_no_footnote():
    page = extract_page(EVAL / "tcolorbox-poster.pdf", 1)
    # Before: the "Contact" box's text, its box starting in the lower part of the poster, was a footnote.
    contact = [e for e in page.elements if e.x1 > 700 and e.y1 > 740 and e.role == "body"]
    assert contact and all(e.category == "Text" for e in contact)


@pytest.mark.parametrize(("name", "start"), [
    ("multicol-p12", "8During such a call the \\botmark"),  # prose naming commands
    ("source2e-index", "File Key: a=ltdirchk.dtx"),
    ("tugboat-babelbib-p5", "2 This is due"),
])
def test_footnotes_naming_commands_or_files_stay_footnotes(name, start):
    assert category(name, start) == "Footnote"


@pytest.mark.parametrize(("text", "code"), [
    ("\\global\\skip\\footins\\z@", True),
    ("if (x <= 0) { return; }", True),
    ("See the \\sloppy declaration (page 12).", False),
    ("", False),
])
def test_program_text_is_told_by_its_symbols(text, code):
    assert is_code(text, 0.1) is code
