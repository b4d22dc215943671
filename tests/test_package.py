"""The package as users meet it: installed files, type stubs, pickling, the shipped data."""

from __future__ import annotations

import inspect
import os
import pickle
import re
import subprocess
import sys
import typing
from importlib import resources
from pathlib import Path

import numpy as np
import pytest
from numpy.typing import NDArray

import lumetra._core as core
from lumetra.datasets import airline_passengers

TYPED = Path(__file__).parent / "typed"


def stub_namespace() -> dict[str, object]:
    """The installed stub file, executed as Python (its annotations are evaluated)."""
    source = resources.files("lumetra").joinpath("_core.pyi").read_text()
    namespace: dict[str, object] = {}
    exec(compile(source, "_core.pyi", "exec"), namespace)
    return namespace


STUB = stub_namespace()


def test_stubs_beside_the_module_declare_exactly_its_functions():
    package = resources.files("lumetra")
    assert Path(core.__file__).parent == Path(str(package))
    assert package.joinpath("py.typed").is_file() and package.joinpath("_core.pyi").is_file()
    assert STUB["__all__"] == core.__all__
    assert [name for name, value in STUB.items() if inspect.isfunction(value)] == core.__all__


@pytest.mark.parametrize("name", core.__all__)
def test_stub_signature_matches_the_function(name):
    # the same names, kinds and defaults (none) as the function's own signature, "(y, alpha)"
    stub = inspect.signature(STUB[name])
    bare = [parameter.replace(annotation=parameter.empty) for parameter in stub.parameters.values()]
    assert str(stub.replace(parameters=bare, return_annotation=stub.empty)) == getattr(core, name).__text_signature__


def conforms(value: object, hint: object) -> bool:
    """Whether a result is exactly of the type a stub declares (no subclass, no coercion)."""
    origin, args = typing.get_origin(hint), typing.get_args(hint)
    if hint in (float, bool):
        return type(value) is hint
    if origin is tuple:
        return type(value) is tuple and len(value) == len(args) and all(map(conforms, value, args))
    if origin is list:
        return type(value) is list and all(conforms(item, args[0]) for item in value)
    if origin in (np.ndarray, NDArray):  # NDArray[T] is an alias or a type statement
        (dtype,) = args if origin is NDArray else typing.get_args(args[1])
        return type(value) is np.ndarray and value.ndim == 1 and value.dtype == dtype
    raise AssertionError(f"no rule for {hint!r}")


def test_results_have_the_types_the_stubs_declare():
    from typed import usage

    results = usage.results()
    assert list(results) == core.__all__  # the usage file calls every function
    for name, value in results.items():
        hint = typing.get_type_hints(STUB[name])["return"]
        assert conforms(value, hint), name


@pytest.fixture(scope="module")
def mypy_report(tmp_path_factory):
    """mypy --strict over the typed usage file, the misuse file and the installed package."""
    pytest.importorskip("mypy")
    # mypy does not load lumetra's extension: it runs without the sanitizer runtime.
    env = {k: v for k, v in os.environ.items() if k not in ("LD_PRELOAD", "PYTHONMALLOC")}
    command = [
        sys.executable, "-m", "mypy", "--strict", "--no-error-summary", "--show-error-codes",
        "--cache-dir", str(tmp_path_factory.mktemp("mypy")),
        "-m", "usage", "-m", "misuse", "-p", "lumetra",
    ]  # fmt: skip
    result = subprocess.run(command, capture_output=True, text=True, env=env, cwd=TYPED, timeout=600)
    assert result.stderr == "", result.stderr
    return result.stdout


def test_typed_usage_and_the_package_pass_mypy_strict(mypy_report):
    others = [line for line in mypy_report.splitlines() if "misuse.py" not in line]
    assert others == []


def test_mypy_rejects_exactly_the_marked_misuses(mypy_report):
    marked = {
        number
        for number, line in enumerate((TYPED / "misuse.py").read_text().splitlines(), 1)
        if "  # error" in line  # two spaces: a comment after code
    }
    reported = {int(match.group(1)) for match in re.finditer(r"misuse\.py:(\d+): error:", mypy_report)}
    assert reported == marked


@pytest.mark.parametrize("protocol", range(2, pickle.HIGHEST_PROTOCOL + 1))
def test_functions_pickle_by_reference(protocol):
    for function in map(core.__dict__.get, core.__all__):
        payload = pickle.dumps(function, protocol)
        assert pickle.loads(payload) is function
        assert b"lumetra._core" in payload and len(payload) < 100  # a name, not code


def test_functions_pickle_by_reference_through_cloudpickle():
    cloudpickle = pytest.importorskip("cloudpickle")
    assert all(cloudpickle.loads(cloudpickle.dumps(f)) is f for f in map(core.__dict__.get, core.__all__))


def test_airline_passengers_is_the_shipped_monthly_series():
    months, y = airline_passengers()
    assert y.dtype == np.float64 and y.shape == (144,) and y.flags.c_contiguous
    assert (y[0], y[1], y[-1], y.sum()) == (112.0, 118.0, 432.0, 40363.0)
    expected = [f"{year}-{month:02d}" for year in range(1949, 1961) for month in range(1, 13)]
    assert months == expected
