"""Shared helpers: the float32 helpers and special values (defined with the
reference models, which the fuzz harnesses share), hostile argument objects
and Ctrl-C, from a timer or from outside."""

import contextlib
import glob
import signal
import subprocess
import sys
import time

import pytest
from models.floats import SPECIAL_F32, bits, f32, same_f32, ulps_apart  # noqa: F401

# A shell without job control starts its background commands with Ctrl-C
# ignored, and Python then leaves it ignored (CI runs suites in the
# background). The Ctrl-C tests need it as a terminal gives it; the children
# they start inherit that, since a handled signal is reset by exec.
if signal.getsignal(signal.SIGINT) is signal.SIG_IGN:
    signal.signal(signal.SIGINT, signal.default_int_handler)


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


def ctrl_c_child(code: str, delay: float = 0.05) -> str:
    """Runs `code` in a child interpreter, which prints "ready" just before its
    long call, sends it SIGINT once the call has run `delay` seconds of CPU
    time and returns what it printed after that. The signal comes from
    outside, as Ctrl-C does: a thread of the child could not send it while
    the call holds the interpreter lock. The delay is the child's own CPU
    time, not the clock's: on a busy machine, a signal timed by the clock
    can come after a short call has ended."""
    child = subprocess.Popen([sys.executable, "-c", code], stdout=subprocess.PIPE, text=True)
    try:
        assert child.stdout.readline() == "ready\n"
        start, deadline = _cpu_seconds(child.pid), time.monotonic() + 60
        while (
            child.poll() is None
            and _cpu_seconds(child.pid) - start < delay
            and time.monotonic() < deadline
        ):
            time.sleep(0.001)
        child.send_signal(signal.SIGINT)
        out, _ = child.communicate(timeout=300)
    finally:
        child.kill()
    return out


def _cpu_seconds(pid: int) -> float:
    """The CPU time process `pid` has used, all its threads."""
    total = 0
    for task in glob.glob(f"/proc/{pid}/task/*/schedstat"):
        with contextlib.suppress(OSError):  # a thread that ended meanwhile
            with open(task) as f:
                total += int(f.read().split()[0])
    return total / 1e9


# For ctrl_c_child: `stopped_inside(call, *args)` prints "ready", makes the
# call and tells whether KeyboardInterrupt came out of the call itself, as
# the profiler saw it end. A signal noticed only after the call returned
# shows there as a return, or as the profiler's own exception.
STOPPED_INSIDE = """
import sys

def stopped_inside(call, *args):
    seen = []
    sys.setprofile(lambda frame, event, arg: seen.append(event) if arg is call else None)
    print("ready", flush=True)
    try:
        call(*args)
    except KeyboardInterrupt:
        pass
    finally:
        sys.setprofile(None)
    return seen == ["c_call", "c_exception"]
"""


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
