"""Shared helpers: float32 rounding and bit patterns for exact comparisons."""
import contextlib
import math
import signal
import struct

import pytest


def f32(x: float) -> float:
    """x rounded to the nearest float32 (inf beyond the range), widened back."""
    try:
        return struct.unpack("<f", struct.pack("<f", x))[0]
    except OverflowError:
        return math.copysign(math.inf, x)


def bits(x: float) -> int:
    """The float32 bit pattern of x (x must already be a float32 value)."""
    return struct.unpack("<I", struct.pack("<f", x))[0]


def same_f32(a: float, b: float) -> bool:
    """Bit-identical as float32; all NaNs count as equal."""
    if math.isnan(a) and math.isnan(b):
        return True
    return bits(a) == bits(b)


# Seeded float32 inputs that include the cases arithmetic gets wrong first.
SPECIAL_F32 = [0.0, -0.0, 1.0, -1.0, 0.1, 1e-45, -1e-45, 1.1754942e-38, 3.4028235e38,
               -3.4028235e38, math.inf, -math.inf, math.nan, 16777217.0, 1e20, 1e-7]


@pytest.fixture
def rng():
    import random
    return random.Random(1234)


@contextlib.contextmanager
def ctrl_c_every(seconds: float = 0.2):
    """Raises KeyboardInterrupt from a timer signal every `seconds`, the way
    Ctrl-C would, while the body runs."""
    def stop(*_):
        raise KeyboardInterrupt
    old = signal.signal(signal.SIGALRM, stop)
    signal.setitimer(signal.ITIMER_REAL, seconds, seconds)
    try:
        yield
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, old)
