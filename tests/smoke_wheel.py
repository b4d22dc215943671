"""Checks of a built wheel, run by `./dev wheel` (not collected by pytest).

    python smoke_wheel.py contents WHEEL   # the wheel holds the package's files
    python smoke_wheel.py installed        # the installed wheel works, from any directory

`installed` runs with the interpreter of the environment the wheel was installed into,
from a directory outside the checkout, so that the installed package is the one imported.
"""

from __future__ import annotations

import ast
import importlib.resources
import subprocess
import sys
import zipfile

NEEDED = [
    "lumetra/__init__.py",
    "lumetra/__main__.py",
    "lumetra/_core.pyi",
    "lumetra/_fit.pyi",
    "lumetra/py.typed",
    "lumetra/models/__init__.py",
    "lumetra/datasets.py",
    "lumetra/data/airline_passengers.csv",
    "lumetra/demo/__init__.py",
]


def contents(wheel: str) -> None:
    """Exit with a message naming what the wheel lacks, if anything."""
    names = set(zipfile.ZipFile(wheel).namelist())
    missing = [name for name in NEEDED if name not in names]
    for module in ("_core", "_fit"):
        if not any(name.startswith(f"lumetra/{module}.cpython-313") for name in names):
            missing.append(f"lumetra/{module}.cpython-313-*.so")
    if missing:
        sys.exit(f"dev wheel: the wheel lacks {missing}")


def installed() -> None:
    """The installed module, its stubs and the demonstration; prints the report's last line."""
    import numpy as np

    import lumetra._core as core

    package = importlib.resources.files("lumetra")
    # The stub declares the module's functions, in the module's order.
    stub = ast.parse(package.joinpath("_core.pyi").read_text())
    declared = [node.name for node in stub.body if isinstance(node, ast.FunctionDef)]
    assert declared == core.__all__ and all(callable(getattr(core, name)) for name in declared)
    assert core.ses_sse(np.array([1.0, 2.0, 3.0]), 0.5) == 3.25
    assert "site-packages" in str(package) and package.joinpath("py.typed").is_file()
    demo = subprocess.run(
        [sys.executable, "-m", "lumetra"], capture_output=True, text=True, timeout=600
    )
    lines = demo.stdout.splitlines()
    if demo.returncode != 0 or demo.stderr or not lines or " steps in " not in lines[-1]:
        sys.exit(f"dev wheel: python -m lumetra failed:\n{demo.stdout}{demo.stderr}")
    print(lines[-1])


if __name__ == "__main__":
    if sys.argv[1:2] == ["contents"] and len(sys.argv) == 3:
        contents(sys.argv[2])
    elif sys.argv[1:] == ["installed"]:
        installed()
    else:
        sys.exit(__doc__)
