# The module as the host sees it: its attributes, the function's signature and docstring, the
# exported symbols, PanicException, and what re-running the exec function does.
import _imp
import ctypes
import importlib.util
import inspect
import subprocess

import pytest
import tarvik_codec

DOC_HEAD = """\
Columnarize a row-oriented JSON payload (bytes or str), GIL released
for the duration of the transform.

Args:
    payload: UTF-8 JSON bytes/str encoding a `list[dict]` of rows.
    min_rows: Accepted for parity with the Python codec's signature;
        not re-checked here (the Python caller already applied the
        guard before calling this function).

Returns:
    UTF-8 JSON bytes encoding `{"columns", "rows", "constants"}`.

Panic safety:"""


def fresh_module():
    """A new module object made from the extension's definition, not yet executed."""
    found = importlib.util.find_spec("tarvik_codec")
    return importlib.util.module_from_spec(found)


def run_exec_slot(module) -> None:
    """Runs the exec slot on `module` again. The import system runs it once per module object
    (it marks the module), so this calls the host's public PyModule_ExecDef directly."""
    api = ctypes.pythonapi
    api.PyModule_GetDef.argtypes = [ctypes.py_object]
    api.PyModule_GetDef.restype = ctypes.c_void_p
    api.PyModule_ExecDef.argtypes = [ctypes.py_object, ctypes.c_void_p]
    api.PyModule_ExecDef.restype = ctypes.c_int
    assert api.PyModule_ExecDef(module, api.PyModule_GetDef(module)) == 0


FUNCTIONS = ["columnarize", "columnarize_document", "decolumnarize"]


def test_module_attributes():
    assert tarvik_codec.__doc__ == ""
    assert tarvik_codec.__all__ == FUNCTIONS
    assert type(tarvik_codec.__all__) is list
    assert not hasattr(tarvik_codec, "PanicException")
    public = {name for name in vars(tarvik_codec) if not name.startswith("__")}
    assert public == set(FUNCTIONS)


@pytest.mark.parametrize(
    "name, signature",
    [
        ("columnarize", "(payload, min_rows=20)"),
        ("columnarize_document", "(payload, min_rows=2)"),
        ("decolumnarize", "(payload)"),
    ],
)
def test_function_identity_and_signature(name, signature):
    function = getattr(tarvik_codec, name)
    assert function.__name__ == name
    assert function.__module__ == "tarvik_codec"
    assert function.__self__ is tarvik_codec
    assert function.__text_signature__ == signature
    assert str(inspect.signature(function)) == signature


def test_function_docstring():
    doc = tarvik_codec.columnarize.__doc__
    assert doc.startswith(DOC_HEAD)
    panic_safety = doc[len(DOC_HEAD) - len("Panic safety:") :]
    assert len(panic_safety.split("\n")) == 9
    assert not doc.endswith("\n")
    for phrase in ("RuntimeError", "PanicException", "BaseException", "except Exception"):
        assert phrase in panic_safety
    assert "a residual, documented limitation" in " ".join(panic_safety.split())


def test_only_the_init_function_is_exported():
    symbols = subprocess.run(
        ["nm", "-D", "--defined-only", tarvik_codec.__file__],
        capture_output=True,
        text=True,
        check=True,
    ).stdout.split()
    # Each line is "address type name".
    assert symbols[2::3] == ["PyInit_tarvik_codec"]


def test_panic_exception_type(panic_exception):
    assert panic_exception.__bases__ == (BaseException,)
    assert not issubclass(panic_exception, Exception)
    assert panic_exception.__name__ == "PanicException"
    assert panic_exception.__module__ not in ("tarvik_codec", "builtins")
    doc = panic_exception.__doc__
    assert doc.startswith("\n")
    assert doc.endswith(
        "\n\nLike SystemExit, this exception is derived from BaseException so that\n"
        "it will typically propagate all the way through the stack and cause the\n"
        "Python interpreter to exit.\n"
    )
    assert len(doc.split("\n")) == 7


def test_exec_again_appends_the_name_again():
    module = fresh_module()
    _imp.exec_dynamic(module)
    first = module.columnarize
    run_exec_slot(module)
    assert module.__all__ == FUNCTIONS + FUNCTIONS
    assert module.columnarize is not first
    assert module.columnarize(b"[]") == first(b"[]")


def test_exec_keeps_a_list_subclass_all():
    class Names(list):
        pass

    module = fresh_module()
    module.__all__ = Names(["other"])
    _imp.exec_dynamic(module)
    assert type(module.__all__) is Names
    assert module.__all__ == ["other", *FUNCTIONS]


@pytest.mark.parametrize(
    "all_value, message",
    [
        (("columnarize",), "'tuple' object is not an instance of 'list'"),
        (None, "'None' is not an instance of 'list'"),
    ],
)
def test_exec_refuses_an_all_that_is_not_a_list(all_value, message):
    module = fresh_module()
    module.__all__ = all_value
    with pytest.raises(TypeError) as raised:
        _imp.exec_dynamic(module)
    assert str(raised.value) == message
    assert not hasattr(module, "columnarize")
