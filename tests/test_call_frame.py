"""The call frame every function shares: binding, argument kinds, results, failures. The simple-smoothing
functions stand in for all others; kinds that they do not use are tested with the first function that does.
Every array layout is tested with every function in test_layouts.py."""

from __future__ import annotations

import collections
import functools
import gc
import inspect
import itertools
import os
import re
import subprocess
import sys
import textwrap

import numpy as np
import pytest

import lumetra._core as core

import fuzz
from helpers import every_layout, named, obj, panic_type, raised, raiser, same_bits, shown

Y = np.array([1.0, 2.0, 3.0])


def run_python(code: str) -> list[str]:
    result = subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True, timeout=120
    )
    assert result.returncode == 0, result.stderr
    return result.stdout.splitlines()


# --- the module ------------------------------------------------------------------


def test_module_holds_its_functions_in_registration_order():
    # __all__ and the functions' own order in the module both come from the registration table
    assert (
        isinstance(core.__all__, list)
        and [name for name in vars(core) if name[0] != "_"] == core.__all__
    )
    assert core.__doc__ == "" and not hasattr(core, "PanicException")


def test_second_initialisation_returns_the_same_module_and_subinterpreters_are_refused():
    module, kind, message = run_python(
        """
        import _interpreters, importlib, sys
        import lumetra._core as first
        del sys.modules["lumetra._core"]
        assert importlib.import_module("lumetra._core") is first
        failure = _interpreters.run_string(_interpreters.create("legacy"), "import lumetra._core")
        print(first.ses_sse.__module__, failure.type.__name__, failure.msg.replace("\\n", " "), sep="\\n")
        """
    )
    assert (module, kind) == (
        "lumetra._core",
        "ImportError",
    ) and "subinterpreters are not supported" in message


def test_missing_numpy_is_an_internal_failure_and_the_module_loads_without_it():
    report = run_python(
        """
        import gc, sys
        sys.modules["numpy"] = None  # any import of numpy now fails
        import lumetra._core as core
        def import_errors():
            return sum(isinstance(o, ImportError) for o in gc.get_objects())
        reports, before = set(), import_errors()
        for _ in range(100):  # each call tries again, fails the same way and keeps nothing of the failed import
            try:
                core.ses_sse([1.0], 0.5)
            except BaseException as exc:
                reports.add(f"{type(exc).__name__} {str(exc).split(':')[0]}")
        print(*reports, import_errors() - before)
        """
    )
    assert report == ["PanicException Failed to access NumPy array API capsule 0"]


def test_each_way_numpy_can_fail_to_give_its_array_api_is_an_internal_failure():
    reports = run_python(
        """
        import datetime, sys, types
        import lumetra._core as core
        def fake(name, **attributes):
            sys.modules[name] = types.ModuleType(name)
            vars(sys.modules[name]).update(attributes)
        Unprintable = type("Unprintable", (Exception,), {"__str__": lambda self: 1 / 0})
        Surrogate = type("Surrogate", (Exception,), {"__str__": lambda self: "\\ud800"})
        def version(major=None, error=None):
            def parse(text):
                if error:
                    raise error
                return types.SimpleNamespace(major=major)
            return parse
        steps = [lambda: fake("numpy"), lambda: fake("numpy", __version__="2.0"),
                 lambda: fake("numpy.lib", NumpyVersion=None), lambda: fake("numpy.lib", NumpyVersion=str),
                 lambda: fake("numpy.lib", NumpyVersion=version()),
                 lambda: fake("numpy.lib", NumpyVersion=version(error=Unprintable())),
                 lambda: fake("numpy.lib", NumpyVersion=version(error=Surrogate())),
                 lambda: fake("numpy.lib", NumpyVersion=version(major=1)), lambda: fake("numpy.core.multiarray"),
                 lambda: fake("numpy.core.multiarray", _ARRAY_API=1),
                 lambda: fake("numpy.core.multiarray", _ARRAY_API=datetime.datetime_CAPI)]
        for step in steps:
            step()
            try:
                core.ses_sse(None, 0.5)
            except BaseException as exc:
                print(type(exc).__name__, str(exc).removeprefix("Failed to access NumPy array API capsule"))
        try:
            core.batch_ets_filter(None, [])  # that may be a 2-d array: NumPy is asked
        except BaseException as exc:
            print(type(exc).__name__, str(exc).removeprefix("Failed to access NumPy array API capsule"))
        """
    )
    no = "No module named"
    assert reports == [
        f"PanicException {detail}"
        for detail in [
            ": module 'numpy' has no attribute '__version__'",
            f": {no} 'numpy.lib'; 'numpy' is not a package",
            ": 'NoneType' object is not callable",
            ": 'str' object has no attribute 'major'",
            ": 'NoneType' object cannot be interpreted as an integer",
            "",
            "",
            f": {no} 'numpy.core'; 'numpy' is not a package",
            ": module 'numpy.core.multiarray' has no attribute '_ARRAY_API'",
            ": _ARRAY_API is not a capsule",
            ": PyCapsule_GetPointer called with incorrect name",
            ": PyCapsule_GetPointer called with incorrect name",
        ]
    ]


