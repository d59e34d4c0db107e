"""PDF front end: extraction from the shipped sample page and the labelling rules."""

import pathlib

import pytest

pytest.importorskip("pdfminer")

import vellora  # noqa: E402
from vellora.pdf import PdfError, RawBlock, extract_page, label_blocks, page_count  # noqa: E402

SAMPLE = pathlib.Path(__file__).resolve().parents[2] / "examples" / "two_column_article.pdf"


def flat(text):
    return " ".join((text or "").split())


@pytest.fixture(scope="module")
def sample():
    return extract_page(SAMPLE, 1)


class TestSamplePage:
    def test_page_bounds_and_meta(self, sample):
        assert sample.page_bounds == (0.0, 0.0, 612.0, 792.0)
        assert sample.meta["page"] == 1 and sample.meta["source"] == str(SAMPLE)
        assert sample.meta["body_font_size"] == 10.0

    def test_labels(self, sample):
        labels = {}
        for element in sample.elements:
            labels.setdefault(element.label, []).append(flat(element.text))
        assert sorted(labels["HorizontalTitle"]) == [
            "1 Introduction", "2 Method", "3 Results", "4 Conclusion", "Reading Order in Two-Column Documents"]
        assert len(labels["Vision"]) == 1 and labels["Vision"] == [""]
        assert len(labels["CrossLayout"]) == 1 and labels["CrossLayout"][0].startswith("Key idea:")
        assert "VerticalTitle" not in labels
        assert len(labels["Regular"]) == 10  # 8 paragraphs, the caption, the page number

    def test_coordinates_are_flipped_to_y_down(self, sample):
        by_text = {flat(e.text): e for e in sample.elements}
        title = by_text["Reading Order in Two-Column Documents"]
        number = by_text["1"]
        # The title is drawn 84 pt below the top edge, the page number 40 pt above the bottom.
        assert 60 < title.y1 < title.y2 <= 90
        assert title.x1 == pytest.approx(54, abs=0.5)
        assert 792 - 50 < number.y1 < number.y2 < 792 - 30
        figure = next(e for e in sample.elements if e.label == "Vision")
        assert figure.x1 == pytest.approx(54, abs=0.5) and figure.x2 == pytest.approx(296, abs=0.5)
        for element in sample.elements:
            assert 0 <= element.x1 <= element.x2 <= 612 and 0 <= element.y1 <= element.y2 <= 792

    def test_ids_number_the_blocks_top_down(self, sample):
        assert [e.id for e in sample.elements] == list(range(1, len(sample.elements) + 1))
        corners = [(e.y1, e.x1) for e in sample.elements]
        assert corners == sorted(corners)

    def test_page_round_trips_as_json(self, sample):
        assert vellora.parse_page(sample.to_dict()) == sample

    @pytest.mark.parametrize("algorithm", ["paper", "ostrel"])
    def test_orders_list_every_element(self, sample, algorithm):
        assert sorted(vellora.order(sample, algorithm)) == [e.id for e in sample.elements]

    def test_ostrel_reads_the_title_first_and_the_page_number_last(self, sample):
        ids = vellora.order(sample, "ostrel")
        assert flat(sample.element(ids[0]).text) == "Reading Order in Two-Column Documents"
        assert flat(sample.element(ids[-1]).text) == "1"


class TestErrors:
    def test_missing_page(self):
        assert page_count(SAMPLE) == 1
        with pytest.raises(PdfError, match="page 3 does not exist \\(the file has 1 page\\)"):
            extract_page(SAMPLE, 3)
        with pytest.raises(PdfError, match="start at 1"):
            extract_page(SAMPLE, 0)

    def test_not_a_pdf(self, tmp_path):
        path = tmp_path / "fake.pdf"
        path.write_text("this is not a PDF\n")
        with pytest.raises(PdfError, match="not a readable PDF"):
            extract_page(path, 1)

    def test_missing_file(self, tmp_path):
        with pytest.raises(PdfError, match="absent.pdf: no such file"):
            extract_page(tmp_path / "absent.pdf", 1)


def text(box, size=10.0, content="body text"):
    return RawBlock(box, "text", content, size)


class TestLabelRules:
    def test_figures_are_vision(self):
        assert label_blocks([RawBlock((0, 0, 500, 500), "figure"), text((0, 510, 100, 520))]) == ["Vision", "Regular"]

    def test_headings_by_font_size(self):
        blocks = [text((0, 0, 100, 10), 10, "x" * 100), text((0, 20, 100, 32), 12), text((0, 40, 100, 51), 11.9)]
        assert label_blocks(blocks) == ["Regular", "HorizontalTitle", "Regular"]

    def test_body_size_counts_characters_not_blocks(self):
        # Three short 14 pt blocks against one long 9 pt block: the body is 9 pt.
        blocks = [text((0, i * 20, 50, i * 20 + 14), 14, "ab") for i in range(3)]
        blocks.append(text((0, 100, 300, 400), 9, "y" * 400))
        assert label_blocks(blocks) == ["HorizontalTitle"] * 3 + ["Regular"]

    def test_tall_heading_is_vertical(self):
        blocks = [text((0, 0, 20, 300), 18, "Sideways"), text((40, 0, 400, 300), 10, "z" * 300)]
        assert label_blocks(blocks) == ["VerticalTitle", "Regular"]

    def test_full_width_block_on_two_columns_is_cross_layout(self):
        blocks = [
            text((50, 100, 290, 300)), text((310, 100, 550, 300)),  # columns side by side
            text((50, 320, 550, 360)),                                # full width
            text((50, 380, 330, 420)),                                # wider than a column, not full width
        ]
        assert label_blocks(blocks) == ["Regular", "Regular", "CrossLayout", "Regular"]

    def test_single_column_page_has_no_cross_layout(self):
        blocks = [text((50, 100, 550, 300)), text((50, 320, 550, 360)), text((50, 380, 300, 420))]
        assert label_blocks(blocks) == ["Regular"] * 3

    def test_headings_do_not_make_a_page_multi_column(self):
        # A heading next to a paragraph is not a second column.
        blocks = [text((50, 100, 120, 114), 14, "Side"), text((130, 100, 550, 300)), text((50, 320, 550, 360))]
        assert label_blocks(blocks) == ["HorizontalTitle", "Regular", "Regular"]

    def test_no_text(self):
        assert label_blocks([]) == []
        assert label_blocks([RawBlock((0, 0, 1, 1), "figure")]) == ["Vision"]
