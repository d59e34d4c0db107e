"""Pages of thousands of boxes: the front end's searches by position find what testing every pair would."""

import math
import random

import pytest
from hypothesis import given, settings as hypothesis_settings, strategies as st

pytest.importorskip("pdfminer")

from vellora.pdf import PdfSettings, extract_page  # noqa: E402
from vellora.pdf.blocks import PageBlocks, RawBlock, TextLine, block_of_lines  # noqa: E402
from vellora.pdf.columns import _split_overlapping_plain, split_overlapping  # noqa: E402
from vellora.pdf.spatial import BoxGrid, any_side_by_side  # noqa: E402
from vellora.pdf.tables import find_tables  # noqa: E402

coordinate = st.floats(-50, 650, allow_nan=False)


@st.composite
def boxes(draw):
    x0, y0 = draw(coordinate), draw(coordinate)
    return (x0, y0, x0 + draw(st.floats(0, 700)), y0 + draw(st.floats(0, 700)))


def touching(a, b):
    return a[0] <= b[2] and b[0] <= a[2] and a[1] <= b[3] and b[1] <= a[3]


@hypothesis_settings(max_examples=150, deadline=None)
@given(st.lists(boxes(), max_size=40), st.lists(boxes(), min_size=1, max_size=5),
       st.sampled_from([(0.5, None), (7.0, None), (40.0, 10.0), (math.inf, 5.0), (5.0, math.inf)]),
       st.data())
def test_grid_returns_every_box_touching_an_area(filed, areas, cells, data):
    grid = BoxGrid(cells[0], row=cells[1])
    current = dict(enumerate(filed))
    for key, box in current.items():
        grid.add(key, box)
    # Boxes moved and forgotten, as a block grows or is cut.
    for key in data.draw(st.lists(st.sampled_from(sorted(current)), max_size=5)) if current else []:
        if key in current and data.draw(st.booleans()):
            current[key] = data.draw(boxes())
            grid.add(key, current[key])
        elif key in current:
            del current[key]
            grid.remove(key)
    boxes_left = list(current.values())
    assert any_side_by_side(boxes_left) == any(
        (a[2] <= b[0] or b[2] <= a[0]) and min(a[3], b[3]) > max(a[1], b[1])
        for index, a in enumerate(boxes_left) for b in boxes_left[index + 1 :])
    for area in areas:
        expected = {key for key, box in current.items() if touching(box, area)}
        assert expected <= grid.near(area) <= set(current)
        assert set(grid.each_near(area)) == grid.near(area)
        # The nearest start right of the area's left edge among the boxes level with it.
        level = [box[0] for box in current.values() if box[0] >= area[0] and box[1] <= area[3] and area[1] <= box[3]]
        found = grid.nearest_start(area[0], area[1], area[3],
                                   lambda key: current[key] if current[key][0] >= area[0]
                                   and current[key][1] <= area[3] and area[1] <= current[key][3] else None)
        assert found == (min(level) if level else None)


def _lines(x, y, widths, height=8.0):
    return [TextLine((x, y + 10 * n, x + width, y + 10 * n + height), f"w{n}", height, 0.0)
            for n, width in enumerate(widths)]


def test_heading_across_two_columns_is_cut_off_its_column():
    # A heading run across both columns and joined with the left column's paragraph.
    block = block_of_lines(_lines(50, 100, [400, 150, 150, 150]))
    right = block_of_lines(_lines(300, 110, [150, 150, 150]))
    page = PageBlocks(1, 600, 800, [block, right])
    split_overlapping(page)
    assert [b.box for b in page.blocks] == [(50, 100, 450, 108), (50, 110, 200, 138), (300, 110, 450, 138)]


def _random_page(rng):
    page = PageBlocks(1, 600, 800)
    for _ in range(rng.choice([5, 40, 150])):
        x, y = rng.uniform(0, 500), rng.uniform(0, 700)
        widths = [rng.choice([30, 120, 300]) for _ in range(rng.choice([1, 2, 3, 5]))]
        block = block_of_lines(_lines(x, y, widths, rng.choice([4.0, 8.0])))
        page.blocks.append(block if rng.random() > 0.1 else RawBlock(block.box, "figure"))
    return page


@pytest.mark.parametrize("seed", range(12))
def test_blocks_are_cut_as_when_the_page_is_read_again_after_each_cut(seed):
    rng = random.Random(seed)
    page = _random_page(rng)
    plain = PageBlocks(1, 600, 800, [RawBlock(b.box, b.kind, b.text, b.font_size, b.bold, b.lines)
                                     for b in page.blocks])
    split_overlapping(page)
    _split_overlapping_plain(plain)
    assert [(b.box, b.kind, b.lines) for b in page.blocks] == [(b.box, b.kind, b.lines) for b in plain.blocks]


def _row_of_cells(count):
    # One row of unruled cells of three lines each, on shared baselines.
    return PageBlocks(1, 40 * count + 40, 200, [block_of_lines(_lines(20 + 40 * n, 50, [30, 30, 30]))
                                                for n in range(count)])


@pytest.mark.parametrize("count", [3, 70, 200])
def test_row_longer_than_the_partner_limit_is_one_table(count):
    limited, unlimited = _row_of_cells(count), _row_of_cells(count)
    find_tables(limited, PdfSettings())
    find_tables(unlimited, PdfSettings(table_max_partners=0))
    table = ("table", (20, 50, 40 * count + 10, 78), 3 * count)
    assert [(b.kind, b.box, len(b.lines)) for b in limited.blocks] == [table]
    assert [(b.box, b.text) for b in limited.blocks] == [(b.box, b.text) for b in unlimited.blocks]


def _framed_boxes(path, side):
    from reportlab.pdfgen import canvas

    extent = side * 48.0 + 8
    pdf = canvas.Canvas(str(path), pagesize=(extent, extent), invariant=1)
    pdf.setFont("Helvetica", 3)
    for index in range(side * side):
        row, column = divmod(index, side)
        x, y = 4 + column * 48.0, extent - (row + 1) * 48.0
        pdf.rect(x, y, 44, 44)
        pdf.drawString(x + 3, y + 22, f"box {index}")
    pdf.showPage()
    pdf.save()


def _pictures_side_by_side(path, side):
    from reportlab.pdfgen import canvas

    pdf = canvas.Canvas(str(path), pagesize=(612, 792), invariant=1)
    pdf.setFont("Helvetica", 10)
    pdf.drawString(300, 40, "3")
    for x0 in (60, 340):
        for line in range(30):
            y = 300 + line * 6
            pdf.bezier(x0, y, x0 + 60, y + 20, x0 + 120, y - 20, x0 + 200, y)
        pdf.circle(x0 + 100, 400, 80)
    pdf.showPage()
    pdf.save()


@pytest.mark.parametrize(("make", "side", "expected"), [
    # 2,500 framed words: each box was tested against every other by several passes (3 s before, 0.5 s now).
    (_framed_boxes, 50, lambda side: sorted(f"box {n}" for n in range(side * side))),
    # Two drawings side by side and only a page number: no body text to widen (this failed before).
    (_pictures_side_by_side, 0, lambda side: [None, None, "3"]),
])
def test_page_of_many_boxes_keeps_every_one(tmp_path, make, side, expected):
    pytest.importorskip("reportlab")
    path = tmp_path / "page.pdf"
    make(path, side)
    page = extract_page(path, 1)
    texts = [element.text for element in page.elements]
    assert (sorted(texts) if side else texts) == expected(side)
