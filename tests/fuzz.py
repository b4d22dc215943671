"""A seeded fuzzer of every function of lumetra._core (`python fuzz.py --calls 20000 --seed 0`; CI runs it under the
sanitizers). Calls mix right and wrong kinds (learnt from the module's conversion errors), every array layout and
dtype, special values and sizes, binding errors, and callbacks that raise, return the wrong type or change arguments
already converted (their dtype, shape or items, or their size by NumPy's unsafe in-place resize). Only documented
exceptions may escape; Fuzzer.call checks the rest."""

from __future__ import annotations

import argparse
import contextlib
import inspect
import sys
import warnings

import numpy as np

import lumetra._core as core
from helpers import NANS, every_layout, same_bits


Raised = type("Raised", (Exception,), {})  # what the fuzzer's own callbacks raise: it must come back unchanged
# a sequence known only by __getitem__ and a __len__ that overstates
Seq = type("Seq", (), {"__init__": lambda s, items: setattr(s, "items", items),
                       "__len__": lambda s: len(s.items) + 3, "__getitem__": lambda s, i: s.items[i]})  # fmt: skip
SPECIAL = [*NANS, 0.0, -0.0, 1e-300, -1e300, 5e-324, np.inf, -np.inf, 1.0, 0.5, -2.0]
SIZES = [0, 0, 1, 2, 3, 4, 5, 7, 8, 12, 13, 30, 67]
# sizes are small or beyond the address space: one in between would be a real allocation of gigabytes
IntSub = type("IntSub", (int,), {})
COUNTS = [*range(6), *range(13), 24, True, np.int64(2), IntSub(2), 2**60, 2**61, 2**63, 2**64 - 1]
PROBES = {"FA": np.zeros(3), "IA": np.zeros(3, np.int64), "F": 0.5, "U": 1, "B": True, "Y": [np.zeros(3)],
          "P": [(1.0, 0.0, [], 0.5, 0.1, 0.1, 0.9, 1, 0, 0, 0)]}  # fmt: skip


def kinds_of(function) -> list[str]:
    """The kind of each parameter: the first probe it accepts (conversion stops at the first refusal, naming it)."""
    names, chosen = list(inspect.signature(function).parameters), [0] * len(inspect.signature(function).parameters)
    while True:
        try:
            function(*(list(PROBES.values())[c] for c in chosen))
        except TypeError as error:
            chosen[names.index(str(error).split("'")[1])] += 1
            continue
        except BaseException:  # noqa: BLE001, S110 - an internal failure: every argument was accepted
            pass
        return [list(PROBES)[c] for c in chosen]


class Fuzzer:
    def __init__(self, seed: int):
        self.rng = np.random.default_rng(seed)
        self.changed, self.targets = False, []  # whether a callback changed an argument; what it may change

    def pick(self, options):
        return options[int(self.rng.integers(len(options)))]

    def chance(self, p: float) -> bool:
        return bool(self.rng.random() < p)

    def values(self, n: int) -> np.ndarray:
        v = self.rng.normal(0.0, self.pick([1.0, 100.0]), n)
        v = np.where(self.rng.random(n) < self.pick([0.0, 0.05, 0.3]), self.rng.choice(SPECIAL, n), v)
        return self.pick([v, v, np.round(v), np.full(n, v[:1].sum())])  # ties, a constant (broadcast) series

    def array(self, dtype=np.float64, wrong=False):
        base = self.values(self.pick(SIZES)) if dtype == np.float64 else self.rng.integers(-2, 12, self.pick(SIZES))
        if wrong:
            return self.pick([np.float64(1.0), np.array(2.0), base.reshape(1, -1), base.astype(np.float32),
                              base.astype(base.dtype.newbyteorder()), base.tolist(), base.astype(object),
                              base.astype(np.int64 if dtype == np.float64 else np.float64)])  # fmt: skip
        return self.pick(list(every_layout(base).values()))

    def real(self):
        return self.pick([*SPECIAL, 0.3, 0.9, 1.01, 2, True, np.float32(0.25), np.int64(3),
                          self.callback("__float__", 0.7), self.callback("__index__", 1)])  # fmt: skip

    def callback(self, slot: str, value, what: str = ""):
        """An object whose conversion returns value, or first changes an argument in place, or raises, or returns a
        str (with __bool__, a NumPy boolean look-alike). The value is not shared with any argument: the object is
        freed by the collector at any time, and an argument's reference count must not change meanwhile."""
        fuzzer, what = self, what or self.pick(["value", "change"])

        def convert(_):
            if what == "raise":
                raise Raised(slot)
            if what == "change" and fuzzer.targets:
                fuzzer.changed, target = True, fuzzer.pick(fuzzer.targets)
                with contextlib.suppress(ValueError, TypeError, AttributeError, IndexError):
                    if isinstance(target, list):
                        fuzzer.pick([target.clear, target.pop, lambda: target.append(None), target.reverse])()
                    elif fuzzer.chance(0.4):
                        target.dtype = fuzzer.pick([np.float32, np.int8, np.complex128, np.int64, np.float64, "S3"])
                    elif fuzzer.chance(0.5):
                        target.shape = fuzzer.pick([(2, -1), (-1, 2), (1, 1, -1), ()])
                    else:  # NumPy's unsafe resize: the memory the array had is freed, whatever still points into it
                        target.resize(fuzzer.pick([(0,), (1,), (target.size + 9,), (2, 3), (9, 4), (3, 40)]),
                                      refcheck=False)  # fmt: skip
            return "x" if what == "str" else value

        return type("bool" if slot == "__bool__" else "Callback", (), {slot: convert, "__module__": "numpy"})()

    def series_list(self):
        if self.chance(0.2):  # the rows of a 2-d array, which owns its memory or is a view
            rows = self.values(self.pick(SIZES) * 3).reshape(3, -1)
            return self.pick([rows.copy(), rows[:, ::-1]])
        items = [self.array() for _ in range(self.pick([0, 1, 2, 3, 7]))]
        return self.pick([items, tuple(items), Seq(items)])

    def params(self):
        seasonal = [self.real() for _ in range(self.pick([0, 1, 3, 4, 12]))]
        seasonal = self.pick([seasonal, tuple(seasonal), np.array(seasonal, object), Seq(seasonal),
                              self.array(wrong=self.chance(0.3))])  # fmt: skip
        items = (self.real(), self.real(), seasonal, *(self.real() for _ in range(4)), self.pick(COUNTS),
                 *(self.pick([0, 1, 2, 3, 7, -1, 2**31]) for _ in range(3)))  # fmt: skip
        return items if self.chance(0.9) else self.pick([items[:10], list(items), items + (1,)])

    def argument(self, kind: str, error_rate: float):
        if self.chance(error_rate):  # a wrong kind
            slot = "__float__" if kind == "F" else "__index__"
            return self.pick([None, "x", object(), [], 1.5, -1, 2**64, 10**400, 1, self.array(wrong=True),
                              self.array(np.int64, wrong=True), self.callback(slot, 1, "raise"),
                              self.callback(slot, 1, "str")])  # fmt: skip
        draw = {"FA": self.array, "IA": lambda: self.array(np.int64), "F": self.real, "Y": self.series_list,
                "U": lambda: self.pick([*COUNTS, self.callback("__index__", self.pick([3, IntSub(3)]))]),
                "B": lambda: self.pick([True, False, np.bool_(True), np.bool_(False), self.callback("__bool__", True)]),
                "P": lambda: [self.params() for _ in range(self.pick([0, 1, 2, 3, 7]))]}  # fmt: skip
        return draw[kind]()

    def call(self, function, names: list[str], kinds: list[str]):
        self.changed = False
        args = [self.argument(kind, 0.3 / len(kinds)) for kind in kinds]
        self.targets = [v for a in args for v in walk(a) if isinstance(v, np.ndarray | list)]
        cut = len(args) if self.chance(0.7) else int(self.rng.integers(len(args) + 1))  # the rest by keyword
        positional, keyword = args[:cut], dict(reversed(list(zip(names[cut:], args[cut:]))))
        if self.chance(0.03):  # a binding error
            self.pick([lambda: positional.pop() if positional else None, lambda: positional.append(0.5),
                       lambda: keyword.update(unknown=1), lambda: keyword.update({names[0]: 1})])()  # fmt: skip
        name, before = function.__name__, snapshot(args)
        first = outcome(function, positional, keyword)
        if self.changed:  # then the arguments have changed, and another call would change them again
            return
        assert same_bits(snapshot(args), before), f"{name} changed an argument or its references"
        again = outcome(function, positional, keyword)
        assert same_bits(first, again), f"{name} differs when called again"
        check_result(name, first[1], args)
        check_result(name, again[1], first)  # nor one call's results the other's


