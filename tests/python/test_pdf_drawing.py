"""Drawings of PDF pages: the rendered page under the boxes, turned like them; badges that do not overlap."""

import base64
import itertools
import math
import pathlib
import xml.etree.ElementTree as ET

import pytest

from vellora import parse_page, render_svg

NS = {"svg": "http://www.w3.org/2000/svg"}
DATA = pathlib.Path(__file__).resolve().parent / "data" / "pdf"
SAMPLE = pathlib.Path(__file__).resolve().parents[2] / "examples" / "two_column_article.pdf"
PNG = base64.b64decode("iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8z8DwHwAFBQIAX8jx0gAAAABJRU5ErkJggg==")


def dense_page(count=30):
    """Lines of text one above the other, each an element, as on a page of index entries."""
    elements = [{"id": i, "box": [40, 40 + i * 10, 340, 48 + i * 10], "label": "Regular"} for i in range(count)]
    return parse_page({"page_bounds": [0, 0, 600, 800], "elements": elements})


def badge_centres(svg_text):
    root = ET.fromstring(svg_text)
    return [(float(c.get("cx")), float(c.get("cy"))) for c in root.iterfind(".//svg:g[@class='badge']/svg:circle", NS)]


def test_badges_do_not_overlap_where_there_is_room():
    page = dense_page()
    centres = badge_centres(render_svg(page, {"paper": [e.id for e in page.elements]}))
    assert len(centres) == 30
    closest = min(math.dist(a, b) for a, b in itertools.combinations(centres, 2))
    assert closest >= 18  # two badge radii (the lines are 7.7 px apart)


@pytest.mark.parametrize(("turn", "size"), [(None, ("460", "613.33")), (90, ("613.33", "460"))])
def test_background_picture_is_embedded_and_turned_with_the_page(turn, size):
    meta = {"turn": turn} if turn else {}
    page = parse_page({"page_bounds": [0, 0, 600, 800], "meta": meta,
                       "elements": [{"id": 1, "box": [10, 10, 100, 50], "label": "Regular"}]})
    root = ET.fromstring(render_svg(page, {"paper": [1]}, background=PNG))
    image = root.find(".//svg:image[@class='rendering']", NS)
    assert image.get("{http://www.w3.org/1999/xlink}href") == "data:image/png;base64," + base64.b64encode(PNG).decode()
    assert (image.get("width"), image.get("height")) == size
    assert image.get("transform").endswith(f"rotate({turn or 0})")


def test_no_background_without_a_picture():
    page = dense_page(3)
    assert "<image" not in render_svg(page, {"paper": [0, 1, 2]})


class TestPagePicture:
    pytest.importorskip("pdfminer")

    def test_rendered_by_pdftoppm(self):
        import shutil

        from vellora.pdf import extract_page
        from vellora.pdf.render import page_png

        if shutil.which("pdftoppm") is None:
            pytest.skip("pdftoppm (poppler-utils) is not installed")
        png = page_png(extract_page(SAMPLE, 1), dpi=20)
        assert png is not None and png.startswith(b"\x89PNG")
        width, height = int.from_bytes(png[16:20], "big"), int.from_bytes(png[20:24], "big")
        assert (width, height) == (170, 220)  # 612 x 792 pt at 20 dpi

    def test_none_without_pdftoppm_or_a_source(self, monkeypatch, tmp_path):
        from vellora.pdf.render import page_png

        page = parse_page({"page_bounds": [0, 0, 10, 10], "elements": [],
                           "meta": {"source": str(SAMPLE), "page": 1}})
        assert page_png(parse_page({"page_bounds": [0, 0, 10, 10], "elements": []})) is None
        monkeypatch.setenv("PATH", str(tmp_path))  # no pdftoppm on the way
        assert page_png(page) is None
