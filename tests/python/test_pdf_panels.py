"""Posters and brochures: boxes drawn around text, lettering behind it, a logo beside the frames."""

import math
import pathlib
from types import SimpleNamespace

import pytest

pytest.importorskip("pdfminer")

import vellora  # noqa: E402
from vellora.pdf import PdfSettings, extract_page  # noqa: E402
from vellora.pdf.backdrop import backdrop_chars, backdrop_text  # noqa: E402
from vellora.pdf.blocks import TextLine, _join_line_pieces  # noqa: E402

EVAL = pathlib.Path(__file__).resolve().parents[2] / "eval" / "pages"

#: The three code panels of the tutorial poster's source page (left and right sides).
TUTORIAL_PANELS = [(11, 393), (404, 786), (797, 1179)]


def eval_page(name):
    return extract_page(EVAL / f"{name}.pdf", 1)


@pytest.mark.parametrize("name", ["tcolorbox-poster", "tcolorbox-tutorial-poster-p13"])
def test_giant_lettering_behind_the_panels_is_a_watermark(name):
    page = eval_page(name)
    # Before: "LATEX Poster" joined the code and text it lies behind into blocks across three panels.
    (mark,) = [e for e in page.elements if e.category == "Watermark"]
    assert mark.text == "LATEX Poster" and mark.role == "footer"
    texts = [e for e in page.elements if e.role == "body" and e.category != "Picture" and e.y1 > 300]
    assert max(e.x2 - e.x1 for e in texts) < 400


def test_code_panels_side_by_side_keep_their_lines_apart():
    page = eval_page("tcolorbox-tutorial-poster-p13")
    # Before: lines level with each other in two panels made one table across the gap.
    body = [e for e in page.elements if e.role == "body" and e.y1 > 60]
    crossing = [e.text for e in body if not any(left - 1 <= e.x1 and e.x2 <= right + 1 for left, right in TUTORIAL_PANELS)]
    # Only two overfull rows of dashes, drawn over the panel's side, run out of it.
    assert len(crossing) == 2 and all(text.count("-") > 40 for text in crossing)
    order = vellora.order(page, furniture="drop")
    panel = [next(i for i, (left, right) in enumerate(TUTORIAL_PANELS) if left - 1 <= e.x1 <= right)
             for e in page.elements_in(order) if e.y1 > 60]
    assert panel == sorted(panel)


def test_picture_zoomed_to_fill_its_panel_is_cut_to_the_panel():
    page = eval_page("tcolorbox-poster")
    # Before: the image ran out of the panel, over the neighbouring text and code panels.
    pictures = [e for e in page.elements if e.category == "Picture" and e.y1 > 100 and e.y2 < 530]
    assert pictures and all(600 <= e.x1 and e.x2 <= 885 for e in pictures)


def test_code_at_the_foot_of_a_tall_panel_is_no_footnote():
    page = eval_page("tcolorbox-poster")
    # Before: the listing's last lines, in the lower part of the page, were footnotes.
    code = [e for e in page.elements if e.x1 > 895 and e.y1 > 500 and e.y2 < 700]
    assert len(code) >= 6 and {e.category for e in code} == {"Text"}


@pytest.mark.parametrize("name", ["flowfram-brochure-p4", "flowfram-brochure-p6"])
def test_logo_alone_beside_the_frames_is_read_after_the_body(name):
    page = eval_page(name)
    (logo,) = [e for e in page.elements if e.category == "Sidebar"]
    assert logo.text.startswith("FLF") and logo.role == "footer"
    assert vellora.order(page, furniture="drop")[0] == 1  # the title still comes first


def test_margin_note_beside_its_paragraph_is_no_logo():
    page = eval_page("longtable-p3")
    (note,) = [e for e in page.elements if e.text == "LTchunksize"]
    assert note.role == "body" and note.category != "Sidebar"


def char(x0, y0, size, width=None):
    return SimpleNamespace(x0=x0, y0=y0, x1=x0 + (width or size * 0.6), y1=y0 + size, size=size)


