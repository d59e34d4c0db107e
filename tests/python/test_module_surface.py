"""Module definition, functions, the internal-fault exception and import rules."""

import subprocess
import sys
import sysconfig
import textwrap

import pytest

import _vellora_core as core
from _vellora_core import Element, SemanticLabel, XYCutConfig

PUBLIC = [
    "reset_log_cache",
    "compute_order_ostrel",
    "compute_order",
    "compute_order_paper",
    "XYCutConfig",
    "SemanticLabel",
    "Element",
]


def run_python(code):
    """Runs `code` in a fresh interpreter; returns its output lines."""
    result = subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True, timeout=120
    )
    assert result.returncode == 0, result.stderr
    return result.stdout.splitlines()


def test_module_names_doc_and_internal_fault():
    assert core.__all__ == PUBLIC and core.__doc__ == ""
    assert "InternalFault" not in core.__all__
    assert core.InternalFault.__bases__ == (BaseException,)


@pytest.mark.parametrize("name", PUBLIC[:4])
def test_functions_are_bound_to_the_module_with_signatures(name):
    function = getattr(core, name)
    assert (function.__module__, function.__self__) == ("_vellora_core", core)
    if name == "reset_log_cache":
        assert function.__text_signature__ == "()"
        lines = function.__doc__.splitlines()
        assert lines[1] == "" and len([line for line in lines if line]) == 4
    else:
        assert function.__text_signature__ == "(elements, page_bounds, config=None)"
        assert function.__doc__ is None


def test_reset_log_cache_takes_no_arguments():
    assert core.reset_log_cache() is None
    with pytest.raises(TypeError):
        core.reset_log_cache(1)


def test_capacity_overflow_raises_internal_fault_past_except_exception():
    elements = [Element(i, 10 * i, 0, 10 * i + 5, 5, SemanticLabel.Regular) for i in range(3)]
    config = XYCutConfig(histogram_resolution_scale=1e30)
    with pytest.raises(core.InternalFault, match=r"^capacity overflow$"):
        try:
            core.compute_order(elements, (0, 0, 1e30, 1e30), config)
        except Exception:  # noqa: BLE001 - must not catch it
            pytest.fail("InternalFault was caught as an Exception")


@pytest.mark.skipif(not sysconfig.get_config_var("Py_GIL_DISABLED"), reason="GIL build")
def test_import_leaves_the_gil_disabled():
    assert run_python("import sys, _vellora_core; print(sys._is_gil_enabled())") == ["False"]


def test_reimport_after_removal_reuses_classes_and_bridge():
    out = run_python(
        """
        import logging, sys
        import _vellora_core as first
        del sys.modules["_vellora_core"]
        import _vellora_core as second
        print(second is not first, second.Element is first.Element,
              second.SemanticLabel.Vision is first.SemanticLabel.Vision,
              second.InternalFault is first.InternalFault, second.__all__ == first.__all__)
        logging.basicConfig(level=logging.DEBUG, format="%(message)s", stream=sys.stdout)
        e = first.Element(1, 0, 0, 1, 1, first.SemanticLabel.Regular)
        print(second.compute_order_ostrel([e], (0, 0, 10, 10)))
        """
    )
    assert out == ["True True True True True", "compute_order_ostrel: 1 elements", "[1]"]


def test_import_in_a_subinterpreter_raises_import_error():
    out = run_python(
        """
        from concurrent import interpreters
        interp = interpreters.create()
        try:
            interp.exec("import _vellora_core")
        except interpreters.ExecutionFailed as failure:
            print(failure.excinfo.type.__name__)
        finally:
            interp.close()
        import _vellora_core
        """
    )
    assert out == ["ImportError"]


def test_failing_logging_import_fails_the_import_with_internal_fault():
    out = run_python(
        """
        import sys
        sys.modules["logging"] = None
        try:
            import _vellora_core
        except BaseException as error:
            print(type(error).__name__, isinstance(error, Exception),
                  str(error).startswith("Failed to initialize python logging"),
                  isinstance(error.__cause__, ImportError))
        print("_vellora_core" in sys.modules)
        """
    )
    assert out == ["InternalFault False True True", "False"]