# --- binding ---------------------------------------------------------------------


@pytest.mark.parametrize("name", core.__all__)
def test_binding_fails_as_for_a_python_def_of_the_signature(name):
    """Parameters are positional-or-keyword and required, and a call that cannot bind fails with a Python def's
    TypeError, before any argument is converted, but with surplus positionals reported before any keyword is
    looked at, and without a suggestion for a misspelt keyword."""
    function, definition = getattr(core, name), {}
    signature = inspect.signature(function)
    parameters, count = list(signature.parameters), len(signature.parameters)
    assert function.__doc__ is None and function.__text_signature__ == str(signature)
    assert all(
        p.kind is p.POSITIONAL_OR_KEYWORD and p.default is p.empty
        for p in signature.parameters.values()
    )
    exec(f"def {name}{signature}: pass", definition)
    patterns = [
        {},
        {"surplus": 0},
        {parameters[0]: 0},
        {parameters[-1]: 0, parameters[-1].upper(): 0},
    ]
    for n, keywords in itertools.product(range(count + 2), patterns):
        # every other n: the rest too
        keywords = keywords | ({p: 0 for p in parameters[n + 1 :]} if n % 2 else {})
        args = ("not converted",) * n
        try:
            definition[name](*args[: count + 1], **({} if n > count else keywords))
        except TypeError as exc:
            assert raised(function, *args, **keywords) == (
                TypeError,
                str(exc).split(". Did you mean")[0],
            )


def test_position_and_keyword_bind_the_same_parameters():
    # names made at run time are not the interned constants of a call site
    run_time = {"".join(["al", "pha"]): 0.5, "y": Y}
    assert (
        core.ses_sse(y=Y, alpha=0.5)
        == core.ses_sse(alpha=0.5, y=Y)
        == core.ses_sse(**run_time)
        == 3.25
    )


# --- argument kinds: each accepted spelling converts like the plain value ----------


def level(alpha):
    """ses_filter's second level is alpha * 1 + (1 - alpha) * 0: alpha itself."""
    return core.ses_filter(np.array([0.0, 1.0]), alpha)


def garch_with_ar1(flag):
    # the AR(1) term changes the score of this series: 3.0 without it
    return core.garch_filter(np.array([1.0, -1.0, 2.0]), 0.0, 0.1, 0.1, 0.8, 1.0, flag, 0.5)


def fitted_with_lengths(lengths):
    f = np.array
    return core.four_theta_fitted(
        4,
        f([2.0, 3.0]),
        f([0.0, 1.0]),
        f([1.0, 0.5]),
        f([1.0, 0.5]),
        f([1.0, 2.0, 3.0, 4.0, 5.0]),
        lengths,
        f([7.0, 9.0]),
    )


def ets(name, function=core.ets_filter):
    """ets_filter with one argument given, on a series on which period and error_type both show."""
    args = dict(
        y=Y,
        level0=1.0,
        trend0=0.0,
        seasonal0=np.array([0.1, 0.2, 0.3]),
        alpha=0.5,
        beta=0.0,
        gamma=0.5,
        phi=1.0,
        period=3,
        error_type=0,
        trend_type=0,
        seasonal_type=1,
    )

    def call(value):
        return function(**{**args, name: value})

    call.__name__ = f"{function.__name__}({name}=...)"
    return call


def test_the_arguments_show_in_the_results():
    assert level(0.75)[1] == 0.75 and garch_with_ar1(False) == 3.0 != garch_with_ar1(True)
    assert not same_bits(
        fitted_with_lengths(np.array([2, 3])), fitted_with_lengths(np.array([3, 2]))
    )


INDEXY = obj(__index__=lambda self: 2)
PARAMS = (1.0, 0.0, [0.5, -0.5], 0.3, 0.0, 0.1, 1.0, 2, 0, 0, 1)
Y124 = np.array([1.0, 2.0, 4.0])


def with_item(index, value):
    return PARAMS[:index] + (value,) + PARAMS[index + 1 :]


