"""The PDF front end reads pdfminer's results once: its shortcuts give what the long way gives."""

import math
import pathlib

import pytest

pytest.importorskip("pdfminer")

from vellora.pdf import extract_page, iter_pages  # noqa: E402
from vellora.pdf import blocks as blocks_module  # noqa: E402
from vellora.pdf.errors import pdfminer_modules  # noqa: E402
from vellora.pdf.geometry import is_slanted, text_turn  # noqa: E402

HERE = pathlib.Path(__file__).resolve().parent
SAMPLES = sorted((HERE / "data" / "pdf").glob("*.pdf")) + sorted((HERE.parents[1] / "examples").glob("*.pdf"))


def _text_lines(path):
    """Every analysed text line of the sample at ``path``, as pdfminer groups it with default parameters."""
    from pdfminer.high_level import extract_pages

    layout = pdfminer_modules()
    for page in extract_pages(str(path), laparams=layout.LAParams()):
        for box in page:
            if isinstance(box, layout.LTTextBox):
                yield from (line for line in box if isinstance(line, layout.LTTextLine))


@pytest.mark.parametrize("sample", SAMPLES, ids=lambda path: path.stem)
def test_one_pass_over_a_line_reads_its_text_and_visible_characters(sample):
    layout = pdfminer_modules()
    lines = list(_text_lines(sample))
    assert lines
    for line in lines:
        text, visible = blocks_module._line_content(line, layout)
        assert text == line.get_text()
        assert visible == [char for char in blocks_module._chars(line, layout) if char.get_text().strip()]


def _angle_turn(a, b):
    angle = math.degrees(math.atan2(b, a)) % 360
    return (int(((angle + 45) % 360) // 90) * 90) % 360


@pytest.mark.parametrize(("a", "b"), [
    (1.0, 0.0), (1.0, -0.0), (12.0, 0.0), (-1.0, 0.0), (-1.0, -0.0), (0.0, 0.0), (0.0, 1.0), (0.0, -1.0),
    (1.0, 1e-12), (1.0, -1e-12), (0.7, 0.7), (1e-300, 0.0), (math.inf, 0.0),
])
def test_upright_shortcut_agrees_with_the_baseline_angle(a, b):
    assert text_turn([(a, b, 0, 1, 0, 0)]) == _angle_turn(a, b)
    tilt = math.degrees(math.atan2(b, a)) % 90
    assert is_slanted((a, b, 0, 1, 0, 0)) == (3.0 < tilt < 87.0)
    if b == 0:
        assert not is_slanted((a, b, 0, 1, 0, 0))  # the crop loop skips these without measuring


def test_pages_read_in_one_pass_equal_pages_read_alone():
    """Fonts are read once per document: a page's result does not depend on the pages read before it."""
    sample = HERE / "data" / "pdf" / "draft-with-running-heads.pdf"
    together = [page.to_dict() for page in iter_pages(sample)]
    alone = [extract_page(sample, number).to_dict() for number in range(1, len(together) + 1)]
    assert len(together) == 2 and together == alone
