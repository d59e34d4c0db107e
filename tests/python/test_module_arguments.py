"""Argument conversion of the three compute functions and their results."""

import pytest

import _vellora_core as core
from _vellora_core import Element, SemanticLabel, XYCutConfig

PAGE = (0.0, 0.0, 612.0, 792.0)
COMPUTE = [core.compute_order, core.compute_order_paper, core.compute_order_ostrel]
compute_functions = pytest.mark.parametrize("compute", COMPUTE, ids=lambda f: f.__name__)


def boxes(*ids):
    return [
        Element(i, 50.0, 40.0 * n + 10, 300.0, 40.0 * n + 40, SemanticLabel.Regular)
        for n, i in enumerate(ids)
    ]


class Seq:
    """A minimal sequence type: __getitem__ plus a configurable __len__."""

    def __init__(self, items, length=None):
        self.items = items
        self.length = length

    def __len__(self):
        if isinstance(self.length, BaseException):
            raise self.length
        return len(self.items) if self.length is None else self.length

    def __getitem__(self, index):
        return self.items[index]


class TestResults:
    @compute_functions
    def test_empty_list_gives_empty_list(self, compute):
        assert compute([], PAGE) == []

    @compute_functions
    def test_large_ids_come_back_unchanged(self, compute):
        ids = [2**64 - 1, 2**63 + 1, 2**63]
        result = compute(boxes(*ids), PAGE)
        assert sorted(result) == sorted(ids)
        assert all(type(i) is int and i > 0 for i in result)

    def test_paper_functions_agree(self):
        elements = boxes(5, 3, 9, 1)
        assert core.compute_order(elements, PAGE) == core.compute_order_paper(elements, PAGE)

    @compute_functions
    def test_tuple_of_elements_is_accepted_like_a_list(self, compute):
        elements = boxes(4, 2, 8)
        assert compute(tuple(elements), PAGE) == compute(elements, PAGE)

    @compute_functions
    def test_duplicated_element_objects_are_copied_each_time(self, compute):
        e = boxes(6)[0]
        assert compute([e, e, e], PAGE) == [6, 6, 6]

    @compute_functions
    def test_config_none_and_omitted_agree(self, compute):
        elements = boxes(1, 2, 3)
        assert compute(elements, PAGE, None) == compute(elements, PAGE)
        assert compute(elements=elements, page_bounds=PAGE, config=None) == compute(elements, PAGE)

    def test_ostrel_ignores_page_and_config_values(self):
        elements = boxes(3, 1, 2)
        expected = core.compute_order_ostrel(elements, PAGE)
        assert core.compute_order_ostrel(elements, (0, 0, 0, 0), XYCutConfig(0, 0, 0)) == expected

    def test_invalid_page_gives_an_empty_result(self):
        assert core.compute_order(boxes(1), (0, 0, 0, 792)) == []

    @compute_functions
    def test_sequence_with_failing_len_is_still_read(self, compute):
        elements = boxes(1, 2)
        assert sorted(compute(Seq(elements, RuntimeError("no len")), PAGE)) == [1, 2]

    @compute_functions
    def test_sequence_with_absurd_len_is_still_read(self, compute):
        elements = boxes(1, 2)
        assert sorted(compute(Seq(elements, 2**62), PAGE)) == [1, 2]


class TestElementsErrors:
    @compute_functions
    def test_str_is_rejected(self, compute):
        with pytest.raises(TypeError, match=r"^argument 'elements': "):
            compute("abc", PAGE)

    @compute_functions
    @pytest.mark.parametrize(
        "value",
        [set(), {}, iter([]), (x for x in []), 5, None],
        ids=["set", "dict", "iterator", "generator", "int", "None"],
    )
    def test_non_sequence_is_rejected_naming_sequence(self, compute, value):
        with pytest.raises(TypeError, match=r"^argument 'elements': .*Sequence"):
            compute(value, PAGE)

    @compute_functions
    def test_generator_of_elements_is_rejected(self, compute):
        with pytest.raises(TypeError, match=r"^argument 'elements'"):
            compute((e for e in boxes(1, 2)), PAGE)

    @compute_functions
    def test_non_element_item_is_rejected_naming_element(self, compute):
        with pytest.raises(TypeError, match=r"^argument 'elements': .*NoneType.*Element"):
            compute(boxes(1) + [None] + boxes(2), PAGE)

    @compute_functions
    def test_iteration_error_propagates_unchanged(self, compute):
        class Failing(Seq):
            def __getitem__(self, index):
                if index == 1:
                    raise KeyError("broken sequence")
                return super().__getitem__(index)

        with pytest.raises(KeyError, match="broken sequence"):
            compute(Failing(boxes(1, 2)), PAGE)

    @compute_functions
    def test_iteration_type_error_gets_the_prefix(self, compute):
        class Failing(Seq):
            def __getitem__(self, index):
                raise TypeError("bad index")

        with pytest.raises(TypeError, match=r"^argument 'elements': bad index$"):
            compute(Failing([]), PAGE)


class TestPageBoundsErrors:
    @compute_functions
    def test_list_is_rejected_naming_tuple(self, compute):
        with pytest.raises(TypeError, match=r"^argument 'page_bounds': .*list.*tuple"):
            compute([], list(PAGE))

    @compute_functions
    def test_wrong_length_raises_value_error_without_prefix(self, compute):
        with pytest.raises(ValueError) as info:
            compute([], (0, 0, 10))
        assert str(info.value) == "expected tuple of length 4, but got tuple of length 3"
        with pytest.raises(ValueError, match=r"^expected tuple of length 4, but got tuple of length 5$"):
            compute([], (0, 0, 10, 10, 10))

    @compute_functions
    def test_non_number_item_gets_the_prefix(self, compute):
        with pytest.raises(TypeError, match=r"^argument 'page_bounds': "):
            compute([], (0, 0, "612", 792))

    def test_tuple_subclass_is_accepted(self):
        class Bounds(tuple):
            pass

        assert core.compute_order(boxes(1), Bounds(PAGE)) == [1]


class TestConfigErrors:
    @compute_functions
    def test_int_config_gets_the_prefix(self, compute):
        with pytest.raises(TypeError, match=r"^argument 'config': .*int.*XYCutConfig"):
            compute([], PAGE, 3)


class TestConversionOrder:
    @compute_functions
    def test_elements_error_hides_later_errors(self, compute):
        with pytest.raises(TypeError, match=r"^argument 'elements'"):
            compute({1}, [1, 2], 3)

    @compute_functions
    def test_page_bounds_error_hides_config_error(self, compute):
        with pytest.raises(ValueError):
            compute([], (), 3)

    @compute_functions
    @pytest.mark.parametrize(
        "call",
        [
            lambda f: f([]),
            lambda f: f([], PAGE, None, None),
            lambda f: f([], PAGE, elements=[]),
            lambda f: f([], PAGE, settings=None),
        ],
        ids=["missing", "surplus", "duplicated", "unknown"],
    )
    def test_binding_errors_name_the_function(self, compute, call):
        with pytest.raises(TypeError, match=compute.__name__):
            call(compute)