@pytest.mark.parametrize(
    "call, value, same_as",
    named(
        [
            *[
                (level, value, same_as)
                for value, same_as in [
                    (2, 2.0),
                    (True, 1.0),
                    (np.float32(0.25), 0.25),
                    (np.int64(3), 3.0),
                    (obj(__float__=lambda s: 0.75), 0.75),
                    (INDEXY, 2.0),
                    (np.float64(0.5), 0.5),
                ]
            ],
            *[
                (garch_with_ar1, flag, same_as)
                for flag, same_as in [
                    (np.bool_(True), True),
                    (np.bool_(False), False),
                    (obj("bool", "numpy", __bool__=lambda s: True), True),
                    (obj("bool_", "numpy", __bool__=lambda s: False), False),
                ]
            ],
            *[
                (ets("period"), value, same_as)
                for value, same_as in [
                    (True, 1),
                    (np.int64(3), 3),
                    (INDEXY, 2),
                    (2**64 - 1, 2**64 - 1),
                ]
            ],
            *[
                (ets("error_type"), value, same_as)
                for value, same_as in [
                    (True, 1),
                    (np.int32(-7), -7),
                    (INDEXY, 2),
                    (-(2**31), -(2**31)),
                    (2**31 - 1, 2**31 - 1),
                ]
            ],
            (
                fitted_with_lengths,
                np.array([2, 3], dtype=np.longlong),
                np.array([2, 3], dtype=np.int64),
            ),
            # the sequence and tuple kinds take their whole family (Seq: __getitem__ alone, and a __len__ that overstates)
            *[
                (lambda y_list: core.batch_ets_filter(y_list, [PARAMS]), value, [Y124])
                for value in ((Y124,), Y124[None, :], fuzz.Seq([Y124]))
            ],
            *[
                (lambda params: core.batch_ets_filter([Y124], params), value, [PARAMS])
                for value in [
                    (PARAMS,),
                    fuzz.Seq([PARAMS]),
                    [
                        collections.namedtuple("Params", "l b s alpha beta gamma phi p e t s_")(
                            *PARAMS
                        )
                    ],
                ]
            ],
            *[
                (
                    lambda seasonal: core.batch_ets_filter([Y124], [with_item(2, seasonal)]),
                    value,
                    [0.5, -0.5],
                )
                for value in [(0.5, -0.5), np.array([0.5, -0.5]), fuzz.Seq([0.5, np.float32(-0.5)])]
            ],
        ],
        lambda call, value, same_as: f"{shown(call)}: {shown(value)}",
    ),
)
def test_accepted_spellings(call, value, same_as):
    assert same_bits(call(value), call(same_as))


SEASONAL = np.array([0.5, -0.5, np.nan, 2.0])
SWAPPED = ">" if sys.byteorder == "little" else "<"
Negated = type(
    "Negated", (np.ndarray,), {"__getitem__": lambda s, i: -np.ndarray.__getitem__(s, i)}
)


def seasonal_outcome(seasonal, alpha=PARAMS[3]):
    try:
        return core.batch_ets_filter([Y124], [(*PARAMS[:2], seasonal, alpha, *PARAMS[4:])])
    except TypeError as error:
        return str(error)


# NumPy's warnings about converting a masked item or a 1-element row
@pytest.mark.filterwarnings("ignore")
@pytest.mark.parametrize(
    "seasonal",
    [
        *(pytest.param(array, id=layout) for layout, array in every_layout(SEASONAL).items()),
        pytest.param(np.broadcast_to(SEASONAL[:1], 4), id="broadcast"),
        pytest.param(SEASONAL.astype(SWAPPED + "f8"), id="byte-swapped"),
        pytest.param(SEASONAL.astype(np.float32), id="float32"),
        pytest.param(np.ma.masked_array(SEASONAL, [0, 1, 0, 0]), id="masked"),
        pytest.param(SEASONAL.view(Negated), id="subclass with other items"),
        pytest.param(SEASONAL[None], id="one row"),
        pytest.param(SEASONAL[:1, None], id="one column"),
        pytest.param(np.array(0.5), id="0-d"),
    ],
)
def test_a_seasonal_array_converts_as_its_items_do(seasonal):
    """A float64 array is read in one pass (a subclass whose items differ from its elements, a byte-swapped or other
    array, is iterated): the values and the errors are those of the items its iteration yields."""
    items = list(seasonal) if seasonal.ndim else None
    expected = (
        seasonal_outcome(items)
        if seasonal.ndim
        else "argument 'params_list': iteration over a 0-d array"
    )
    assert same_bits(seasonal_outcome(seasonal), expected)


