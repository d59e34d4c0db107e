"""Element, SemanticLabel and XYCutConfig: construction, attributes, texts."""

import math
import struct

import pytest
from hypothesis import given, strategies as st

from _vellora_core import Element, SemanticLabel, XYCutConfig

FLT_MAX = float.fromhex("0x1.fffffep127")
OVERFLOW_MIDPOINT = float.fromhex("0x1.ffffffp127")  # nearest float is inf from here on
LABELS = ["CrossLayout", "HorizontalTitle", "VerticalTitle", "Vision", "Regular"]
CONFIG_FIELDS = ["min_cut_threshold", "histogram_resolution_scale", "same_row_tolerance"]


def element(**overrides):
    args = dict(id=1, x1=0.0, y1=0.0, x2=10.0, y2=10.0, label=SemanticLabel.Regular)
    return Element(**{**args, **overrides})


@pytest.mark.parametrize("cls", [Element, SemanticLabel, XYCutConfig])
def test_classes_live_in_builtins_without_docs_and_cannot_be_subclassed(cls):
    assert (cls.__module__, cls.__qualname__) == ("builtins", cls.__name__)
    assert cls.__doc__ is None
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})


def test_text_signatures_and_default_texts():
    assert Element.__text_signature__ == "(id, x1, y1, x2, y2, label)"
    assert XYCutConfig.__text_signature__ == (
        "(min_cut_threshold=15.0, histogram_resolution_scale=0.5, same_row_tolerance=10.0)"
    )
    assert repr(element()).startswith("<builtins.Element object at ")
    assert element() != element()


class TestSemanticLabel:
    @pytest.mark.parametrize("code, name", list(enumerate(LABELS)))
    def test_texts_and_int(self, code, name):
        member = getattr(SemanticLabel, name)
        assert repr(member) == str(member) == f"SemanticLabel.{name}"
        assert int(member) == code

    def test_members_are_attached_in_code_order_and_unique(self):
        assert [n for n in vars(SemanticLabel) if n in LABELS] == LABELS
        assert element(label=SemanticLabel.Vision).label is SemanticLabel.Vision
        assert SemanticLabel.Vision != 3

    def test_no_index_name_value_or_ordering(self):
        with pytest.raises(TypeError):
            [0, 1, 2][SemanticLabel.VerticalTitle]
        assert not any(hasattr(SemanticLabel.Vision, a) for a in ("name", "value", "__index__"))
        with pytest.raises(TypeError):
            SemanticLabel.Vision < SemanticLabel.Regular

    def test_class_cannot_be_called_and_members_cannot_be_replaced(self):
        with pytest.raises(TypeError):
            SemanticLabel(3)
        with pytest.raises(TypeError):
            SemanticLabel.Vision = None


