"""Property tests of the XY-cut ordering over awkward random pages."""

import math
import struct

from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import _vellora_core as core

LABELS = [
    core.SemanticLabel.CrossLayout,
    core.SemanticLabel.HorizontalTitle,
    core.SemanticLabel.VerticalTitle,
    core.SemanticLabel.Vision,
    core.SemanticLabel.Regular,
]

coordinates = st.one_of(
    st.floats(min_value=-100.0, max_value=1100.0, width=32),
    st.sampled_from([math.nan, -math.nan, math.inf, -math.inf, -0.0, 0.0, 1e30, -1e30]),
)

elements = st.builds(
    core.Element,
    st.integers(min_value=0, max_value=12) | st.sampled_from([2**63, 2**64 - 1]),
    coordinates,
    coordinates,
    coordinates,
    coordinates,
    st.sampled_from(LABELS),
)

pages = st.sampled_from([
    (0.0, 0.0, 1000.0, 1000.0),
    (0.0, 0.0, 612.0, 792.0),
    (-50.0, -50.0, 300.0, 200.0),
    (0.0, 0.0, 0.0, 792.0),
    (100.0, 0.0, 0.0, 100.0),
    (0.0, 0.0, math.nan, 100.0),
    (0.0, -math.inf, 100.0, 100.0),
])

tuning = st.one_of(
    st.floats(min_value=-20.0, max_value=60.0, width=32),
    st.sampled_from([0.0, -0.0, math.nan, -1.0, 1.0]),
)

scales = st.one_of(
    st.floats(min_value=-1.0, max_value=3.0, width=32),
    st.sampled_from([0.0, math.nan, -0.5, 0.5, 1.0]),
)

configs = st.one_of(
    st.none(),
    st.builds(core.XYCutConfig, tuning, scales, tuning),
)


def f32(value):
    return struct.unpack("f", struct.pack("f", value))[0]


def page_is_valid(page):
    left, top, right, bottom = (f32(v) for v in page)
    width, height = f32(right - left), f32(bottom - top)
    return all(math.isfinite(v) and v > 0 for v in (width, height))


@settings(max_examples=150, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(st.lists(elements, max_size=24), pages, configs)
def test_result_is_a_permutation_and_both_entry_points_agree(items, page, config):
    result = core.compute_order(items, page, config)
    assert result == core.compute_order_paper(items, page, config)
    if items and page_is_valid(page):
        assert sorted(result) == sorted(e.id for e in items)
    else:
        assert result == []


@settings(max_examples=60, deadline=None)
@given(st.lists(elements, min_size=1, max_size=24), configs)
def test_repeated_calls_give_the_same_order(items, config):
    page = (0.0, 0.0, 1000.0, 1000.0)
    assert core.compute_order(items, page, config) == core.compute_order(items, page, config)
