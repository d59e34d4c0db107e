"""No reference is leaked on any path of the native module.

Needs the debug interpreter (sys.gettotalrefcount); `make test-refs` builds the
module for it and runs this file. Elsewhere the tests are skipped.
"""

import gc
import logging
import sys

import pytest

import _vellora_core as core
from _vellora_core import Element, SemanticLabel, XYCutConfig
from logging_isolation import isolated_logging, real_get_logger  # noqa: F401 - fixture

if not hasattr(sys, "gettotalrefcount"):
    pytest.skip("needs the debug interpreter (make test-refs)", allow_module_level=True)

CALLS = 3000
PAGE = (0.0, 0.0, 612.0, 792.0)
ELEMENTS = [
    Element(1, 72, 60, 540, 90, SemanticLabel.HorizontalTitle),
    Element(2, 72, 110, 296, 400, SemanticLabel.Regular),
    Element(3, 316, 110, 540, 400, SemanticLabel.Regular),
    Element(4, 72, 420, 540, 480, SemanticLabel.CrossLayout),
    Element(5, 316, 500, 540, 600, SemanticLabel.Vision),
]
CONFIG = XYCutConfig(same_row_tolerance=5.0)
COMPUTE = [core.compute_order, core.compute_order_paper, core.compute_order_ostrel]
OVERFLOW_ELEMENTS = [Element(1, 0, 0, 10, 100, SemanticLabel.Regular), Element(2, 20, 0, 30, 100, SemanticLabel.Regular)]


class Boom(Exception):
    pass


class Counting(logging.Handler):
    def __init__(self):
        super().__init__()
        self.count = 0

    def emit(self, record):
        record.getMessage()
        self.count += 1


class RaisingHandler(logging.Handler):
    def handle(self, record):
        raise Boom("handler")


def raising_filter(record):
    raise Boom("filter")


def growth(call):
    """Total reference count growth over CALLS calls, after a warm-up."""
    for _ in range(100):
        call()
    gc.collect()
    before = sys.gettotalrefcount()
    for _ in range(CALLS):
        call()
    gc.collect()
    return sys.gettotalrefcount() - before


def raises(error, function, *args, **kwargs):
    def call():
        try:
            function(*args, **kwargs)
        except error:
            pass
        else:
            raise AssertionError(f"{function.__name__} did not raise {error.__name__}")
    return call


def set_attribute(obj, name, value):
    setattr(obj, name, value)


def delete_attribute(obj, name):
    delattr(obj, name)


SUCCESS = {
    **{f"{f.__name__}": (lambda f=f: f(ELEMENTS, PAGE)) for f in COMPUTE},
    **{f"{f.__name__}_config": (lambda f=f: f(tuple(ELEMENTS), PAGE, CONFIG)) for f in COMPUTE},
    **{f"{f.__name__}_empty": (lambda f=f: f([], PAGE, None)) for f in COMPUTE},
    "compute_order_invalid_page": lambda: core.compute_order(ELEMENTS, (0.0, 0.0, 0.0, 792.0)),
    "reset_log_cache": core.reset_log_cache,
    "element_new_and_read": lambda: [getattr(Element(2**64 - 1, 1, 2, 3, 4, SemanticLabel.Vision), a)
                                     for a in ("id", "x1", "y1", "x2", "y2", "label")] + [repr(ELEMENTS[0])],
    "config_new_and_read": lambda: (repr(XYCutConfig(1, 2, 3)), XYCutConfig().same_row_tolerance),
    "config_write": lambda: set_attribute(CONFIG, "min_cut_threshold", 20),
    "label_int_and_repr": lambda: (int(SemanticLabel.Regular), repr(SemanticLabel.Vision)),
}

ERRORS = {
    **{f"{f.__name__}_{case}": raises(error, f, *args) for f in COMPUTE for case, error, args in [
        ("elements_not_a_sequence", TypeError, (42, PAGE)),
        ("element_of_wrong_type", TypeError, ([ELEMENTS[0], "box"], PAGE)),
        ("bounds_not_a_tuple", TypeError, (ELEMENTS, list(PAGE))),
        ("bounds_of_wrong_length", ValueError, (ELEMENTS, (0.0, 0.0, 1.0))),
        ("bound_not_a_number", TypeError, (ELEMENTS, (0.0, 0.0, "wide", 1.0))),
        ("config_of_wrong_type", TypeError, (ELEMENTS, PAGE, {"min_cut_threshold": 1})),
        ("missing_argument", TypeError, (ELEMENTS,)),
    ]},
    "compute_order_unknown_keyword": raises(TypeError, core.compute_order, ELEMENTS, PAGE, colour=1),
    "reset_log_cache_with_argument": raises(TypeError, core.reset_log_cache, 1),
    "element_negative_id": raises(OverflowError, Element, -1, 0, 0, 1, 1, SemanticLabel.Regular),
    "element_huge_id": raises(OverflowError, Element, 2**64, 0, 0, 1, 1, SemanticLabel.Regular),
    "element_id_not_an_integer": raises(TypeError, Element, 1.5, 0, 0, 1, 1, SemanticLabel.Regular),
    "element_coordinate_not_a_number": raises(TypeError, Element, 1, "0", 0, 1, 1, SemanticLabel.Regular),
    "element_label_of_wrong_type": raises(TypeError, Element, 1, 0, 0, 1, 1, 4),
    "element_attribute_write": raises(AttributeError, set_attribute, ELEMENTS[0], "x1", 3.0),
    "config_value_not_a_number": raises(TypeError, XYCutConfig, min_cut_threshold="deep"),
    "config_write_not_a_number": raises(TypeError, set_attribute, CONFIG, "same_row_tolerance", None),
    "config_attribute_delete": raises((TypeError, AttributeError), delete_attribute, CONFIG, "same_row_tolerance"),
    "capacity_overflow": raises(core.InternalFault, core.compute_order, OVERFLOW_ELEMENTS, (0.0, 0.0, 2.0**61, 100.0)),
}


@pytest.mark.parametrize("debug", [False, True], ids=["logging_off", "logging_debug"])
@pytest.mark.parametrize("call", [*SUCCESS.values(), *ERRORS.values()], ids=[*SUCCESS, *ERRORS])
def test_no_reference_grows(isolated_logging, call, debug):  # noqa: F811
    if debug:
        handler = Counting()
        logger = real_get_logger("velloray")
        logger.setLevel(logging.DEBUG)
        logger.propagate = False
        logger.addHandler(handler)
        core.reset_log_cache()
    else:
        real_get_logger("velloray").setLevel(logging.CRITICAL)  # the invalid page's warning stays quiet
        core.reset_log_cache()
    assert growth(call) < CALLS // 10


@pytest.mark.parametrize("raising", ["handler", "filter"])
def test_no_reference_grows_when_logging_raises(isolated_logging, raising):  # noqa: F811
    logger = real_get_logger("velloray")
    logger.setLevel(logging.DEBUG)
    logger.propagate = False
    if raising == "handler":
        logger.addHandler(RaisingHandler())
    else:
        logger.addFilter(raising_filter)
    core.reset_log_cache()
    for compute in COMPUTE:
        assert growth(raises(Boom, compute, ELEMENTS, PAGE)) < CALLS // 10
