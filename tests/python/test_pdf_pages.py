"""Reading whole PDF files: page selections, lazy pages, errors, settings and furniture across pages."""

import io

import pytest

pytest.importorskip("pdfminer")
canvas = pytest.importorskip("reportlab.pdfgen.canvas")

from vellora.pdf import PdfError, PdfSettings, iter_pages, page_count, parse_page_selection, parse_settings  # noqa: E402
from vellora.pdf import extract as extract_module  # noqa: E402

BODY = ("Reading order is the sequence in which a person reads the blocks of a page, "
        "and a program has to find it before it can summarise or translate the page.")


def journal(path, pages=6, running_head="Journal of Page Layout Studies", head_size=10):
    """A small article: a running head (as large as the text), two paragraphs and a page number on each page."""
    pdf = canvas.Canvas(str(path), pagesize=(612, 792), invariant=1)
    for number in range(1, pages + 1):
        pdf.setFont("Helvetica", head_size)
        pdf.drawString(72 if number % 2 else 400, 760, running_head)
        pdf.setFont("Helvetica", 10)
        for paragraph, top in enumerate((700, 560)):
            text = pdf.beginText(72, top)
            text.textLines([BODY[i:i + 90] for i in range(0, len(BODY), 90)] + [f"Paragraph {paragraph} of page {number}."])
            pdf.drawText(text)
        pdf.drawCentredString(306, 40, str(number))
        pdf.showPage()
    pdf.save()
    return path


@pytest.fixture(scope="module")
def six_pages(tmp_path_factory):
    return journal(tmp_path_factory.mktemp("pdf") / "journal.pdf")


class TestPageSelection:
    @pytest.mark.parametrize(("text", "pages"), [
        ("1-3,7", [1, 2, 3, 7]), ("7, 2-3,2", [2, 3, 7]), ("9-", [9, 10]), ("-2", [1, 2]),
        ("all", list(range(1, 11))), ("4", [4]), ("10-10", [10]),
    ])
    def test_valid(self, text, pages):
        assert parse_page_selection(text, 10) == pages

    @pytest.mark.parametrize(("text", "message"), [
        ("", "empty"), ("1-3,,4", "'' is not a page"), ("x", "'x' is not a page"), ("0", "numbered from 1"),
        ("5-2", "runs backwards"), ("11", "page 11 does not exist \\(the document has 10 pages\\)"),
        ("3-12", "page 12 does not exist"), ("-", "is not a page"), ("1.5", "is not a page"),
    ])
    def test_malformed_or_out_of_range(self, text, message):
        with pytest.raises(ValueError, match=message):
            parse_page_selection(text, 10)


class TestIterPages:
    def test_all_pages_in_file_order_with_meta(self, six_pages):
        pages = list(iter_pages(six_pages))
        assert [page.meta["page"] for page in pages] == [1, 2, 3, 4, 5, 6]
        assert all(page.meta["source"] == str(six_pages) for page in pages)
        assert page_count(six_pages) == 6

    def test_selection_is_yielded_in_file_order_once(self, six_pages):
        assert [page.meta["page"] for page in iter_pages(six_pages, [5, 2, 5])] == [2, 5]

    def test_line_breaks_and_font_size_are_kept(self, six_pages):
        page = next(iter_pages(six_pages, [1]))
        paragraph = next(e for e in page.elements if e.text and e.text.startswith("Reading order"))
        assert paragraph.text.count("\n") == 2 and paragraph.text.endswith("Paragraph 0 of page 1.")
        assert paragraph.font_size == 10.0 and paragraph.category == "Text"

    def test_pages_come_lazily(self, six_pages, monkeypatch):
        analysed = []
        original = extract_module._page_blocks

        def counting(document, pdf_page, number, settings):
            analysed.append(number)
            return original(document, pdf_page, number, settings)

        monkeypatch.setattr(extract_module, "_page_blocks", counting)
        pages = iter_pages(six_pages, settings=PdfSettings(furniture_window=1))
        assert analysed == []
        assert next(pages).meta["page"] == 1
        assert analysed == [1, 2]  # the first page and the neighbour it is compared with
        assert next(pages).meta["page"] == 2 and analysed == [1, 2, 3]

    def test_missing_page_after_the_others(self, six_pages):
        pages = iter_pages(six_pages, [6, 8])
        assert next(pages).meta["page"] == 6
        with pytest.raises(PdfError, match="page 8 does not exist \\(the file has 6 pages\\)"):
            next(pages)