class TestElement:
    def test_attributes_read_back(self):
        class Index:
            def __index__(self):
                return 2**63 + 5

        e = Element(id=2**64 - 1, x1=1.5, y1=2, x2=3.25, y2=True, label=SemanticLabel.Vision)
        assert (e.id, e.x1, e.y1, e.x2, e.y2) == (2**64 - 1, 1.5, 2.0, 3.25, 1.0)
        assert type(e.y1) is float and e.label is SemanticLabel.Vision
        assert element(id=True).id == 1 and element(id=Index()).id == 2**63 + 5

    @pytest.mark.parametrize("bad_id", [-1, 2**64])
    def test_out_of_range_id_raises_overflow_error_unchanged(self, bad_id):
        with pytest.raises(OverflowError, match="^(?!argument)"):
            element(id=bad_id)

    @pytest.mark.parametrize(
        "field, value",
        [("id", 1.0), ("id", "5"), ("x1", "1.0"), ("y1", None), ("x2", []), ("y2", "7")],
    )
    def test_non_number_raises_prefixed_type_error(self, field, value):
        with pytest.raises(TypeError, match=rf"^argument '{field}': "):
            element(**{field: value})

    def test_int_label_raises_prefixed_type_error_naming_semantic_label(self):
        with pytest.raises(TypeError, match=r"^argument 'label': .*int.*SemanticLabel"):
            element(label=3)

    def test_first_failing_parameter_wins(self):
        with pytest.raises(OverflowError):
            Element(-1, "x", None, None, None, 3)
        with pytest.raises(TypeError, match=r"^argument 'y1'"):
            Element(1, 0, "y", "x2", None, 3)

    def test_prefixed_type_error_keeps_the_original_cause_other_errors_pass(self):
        root = KeyError("root")

        class Broken:
            def __init__(self, error):
                self.error = error

            def __float__(self):
                if isinstance(self.error, TypeError):
                    raise self.error from root
                raise self.error

        with pytest.raises(TypeError) as info:
            element(x2=Broken(TypeError("inner")))
        assert str(info.value) == "argument 'x2': inner" and info.value.__cause__ is root
        with pytest.raises(ValueError, match=r"^plain$"):
            element(x2=Broken(ValueError("plain")))

    def test_binding_errors_name_the_class(self):
        label = SemanticLabel.Regular
        for args, kwargs in [((1, 2, 3, 4, 5), {}), ((1, 2, 3, 4, 5, label, 7), {}),
                             ((1, 2, 3, 4, 5, label), {"id": 1}), ((), {"colour": 1})]:
            with pytest.raises(TypeError, match="Element"):
                Element(*args, **kwargs)

    @pytest.mark.parametrize("name", ["id", "x1", "y1", "x2", "y2", "label"])
    def test_attributes_are_read_only(self, name):
        with pytest.raises(AttributeError):
            setattr(element(), name, 1)
        with pytest.raises(AttributeError):
            delattr(element(), name)


class TestFloatNarrowing:
    def test_rounding_overflow_nan_and_minus_one(self):
        class MinusOne:
            def __float__(self):
                return -1.0

        assert element(x1=0.1).x1 == 0.10000000149011612
        assert element(x1=math.nextafter(OVERFLOW_MIDPOINT, 0)).x1 == FLT_MAX
        assert element(x1=OVERFLOW_MIDPOINT).x1 == math.inf
        assert element(x2=1e39).x2 == math.inf and element(x2=-1e39).x2 == -math.inf
        assert math.isnan(element(y1=math.nan).y1)
        assert element(y2=MinusOne()).y2 == -1.0

    def test_int_beyond_double_range_raises_overflow_error_unchanged(self):
        with pytest.raises(OverflowError, match="^(?!argument)"):
            element(x2=10**400)

    @given(st.floats(min_value=-FLT_MAX, max_value=FLT_MAX, allow_nan=False))
    def test_in_range_values_round_to_nearest_even(self, value):
        assert element(x1=value).x1 == struct.unpack("<f", struct.pack("<f", value))[0]


class TestXYCutConfig:
    def test_defaults_and_narrowed_values(self):
        c = XYCutConfig()
        assert [getattr(c, f) for f in CONFIG_FIELDS] == [15.0, 0.5, 10.0]
        c = XYCutConfig(0.1, same_row_tolerance=1e39)
        assert [getattr(c, f) for f in CONFIG_FIELDS] == [0.10000000149011612, 0.5, math.inf]

    def test_none_and_binding_errors(self):
        with pytest.raises(TypeError, match=r"^argument 'min_cut_threshold': "):
            XYCutConfig(None)
        with pytest.raises(TypeError, match=r"^argument 'histogram_resolution_scale'"):
            XYCutConfig(1, "a", "b")
        with pytest.raises(TypeError, match="XYCutConfig"):
            XYCutConfig(1, 2, 3, 4)

    def test_assignment_stores_any_number(self):
        c = XYCutConfig()
        c.same_row_tolerance = -3
        c.min_cut_threshold = 0.1
        assert (c.same_row_tolerance, c.min_cut_threshold) == (-3.0, 0.10000000149011612)

    @pytest.mark.parametrize("name", CONFIG_FIELDS)
    def test_failed_assignment_and_deletion(self, name):
        c = XYCutConfig()
        before = getattr(c, name)
        with pytest.raises(TypeError, match=rf"^argument '{name}': "):
            setattr(c, name, "7")
        with pytest.raises(AttributeError, match=r"^property has no deleter$"):
            delattr(c, name)
        assert getattr(c, name) == before
