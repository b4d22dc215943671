"""`python -m lumetra`: the demonstration (see lumetra.demo); `python -m lumetra m3`: the
M3 benchmark of the models (see lumetra.m3)."""

import sys

try:
    import lumetra._core  # noqa: F401
except ImportError as error:
    sys.exit(
        f"python -m lumetra: the compiled module lumetra._core cannot be imported ({error}).\n"
        "Install the package (pip install .) and run it from outside the source checkout, "
        "or with python -P."
    )

if sys.argv[1:2] == ["m3"]:
    from lumetra.m3 import main as m3

    sys.exit(m3(sys.argv[2:]))

from lumetra.demo import main

sys.exit(main())
