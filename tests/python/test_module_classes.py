"""Element, SemanticLabel and XYCutConfig: construction, attributes, texts."""

import math
import struct

import pytest
from hypothesis import given, strategies as st

import _vellora_core as core
from _vellora_core import Element, SemanticLabel, XYCutConfig

FLT_MAX = float.fromhex("0x1.fffffep127")
# Halfway between FLT_MAX and 2**128: from here on the nearest float is inf.
OVERFLOW_MIDPOINT = float.fromhex("0x1.ffffffp127")


def f32(value):
    return struct.unpack("<f", struct.pack("<f", value))[0]


def element(**overrides):
    args = dict(id=1, x1=0.0, y1=0.0, x2=10.0, y2=10.0, label=SemanticLabel.Regular)
    args.update(overrides)
    return Element(**args)


class TestClassIdentity:
    @pytest.mark.parametrize("cls", [Element, SemanticLabel, XYCutConfig])
    def test_module_is_builtins_and_names_are_bare(self, cls):
        assert cls.__module__ == "builtins"
        assert cls.__name__ == cls.__qualname__
        assert "." not in cls.__name__

    @pytest.mark.parametrize("cls", [Element, SemanticLabel, XYCutConfig])
    def test_cannot_be_subclassed(self, cls):
        with pytest.raises(TypeError):
            type("Sub", (cls,), {})

    def test_default_repr_names_builtins(self):
        assert repr(element()).startswith("<builtins.Element object at ")
        assert repr(XYCutConfig()).startswith("<builtins.XYCutConfig object at ")

    def test_text_signatures_and_no_docs(self):
        assert Element.__text_signature__ == "(id, x1, y1, x2, y2, label)"
        assert XYCutConfig.__text_signature__ == (
            "(min_cut_threshold=15.0, histogram_resolution_scale=0.5, same_row_tolerance=10.0)"
        )
        assert Element.__doc__ is None
        assert XYCutConfig.__doc__ is None
        assert SemanticLabel.__doc__ is None

    def test_default_equality_and_hash_are_identity(self):
        a, b = element(), element()
        assert a != b and a == a
        assert hash(a) == hash(a)
        c = XYCutConfig()
        assert c != XYCutConfig()


class TestSemanticLabel:
    MEMBERS = ["CrossLayout", "HorizontalTitle", "VerticalTitle", "Vision", "Regular"]

    @pytest.mark.parametrize("code, name", list(enumerate(MEMBERS)))
    def test_member_texts_and_codes(self, code, name):
        member = getattr(SemanticLabel, name)
        assert repr(member) == f"SemanticLabel.{name}"
        assert str(member) == f"SemanticLabel.{name}"
        assert int(member) == code

    def test_members_are_attached_in_code_order(self):
        names = [n for n in vars(SemanticLabel) if n in self.MEMBERS]
        assert names == self.MEMBERS

    def test_member_is_the_same_object_on_every_access(self):
        assert SemanticLabel.Vision is SemanticLabel.Vision
        assert element(label=SemanticLabel.Vision).label is SemanticLabel.Vision

    def test_member_never_equals_its_code(self):
        assert SemanticLabel.Vision != 3
        assert SemanticLabel.Vision != SemanticLabel.Regular

    def test_no_index_name_value_or_ordering(self):
        with pytest.raises(TypeError):
            [0, 1, 2][SemanticLabel.VerticalTitle]
        for attribute in ("name", "value", "__index__"):
            assert not hasattr(SemanticLabel.Vision, attribute)
        with pytest.raises(TypeError):
            SemanticLabel.Vision < SemanticLabel.Regular
        with pytest.raises(TypeError):
            iter(SemanticLabel)

    def test_calling_the_class_raises_type_error(self):
        with pytest.raises(TypeError):
            SemanticLabel()
        with pytest.raises(TypeError):
            SemanticLabel(3)

    def test_members_cannot_be_replaced(self):
        with pytest.raises(TypeError):
            SemanticLabel.Vision = None
        assert repr(SemanticLabel.Vision) == "SemanticLabel.Vision"