# NumPy deprecates changing an array in place
@pytest.mark.filterwarnings("ignore::DeprecationWarning")
@pytest.mark.parametrize(
    "change",
    [
        pytest.param(lambda s: s.fill(9.0), id="filled"),
        pytest.param(lambda s: setattr(s, "dtype", np.float32), id="dtype float32"),
        pytest.param(lambda s: setattr(s, "shape", (2, 2)), id="shape (2, 2)"),
    ],
)
def test_a_seasonal_array_is_read_when_its_item_is_converted(change):
    seasonal = SEASONAL.copy()
    later = obj(__float__=lambda self: (change(seasonal), PARAMS[3])[1])
    assert same_bits(seasonal_outcome(seasonal, later), seasonal_outcome(SEASONAL.copy()))


# --- argument kinds: refusals, with the exact type and message ---------------------


sse_y, sse_alpha = functools.partial(core.ses_sse, alpha=0.5), functools.partial(core.ses_sse, Y)


def batch(args):
    return core.batch_ets_filter(*args)


SubArray = type("SubArray", (np.ndarray,), {})
# made where __name__ is unknown
NAMELESS = eval("type('bool', (), {})()", {"__builtins__": __builtins__})
WRONG_FLOATS, WRONG_INTS = (
    [np.float32, np.int64, object, SWAPPED + "f8"],
    [np.int32, np.uint64, SWAPPED + "i8"],
)
CONVERTED = "object cannot be converted to"


def refused(message, call):
    """The argument that a refusal names, or else the call (for a test's id)."""
    match = re.match(r"argument '(\w+)'", message)
    return match[1] if match else shown(call)


SEQUENCE = "a str cannot be taken as a sequence; pass a list, a tuple or an array"
NO_INT = "object cannot be interpreted as an integer"
OUT_OF_RANGE = "out of range integral type conversion attempted"
LENGTH = "expected tuple of length 11, but got tuple of length"
NEGATIVE = "can't convert negative int to unsigned"
LIST = f"'list' {CONVERTED} 'PyArray<T, D>'"