def outcome(function, positional, keyword):  # (None, result), or (type, message) of a documented exception
    try:
        return None, function(*positional, **keyword)
    except BaseException as error:
        assert isinstance(error, TypeError | OverflowError | MemoryError | Raised) or type(error).__name__ == "PanicException", repr(error)  # fmt: skip
        return type(error), str(error)


def walk(value):  # the object and, at any depth, the items of the sequences it holds
    yield value
    if isinstance(value, list | tuple | Seq):
        for v in value.items if isinstance(value, Seq) else value:
            yield from walk(v)


def snapshot(args) -> list:
    """Every object among the arguments with its reference count and, for an array, its layout and bytes."""
    array = [lambda v: (), lambda v: (v.dtype, v.shape, v.strides, v.tobytes(), v.flags.writeable)]
    return [(type(v), id(v), sys.getrefcount(v), *array[isinstance(v, np.ndarray)](v)) for v in walk(args)]


def check_result(name: str, result, others) -> None:
    """A result's arrays are new float64 arrays, owned by a holder object; every NaN in it is np.nan."""
    for v in walk(result):
        if isinstance(v, np.ndarray):
            flags, arrays = v.flags, [a for a in walk(others) if isinstance(a, np.ndarray)]
            assert v.dtype == np.float64 and v.ndim == 1 and flags.c_contiguous and flags.writeable, name
            assert not flags.owndata and type(v.base).__name__ == "buffer", name
            assert not any(np.may_share_memory(v, a) for a in arrays), f"{name} shares memory with {type(others)}"
        if isinstance(v, float | np.ndarray):
            nans = np.atleast_1d(v)[np.isnan(v)]
            assert (nans.view(np.uint64) == NANS.view(np.uint64)[0]).all(), f"{name} returns a NaN that is not np.nan"


def run(calls: int, seed: int, every: int = 0) -> None:
    table = [(f, list(inspect.signature(f).parameters), kinds_of(f)) for f in map(core.__dict__.get, core.__all__)]
    fuzzer = Fuzzer(seed)
    with warnings.catch_warnings(action="ignore"):  # NumPy's deprecation of changing arrays in place, and others
        for done in range(1, calls + 1):
            fuzzer.call(*fuzzer.pick(table))
            if every and (done % every == 0 or done == calls):
                print(f"fuzz: {done} calls over {len(table)} functions, seed {seed}: clean", flush=True)


if __name__ == "__main__":
    parser = argparse.ArgumentParser(description=__doc__.split("(")[0])
    parser.add_argument("--calls", type=int, default=20000)
    parser.add_argument("--seed", type=int, default=0)
    options = parser.parse_args()
    run(options.calls, options.seed, every=5000)
