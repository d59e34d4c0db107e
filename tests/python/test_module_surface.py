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
COMPUTE = ["compute_order", "compute_order_paper", "compute_order_ostrel"]


def run_python(code):
    """Runs `code` in a fresh interpreter; returns its stdout lines."""
    result = subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)],
        capture_output=True,
        text=True,
        timeout=120,
    )
    assert result.returncode == 0, result.stderr
    return result.stdout.splitlines()


class TestModuleDefinition:
    def test_all_lists_the_public_names_in_order(self):
        assert core.__all__ == PUBLIC
        for name in PUBLIC:
            assert hasattr(core, name)

    def test_doc_is_empty(self):
        assert core.__doc__ == ""

    def test_internal_fault_is_an_attribute_but_not_public(self):
        assert "InternalFault" not in core.__all__
        assert core.InternalFault.__bases__ == (BaseException,)
        assert not issubclass(core.InternalFault, Exception)


class TestFunctions:
    @pytest.mark.parametrize("name", COMPUTE)
    def test_compute_functions_have_a_signature_only(self, name):
        function = getattr(core, name)
        assert function.__text_signature__ == "(elements, page_bounds, config=None)"
        assert function.__doc__ is None

    @pytest.mark.parametrize("name", PUBLIC[:4])
    def test_functions_are_bound_to_the_module(self, name):
        function = getattr(core, name)
        assert function.__module__ == "_vellora_core"
        assert function.__self__ is core

    def test_reset_log_cache_doc_and_signature(self):
        assert core.reset_log_cache.__text_signature__ == "()"
        lines = core.reset_log_cache.__doc__.splitlines()
        assert lines[1] == ""
        assert len([line for line in lines if line]) == 4
        assert "caché" in lines[0]
        assert "logging" in core.reset_log_cache.__doc__

    def test_reset_log_cache_takes_no_arguments_and_returns_none(self):
        assert core.reset_log_cache() is None
        assert core.reset_log_cache() is None
        with pytest.raises(TypeError):
            core.reset_log_cache(1)


@pytest.mark.skipif(
    not sysconfig.get_config_var("Py_GIL_DISABLED"), reason="needs a free-threaded interpreter"
)
def test_import_leaves_the_gil_disabled():
    assert run_python("import sys, _vellora_core; print(sys._is_gil_enabled())") == ["False"]


class TestInternalFault:
    def test_capacity_overflow_ends_the_call_with_internal_fault(self):
        elements = [Element(i, 10 * i, 0, 10 * i + 5, 5, SemanticLabel.Regular) for i in range(3)]
        config = XYCutConfig(histogram_resolution_scale=1e30)
        with pytest.raises(core.InternalFault, match=r"^capacity overflow$"):
            core.compute_order(elements, (0, 0, 1e30, 1e30), config)

    def test_internal_fault_escapes_except_exception(self):
        elements = [Element(i, 10 * i, 0, 10 * i + 5, 5, SemanticLabel.Regular) for i in range(3)]
        config = XYCutConfig(histogram_resolution_scale=1e30)
        with pytest.raises(core.InternalFault):
            try:
                core.compute_order_paper(elements, (0, 0, 1e30, 1e30), config)
            except Exception:  # noqa: BLE001 - must not catch it
                pytest.fail("InternalFault was caught as an Exception")


class TestImport:
    def test_reimport_after_removal_reuses_classes_and_bridge(self):
        out = run_python(
            """
            import logging, sys
            import _vellora_core as first
            del sys.modules["_vellora_core"]
            import _vellora_core as second
            print(second is not first)
            print(second.Element is first.Element)
            print(second.SemanticLabel.Vision is first.SemanticLabel.Vision)
            print(second.InternalFault is first.InternalFault)
            print(second.__all__ == first.__all__)
            records = []
            class Keep(logging.Handler):
                def emit(self, record):
                    records.append(record.getMessage())
            logger = logging.getLogger("velloray")
            logger.setLevel(logging.DEBUG)
            logger.addHandler(Keep())
            e = first.Element(1, 0, 0, 1, 1, first.SemanticLabel.Regular)
            print(second.compute_order([e], (0, 0, 10, 10)))
            print(records[0])
            """
        )
        assert out == ["True"] * 5 + ["[1]", "compute_order (paper): 1 elements"]

    def test_import_in_a_subinterpreter_raises_import_error(self):
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
            print(_vellora_core.__name__)
            """
        )
        assert out == ["ImportError", "_vellora_core"]

    def test_failing_logging_import_makes_the_import_fail_with_internal_fault(self):
        out = run_python(
            """
            import sys
            sys.modules["logging"] = None
            try:
                import _vellora_core
            except BaseException as error:
                print(type(error).__name__, isinstance(error, Exception))
                print(str(error).startswith("Failed to initialize python logging"))
                print(isinstance(error.__cause__, ImportError))
            print("_vellora_core" in sys.modules)
            """
        )
        assert out == ["InternalFault False", "True", "True", "False"]
