import _vellora_core


def test_module_imports():
    assert _vellora_core.__name__ == "_vellora_core"
