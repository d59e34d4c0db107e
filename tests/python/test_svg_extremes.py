"""Every page that validates draws: extreme, tiny and off-page coordinates give finite SVG."""

import math
import re
import xml.etree.ElementTree as ET

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from vellora import LABELS, parse_page, render_svg

NUMBER = re.compile(r"-?(?:\d+\.?\d*(?:e[+-]?\d+)?|inf|nan)", re.I)
extreme = st.floats(allow_nan=False, allow_infinity=False)


def finite_drawing(svg_text):
    root = ET.fromstring(svg_text)
    for node in root.iter():
        for name, value in node.attrib.items():
            if name in {"x", "y", "width", "height", "cx", "cy", "r", "d", "viewBox", "font-size"}:
                numbers = NUMBER.findall(value)
                assert numbers and all(math.isfinite(float(n)) for n in numbers), (node.tag, name, value)
    return root


@st.composite
def pages(draw):
    left, right = sorted(draw(st.lists(extreme, min_size=2, max_size=2, unique=True)))
    top, bottom = sorted(draw(st.lists(extreme, min_size=2, max_size=2, unique=True)))
    elements = []
    for index in range(draw(st.integers(1, 6))):
        x1, x2 = sorted(draw(st.lists(extreme, min_size=2, max_size=2)))
        y1, y2 = sorted(draw(st.lists(extreme, min_size=2, max_size=2)))
        elements.append({"id": index, "box": [x1, y1, x2, y2], "label": draw(st.sampled_from(LABELS)),
                         "text": draw(st.text(max_size=30))})
    return parse_page({"page_bounds": [left, top, right, bottom], "elements": elements})


@settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(pages())
def test_any_valid_page_draws_finite_coordinates(page):
    ids = [element.id for element in page.elements]
    finite_drawing(render_svg(page, {"paper": ids, "ostrel": ids[::-1]}))


@pytest.mark.parametrize(("bounds", "box"), [
    ([0, 0, 600, 800], [-1e308, 0, 1e308, 10]),         # wider than a double holds
    ([-1e308, -1e308, 1e308, 1e308], [0, 0, 1, 1]),     # so is the page
    ([0, 0, 5e-324, 1e308], [0, 0, 5e-324, 1]),          # the narrowest page there is, and the tallest
    ([0, 0, 600, 800], [1e300, 1e300, 1e300, 1e300]),  # far off the page
])
def test_worked_extremes(bounds, box):
    page = parse_page({"page_bounds": bounds, "elements": [
        {"id": 1, "box": box, "label": "Regular", "text": "a long enough text to be fitted"}]})
    root = finite_drawing(render_svg(page, {"paper": [1]}))
    assert root.find(".//{http://www.w3.org/2000/svg}g[@class='element']").get("data-id") == "1"
