"""Shared by the harnesses: the tests' reference models on the path, the
fuzzer's entry point, and reading floats with the special values well
represented."""

import os
import sys

import atheris

# The folder holding the `models` package (the tests' conftest stays out).
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))

from models.floats import SPECIAL_F32  # noqa: E402

# Beyond float32: doubles that overflow or underflow when narrowed.
SPECIAL = SPECIAL_F32 + [0.5, 1e39, 1e-40]


def floats(fdp, n):
    """n floats: mostly small integers and halves (so shapes meet exactly),
    sometimes any double, sometimes a special value."""
    out = []
    for _ in range(n):
        kind = fdp.ConsumeIntInRange(0, 7)
        if kind == 0:
            out.append(fdp.PickValueInList(SPECIAL))
        elif kind == 1:
            out.append(fdp.ConsumeRegularFloat())
        else:
            out.append(fdp.ConsumeIntInRange(-8, 8) / 2)
    return out


def main(test_one):
    atheris.Setup(sys.argv, test_one)
    atheris.Fuzz()
