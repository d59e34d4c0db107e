"""Argument conversion of the three compute functions and their results."""

import pytest

import _vellora_core as core
from _vellora_core import Element, SemanticLabel, XYCutConfig

PAGE = (0.0, 0.0, 612.0, 792.0)
each_function = pytest.mark.parametrize(
    "compute",
    [core.compute_order, core.compute_order_paper, core.compute_order_ostrel],
    ids=lambda f: f.__name__,
)


def rows(*ids):
    return [
        Element(i, 50, 40 * n + 10, 300, 40 * n + 40, SemanticLabel.Regular)
        for n, i in enumerate(ids)
    ]


class Seq:
    """A sequence by __getitem__, with a __len__ that may lie or raise."""

    def __init__(self, items, length=None, fail_at=None):
        self.items, self.length, self.fail_at = items, length, fail_at

    def __len__(self):
        if isinstance(self.length, BaseException):
            raise self.length
        return len(self.items) if self.length is None else self.length

    def __getitem__(self, index):
        if self.fail_at is not None and index == self.fail_at[0]:
            raise self.fail_at[1]
        return self.items[index]


@each_function
def test_results(compute):
    big = [2**64 - 1, 2**63 + 1, 2**63]
    assert compute([], PAGE) == []
    assert sorted(compute(rows(*big), PAGE, None)) == sorted(big)
    assert compute(tuple(rows(4, 2)), PAGE) == compute(rows(4, 2), page_bounds=PAGE)
    e = rows(6)[0]
    assert compute([e, e, e], PAGE) == [6, 6, 6]
    # A failing or absurd length is only a size hint.
    assert sorted(compute(Seq(rows(1, 2), RuntimeError("no len")), PAGE)) == [1, 2]
    assert sorted(compute(Seq(rows(1, 2), 2**62), PAGE)) == [1, 2]


class Backwards(list):
    """A list whose iteration runs backwards."""

    def __iter__(self):
        return reversed(list(super().__iter__()))


@each_function
def test_list_subclasses_are_iterated_not_read_in_place(compute):
    elements = rows(5, 3, 9, 1)
    # Identical boxes keep their input order: the result shows the order in
    # which the elements were taken.
    same = [Element(i, 50, 10, 300, 40, SemanticLabel.Regular) for i in (1, 2, 3)]
    assert compute(Backwards(same), PAGE) == [3, 2, 1]
    assert compute(Backwards(elements), PAGE) == compute(elements, PAGE)
    with pytest.raises(TypeError, match=r"^argument 'elements': 'NoneType'"):
        compute((*elements, None), PAGE)


def test_paper_functions_agree_and_ostrel_ignores_page_and_config():
    elements = rows(5, 3, 9, 1)
    assert core.compute_order(elements, PAGE) == core.compute_order_paper(elements, PAGE)
    expected = core.compute_order_ostrel(elements, PAGE)
    assert core.compute_order_ostrel(elements, (0, 0, 0, 0), XYCutConfig(0, 0, 0)) == expected
    assert core.compute_order(elements, (0, 0, 0, 792)) == []  # invalid page


@each_function
@pytest.mark.parametrize(
    "elements, pattern",
    [
        ("abc", r"str"),
        (set(), r"Sequence"),
        ({}, r"Sequence"),
        ((x for x in []), r"Sequence"),
        (5, r"Sequence"),
        (rows(1) + [None], r"NoneType.*Element"),
        (Seq([], fail_at=(0, TypeError("bad index"))), r"bad index$"),
    ],
    ids=["str", "set", "dict", "generator", "int", "non-element", "iteration-type-error"],
)
def test_elements_type_errors_get_the_prefix(compute, elements, pattern):
    with pytest.raises(TypeError, match=rf"^argument 'elements': .*{pattern}"):
        compute(elements, PAGE)


@each_function
def test_iteration_error_propagates_unchanged(compute):
    with pytest.raises(KeyError, match="broken"):
        compute(Seq(rows(1, 2), fail_at=(1, KeyError("broken"))), PAGE)


@each_function
def test_page_bounds_and_config_errors(compute):
    with pytest.raises(TypeError, match=r"^argument 'page_bounds': .*list.*tuple"):
        compute([], list(PAGE))
    with pytest.raises(ValueError) as info:
        compute([], (0, 0, 10))
    assert str(info.value) == "expected tuple of length 4, but got tuple of length 3"
    with pytest.raises(TypeError, match=r"^argument 'page_bounds': "):
        compute([], (0, 0, "612", 792))
    with pytest.raises(TypeError, match=r"^argument 'config': .*int.*XYCutConfig"):
        compute([], PAGE, 3)


@each_function
def test_first_failing_parameter_wins(compute):
    with pytest.raises(TypeError, match=r"^argument 'elements'"):
        compute({1}, [1, 2], 3)
    with pytest.raises(ValueError):
        compute([], (), 3)


@each_function
@pytest.mark.parametrize(
    "args, kwargs",
    [
        (([],), {}),
        (([], PAGE, None, None), {}),
        (([], PAGE), {"elements": []}),
        (([], PAGE), {"cfg": 1}),
    ],
    ids=["missing", "surplus", "duplicated", "unknown"],
)
def test_binding_errors_name_the_function(compute, args, kwargs):
    with pytest.raises(TypeError, match=compute.__name__):
        compute(*args, **kwargs)