class TestFurnitureAcrossPages:
    def test_running_head_and_page_number_are_furniture(self, six_pages):
        for page in iter_pages(six_pages):
            furniture = {e.category: e.role for e in page.elements if e.role != "body"}
            assert furniture == {"Page-header": "header", "Page-number": "footer"}, page.meta["page"]

    def test_a_single_page_file_has_no_repeated_head(self, tmp_path):
        page = next(iter_pages(journal(tmp_path / "one.pdf", pages=1)))
        assert {e.category for e in page.elements if e.role != "body"} == {"Page-number"}

    def test_a_head_in_small_print_above_the_text_needs_no_other_page(self, tmp_path):
        page = next(iter_pages(journal(tmp_path / "one.pdf", pages=1, head_size=8)))
        assert {e.category for e in page.elements if e.role != "body"} == {"Page-number", "Page-header"}


class TestErrors:
    @pytest.mark.parametrize(("content", "message"), [
        (None, "no such file"), (b"", "not a readable PDF"), (b"%PDF-1.4\n%%EOF\n", "not a readable PDF"),
        (b"plain text, not a PDF\n", "not a readable PDF"),
    ])
    def test_unreadable_files_are_one_line(self, tmp_path, content, message):
        path = tmp_path / "bad.pdf"
        if content is not None:
            path.write_bytes(content)
        with pytest.raises(PdfError, match=message) as caught:
            list(iter_pages(path))
        assert str(caught.value).startswith(str(path)) and "\n" not in str(caught.value)

    def test_folder(self, tmp_path):
        with pytest.raises(PdfError, match="is a folder"):
            page_count(tmp_path)

    def test_encrypted_with_a_password(self, tmp_path):
        pdf = canvas.Canvas(str(tmp_path / "locked.pdf"), encrypt="secret")
        pdf.drawString(72, 720, "hidden")
        pdf.save()
        with pytest.raises(PdfError, match="encrypted and needs a password"):
            list(iter_pages(tmp_path / "locked.pdf"))


class TestSettings:
    def test_parse_from_key_value_strings(self):
        settings = parse_settings(["heading_size_ratio=1.5", "furniture-window=3"])
        assert settings.heading_size_ratio == 1.5 and settings.furniture_window == 3
        assert isinstance(settings.furniture_window, int)

    @pytest.mark.parametrize(("item", "message"), [
        ("nope=1", "unknown PDF setting 'nope'"), ("icon_size", "KEY=VALUE"),
        ("icon_size=big", "must be a number"), ("icon_size=-1", "finite number >= 0"),
        ("icon_size=nan", "finite number >= 0"),
    ])
    def test_bad_items(self, item, message):
        with pytest.raises(ValueError, match=message):
            parse_settings([item])

    def test_settings_change_the_result(self, six_pages):
        # Without neighbours to compare with, the running head stays in the body.
        page = next(iter_pages(six_pages, [3], settings=PdfSettings(furniture_window=0)))
        assert {e.category for e in page.elements if e.role != "body"} == {"Page-number"}


