"""Side-by-side timing of our operations against their anchors.

A bench module defines `cases()` returning a list of Case. Each case names
a statement of ours and one of the anchor, evaluated in the same namespace;
`check` verifies both computed the same thing before anything is timed.
"""

from __future__ import annotations

import timeit
from dataclasses import dataclass, field
from typing import Any, Callable


@dataclass
class Case:
    name: str  # what is measured, e.g. "Vec2 a + b"
    ours: str  # statement timed for us
    anchor: str  # statement timed for the anchor
    anchor_name: str  # e.g. "PyGLM"
    env: dict[str, Any] = field(default_factory=dict)
    work: str = "1 call"  # size of the work in one statement
    check: Callable[[Any, Any], bool] | None = None  # (ours result, anchor result) -> same?
    goal: float | None = 1.0  # ratio we aim at or below; None when only reported
    # A quantity other than time: returns (ours, anchor) in `unit` ("B": bytes).
    quantity: Callable[[], tuple[float, float]] | None = None
    unit: str = "s"


@dataclass
class Result:
    case: Case
    ours_s: float
    anchor_s: float

    @property
    def ratio(self) -> float:
        return self.ours_s / self.anchor_s


def verify(case: Case) -> None:
    if case.check is None:
        return
    a = eval(case.ours, case.env)  # noqa: S307 - our own statements
    b = eval(case.anchor, case.env)  # noqa: S307
    if not case.check(a, b):
        raise AssertionError(f"{case.name}: ours and {case.anchor_name} disagree: {a!r} vs {b!r}")


def _calibrate(timer: timeit.Timer, target: float) -> int:
    number = 1
    while True:
        t = timer.timeit(number)
        if t >= target / 10:
            return max(1, int(number * target / max(t, 1e-9)))
        number *= 10


def measure(case: Case, repeats: int = 7, target: float = 0.05) -> Result:
    """Best time per statement, ours and anchor alternating in one process."""
    verify(case)
    if case.quantity is not None:
        return Result(case, *case.quantity())
    t_ours = timeit.Timer(case.ours, globals=case.env)
    t_anchor = timeit.Timer(case.anchor, globals=case.env)
    n_ours = _calibrate(t_ours, target)
    n_anchor = _calibrate(t_anchor, target)
    best_ours = best_anchor = float("inf")
    for _ in range(repeats):
        best_ours = min(best_ours, t_ours.timeit(n_ours) / n_ours)
        best_anchor = min(best_anchor, t_anchor.timeit(n_anchor) / n_anchor)
    return Result(case, best_ours, best_anchor)


def same_floats(a, b, tol: float = 0.0) -> bool:
    """Both sequences (or scalars) hold the same numbers, within `tol`."""
    try:
        xs, ys = list(a), list(b)
    except TypeError:
        xs, ys = [a], [b]
    return len(xs) == len(ys) and all(abs(float(x) - float(y)) <= tol for x, y in zip(xs, ys))