@pytest.mark.parametrize(
    "call, value, kind, message",
    named(
        [
            (sse_alpha, "2", TypeError, "argument 'alpha': must be real number, not str"),
            (sse_alpha, 10**400, OverflowError, "int too large to convert to float"),
            (sse_alpha, obj(__float__=raiser(ValueError("bad value"))), ValueError, "bad value"),
            *[
                (
                    garch_with_ar1,
                    v,
                    TypeError,
                    f"argument 'use_ar1': '{type(v).__qualname__}' {CONVERTED} 'PyBool'",
                )
                for v in (1, 0, None, "True", 1.0, np.array(True), obj("bool_"))
            ],
            (
                garch_with_ar1,
                obj("bool_", "numpy"),
                TypeError,
                "argument 'use_ar1': object of type '<class 'numpy.bool_'>' does not define a '__bool__' conversion",
            ),
            *[
                (
                    call,
                    value,
                    TypeError,
                    f"argument '{name}': '{type(value).__name__}' {CONVERTED} 'PyArray<T, D>'",
                )
                for call, name, values in [
                    (
                        sse_y,
                        "y",
                        [
                            [1.0, 2.0],
                            (1.0, 2.0),
                            None,
                            2.0,
                            np.float64(1.0),
                            np.array([[1.0]]).view(SubArray),
                            *map(np.array, [[[1.0]], 1.0]),
                            *(np.array([1, 2], dtype=t) for t in WRONG_FLOATS),
                        ],
                    ),
                    (
                        fitted_with_lengths,
                        "filtered_lengths",
                        [
                            [2, 3],
                            np.int64(2),
                            *map(np.array, [[2.0], [[2]], 2]),
                            *(np.array([1, 2], dtype=t) for t in WRONG_INTS),
                        ],
                    ),
                ]
                for value in values
            ],
            # the first faulty argument decides, in parameter order, whatever the keyword order
            (lambda y: core.ses_sse(y, "not a float"), [1.0], TypeError, f"argument 'y': {LIST}"),
            (lambda y: core.ses_sse(alpha="x", y=y), [1.0], TypeError, f"argument 'y': {LIST}"),
            *[
                (ets(name, core.ets_loglik), value, kind, message)
                for name, value, kind, message in [
                    ("period", -1, OverflowError, NEGATIVE),
                    ("period", 2**64, OverflowError, "int too big to convert"),
                    ("period", 3.0, TypeError, f"argument 'period': 'float' {NO_INT}"),
                    ("error_type", 2**31, OverflowError, OUT_OF_RANGE),
                    ("error_type", -(2**31) - 1, OverflowError, OUT_OF_RANGE),
                    (
                        "error_type",
                        2**63,
                        OverflowError,
                        "Python int too large to convert to C long",
                    ),
                    ("error_type", 1.0, TypeError, f"argument 'error_type': 'float' {NO_INT}"),
                    ("trend_type", None, TypeError, f"argument 'trend_type': 'NoneType' {NO_INT}"),
                ]
            ],
            *[
                (batch, value, kind, message)
                for value, kind, message in [
                    (
                        ({"a": Y}, []),
                        TypeError,
                        f"argument 'y_list': 'dict' {CONVERTED} 'Sequence'",
                    ),
                    (
                        ((y for y in [Y]), []),
                        TypeError,
                        f"argument 'y_list': 'generator' {CONVERTED} 'Sequence'",
                    ),
                    ((3, []), TypeError, f"argument 'y_list': 'int' {CONVERTED} 'Sequence'"),
                    (("abc", []), TypeError, f"argument 'y_list': {SEQUENCE}"),
                    (([Y, [1.0]], []), TypeError, f"argument 'y_list': {LIST}"),
                    (
                        ([], [PARAMS, PARAMS[:10]]),
                        TypeError,
                        f"argument 'params_list': {LENGTH} 10",
                    ),
                    (([], [PARAMS + (1,)]), TypeError, f"argument 'params_list': {LENGTH} 12"),
                    (
                        ([], [list(PARAMS)]),
                        TypeError,
                        f"argument 'params_list': 'list' {CONVERTED} 'PyTuple'",
                    ),
                    (([], [with_item(2, "ab")]), TypeError, f"argument 'params_list': {SEQUENCE}"),
                    (
                        ([], [with_item(2, {0.5})]),
                        TypeError,
                        f"argument 'params_list': 'set' {CONVERTED} 'Sequence'",
                    ),
                    (
                        ([], [with_item(2, [0.5, "x"])]),
                        TypeError,
                        "argument 'params_list': must be real number, not str",
                    ),
                    (
                        ([], [with_item(3, obj(__float__=raiser(ValueError("bad alpha"))))]),
                        ValueError,
                        "bad alpha",
                    ),
                    (([], [with_item(7, -1)]), OverflowError, NEGATIVE),
                    (([], [with_item(8, 2**31)]), OverflowError, OUT_OF_RANGE),
                    # every item is converted, also those past the shorter list
                    (
                        ([Y], [PARAMS, PARAMS, with_item(9, 1.5)]),
                        TypeError,
                        f"argument 'params_list': 'float' {NO_INT}",
                    ),
                    # y_list is converted before params_list
                    (
                        ([None], [None]),
                        TypeError,
                        f"argument 'y_list': 'NoneType' {CONVERTED} 'PyArray<T, D>'",
                    ),
                ]
            ],
            # a boolean look-alike whose module is no name or cannot be told, or whose truth value raises
            *[
                (
                    garch_with_ar1,
                    flag,
                    TypeError,
                    f"argument 'use_ar1': 'bool' {CONVERTED} 'PyBool'",
                )
                for flag in [obj("bool", 3), NAMELESS]
            ],
            (
                garch_with_ar1,
                obj("bool", "numpy", __bool__=raiser(ValueError("no truth"))),
                ValueError,
                "no truth",
            ),
        ],
        lambda call, value, kind, message: (
            f"{refused(message, call)}: {shown(value)}, {kind.__name__}"
        ),
    ),
)
def test_refusals(call, value, kind, message):
    assert raised(call, value) == (kind, message)


def test_prefix_keeps_the_cause_and_subclasses_pass_unprefixed():
    exc = TypeError("no float here")
    exc.__cause__ = cause = ValueError("underlying")
    with pytest.raises(TypeError) as info:
        sse_alpha(obj(__float__=raiser(exc)))
    assert str(info.value) == "argument 'alpha': no float here" and info.value.__cause__ is cause
    subclass = type("SubTypeError", (TypeError,), {})
    assert raised(sse_alpha, obj(__float__=raiser(subclass("subclass")))) == (subclass, "subclass")
    # a message that cannot be made into text: what making it raised comes instead
    unprintable = TypeError(obj(__str__=raiser(ValueError("no text"))))
    assert raised(sse_alpha, obj(__float__=raiser(unprintable))) == (ValueError, "no text")


ListSubclass = type(
    "ListSubclass", (list,), {"__doc__": "Read through the iterator protocol, not by index."}
)


