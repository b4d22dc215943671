"""The kernels with an AVX2 build also pass their tests on the baseline build.

The nearest-pattern search, the reservoir update, the Hurst exponent, the entropies, the theta and
four-theta lines, the moving average and the ETS batch's lockstep lanes are built with two-lane vectors
for the x86-64 baseline and four-lane vectors for AVX2, taken when the C library reports AVX2 as usable. The C library can be told not to (GLIBC_TUNABLES=glibc.cpu.hwcaps=-AVX2), so these
kernels' test modules and the layout table run again in a child process on the baseline build, against
their Python transcriptions bit for bit. (The two builds' results are not compared across processes: the
tunable also switches the C library's own tanh, exp and log to variants that may differ in the last bit.)
Which build ran is not guessed: with LUMETRA_REPORT_DISPATCH=1 each kernel names its build on stderr.
"""

from __future__ import annotations

import ctypes
import os
import subprocess
import sys

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
NATIVE = {**os.environ, "LUMETRA_REPORT_DISPATCH": "1"}
BASELINE = {**NATIVE, "GLIBC_TUNABLES": "glibc.cpu.hwcaps=-AVX2"}
MODULES = ["test_pattern.py", "test_diagnostics.py", "test_theta.py", "test_decomposition.py", "test_ets.py",
           "test_layouts.py"]  # fmt: skip


def avx2_active() -> bool | None:
    """Whether the C library reports AVX2 as usable (None where it cannot tell)."""
    try:
        leaf = ctypes.CDLL(None).__x86_get_cpuid_feature_leaf
    except (AttributeError, OSError):
        return None
    leaf.restype = ctypes.POINTER(ctypes.c_uint32 * 8)
    return bool((leaf(1).contents[5] >> 5) & 1)  # leaf 7, register ebx, bit 5; usable half


def child(cwd, *args: str, env=BASELINE) -> subprocess.CompletedProcess:
    return subprocess.run([sys.executable, *args], cwd=cwd, env=env, capture_output=True, text=True)


def builds(stderr: str) -> dict[str, str]:
    """Each kernel's build as the process reported it (each kernel reports once)."""
    lines = [line.split(": ", 1)[1] for line in stderr.splitlines() if line.startswith("lumetra._core dispatch: ")]
    reported = dict(line.rsplit(" runs ", 1) for line in lines)
    assert len(reported) == len(lines), lines
    return reported


# every function once, on the layout table's arguments
EVERY_FUNCTION = """
import numpy as np, test_layouts
for function, args in test_layouts.CASES.values():
    function(*(a if isinstance(a, np.ndarray) else np.array(a, float) for a in args))
"""


@pytest.mark.parametrize("env", [NATIVE, BASELINE], ids=["native", "tunable off"])
def test_each_kernel_reports_the_build_the_processor_allows(env):
    if avx2_active() is None:
        pytest.skip("the C library does not report its processor features here")
    run = child(HERE, "-c", EVERY_FUNCTION, env=env)
    assert run.returncode == 0, run.stderr
    reported = builds(run.stderr)
    wide = env is NATIVE and avx2_active()
    two = {kernel for kernel, build in reported.items() if build != "its only build, the baseline"}
    # the batch lanes, the entropies' strips, the moving average, the nearest patterns and more
    assert len(two) >= 10, reported
    assert {reported[k] for k in two} == {"its avx2 build" if wide else "its baseline build"}, reported
    # and without the variable, not a word
    quiet = child(HERE, "-c", EVERY_FUNCTION, env={**env, "LUMETRA_REPORT_DISPATCH": "0"})
    assert quiet.returncode == 0 and quiet.stderr == "", quiet.stderr


def test_the_baseline_build_passes_the_same_tests(tmp_path):
    if avx2_active() is None:
        pytest.skip("the C library does not report its processor features here")
    probe = child(HERE, "-c", "from test_vector_paths import avx2_active; print(avx2_active())")
    assert probe.stdout.strip() == "False", probe.stderr
    # run from an empty directory, so that the child keeps its own example
    # database, with a fixed seed for the generated cases
    modules = [os.path.join(HERE, m) for m in MODULES]
    # (stderr is left to the kernels' reports, which name the build that ran)
    run = child(tmp_path, "-m", "pytest", "-q", "-p", "no:cacheprovider", "--capture=sys", "--hypothesis-seed=0",
                *modules)  # fmt: skip
    assert run.returncode == 0, run.stdout[-4000:] + run.stderr[-4000:]
    reported = builds(run.stderr)
    assert "its baseline build" in reported.values() and "its avx2 build" not in reported.values(), reported
