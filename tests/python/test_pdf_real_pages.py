"""The PDF front end on real pages from Debian's packages (provenance in data/pdf/PROVENANCE.md)."""

import pathlib

import pytest

pytest.importorskip("pdfminer")

import vellora  # noqa: E402
from vellora.pdf import PdfSettings, extract_page, iter_pages  # noqa: E402

DATA = pathlib.Path(__file__).resolve().parent / "data" / "pdf"


def page_of(name, number=1, **settings):
    return extract_page(DATA / f"{name}.pdf", number, settings=PdfSettings(**settings))


def by_category(page):
    found = {}
    for element in page.elements:
        found.setdefault(element.category, []).append(element)
    return found


def test_sideways_slide_is_turned_upright():
    page = page_of("sideways-slide")
    assert page.meta["turn"] == 270 and page.page_bounds == (0.0, 0.0, 595.0, 842.0)
    # Read as two bulleted items of whole lines (not 85 elements, 40 of them single characters).
    assert [e.text.splitlines()[0] for e in page.elements] == ["• There is information overload in a"] * 2
    assert all(e.text.count("\n") == 4 and e.category == "List-item" for e in page.elements)


def test_cid_font_without_unicode_map_is_mapped_through_its_ordering():
    page = page_of("japanese-without-unicode-map")
    text = "\n".join(e.text or "" for e in page.elements)
    assert "(cid:" not in text and "\ufffd" not in text
    assert page.elements[0].text == "chemobabel.sty の使用例" and page.elements[0].category == "Title"
    assert "以下の構造式は、chemobabel パッケージを用いて" in text
    assert [e.category for e in page.elements if (e.text or "").startswith("図")] == ["Caption"] * 3


def test_content_beyond_the_page_edge_is_dropped():
    page = page_of("notes-beyond-the-page-edge")
    assert all(e.width > 0 and e.height > 0 and e.x2 < 600 for e in page.elements)
    # The notes set inside the page stay.
    assert [e.text for e in page.elements if e.x1 > 480] == ["chapter", "section", "subsection", "subsubsection",
                                                              "section"]


def test_ruled_table_is_one_element_and_its_rules_are_not_figures():
    page = page_of("ruled-table")
    tables = by_category(page)["Table"]
    assert len(tables) == 1 and tables[0].label == "Vision"
    assert tables[0].text.splitlines()[0].split() == ["\\\\", "\\", "\\{", "{", "\\}", "}", "\\_", "_", "\\^", "^"]
    assert [e for e in page.elements if e.label == "Vision" and e is not tables[0]] == []


def test_glyphs_without_any_unicode_map_are_marked_plainly():
    text = "".join(e.text or "" for e in page_of("ruled-table").elements)
    assert "(cid:" not in text and text.count("\ufffd") >= 4


def test_margin_line_numbers_are_furniture_read_after_the_body():
    page = page_of("margin-line-numbers")
    numbers = by_category(page)["Line-number"]
    assert [int(e.text) for e in numbers] == list(range(1, 25))
    assert {e.role for e in numbers} == {"footer"}
    ids = vellora.order(page)
    assert set(ids[-25:]) == {e.id for e in numbers} | {e.id for e in by_category(page)["Page-number"]}
    assert len(vellora.order(page, furniture="drop")) == len(page.elements) - 25


@pytest.fixture(scope="module")
def pages():
    return list(iter_pages(DATA / "draft-with-running-heads.pdf"))


class TestDraftWithRunningHeads:
    def test_watermark_is_set_apart(self, pages):
        for page in pages:
            (mark,) = by_category(page)["Watermark"]
            assert mark.text == "draft" and mark.role == "footer" and mark.height > 400

    def test_running_heads_footers_and_page_numbers(self, pages):
        for page, number in zip(pages, ("1002", "1003")):
            found = by_category(page)
            assert [e.text for e in found["Page-number"]] == [number]
            assert sorted(e.text for e in found["Page-header"]) == [
                "TUGboat, Volume 0 (2060), No. 0", "preliminary draft, September 24, 2008 20:26"]
            assert [e.text for e in found["Page-footer"]] == ["preliminary draft, September 24, 2008 20:26"] * 2
            assert {e.role for e in found["Page-footer"]} == {"footer"}

    def test_footers_without_the_other_page_are_the_feet_sharing_a_baseline(self):
        page = page_of("draft-with-running-heads", furniture_window=0)
        feet = by_category(page)["Page-footer"]
        assert len(feet) == 2 and feet[0].y2 == feet[1].y2 and feet[0].x2 < feet[1].x1

    def test_same_size_bold_numbered_heading_is_split_from_its_paragraph(self, pages):
        heading = next(e for e in pages[0].elements if (e.text or "").startswith("2.3"))
        assert heading.text == "2.3 Using the package babelbib"
        assert heading.category == "Section-header" and heading.label == "HorizontalTitle"
        assert heading.font_size == pytest.approx(9.96)


def test_words_split_off_justified_lines_rejoin_their_paragraph():
    page = page_of("three-justified-columns")
    texts = [e for e in page.elements if e.role == "body"]
    # Before: 26 body elements, "to", "some", "thus," and others floating inside the paragraphs.
    assert len(texts) == 15
    for inner in texts:
        for outer in texts:
            width = min(inner.x2, outer.x2) - max(inner.x1, outer.x1)
            height = min(inner.y2, outer.y2) - max(inner.y1, outer.y1)
            inside = width > 0 and height > 0 and width * height >= 0.7 * inner.width * inner.height
            assert inner is outer or not inside, (inner.text, outer.text)
    columns = [[e.id for e in texts if e.x1 < 220], [e.id for e in texts if 220 < e.x1 < 390],
               [e.id for e in texts if e.x1 > 390]]
    assert vellora.order(page, furniture="drop") == [i for column in columns for i in column]


def test_diagram_drawn_on_the_page_is_one_figure_with_its_labels():
    page = page_of("drawn-diagram")
    # Before: 72 elements, no figure, the diagram's labels scattered as one-digit text elements.
    diagram = next(e for e in page.elements if e.category == "Picture")
    assert diagram.y1 > 260 and diagram.y2 < 440 and set("".join(diagram.text.split())) == {"1", "2", "3", "4"}
    assert [e for e in page.elements if (e.text or "").strip().isdigit() and 260 < e.y1 < 440] == []


def test_page_numbers_of_a_contents_list_join_their_entries():
    page = page_of("contents-list")
    # Before: columns of bare page numbers ("5 | 5 | 5 ...") between the columns of entries.
    assert [e.text for e in page.elements if e.role == "body" and all(
        word.isdigit() for word in (e.text or "x").split())] == []
    entry = next(e for e in page.elements if (e.text or "").startswith("Welcome to LATEX News . . ."))
    assert entry.text.splitlines()[0].endswith(". 5") and entry.x2 > 285