@pytest.mark.parametrize(("count", "top", "backdrop"), [
    (0, 170, False), (2, 170, False), (3, 170, True), (40, 170, True),
    (20, 102, False),  # a subtitle set close under a huge title, in its descender space
])
def test_giant_letter_is_backdrop_only_with_text_drawn_over_its_middle(count, top, backdrop):
    body = [char(10 + 6 * i, 500, 10) for i in range(50)]
    over = [char(140 + 6 * i, top, 10) for i in range(count)]
    giant, neighbour = char(100, 100, 150, 120), char(230, 100, 150, 120)  # two letters of one word
    found = backdrop_chars([*body, *over, giant, neighbour], PdfSettings())
    assert found == ([giant, neighbour] if backdrop else [])
    assert backdrop_chars([*body, *over, giant], PdfSettings(backdrop_size_ratio=0)) == []


def lettering(text, turn, size=100.0, advance=60.0, spaces=1.5):
    """Letters of ``text`` on a baseline turned ``turn`` degrees, a word space ``spaces`` advances wide."""
    a, b = math.cos(math.radians(turn)), math.sin(math.radians(turn))
    chars, at = [], 0.0
    for letter in text:
        if letter == " ":
            at += spaces * advance
            continue
        matrix = (a, b, -b, a, 100 + at * a, 100 + at * b)
        chars.append(SimpleNamespace(matrix=matrix, adv=advance, size=size, get_text=lambda letter=letter: letter))
        at += advance
    return chars


@pytest.mark.parametrize("turn", [0, 45, -30])
def test_words_of_lettering_are_spaced_along_its_baseline(turn):
    assert backdrop_text(lettering("NOT FOR SALE", turn), 0.1) == "NOT FOR SALE"
    assert backdrop_text(lettering("DRAFT", turn), 0.1) == "DRAFT"
    # A space narrower than a tenth of the size is kerning, not a word space.
    assert backdrop_text(lettering("DR AFT", turn, spaces=0.1), 0.1) == "DRAFT"


def test_word_split_off_a_justified_poster_line_reads_in_place():
    page = eval_page("tcolorbox-poster")
    # Before: "tumst." followed the rest of its line: "platea dic-\nInteger tempus ... Etiam\ntumst."
    assert "platea dic-\ntumst. Integer tempus convallis augue. Etiam\nfacilisis." in "\n".join(
        e.text or "" for e in page.elements)


def line(x1, x2, top, text="text"):
    return TextLine((x1, top, x2, top + 10), text, 10.0, 0.0)


@pytest.mark.parametrize(("above", "below", "joined"), [
    ((0, 200), (0, 200), True),    # a paragraph: the lines around run across the gap
    ((0, 200), None, False),       # the last line of a block: nothing below to tell
    ((0, 80), (0, 80), False),     # two columns in one block: nothing runs across the gutter
])
def test_pieces_of_a_line_join_only_inside_a_paragraph(above, below, joined):
    lines = [line(*above, 0, "above"), line(120, 200, 12, "right"), line(0, 80, 12, "left")]
    lines += [line(*below, 24, "below")] if below else []
    texts = [piece.text for piece in _join_line_pieces(lines)]
    assert ("left right" in texts) == joined and len(texts) == len(lines) - joined


@pytest.mark.parametrize("count", [0, 1, 7, 300])
def test_point_index_answers_as_a_scan_of_every_point(count):
    from vellora.pdf.panels import _PointIndex

    # Points on a coarse grid, so that many lie exactly on the sides of the boxes asked about (outside them).
    points = [((i * 37) % 23 * 5.0, (i * 11) % 19 * 5.0) for i in range(count)]
    index = _PointIndex(points)
    boxes = [(x0, y0, x0 + w, y0 + h) for x0 in (-5, 0, 12.5, 40, 110) for y0 in (-5, 0, 20, 90)
             for w in (0, 5, 10, 47.5, 200) for h in (5, 10, 200)]
    for box in boxes:
        expected = any(box[0] < x < box[2] and box[1] < y < box[3] for x, y in points)
        assert index.any_inside(box) == expected, box