@pytest.mark.parametrize("list_type", [list, ListSubclass])
@pytest.mark.parametrize(
    "target, mutation, seasonal_read, taken",
    [
        pytest.param(
            "seasonal",
            lambda s: s.append(7.0),
            [1.0, 0.5, 3.0, 7.0],
            3,
            id="seasonal: items appended are read",
        ),
        pytest.param(
            "seasonal",
            lambda s: s.clear(),
            [1.0, 0.5],
            3,
            id="seasonal: the sequence ends where the list now ends",
        ),
        pytest.param(
            "seasonal",
            lambda s: s.__setitem__(2, 9.0),
            [1.0, 0.5, 9.0],
            3,
            id="seasonal: later items are read as they are then",
        ),
        # the lists held the only other references to their items: the series taken are held to the end
        pytest.param(
            "y_list",
            lambda s: (s.clear(), gc.collect()),
            [1.0, 0.5, 3.0],
            3,
            id="y_list emptied: the series taken are held",
        ),
        pytest.param(
            "params_list",
            lambda s: (s.clear(), gc.collect()),
            [1.0, 0.5, 3.0],
            1,
            id="params_list emptied: the tuples taken are held",
        ),
    ],
)
def test_a_list_changed_during_its_conversion_is_read_as_its_iterator_reads_it(
    list_type, target, mutation, seasonal_read, taken
):
    lists = {
        "seasonal": list_type([1.0]),
        "y_list": list_type(np.arange(1.0, 6.0) * k for k in range(1, 4)),
    }
    lists["seasonal"] += [obj(__float__=lambda self: (mutation(lists[target]), 0.5)[1]), 3.0]
    lists["params_list"] = list_type([with_item(2, lists["seasonal"]), PARAMS, PARAMS])
    y_list, read = lists["y_list"], [seasonal_read, PARAMS[2], PARAMS[2]][:taken]
    expected = [
        core.ets_filter(y.copy(), *PARAMS[:2], np.array(s), *PARAMS[3:])
        for y, s in zip(y_list, read)
    ]
    before = list(map(sys.getrefcount, y_list))
    assert same_bits(core.batch_ets_filter(y_list, lists["params_list"]), expected)
    assert list(map(sys.getrefcount, y_list)) == before[: len(y_list)]


# NumPy deprecates changing an array in place
@pytest.mark.filterwarnings("ignore::DeprecationWarning")
@pytest.mark.parametrize(
    "change",
    [{"dtype": np.float32}, {"dtype": np.int8}, {"shape": (4, 4)}, {"strides": (8,)}],
    ids=shown,
)
@pytest.mark.parametrize(
    "call, name",
    [
        pytest.param(core.ses_sse, "y", id="ses_sse"),
        pytest.param(lambda y, a: batch(([y], [with_item(3, a)])), "y_list", id="batch_ets_filter"),
    ],
)
def test_an_array_changed_by_a_later_conversion_is_checked_and_read_again(call, name, change):
    """Python code run by a later conversion may change an array already accepted: it is refused as its conversion
    would refuse it then, or read in its new layout (the first 16 of 32 values), never past the end of its buffer."""
    y = np.arange(32.0)[:: 2 if "strides" in change else 1][:16]
    later = obj(__float__=lambda self: [setattr(y, *item) for item in change.items()] and 0.5)
    if "strides" in change:
        assert same_bits(call(y, later), call(np.arange(16.0), 0.5))
    else:
        assert raised(call, y, later) == (
            TypeError,
            f"argument '{name}': 'ndarray' {CONVERTED} 'PyArray<T, D>'",
        )


# list and tuple subclasses that iterate in their own way: their iteration is what is read
Backwards = type("Backwards", (list,), {"__iter__": lambda s: reversed(list(list.__iter__(s)))})
BackwardsTuple = type(
    "BackwardsTuple", (tuple,), {"__iter__": lambda s: reversed(tuple(tuple.__iter__(s)))}
)


@pytest.mark.parametrize("kind", [Backwards, BackwardsTuple])
@pytest.mark.parametrize("place", ["y_list", "params_list", "seasonal0"])
def test_list_and_tuple_subclasses_are_read_through_their_own_iteration(kind, place):
    y_list = [Y124 * k for k in (1.0, 2.0, 3.0)]
    params_list = [with_item(3, alpha) for alpha in (0.1, 0.5, 0.9)]
    seasonal = [0.5, -0.5]
    values = {"y_list": y_list, "params_list": params_list, "seasonal0": seasonal}

    def call(value):
        given = {**values, place: value}
        return core.batch_ets_filter(
            given["y_list"],
            [with_item(2, given["seasonal0"])[:3] + p[3:] for p in given["params_list"]],
        )

    subclass = kind(values[place])
    assert same_bits(call(subclass), call(list(subclass))) and not same_bits(
        call(subclass), call(values[place])
    )