class TestElementConstruction:
    def test_attributes_read_back_in_their_types(self):
        e = Element(7, 1.5, 2, 3.25, 4, SemanticLabel.Vision)
        assert (e.id, e.x1, e.y1, e.x2, e.y2) == (7, 1.5, 2.0, 3.25, 4.0)
        assert type(e.id) is int and type(e.y1) is float
        assert e.label is SemanticLabel.Vision

    def test_positional_and_keyword_arguments_agree(self):
        a = Element(3, 1, 2, 3, 4, SemanticLabel.Regular)
        b = Element(label=SemanticLabel.Regular, y2=4, x2=3, y1=2, x1=1, id=3)
        assert [a.id, a.x1, a.y1, a.x2, a.y2] == [b.id, b.x1, b.y1, b.x2, b.y2]

    def test_largest_id_is_accepted(self):
        assert element(id=2**64 - 1).id == 2**64 - 1

    @pytest.mark.parametrize("bad_id", [-1, 2**64, 2**100])
    def test_out_of_range_id_raises_overflow_error_without_prefix(self, bad_id):
        with pytest.raises(OverflowError) as info:
            element(id=bad_id)
        assert "argument" not in str(info.value)

    def test_id_accepts_bool_and_index_objects(self):
        class Index:
            def __index__(self):
                return 2**63 + 5

        assert element(id=True).id == 1
        assert element(id=Index()).id == 2**63 + 5

    @pytest.mark.parametrize("bad_id", [1.0, "5", None])
    def test_non_integer_id_raises_prefixed_type_error(self, bad_id):
        with pytest.raises(TypeError, match=r"^argument 'id': "):
            element(id=bad_id)

    @pytest.mark.parametrize("field", ["x1", "y1", "x2", "y2"])
    def test_non_number_coordinate_raises_prefixed_type_error(self, field):
        with pytest.raises(TypeError, match=rf"^argument '{field}': "):
            element(**{field: "1.0"})
        with pytest.raises(TypeError, match=rf"^argument '{field}': "):
            element(**{field: None})

    def test_int_label_raises_prefixed_type_error_naming_semantic_label(self):
        with pytest.raises(TypeError, match=r"^argument 'label': .*int.*SemanticLabel"):
            element(label=3)

    def test_first_failing_parameter_wins(self):
        with pytest.raises(OverflowError):
            Element(-1, "x", None, None, None, 3)
        with pytest.raises(TypeError, match=r"^argument 'y1'"):
            Element(1, 0, "y", "x2", None, 3)

    def test_coordinates_accept_int_index_and_float_objects(self):
        class AsFloat:
            def __float__(self):
                return 2.5

        class AsIndex:
            def __index__(self):
                return 4

        e = Element(1, 3, AsFloat(), AsIndex(), True, SemanticLabel.Regular)
        assert (e.x1, e.y1, e.x2, e.y2) == (3.0, 2.5, 4.0, 1.0)

    def test_float_conversion_returning_minus_one_is_a_value(self):
        class MinusOne:
            def __float__(self):
                return -1.0

        assert element(x1=MinusOne()).x1 == -1.0

    def test_non_type_errors_from_conversion_pass_unchanged(self):
        class Broken:
            def __float__(self):
                raise ValueError("no number here")

        with pytest.raises(ValueError, match=r"^no number here$"):
            element(y2=Broken())

    def test_prefixed_type_error_keeps_the_original_cause(self):
        root = KeyError("root")

        class Broken:
            def __float__(self):
                raise TypeError("inner") from root

        with pytest.raises(TypeError) as info:
            element(x2=Broken())
        assert str(info.value) == "argument 'x2': inner"
        assert info.value.__cause__ is root

    @pytest.mark.parametrize(
        "call",
        [
            lambda: Element(1, 2, 3, 4, 5),
            lambda: Element(1, 2, 3, 4, 5, SemanticLabel.Regular, 7),
            lambda: Element(1, 2, 3, 4, 5, SemanticLabel.Regular, id=1),
            lambda: Element(1, 2, 3, 4, 5, SemanticLabel.Regular, colour=1),
        ],
        ids=["missing", "surplus", "duplicated", "unknown"],
    )
    def test_binding_errors_raise_type_error(self, call):
        with pytest.raises(TypeError, match="Element"):
            call()


