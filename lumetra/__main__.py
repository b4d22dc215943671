"""`python -m lumetra`: the demonstration (see lumetra.demo)."""

import sys

try:
    import lumetra._core  # noqa: F401
except ImportError as error:
    sys.exit(
        f"python -m lumetra: the compiled module lumetra._core cannot be imported ({error}).\n"
        "Install the package (pip install .) and run it from outside the source checkout, "
        "or with python -P."
    )

from lumetra.demo import main

sys.exit(main())