def test_a_tuple_subclass_of_parameters_is_read_by_position():
    params = BackwardsTuple(PARAMS)
    assert same_bits(
        core.batch_ets_filter([Y124], [params]), core.batch_ets_filter([Y124], [PARAMS])
    )


@pytest.mark.filterwarnings("ignore::DeprecationWarning")
@pytest.mark.parametrize("shape", [(3, 5), (4, 5), (3, 4), (2, 5), (15,), (5, 3)], ids=shown)
def test_a_2d_y_list_resized_by_a_later_conversion_is_read_as_it_is_then(shape):
    """The rows of a 2-d y_list are taken from the array after the last conversion, which may have resized it in
    place (refcheck=False, NumPy's unsafe resize) and freed the memory its rows were in: the three rows are then
    read from the resized array, or refused when it no longer has them."""
    rows = np.arange(15.0).reshape(3, 5) + 1.0
    later = obj(__float__=lambda self: (rows.resize(shape, refcheck=False), 0.3)[1])
    params = [with_item(3, later), with_item(3, 0.3), with_item(3, 0.3)]
    # the values resize leaves (new places hold zeros)
    resized = np.resize(np.arange(15.0) + 1.0, shape)
    resized.ravel()[15:] = 0.0
    if len(shape) == 2 and shape[0] >= 3:
        expected = core.batch_ets_filter(resized, [with_item(3, 0.3)] * 3)
        assert same_bits(core.batch_ets_filter(rows, params), expected)
    else:
        assert raised(core.batch_ets_filter, rows, params) == (
            TypeError,
            f"argument 'y_list': 'ndarray' {CONVERTED} 'PyArray<T, D>'",
        )


Reversed = type(
    "Reversed", (np.ndarray,), {"__iter__": lambda s: reversed(list(np.ndarray.__iter__(s)))}
)


Indexed = type("Indexed", (np.ndarray,), {"__getitem__": lambda s, i: np.ndarray.__getitem__(s, i)})


def matrix_layouts(rows: np.ndarray) -> dict[str, np.ndarray]:
    """A 2-d array of the given rows laid out in every way it may come."""
    unaligned = np.zeros(rows.nbytes + 1, np.uint8)[1:].view(rows.dtype).reshape(rows.shape)
    unaligned[:] = rows
    records = np.zeros(rows.shape, dtype=[("x", rows.dtype), ("flag", "i1")])
    records["x"] = rows
    reversed_rows = np.ascontiguousarray(rows[::-1])[::-1]
    return {
        "contiguous": rows.copy(),
        "fortran": np.asfortranarray(rows),
        "reversed": reversed_rows[:, ::-1][:, ::-1],
        "columns reversed": np.ascontiguousarray(rows[:, ::-1])[:, ::-1],
        "unaligned": unaligned,
        "record field": records["x"],
        "broadcast": np.broadcast_to(rows[0], rows.shape),
        "subclass": rows.copy().view(SubArray),
        "one row": rows[:1],
        "no columns": rows[:, :0],
        "no rows": rows[:0],
        "single column": rows[:, :1],
        "unaligned single column": unaligned[:, :1],
        "unaligned no rows": unaligned[:0],
        "unaligned no columns": unaligned[:, :0],
        "byte-swapped": rows.astype(">f8"),
        "float32": rows.astype(np.float32),
        # a subclass with its own indexing but ndarray's iteration is iterated, too
        "indexing subclass": rows.copy().view(Indexed),
    }


@pytest.mark.parametrize("layout", list(matrix_layouts(np.zeros((3, 4)))))
def test_a_2d_y_list_reads_like_the_list_of_its_rows(layout):
    rows = np.random.default_rng(3).uniform(1.0, 9.0, (3, 4))
    given = matrix_layouts(rows)[layout]
    if given.dtype != np.float64 or not given.dtype.isnative:
        # refused as its rows are refused
        expected = raised(core.batch_ets_filter, [row.copy() for row in given], [PARAMS] * 3)
        assert raised(core.batch_ets_filter, given, [PARAMS] * 3) == expected
        return
    expected = core.batch_ets_filter([row.copy() for row in given], [PARAMS] * 3)
    assert same_bits(core.batch_ets_filter(given, [PARAMS] * 3), expected)
    # a subclass with its own iteration is iterated
    backwards = given.view(Reversed)
    assert same_bits(core.batch_ets_filter(backwards, [PARAMS] * 3), expected[: len(given)][::-1])


