"""The type stubs of _vellora_core match the runtime module, and vellora type-checks."""

import importlib.util
import pathlib
import subprocess
import sys

import pytest

pytest.importorskip("mypy")

ROOT = pathlib.Path(__file__).resolve().parents[2]


def mypy_run(*args, cwd):
    return subprocess.run([sys.executable, "-m", *args], capture_output=True, text=True, cwd=cwd, timeout=600)


def test_stubs_are_installed_next_to_the_module():
    site = pathlib.Path(importlib.util.find_spec("_vellora_core").origin).parent
    assert (site / "_vellora_core-stubs" / "__init__.pyi").is_file()
    assert (site / "vellora" / "py.typed").is_file()


def test_stubtest(tmp_path):
    # Run from an empty folder so that only the installed stubs and module are seen.
    result = mypy_run("mypy.stubtest", "_vellora_core", "--concise", cwd=tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr


def test_package_type_checks_strictly(tmp_path):
    # A user's view: the installed package and stubs, checked with --strict.
    user = tmp_path / "user.py"
    user.write_text(
        "import _vellora_core as core\n"
        "import vellora\n"
        "ids: list[int] = vellora.order({'page_bounds': [0, 0, 1, 1], 'elements': []}, 'ostrel')\n"
        "e = core.Element(1, 0.0, 0.0, 1.0, 1.0, core.SemanticLabel.Vision)\n"
        "n: int = int(e.label)\n"
        "more: list[int] = core.compute_order([e], (0.0, 0.0, 1.0, 1.0), core.XYCutConfig(same_row_tolerance=4))\n"
    )
    result = mypy_run("mypy", "--strict", "--no-incremental", "user.py", cwd=tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr


def test_package_sources_type_check_strictly(tmp_path):
    result = mypy_run("mypy", "--strict", "--no-incremental", "--cache-dir", str(tmp_path), "-p", "vellora",
                      cwd=ROOT / "python")
    assert result.returncode == 0, result.stdout + result.stderr


def test_a_type_error_is_caught(tmp_path):
    # The stubs are really used: a wrong argument type is reported.
    user = tmp_path / "wrong.py"
    user.write_text("import _vellora_core as core\ncore.compute_order([], [0, 0, 1, 1])\n")
    result = mypy_run("mypy", "--no-incremental", "wrong.py", cwd=tmp_path)
    assert result.returncode == 1
    assert 'Argument 2 to "compute_order" has incompatible type' in result.stdout
