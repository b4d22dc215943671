"""The call frame every function shares: binding, argument kinds, results, failures.

The simple-smoothing functions stand in for all others here; kinds that they do
not use are tested with the first function that does. Every array layout is
tested with every function in test_layouts.py.
"""

from __future__ import annotations

import collections
import gc
import inspect
import subprocess
import sys
import textwrap

import numpy as np
import pytest

import lumetra._core as core
from helpers import PanicException, layouts, raised, refcounts, same_bits

Y = np.array([1.0, 2.0, 3.0])

# The registration order of all functions the module will hold.
ORDER = [
    "ets_filter", "ets_loglik", "theta_decompose", "arima_css", "css_objective",
    "seasonal_css_objective", "ses_sse", "ses_filter", "batch_ets_filter", "dot_objective",
    "dot_residuals", "ces_nonseasonal_sse", "ces_seasonal_sse", "garch_filter",
    "egarch_filter", "gjr_garch_filter", "tbats_filter", "dtsf_distances",
    "dtsf_fit_residuals", "mstl_extract_seasonal", "mstl_moving_average",
    "croston_tsb_filter", "esn_reservoir_update", "four_theta_fitted",
    "four_theta_deseasonalize", "dot_hybrid_objective", "sample_entropy",
    "approximate_entropy", "hurst_exponent",
]  # fmt: skip


def run_python(code: str) -> subprocess.CompletedProcess:
    return subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True, timeout=120
    )


# --- the module ------------------------------------------------------------------


def test_module_holds_its_functions_in_registration_order_and_nothing_else():
    assert isinstance(core.__all__, list) and core.__all__ == ORDER
    assert core.__doc__ == "" and not hasattr(core, "PanicException")
    assert {name for name in dir(core) if not name.startswith("_")} == set(ORDER)


@pytest.mark.parametrize("name", core.__all__)
def test_signature_shows_required_positional_or_keyword_parameters(name):
    function = getattr(core, name)
    signature = inspect.signature(function)
    assert function.__doc__ is None and function.__text_signature__ == str(signature)
    for parameter in signature.parameters.values():
        assert parameter.kind is parameter.POSITIONAL_OR_KEYWORD and parameter.default is parameter.empty


def test_second_initialisation_returns_the_same_module_and_subinterpreters_are_refused():
    result = run_python(
        """
        import _interpreters, importlib, sys
        import lumetra._core as first
        del sys.modules["lumetra._core"]
        assert importlib.import_module("lumetra._core") is first
        failure = _interpreters.run_string(_interpreters.create("legacy"), "import lumetra._core")
        print(first.ses_sse.__module__, failure.type.__name__, failure.msg, sep="\\n")
        """
    )
    assert result.returncode == 0, result.stderr
    module, kind, message = result.stdout.strip().split("\n", 2)
    assert (module, kind) == ("lumetra._core", "ImportError") and "subinterpreters are not supported" in message


