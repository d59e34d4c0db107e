"""SVG drawings of a page and its orders."""

import xml.etree.ElementTree as ET

import pytest

from vellora import parse_page, render_svg, write_svg
from vellora.svg import LABEL_COLOURS

NS = {"svg": "http://www.w3.org/2000/svg"}


def page():
    return parse_page({
        "page_bounds": [0, 0, 600, 800],
        "elements": [
            {"id": 5, "box": [50, 50, 550, 90], "label": "HorizontalTitle", "text": "Title <&> \"quotes\""},
            {"id": 9, "box": [50, 100, 290, 700], "label": "Regular", "text": "left"},
            {"id": 2, "box": [310, 100, 550, 400], "label": "Vision"},
            {"id": 4, "box": [310, 420, 550, 700], "label": "CrossLayout"},
        ],
    })


def panels(svg_text):
    root = ET.fromstring(svg_text)
    return root, root.findall("svg:g[@class='panel']", NS)


def test_one_numbered_box_per_element_in_reading_order():
    root, found = panels(render_svg(page(), {"paper": [5, 9, 2, 4]}))
    assert root.tag == "{http://www.w3.org/2000/svg}svg"
    assert len(found) == 1 and found[0].get("data-algorithm") == "paper"
    groups = found[0].findall(".//svg:g[@class='element']", NS)
    assert [g.get("data-id") for g in groups] == ["5", "9", "2", "4"]
    position = {g.get("data-id"): g.get("data-position") for g in groups}
    assert position == {"5": "1", "9": "2", "2": "3", "4": "4"}
    badges = found[0].findall(".//svg:g[@class='badge']", NS)
    numbers = {b.get("data-id"): b.find("svg:text", NS).text for b in badges}
    assert numbers == position


def test_boxes_are_coloured_by_label_and_scaled():
    _, found = panels(render_svg(page(), {"paper": [5, 9, 2, 4]}))
    for group in found[0].findall(".//svg:g[@class='element']", NS):
        rect = group.find("svg:rect", NS)
        assert rect.get("stroke") == LABEL_COLOURS[group.get("data-label")]
    page_rect = found[0].find("svg:rect[@class='page']", NS)
    scale = float(page_rect.get("width")) / 600
    assert float(page_rect.get("height")) == pytest.approx(800 * scale, abs=0.01)
    title = found[0].find(".//svg:g[@data-id='5']/svg:rect", NS)
    assert float(title.get("width")) == pytest.approx(500 * scale, abs=0.01)


def test_arrows_follow_the_order():
    _, found = panels(render_svg(page(), {"ostrel": [2, 4, 5, 9]}))
    arrows = found[0].findall("svg:g[@class='arrows']/svg:path", NS)
    assert len(arrows) == 3
    assert all(a.get("marker-end") == "url(#arrow)" for a in arrows)
    page_rect = found[0].find("svg:rect[@class='page']", NS)
    left, top = float(page_rect.get("x")), float(page_rect.get("y"))
    scale = float(page_rect.get("width")) / 600
    # The first arrow starts at the centre of element 2 and ends at the centre of element 4.
    start, end = arrows[0].get("d").split(" ")
    sx, sy = map(float, start[1:].split(","))
    ex, ey = map(float, end[1:].split(","))
    assert (sx, sy) == (pytest.approx(left + 430 * scale, abs=0.01), pytest.approx(top + 250 * scale, abs=0.01))
    assert (ex, ey) == (pytest.approx(left + 430 * scale, abs=0.01), pytest.approx(top + 560 * scale, abs=0.01))


def test_compare_draws_panels_side_by_side():
    root, found = panels(render_svg(page(), {"paper": [5, 9, 2, 4], "ostrel": [5, 2, 4, 9]}, title="t"))
    assert [p.get("data-algorithm") for p in found] == ["paper", "ostrel"]
    for panel in found:
        assert len(panel.findall(".//svg:g[@class='element']", NS)) == 4
    xs = [float(p.find("svg:rect[@class='page']", NS).get("x")) for p in found]
    width = float(found[0].find("svg:rect[@class='page']", NS).get("width"))
    assert xs[1] >= xs[0] + width
    assert float(root.get("width")) >= xs[1] + width
    second = {g.get("data-id"): g.get("data-position") for g in found[1].findall(".//svg:g[@class='element']", NS)}
    assert second == {"5": "1", "2": "2", "4": "3", "9": "4"}


def test_text_is_escaped_and_kept_in_tooltips():
    text = render_svg(page(), {"paper": [5, 9, 2, 4]})
    root = ET.fromstring(text)
    tooltip = root.find(".//svg:g[@data-id='5']/svg:title", NS).text
    assert tooltip.endswith('Title <&> "quotes"')
    assert "#1: id 5, HorizontalTitle" in tooltip


def test_characters_xml_cannot_hold_do_not_break_the_drawing(tmp_path):
    # PDF text can hold control characters and lone surrogates; file names can hold surrogates.
    odd = parse_page({"page_bounds": [0, 0, 600, 800], "elements": [
        {"id": 1, "box": [50, 50, 550, 400], "label": "Regular", "text": "a\x01b\x0cc\ud800d <&>"}]})
    out = tmp_path / "odd.svg"
    write_svg(out, odd, {"paper": [1]}, title="scan\udcff\x02.json")
    root = ET.parse(out).getroot()
    assert "a\ufffdb\ufffdc\ufffdd <&>" in root.find(".//svg:title", NS).text
    assert root.find("svg:text[@class='title']", NS).text == "scan\ufffd\ufffd.json"


def test_legend_names_every_label():
    root = ET.fromstring(render_svg(page(), {"paper": [5, 9, 2, 4]}))
    legend = [t.text for t in root.findall("svg:g[@class='legend']/svg:text", NS)]
    assert legend == list(LABEL_COLOURS)


@pytest.mark.parametrize("bad", [[5, 9, 2], [5, 9, 2, 4, 4], [5, 9, 2, 3]])
def test_an_order_must_list_each_element_once(bad):
    with pytest.raises(ValueError, match="exactly once"):
        render_svg(page(), {"paper": bad})


def test_no_orders():
    with pytest.raises(ValueError):
        render_svg(page(), {})


def test_write_svg(tmp_path):
    path = tmp_path / "out.svg"
    write_svg(path, page(), {"paper": [5, 9, 2, 4]})
    content = path.read_text(encoding="utf-8")
    assert content.startswith('<?xml version="1.0" encoding="UTF-8"?>')
    ET.parse(path)


def test_empty_page_draws():
    empty = parse_page({"page_bounds": [0, 0, 10, 20], "elements": []})
    _, found = panels(render_svg(empty, {"paper": []}))
    assert found[0].findall(".//svg:g[@class='element']", NS) == []
