"""solve_ik and compute_bone_lengths against a float32 FABRIK written out."""

import math
import random

import pytest
from conftest import ctrl_c_every, f32, same_f32

from _core import compute_bone_lengths, solve_ik

EPS = 2.0**-23


def length(x, y):
    return f32(math.sqrt(f32(f32(x * x) + f32(y * y))))


def place(a, b, l):
    dx, dy = f32(b[0] - a[0]), f32(b[1] - a[1])
    d = length(dx, dy)
    lam = f32(l / (EPS if math.isnan(d) else max(d, EPS)))
    return (f32(a[0] + f32(dx * lam)), f32(a[1] + f32(dy * lam)))


def ref_solve(chain, target, lengths, max_iter=10, tolerance=0.001):
    p = [(f32(x), f32(y)) for x, y in chain]
    t = (f32(target[0]), f32(target[1]))
    ls = [f32(v) for v in lengths]
    tol = f32(tolerance)
    n = len(p)
    if n < 2:
        return p
    root, total = p[0], 0.0
    for v in ls:
        total = f32(total + v)
    if length(f32(root[0] - t[0]), f32(root[1] - t[1])) >= total:
        for i in range(n - 1):
            p[i + 1] = place(p[i], t, ls[i])
        return p
    for _ in range(max_iter):
        p[-1] = t
        for i in range(n - 2, -1, -1):
            p[i] = place(p[i + 1], p[i], ls[i])
        p[0] = root
        for i in range(1, n):
            p[i] = place(p[i - 1], p[i], ls[i - 1])
        if length(f32(p[-1][0] - t[0]), f32(p[-1][1] - t[1])) < tol:
            break
    return p


def same_chain(got, want):
    return len(got) == len(want) and all(
        type(g) is tuple and same_f32(g[0], w[0]) and same_f32(g[1], w[1])
        for g, w in zip(got, want)
    )


@pytest.mark.parametrize(
    "args, want",
    [
        (([], (1, 1), []), []),
        (([(3, 4)], (0, 0), [1, 2, 3]), [(3, 4)]),
        (([(0, 0), (1, 0), (2, 0)], (10, 0), [1, 1]), [(0, 0), (1, 0), (2, 0)]),
        (([(0, 0), (1, 0), (2, 0)], (0, 2), [1, 1]), [(0, 0), (0, 1), (0, 2)]),
        (([(0, 0), (1, 0), (2, 0)], (1, 1), [1, 1], 0), [(0, 0), (1, 0), (2, 0)]),
        # coincident joints: the direction is zero and the joint lands on its anchor
        (([(0, 0), (0, 0)], (5, 0), [1]), [(0, 0), (1, 0)]),
    ],
)
def test_examples(args, want):
    assert same_chain(solve_ik(*args), want)


@pytest.mark.parametrize("kind", ["reachable", "unreachable", "odd"])
@pytest.mark.parametrize("seed", range(8))
def test_matches_reference(kind, seed):
    rng = random.Random(seed)
    n = rng.randint(2, 12)
    chain = [(rng.uniform(-3, 3), rng.uniform(-3, 3)) for _ in range(n)]
    lengths = [rng.uniform(0.1, 2.0) for _ in range(n - 1)]
    if kind == "reachable":
        target = (chain[0][0] + 0.3 * sum(lengths) * 0.6, chain[0][1] - 0.2 * sum(lengths))
    elif kind == "unreachable":
        target = (chain[0][0] + sum(lengths) * 2, chain[0][1])
    else:  # zero and negative bones, NaN, inf, subnormals, duplicate joints
        pool = [0.0, -0.5, math.nan, math.inf, 1e-45, 0.1]
        lengths = [rng.choice(pool + lengths) for _ in lengths]
        chain = [rng.choice([chain[0], (1e-45, 0.0), (math.nan, 1.0), c]) for c in chain]
        target = rng.choice([(0.1, 0.2), (math.nan, 0.0), (-math.inf, 3.0), chain[0]])
    for max_iter, tol in [(10, 0.001), (0, 0.001), (1, 0.0), (50, 1e-6), (3, math.nan)]:
        got = solve_ik(chain, target, lengths, max_iter=max_iter, tolerance=tol)
        assert same_chain(got, ref_solve(chain, target, lengths, max_iter, tol))


def test_reachable_keeps_root_and_bones():
    rng = random.Random(9)
    chain = [(float(i), 0.0) for i in range(20)]
    lengths = [1.0] * 19
    for _ in range(20):
        target = (rng.uniform(-10, 10), rng.uniform(-10, 10))
        got = solve_ik(chain, target, lengths, max_iter=100, tolerance=1e-4)
        assert got[0] == (0.0, 0.0)
        assert all(abs(b - 1.0) < 1e-5 for b in compute_bone_lengths(got))
        assert math.dist(got[-1], target) < 1e-3


def test_wrong_length_count():
    with pytest.raises(ValueError) as e:
        solve_ik([(0, 0), (1, 0), (2, 0)], (5, 5), [1.0])
    assert str(e.value) == "lengths must have exactly 2 element(s) for a chain of 3 joints, got 1"


@pytest.mark.parametrize(
    "kwargs, exc, text",
    [
        ({"max_iter": -1}, OverflowError, "out of range integral type conversion attempted"),
        ({"max_iter": 2**32}, OverflowError, "out of range integral type conversion attempted"),
        ({"tolerance": None}, TypeError, "argument 'tolerance': "),
        ({"target": [1, 1]}, TypeError, "argument 'target': 'list' object cannot be converted"),
        (
            {"target": (1, 1, 1)},
            ValueError,
            "expected tuple of length 2, but got tuple of length 3",
        ),
    ],
)
def test_bad_arguments(kwargs, exc, text):
    args = {"chain_positions": [(0, 0), (1, 0)], "target": (0.5, 0.5), "lengths": [1.0], **kwargs}
    with pytest.raises(exc, match=text.replace("(", r"\(").replace(")", r"\)")):
        solve_ik(**args)


def test_long_solve_is_interruptible():
    with ctrl_c_every(0.2), pytest.raises(KeyboardInterrupt):
        # tolerance 0 never converges: without the interrupt this runs for hours
        solve_ik(
            [(float(i), 0.0) for i in range(100)],
            (3.0, 4.0),
            [1.0] * 99,
            max_iter=2**32 - 1,
            tolerance=0.0,
        )


@pytest.mark.parametrize(
    "positions, want",
    [
        ([(0, 0), (3, 4), (3, 4)], [5.0, 0.0]),
        ([(1, 1)], []),
        ([], []),
        ([(0, 0), (1e30, 1e30), (0.1, 0.0)], [math.inf, math.inf]),
        ([(0, 0), (math.nan, 0)], [math.nan]),
    ],
)
def test_bone_lengths(positions, want):
    got = compute_bone_lengths(positions)
    assert type(got) is list and len(got) == len(want)
    assert all(same_f32(g, w) for g, w in zip(got, want))