def test_missing_numpy_is_an_internal_failure_and_the_module_loads_without_it():
    result = run_python(
        """
        import sys
        sys.modules["numpy"] = None  # any import of numpy now fails
        import lumetra._core as core
        for _ in range(2):  # a later call tries again and fails the same way
            try:
                core.ses_sse([1.0], 0.5)
            except BaseException as exc:
                print(type(exc).__name__, str(exc).split(":")[0])
        """
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == ["PanicException Failed to access NumPy array API capsule"] * 2


# --- binding ---------------------------------------------------------------------


@pytest.mark.parametrize(
    "args, kwargs, message",
    [
        ((Y, 0.5, 1), {}, "ses_sse() takes 2 positional arguments but 3 were given"),
        # surplus positionals are reported before any keyword is looked at
        ((Y, 0.5, 1), {"beta": 1}, "ses_sse() takes 2 positional arguments but 3 were given"),
        ((Y,), {}, "ses_sse() missing 1 required positional argument: 'alpha'"),
        ((), {}, "ses_sse() missing 2 required positional arguments: 'y' and 'alpha'"),
        ((), {"alpha": 0.5}, "ses_sse() missing 1 required positional argument: 'y'"),
        ((Y, 0.5), {"alpha": 0.5}, "ses_sse() got multiple values for argument 'alpha'"),
        ((Y, 0.5), {"beta": 1}, "ses_sse() got an unexpected keyword argument 'beta'"),
        # keywords are examined before missing parameters
        ((Y,), {"beta": 1}, "ses_sse() got an unexpected keyword argument 'beta'"),
        ((), {"y": Y, "Y": Y}, "ses_sse() got an unexpected keyword argument 'Y'"),
        # binding comes before conversion: a bad y is not looked at
        (("not an array", 0.5, 0), {}, "ses_sse() takes 2 positional arguments but 3 were given"),
    ],
)
def test_binding_errors(args, kwargs, message):
    assert raised(core.ses_sse, *args, **kwargs) == (TypeError, message)


def test_position_and_keyword_bind_the_same_parameters():
    expected = core.ses_sse(Y, 0.5)
    assert core.ses_sse(y=Y, alpha=0.5) == core.ses_sse(alpha=0.5, y=Y) == core.ses_sse(Y, alpha=0.5) == expected
    # names made at run time are not the interned constants of a call site
    assert core.ses_sse(**{"".join(["al", "pha"]): 0.5, "y": Y}) == expected
    assert core.ses_filter(Y, alpha=0.5).tolist() == core.ses_filter(Y, 0.5).tolist()


# --- argument kinds --------------------------------------------------------------


class Floaty:
    def __init__(self, value):
        self.value = value

    def __float__(self):
        return self.value


class Indexy:
    def __index__(self):
        return 2


class Raises:
    def __init__(self, exc):
        self.exc = exc

    def __float__(self):
        raise self.exc


@pytest.mark.parametrize(
    "value, expected",
    [(2, 2.0), (True, 1.0), (np.float32(0.25), 0.25), (np.int64(3), 3.0), (Floaty(0.75), 0.75),
     (Indexy(), 2.0), (np.float64(0.5), 0.5), (-0.0, -0.0)],
)  # fmt: skip
def test_float_argument_accepts_numbers(value, expected):
    # alpha shows in ses_filter's second level: alpha * y[1] + (1 - alpha) * y[0]
    assert core.ses_filter(np.array([0.0, 1.0]), value)[1] == expected


@pytest.mark.parametrize(
    "value, kind, message",
    [
        ("2", TypeError, "argument 'alpha': must be real number, not str"),
        (None, TypeError, "argument 'alpha': must be real number, not NoneType"),
        ([0.5], TypeError, "argument 'alpha': must be real number, not list"),
        (10**400, OverflowError, "int too large to convert to float"),
        (Raises(ValueError("bad value")), ValueError, "bad value"),
    ],
)
def test_float_argument_refusals(value, kind, message):
    assert raised(core.ses_sse, Y, value) == (kind, message)


def test_prefix_applies_only_to_exact_type_error_and_keeps_its_cause():
    exc = TypeError("no float here")
    exc.__cause__ = cause = ValueError("underlying")
    with pytest.raises(TypeError) as info:
        core.ses_sse(Y, Raises(exc))
    assert str(info.value) == "argument 'alpha': no float here" and info.value.__cause__ is cause

    class SubTypeError(TypeError):
        pass

    assert raised(core.ses_sse, Y, Raises(SubTypeError("subclass"))) == (SubTypeError, "subclass")


def garch_with_ar1(flag):
    # the AR(1) term changes the score of this series: 3.0 without it
    return core.garch_filter(np.array([1.0, -1.0, 2.0]), 0.0, 0.1, 0.1, 0.8, 1.0, flag, 0.5)


def numpy_like(name, **namespace):
    return type(name, (), {"__module__": "numpy", **namespace})()


@pytest.mark.parametrize(
    "flag, expected",
    [(True, True), (False, False), (np.bool_(True), True), (np.bool_(False), False),
     (numpy_like("bool", __bool__=lambda self: True), True),
     (numpy_like("bool_", __bool__=lambda self: False), False)],
)  # fmt: skip
def test_bool_argument_accepts_true_false_and_numpy_booleans(flag, expected):
    assert garch_with_ar1(flag) == garch_with_ar1(expected) and (garch_with_ar1(flag) == 3.0) is not expected


@pytest.mark.parametrize(
    "flag, message",
    [*[(v, f"'{type(v).__qualname__}' object cannot be converted to 'PyBool'")
       for v in (1, 0, None, "True", 1.0, np.array(True), type("bool_", (), {})())],
     (numpy_like("bool_"), "object of type '<class 'numpy.bool_'>' does not define a '__bool__' conversion")],
)  # fmt: skip
def test_bool_argument_refusals(flag, message):
    assert raised(garch_with_ar1, flag) == (TypeError, f"argument 'use_ar1': {message}")


class SubArray(np.ndarray):
    pass


SWAPPED = ">" if sys.byteorder == "little" else "<"


@pytest.mark.parametrize(
    "value, type_name",
    [([1.0, 2.0], "list"), ((1.0, 2.0), "tuple"), (None, "NoneType"), (2.0, "float"), (np.float64(1.0), "float64"),
     (np.array([[1.0, 2.0]]).view(SubArray), "SubArray"),
     *[(value, "ndarray") for value in (np.array([1.0, 2.0], dtype=np.float32), np.array([1, 2], dtype=np.int64),
                                        np.array([[1.0, 2.0]]), np.array(1.0), np.array([1.0, 2.0], dtype=object),
                                        np.array([1.0, 2.0], dtype=SWAPPED + "f8"))]],
)  # fmt: skip
def test_float_array_refusals(value, type_name):
    message = f"argument 'y': '{type_name}' object cannot be converted to 'PyArray<T, D>'"
    assert raised(core.ses_sse, value, 0.5) == (TypeError, message)


def test_first_faulty_argument_decides_the_error():
    with pytest.raises(TypeError, match="^argument 'y': "):
        core.ses_sse([1.0], "not a float")
    with pytest.raises(TypeError, match="^argument 'y': "):
        core.ses_sse(alpha="not a float", y=[1.0])


# --- results ---------------------------------------------------------------------


def test_result_arrays_are_owned_by_a_holder_and_share_nothing():
    y = np.array([1.0, 2.0, 3.0, 4.0])
    first, second = core.ses_filter(y, 0.5), core.ses_filter(y, 0.5)
    for result in (first, second):
        assert result.dtype == np.float64 and result.ndim == 1
        assert result.flags.c_contiguous and result.strides == (8,)
        assert result.flags.writeable and not result.flags.owndata
        assert result.base is not None and not isinstance(result.base, np.ndarray)
        assert not np.shares_memory(result, y)
    assert not np.shares_memory(first, second)
    first[:] = -1.0  # writing into one result changes nothing else
    assert y.tolist() == [1.0, 2.0, 3.0, 4.0]
    assert second.tolist() == core.ses_filter(y, 0.5).tolist()


def test_result_outlives_every_other_reference():
    result = core.ses_filter(np.arange(1000.0), 0.5)
    holder, view = result.base, result[10:20]
    del result
    gc.collect()
    assert view.base.base is holder
    assert view[0] == core.ses_filter(np.arange(1000.0), 0.5)[10]


def test_no_reference_leaks_on_success_or_failure():
    y, alpha, empty, bad = np.array([1.0, 2.0, 3.0]), 0.123456, np.empty(0), [1.0]
    before = refcounts(y, alpha, empty, bad)
    for _ in range(2000):
        core.ses_sse(y, alpha)
        core.ses_filter(y=y, alpha=alpha)
        with pytest.raises(TypeError):
            core.ses_sse(bad, alpha)
        with pytest.raises(TypeError):
            core.ses_sse(y, alpha, y)
        with pytest.raises(PanicException()):
            core.ses_filter(empty, alpha)
    assert refcounts(y, alpha, empty, bad) == before


# --- internal failures -----------------------------------------------------------


def test_panic_exception_is_a_base_exception_named_as_documented(capfd):
    panic = PanicException()
    assert panic.__mro__ == (panic, BaseException, object)
    assert panic.__module__ == "pyo3_runtime" and panic.__name__ == "PanicException"
    assert "SystemExit" in panic.__doc__
    with pytest.raises(panic) as info:
        try:
            core.ses_sse(np.empty(0), 0.5)
        except Exception:  # noqa: BLE001 - it must not be caught here
            pytest.fail("PanicException was caught by except Exception")
    assert type(info.value) is panic  # the same type at every failure
    assert info.value.args == ("ndarray: index out of bounds",)
    assert str(info.value) == "ndarray: index out of bounds"
    report = capfd.readouterr().err
    assert "ndarray: index out of bounds" in report and "backtrace" in report
    # the module stays usable
    assert core.ses_sse(Y, 0.5) == 3.25


# --- int64 arrays (four_theta_fitted's filtered_lengths) ---------------------------


def fitted_with_lengths(lengths):
    f = np.array
    return core.four_theta_fitted(4, f([2.0, 3.0]), f([0.0, 1.0]), f([1.0, 0.5]), f([1.0, 0.5]),
                                  f([1.0, 2.0, 3.0, 4.0, 5.0]), lengths, f([7.0, 9.0]))  # fmt: skip


def test_int_array_accepts_every_spelling_of_int64():
    # the lengths decide the result: [2, 3] cuts the flat levels into [1, 2] and [3, 4, 5]
    expected = fitted_with_lengths(np.array([2, 3], dtype=np.int64))
    assert not same_bits(expected, fitted_with_lengths(np.array([3, 2], dtype=np.int64)))
    assert same_bits(fitted_with_lengths(np.array([2, 3], dtype=np.longlong)), expected)


@pytest.mark.parametrize(
    "value, type_name",
    [([2, 3], "list"), (np.int64(2), "int64"),
     *[(value, "ndarray") for value in (np.array([2.0, 3.0]), np.array([2, 3], dtype=np.int32),
                                        np.array([2, 3], dtype=np.uint64), np.array([[2, 3]], dtype=np.int64),
                                        np.array(2, dtype=np.int64), np.array([2, 3], dtype=SWAPPED + "i8"))]],
)  # fmt: skip
def test_int_array_refusals(value, type_name):
    message = f"argument 'filtered_lengths': '{type_name}' object cannot be converted to 'PyArray<T, D>'"
    assert raised(fitted_with_lengths, value) == (TypeError, message)


# --- kinds first used by the smoothing functions ------------------------------------


def ets_args(**changes):
    """ets_filter's arguments for a series on which period and error_type both show."""
    args = dict(y=np.array([1.0, 2.0, 3.0]), level0=1.0, trend0=0.0, seasonal0=np.array([0.1, 0.2, 0.3]),
                alpha=0.5, beta=0.0, gamma=0.5, phi=1.0, period=3, error_type=0, trend_type=0,
                seasonal_type=1)  # fmt: skip
    return {**args, **changes}


def test_missing_arguments_are_listed_with_a_serial_comma():
    with pytest.raises(TypeError) as info:
        core.ets_filter()
    assert str(info.value) == (
        "ets_filter() missing 12 required positional arguments: 'y', 'level0', 'trend0', 'seasonal0', "
        "'alpha', 'beta', 'gamma', 'phi', 'period', 'error_type', 'trend_type', and 'seasonal_type'"
    )
    three = r"missing 3 required positional arguments: 'y', 'alpha', and 'init_z'$"
    with pytest.raises(TypeError, match=three):
        core.croston_tsb_filter(beta=0.5, init_d=0.5)


@pytest.mark.parametrize(
    "name, value, same_as",
    [("period", True, 1), ("period", np.int64(3), 3), ("period", Indexy(), 2), ("period", 2**64 - 1, 2**64 - 1),
     ("error_type", True, 1), ("error_type", np.int32(-7), -7), ("error_type", Indexy(), 2),
     ("error_type", -(2**31), -(2**31)), ("error_type", 2**31 - 1, 2**31 - 1)],
)  # fmt: skip
def test_integer_kinds_accept_index_objects(name, value, same_as):
    expected = core.ets_filter(**ets_args(**{name: same_as}))
    assert same_bits(core.ets_filter(**ets_args(**{name: value})), expected)


@pytest.mark.parametrize(
    "name, value, kind, message",
    [
        ("period", -1, OverflowError, "can't convert negative int to unsigned"),
        ("period", 2**64, OverflowError, "int too big to convert"),
        ("period", 3.0, TypeError, "argument 'period': 'float' object cannot be interpreted as an integer"),
        ("period", "3", TypeError, "argument 'period': 'str' object cannot be interpreted as an integer"),
        ("error_type", 2**31, OverflowError, "out of range integral type conversion attempted"),
        ("error_type", -(2**31) - 1, OverflowError, "out of range integral type conversion attempted"),
        ("error_type", 2**63, OverflowError, "Python int too large to convert to C long"),
        ("error_type", 1.0, TypeError, "argument 'error_type': 'float' object cannot be interpreted as an integer"),
        ("trend_type", None, TypeError, "argument 'trend_type': 'NoneType' object cannot be interpreted as an integer"),
    ],
)  # fmt: skip
def test_integer_kind_refusals(name, value, kind, message):
    with pytest.raises(kind) as info:
        core.ets_loglik(**ets_args(**{name: value}))
    assert type(info.value) is kind and str(info.value) == message


PARAMS = (1.0, 0.0, [0.5, -0.5], 0.3, 0.0, 0.1, 1.0, 2, 0, 0, 1)


def with_item(index, value):
    return PARAMS[:index] + (value,) + PARAMS[index + 1 :]


class Seq:
    """A sequence known only by __len__ and __getitem__."""

    def __init__(self, *items):
        self.items = items

    def __len__(self):
        return len(self.items)

    def __getitem__(self, i):
        return self.items[i]


def test_sequence_and_tuple_kinds_accept_their_whole_family():
    Params = collections.namedtuple("Params", "l b s alpha beta gamma phi period e t season")
    y = np.array([1.0, 2.0, 4.0])
    expected = core.batch_ets_filter([y], [PARAMS])
    for seasonal in ([0.5, -0.5], (0.5, -0.5), np.array([0.5, -0.5]), Seq(0.5, np.float32(-0.5))):
        item = with_item(2, seasonal)
        for y_list in ([y], (y,), y[None, :], Seq(y)):
            for params in ([item], (Params(*item),), Seq(item)):
                assert same_bits(core.batch_ets_filter(y_list, params), expected)


@pytest.mark.parametrize(
    "y_list, params_list, kind, message",
    [
        ({"a": Y}, [], TypeError, "argument 'y_list': 'dict' object cannot be converted to 'Sequence'"),
        ({Y.tobytes()}, [], TypeError, "argument 'y_list': 'set' object cannot be converted to 'Sequence'"),
        ((y for y in [Y]), [], TypeError, "argument 'y_list': 'generator' object cannot be converted to 'Sequence'"),
        (3, [], TypeError, "argument 'y_list': 'int' object cannot be converted to 'Sequence'"),
        ("abc", [], TypeError, "argument 'y_list': a str cannot be taken as a sequence; pass a list, a tuple or an array"),
        ([Y, [1.0]], [], TypeError, "argument 'y_list': 'list' object cannot be converted to 'PyArray<T, D>'"),
        ([], [PARAMS, PARAMS[:10]], TypeError, "argument 'params_list': expected tuple of length 11, but got tuple of length 10"),
        ([], [PARAMS + (1,)], TypeError, "argument 'params_list': expected tuple of length 11, but got tuple of length 12"),
        ([], [list(PARAMS)], TypeError, "argument 'params_list': 'list' object cannot be converted to 'PyTuple'"),
        ([], [with_item(2, "ab")], TypeError, "argument 'params_list': a str cannot be taken as a sequence; pass a list, a tuple or an array"),
        ([], [with_item(2, {0.5})], TypeError, "argument 'params_list': 'set' object cannot be converted to 'Sequence'"),
        ([], [with_item(2, [0.5, "x"])], TypeError, "argument 'params_list': must be real number, not str"),
        ([], [with_item(3, Raises(ValueError("bad alpha")))], ValueError, "bad alpha"),
        ([], [with_item(7, -1)], OverflowError, "can't convert negative int to unsigned"),
        ([], [with_item(8, 2**31)], OverflowError, "out of range integral type conversion attempted"),
        # every item is converted, also those past the shorter list
        ([Y], [PARAMS, PARAMS, with_item(9, 1.5)], TypeError, "argument 'params_list': 'float' object cannot be interpreted as an integer"),
        # y_list is converted before params_list
        ([None], [None], TypeError, "argument 'y_list': 'NoneType' object cannot be converted to 'PyArray<T, D>'"),
    ],
)  # fmt: skip
def test_compound_kind_refusals_name_the_argument(y_list, params_list, kind, message):
    with pytest.raises(kind) as info:
        core.batch_ets_filter(y_list, params_list)
    assert type(info.value) is kind and str(info.value) == message


class ListSubclass(list):
    """Read through the iterator protocol, where an exact list is read by index."""


class Mutates:
    """A float whose conversion changes a list that is being converted."""

    def __init__(self, change):
        self.change = change

    def __float__(self):
        self.change()
        return 0.5


@pytest.mark.parametrize("list_type", [list, ListSubclass])
@pytest.mark.parametrize(
    "mutation, seasonal_read",
    [
        (lambda s: s.append(7.0), [1.0, 0.5, 3.0, 7.0]),  # items appended are read
        (lambda s: s.clear(), [1.0, 0.5]),  # the sequence ends where the list now ends
        (lambda s: s.__setitem__(2, 9.0), [1.0, 0.5, 9.0]),  # later items are read as they are then
    ],
)
def test_a_list_changed_during_its_conversion_is_read_as_its_iterator_reads_it(
    list_type, mutation, seasonal_read
):
    seasonal = list_type([1.0])
    seasonal += [Mutates(lambda: mutation(seasonal)), 3.0]
    y = np.arange(1.0, 6.0)
    params = PARAMS[:2] + (seasonal,) + (0.3, 0.0, 0.1, 1.0, len(seasonal_read), 0, 0, 1)
    expected = core.ets_filter(y, *PARAMS[:2], np.array(seasonal_read), *params[3:])
    assert same_bits(core.batch_ets_filter([y], [params]), [expected])


@pytest.mark.parametrize("list_type", [list, ListSubclass])
def test_outer_list_cleared_by_an_item_conversion_ends_the_sequence_safely(list_type):
    y_list = [np.arange(1.0, 6.0) for _ in range(3)]
    params_list = list_type()
    # alpha of tuple 0 clears the list, whose reference was the tuple's only one
    params_list += [with_item(3, Mutates(lambda: params_list.clear())), PARAMS, PARAMS]
    before = refcounts(*y_list)
    result = core.batch_ets_filter(y_list, params_list)
    expected = core.ets_filter(y_list[0], *PARAMS[:2], np.array(PARAMS[2]), 0.5, *PARAMS[4:])
    assert same_bits(result, [expected]) and params_list == []
    del result
    gc.collect()
    assert refcounts(*y_list) == before