@pytest.mark.parametrize(("size", "is_figure"), [
    ((12, 12), False),    # an icon (ORCID, e-mail) beside a name
    ((400, 1.5), False),  # a rule drawn as an image
    ((3, 200), False),    # a vertical stroke
    ((200, 150), True),   # a picture
    ((30, 30), True),     # a small picture, larger than an icon
])
def test_icons_rules_and_strokes_are_not_figures(tmp_path, size, is_figure):
    from reportlab.lib.utils import ImageReader
    from PIL import Image

    image = Image.new("RGB", (8, 8), (200, 40, 40))
    pdf = canvas.Canvas(str(tmp_path / "figure.pdf"), pagesize=(612, 792), invariant=1)
    pdf.drawString(72, 720, "A. Author")
    pdf.drawImage(ImageReader(image), 150, 500, width=size[0], height=size[1])
    pdf.save()
    page = next(iter_pages(tmp_path / "figure.pdf"))
    assert [e.category for e in page.elements if e.label == "Vision"] == (["Picture"] if is_figure else [])


@pytest.mark.parametrize(("height", "framed", "read"), [(595, True, True), (300, True, False), (300, False, True)])
def test_columns_placed_as_form_objects_are_read_as_text(tmp_path, height, framed, read):
    # A card made of pages placed side by side: each column a form object running the page's height.
    # A shorter framed one with as much text is a picture (a diagram with its labels); one drawing
    # text alone is text whatever its size.
    pdf = canvas.Canvas(str(tmp_path / "card.pdf"), pagesize=(842, 595), invariant=1)
    for column in range(3):
        pdf.beginForm(f"column{column}", 0, 0, 280, height)
        if framed:
            pdf.rect(10, 10, 260, height - 20)
        pdf.setFont("Helvetica", 9)
        for row in range(12):
            pdf.drawString(20, height - 40 - 14 * row, f"Column {column + 1} entry {row + 1}: apt install")
        pdf.endForm()
        pdf.saveState()
        pdf.translate(281 * column, 0)
        pdf.doForm(f"column{column}")
        pdf.restoreState()
    pdf.save()
    page = next(iter_pages(tmp_path / "card.pdf"))
    texts = "\n".join(e.text or "" for e in page.elements if e.label != "Vision")
    assert ("Column 3 entry 12" in texts) is read
    assert sum(e.label == "Vision" for e in page.elements) == (0 if read else 3)


@pytest.mark.parametrize("content", ["blank", "drawing only", "one word"])
def test_pages_with_little_or_no_text(tmp_path, content):
    pdf = canvas.Canvas(str(tmp_path / "sparse.pdf"), pagesize=(612, 792), invariant=1)
    if content == "drawing only":
        pdf.rect(100, 100, 300, 200, fill=1)
    elif content == "one word":
        pdf.drawString(300, 400, "Alone")
    pdf.showPage()
    pdf.save()
    page = next(iter_pages(tmp_path / "sparse.pdf"))
    assert [e.text for e in page.elements] == (["Alone"] if content == "one word" else [])


def test_cid_fonts_with_predefined_cmaps_are_read(tmp_path):
    # Fonts keyed by a predefined CMap (codes to CIDs) and not embedded, as many CJK documents use.
    from reportlab.pdfbase import pdfmetrics
    from reportlab.pdfbase.cidfonts import UnicodeCIDFont

    for font in ("HeiseiMin-W3", "STSong-Light", "HYSMyeongJo-Medium"):
        pdfmetrics.registerFont(UnicodeCIDFont(font))
    pdf = canvas.Canvas(str(tmp_path / "cjk.pdf"), invariant=1)
    for top, (font, text) in enumerate([("HeiseiMin-W3", "日本語のテキスト"), ("STSong-Light", "中文文本"),
                                        ("HYSMyeongJo-Medium", "한국어 텍스트")]):
        pdf.setFont(font, 14)
        pdf.drawString(72, 720 - 60 * top, text)
    pdf.save()
    page = next(iter_pages(tmp_path / "cjk.pdf"))
    assert [e.text for e in page.elements] == ["日本語のテキスト", "中文文本", "한국어 텍스트"]
