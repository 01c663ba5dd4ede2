"""Shared helpers: the float32 helpers and special values (defined with the
reference models, which the fuzz harnesses share), hostile argument objects
and a Ctrl-C timer."""

import contextlib
import signal

import pytest
from models.floats import SPECIAL_F32, bits, f32, same_f32, ulps_apart  # noqa: F401


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


class RaisesOnFloat:
    """A number whose conversion fails with an error of its own."""

    def __float__(self):
        raise ZeroDivisionError("no float")

    def __index__(self):
        raise ZeroDivisionError("no index")


class FailingSequence:
    """A sequence of ones whose item `fail_at` raises KeyError(message);
    `length` is what len() reports, true or not."""

    def __init__(self, length=3, fail_at=2, message="broken"):
        self.length, self.fail_at, self.message = length, fail_at, message

    def __len__(self):
        return self.length

    def __getitem__(self, i):
        if i == self.fail_at:
            raise KeyError(self.message)
        return 1