class TestFloatNarrowing:
    def test_decimal_reads_back_as_its_single_precision_value(self):
        assert element(x1=0.1).x1 == 0.10000000149011612

    def test_too_large_becomes_infinity_of_its_sign(self):
        assert element(x2=1e39).x2 == math.inf
        assert element(x2=-1e39).x2 == -math.inf

    def test_int_beyond_double_range_raises_the_interpreters_overflow_error(self):
        with pytest.raises(OverflowError) as info:
            element(x2=10**400)
        assert "argument" not in str(info.value)

    def test_overflow_rounds_to_nearest(self):
        below_midpoint = math.nextafter(OVERFLOW_MIDPOINT, 0.0)
        assert element(x1=below_midpoint).x1 == FLT_MAX
        assert element(x1=-below_midpoint).x1 == -FLT_MAX
        assert element(x1=OVERFLOW_MIDPOINT).x1 == math.inf

    def test_nan_and_infinity_are_kept(self):
        assert math.isnan(element(y1=math.nan).y1)
        assert element(y1=-math.inf).y1 == -math.inf

    @given(st.floats(min_value=-FLT_MAX, max_value=FLT_MAX, allow_nan=False))
    def test_in_range_values_round_to_nearest_even(self, value):
        assert element(x1=value).x1 == f32(value)
        assert math.copysign(1.0, element(x1=value).x1) == math.copysign(1.0, value)


class TestElementAttributes:
    @pytest.mark.parametrize("name", ["id", "x1", "y1", "x2", "y2", "label"])
    def test_attributes_are_read_only(self, name):
        e = element()
        with pytest.raises(AttributeError):
            setattr(e, name, 1)
        with pytest.raises(AttributeError):
            delattr(e, name)


class TestXYCutConfig:
    def test_defaults(self):
        c = XYCutConfig()
        assert (c.min_cut_threshold, c.histogram_resolution_scale, c.same_row_tolerance) == (
            15.0,
            0.5,
            10.0,
        )

    def test_given_values_are_narrowed(self):
        c = XYCutConfig(0.1, same_row_tolerance=1e39)
        assert c.min_cut_threshold == 0.10000000149011612
        assert c.histogram_resolution_scale == 0.5
        assert c.same_row_tolerance == math.inf

    def test_none_is_not_a_default(self):
        with pytest.raises(TypeError, match=r"^argument 'min_cut_threshold': "):
            XYCutConfig(None)
        with pytest.raises(TypeError, match=r"^argument 'same_row_tolerance': "):
            XYCutConfig(same_row_tolerance=None)

    def test_first_failing_parameter_wins(self):
        with pytest.raises(TypeError, match=r"^argument 'histogram_resolution_scale'"):
            XYCutConfig(1, "a", "b")

    def test_binding_errors_raise_type_error(self):
        with pytest.raises(TypeError, match="XYCutConfig"):
            XYCutConfig(1, 2, 3, 4)
        with pytest.raises(TypeError, match="XYCutConfig"):
            XYCutConfig(tolerance=1)
        with pytest.raises(TypeError, match="XYCutConfig"):
            XYCutConfig(1, min_cut_threshold=1)

    def test_assignment_narrows_and_stores_any_value(self):
        c = XYCutConfig()
        c.same_row_tolerance = -3
        assert c.same_row_tolerance == -3.0
        c.min_cut_threshold = 0.1
        assert c.min_cut_threshold == 0.10000000149011612
        c.histogram_resolution_scale = math.nan
        assert math.isnan(c.histogram_resolution_scale)

    @pytest.mark.parametrize(
        "name", ["min_cut_threshold", "histogram_resolution_scale", "same_row_tolerance"]
    )
    def test_failed_assignment_is_prefixed_and_keeps_the_old_value(self, name):
        c = XYCutConfig()
        before = getattr(c, name)
        with pytest.raises(TypeError, match=rf"^argument '{name}': "):
            setattr(c, name, "7")
        assert getattr(c, name) == before

    @pytest.mark.parametrize(
        "name", ["min_cut_threshold", "histogram_resolution_scale", "same_row_tolerance"]
    )
    def test_deletion_raises_property_has_no_deleter(self, name):
        with pytest.raises(AttributeError, match=r"^property has no deleter$"):
            delattr(XYCutConfig(), name)