def test_the_first_call_of_a_process_reads_its_sequences_before_numpy_is_loaded():
    assert run_python(
        """
        import lumetra._core as core
        print(core.batch_ets_filter([], [(1.0, 0.0, (0.5, 1), 0.3, 0.0, 0.1, 1.0, 2, 0, 0, 1)]))
        """
    ) == ["[]"]


# 256 TiB of doubles, held in eight bytes: no result of its size can be made
HUGE = np.broadcast_to(0.0, 2**45)
E = np.empty(0)
# AddressSanitizer lets a refused malloc return null, but ends the process when operator new is refused
BY_NEW = pytest.mark.skipif(
    "libasan" in os.environ.get("LD_PRELOAD", ""), reason="operator new under ASan"
)


@pytest.mark.parametrize(
    "call",
    [
        pytest.param(
            lambda: core.ets_filter(HUGE, 1.0, 0.0, E, 0.5, 0.1, 0.1, 1.0, 1, 0, 0, 0),
            id="ets_filter y",
        ),
        pytest.param(
            lambda: core.ets_filter(Y, 1.0, 0.0, HUGE, 0.5, 0.1, 0.1, 1.0, 1, 0, 0, 1),
            id="ets_filter's seasonal copy",
        ),
        pytest.param(
            lambda: core.ets_loglik(Y, 1.0, 0.0, HUGE, 0.5, 0.1, 0.1, 1.0, 1, 0, 0, 1),
            marks=BY_NEW,
            id="ets_loglik's seasonal copy",
        ),
        pytest.param(
            lambda: core.ces_seasonal_sse(Y, 1.0, 0.5, 0.1, HUGE, 3), id="ces_seasonal_sse"
        ),
        pytest.param(lambda: core.theta_decompose(HUGE, 2.0), id="theta_decompose"),
        pytest.param(lambda: core.ses_filter(HUGE, 0.5), id="ses_filter"),
        pytest.param(lambda: core.batch_ets_filter([HUGE], [PARAMS]), id="batch_ets_filter y"),
        pytest.param(
            lambda: core.batch_ets_filter([Y], [with_item(2, HUGE)]),
            marks=BY_NEW,
            id="batch_ets_filter's seasonal copy",
        ),
        pytest.param(
            lambda: core.batch_ets_filter(np.broadcast_to(0.0, (2**59, 1)), [PARAMS]),
            id="batch_ets_filter: more rows than views fit",
        ),
        pytest.param(lambda: core.dot_residuals(HUGE, 0.5, 0.1, 2.0, 0.5, 0.0), id="dot_residuals"),
        pytest.param(
            lambda: core.dtsf_distances(HUGE, Y, 3, 2**45 - 2, False, 0.0, 2**45),
            id="dtsf_distances",
        ),
        pytest.param(lambda: core.dtsf_fit_residuals(HUGE, 3, 2, False), id="dtsf_fit_residuals"),
        pytest.param(lambda: core.mstl_extract_seasonal(HUGE, 3), id="mstl_extract_seasonal"),
        pytest.param(lambda: core.mstl_moving_average(HUGE, 3), id="mstl_moving_average"),
        pytest.param(
            lambda: core.esn_reservoir_update(HUGE, Y, np.zeros(9), 3, 0.5, 0),
            id="esn_reservoir_update",
        ),
        pytest.param(
            lambda: core.four_theta_fitted(2**45, E, E, E, E, E, E.astype(np.int64), E),
            id="four_theta_fitted",
        ),
        pytest.param(lambda: core.four_theta_deseasonalize(HUGE, 3), id="four_theta_deseasonalize"),
    ],
)
def test_a_result_too_large_for_memory_raises_memory_error(call):
    with pytest.raises(MemoryError):
        call()
    assert core.ses_filter(Y, 0.5).size == 3  # and nothing is left behind


# --- results ---------------------------------------------------------------------


def test_every_function_passes_a_short_fuzz_run():  # results owned by a holder, no argument reference kept or lost
    fuzz.run(calls=2000, seed=1)


# --- internal failures -----------------------------------------------------------


def test_panic_exception_is_a_base_exception_named_as_documented(capfd):
    panic = panic_type()
    assert panic.__mro__ == (panic, BaseException, object)
    assert panic.__module__ == "pyo3_runtime" and panic.__name__ == "PanicException"
    # `except Exception` does not catch it, and every failure raises the same type
    assert raised(core.ses_sse, np.empty(0), 0.5) == (panic, "ndarray: index out of bounds")
    report = capfd.readouterr().err
    assert "ndarray: index out of bounds" in report and "backtrace" in report
    assert core.ses_sse(Y, 0.5) == 3.25  # the module stays usable
