"""The package as users meet it: installed files, type stubs, pickling, the shipped data."""

from __future__ import annotations

import ast
import doctest
import inspect
import itertools
import os
import pickle
import re
import subprocess
import sys
import typing
from importlib import metadata, resources
from pathlib import Path

import numpy as np
import pytest
from numpy.typing import NDArray

import lumetra
import lumetra._core as core
from lumetra.datasets import airline_passengers

import fuzz

TYPED, README = Path(__file__).parent / "typed", Path(__file__).parents[1] / "README.md"


STUB_TEXT = resources.files("lumetra").joinpath("_core.pyi").read_text()  # the installed stub file
STUB: dict[str, object] = {}  # executed as Python (its annotations are evaluated)
exec(compile(STUB_TEXT, "_core.pyi", "exec"), STUB)


# The README's names of the argument kinds, as the fuzzer's probes tell them apart (an ETS code takes a count).
KINDS = {
    "FA": "FA",
    "IA": "IA",
    "F": "F",
    "U": "U",
    "I32": "U",
    "B": "B",
    "sequence of FA": "Y",
    "sequence of 11-tuples": "P",
}


def test_stubs_and_the_readme_declare_exactly_the_modules_functions_and_signatures():
    package = resources.files("lumetra")
    assert Path(core.__file__).parent == Path(str(package))
    assert package.joinpath("py.typed").is_file() and package.joinpath("_core.pyi").is_file()
    assert STUB["__all__"] == core.__all__
    assert [name for name, value in STUB.items() if inspect.isfunction(value)] == core.__all__
    # the README's table of functions (in a checkout): each parameter with its kind, or "as `dot_objective`"
    readme = README.read_text() if README.is_file() else ""
    rows = dict(re.findall(r"^\| `(\w+)` \| (.+?) \|", readme, re.M))
    assert list(rows) == (core.__all__ if readme else [])
    # the same names, kinds and defaults (none) as the function's own "(y, alpha)"
    for name in core.__all__:
        stub = inspect.signature(STUB[name])
        bare = [
            parameter.replace(annotation=parameter.empty) for parameter in stub.parameters.values()
        ]
        assert (
            str(stub.replace(parameters=bare, return_annotation=stub.empty))
            == getattr(core, name).__text_signature__
        )
        if readme:
            same_as = re.fullmatch(r"(?:the parameters of|as) `(\w+)`", rows[name])
            documented = re.findall(
                r"`(\w+)` ([^,]+)",
                re.sub(r" \([^()]*\)", "", rows[same_as[1] if same_as else name]),
            )
            assert [(p, KINDS[k]) for p, k in documented] == list(
                zip(stub.parameters, fuzz.kinds_of(getattr(core, name)))
            ), name


@pytest.mark.parametrize("name", core.__all__)
def test_stub_docstring_documents_each_parameter_and_its_examples_hold(name):
    """The help IDEs show: numpydoc sections, the parameters in signature order, and examples whose
    output is the compiled module's (a trailing "..." stands for digits that may vary)."""
    node = next(
        n for n in ast.parse(STUB_TEXT).body if isinstance(n, ast.FunctionDef) and n.name == name
    )
    text = ast.get_docstring(node) or ""
    sections = dict(re.findall(r"^(\w[\w ]*)\n-+\n(.*?)(?=^\w[\w ]*\n-+\n|\Z)", text, re.M | re.S))
    assert {"Parameters", "Returns", "Raises", "Examples"} <= set(sections), name
    documented = [
        p
        for line in re.findall(r"^\S.*$", sections["Parameters"], re.M)
        for p in line.split(" : ")[0].split(", ")
    ]
    assert documented == list(inspect.signature(getattr(core, name)).parameters)
    globs = {"np": np} | {function: getattr(core, function) for function in core.__all__}
    test = doctest.DocTestParser().get_doctest(text, globs, name, "_core.pyi", node.lineno)
    runner, report = (
        doctest.DocTestRunner(optionflags=doctest.ELLIPSIS | doctest.NORMALIZE_WHITESPACE),
        [],
    )
    runner.run(test, out=report.append)
    assert runner.tries > 0 and runner.failures == 0, "".join(report)


def test_version_comes_from_the_installed_metadata():
    assert lumetra.__version__ == metadata.version("lumetra") and re.fullmatch(
        r"\d+\.\d+\.\d+\S*", lumetra.__version__
    )


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


def test_typed_usage_and_the_package_pass_mypy_strict_and_exactly_the_marked_misuses_fail(tmp_path):
    pytest.importorskip("mypy")
    # mypy does not load lumetra's extension: it runs without the sanitizer runtime.
    env = {k: v for k, v in os.environ.items() if k not in ("LD_PRELOAD", "PYTHONMALLOC")}
    command = [
        sys.executable,
        "-m",
        "mypy",
        "--strict",
        "--no-error-summary",
        "--show-error-codes",
        "--cache-dir",
        str(tmp_path),
        "-m",
        "usage",
        "-m",
        "misuse",
        "-p",
        "lumetra",
    ]
    result = subprocess.run(
        command, capture_output=True, text=True, env=env, cwd=TYPED, timeout=600
    )
    assert result.stderr == "", result.stderr
    assert [line for line in result.stdout.splitlines() if "misuse.py" not in line] == []
    lines = (TYPED / "misuse.py").read_text().splitlines()
    # two spaces: after code
    marked = {number for number, line in enumerate(lines, 1) if "  # error" in line}
    assert {
        int(match) for match in re.findall(r"misuse\.py:(\d+): error:", result.stdout)
    } == marked


def test_functions_pickle_by_reference():
    functions = [getattr(core, name) for name in core.__all__]
    for function, protocol in itertools.product(functions, range(2, pickle.HIGHEST_PROTOCOL + 1)):
        payload = pickle.dumps(function, protocol)
        # a name
        assert (
            pickle.loads(payload) is function and b"lumetra._core" in payload and len(payload) < 100
        )
    cloudpickle = pytest.importorskip("cloudpickle")  # as Dask sends them
    assert all(cloudpickle.loads(cloudpickle.dumps(f)) is f for f in functions)


def test_airline_passengers_is_the_shipped_monthly_series():
    months, y = airline_passengers()
    assert y.dtype == np.float64 and y.shape == (144,) and y.flags.c_contiguous
    assert (y[0], y[1], y[-1], y.sum()) == (112.0, 118.0, 432.0, 40363.0)
    expected = [f"{year}-{month:02d}" for year in range(1949, 1961) for month in range(1, 13)]
    assert months == expected
