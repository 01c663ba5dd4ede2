"""convex_hull and bounding_box against float32 reference models."""

import math
import random

import numpy as np
import pytest
import scipy.spatial
from conftest import STOPPED_INSIDE, ctrl_c_child, f32, same_f32
from models.hull import (
    accepted,
    all_collinear,
    dense_cloud,
    judged_hull,
    orientation,
    pivot_first,
    ref_hull,
    same_points,
)

from _core import bounding_box, convex_hull

FLT_MAX = 3.4028234663852886e38


# ---- examples -----------------------------------------------------------------


@pytest.mark.parametrize(
    "points, hull",
    [
        ([], []),
        ([(1, 2)], [(1.0, 2.0)]),
        ([(0, 0), (0, 0)], [(0.0, 0.0), (0.0, 0.0)]),
        ([(math.nan, 1), (2, math.inf)], [(math.nan, 1.0), (2.0, math.inf)]),
        ([(1, 1), (0, 0), (0.5, 0.5), (1, 0), (0, 1)], [(0, 0), (1, 0), (1, 1), (0, 1)]),
        ([(0, 0), (2, 0), (1, 0)], [(0, 0), (2, 0)]),
        ([(5, 5)] * 3, [(5, 5), (5, 5)]),
        ([(3, 0), (1, 0), (2, 2)], [(1, 0), (3, 0), (2, 2)]),
        ([(0, 0), (2, 0), (1, 1), (1, 0)], [(0, 0), (2, 0), (1, 1)]),
        ([(0.1, 0), (1, 0), (0.5, 1)], [(f32(0.1), 0), (1, 0), (0.5, 1)]),
        # Infinite coordinates are fine as long as every orientation stays defined.
        ([(0, 0), (1, 0), (0, math.inf)], [(0, 0), (1, 0), (0, math.inf)]),
    ],
)
def test_examples(points, hull):
    assert same_points(convex_hull(points), hull)


@pytest.mark.parametrize(
    "points",
    [
        [(0, 0), (1, math.nan), (2, 2)],
        [(math.nan, math.nan)] * 3,
        [(0, 0), (math.inf, 1), (1, 0)],  # inf * 0 in the angular order
        [(0, -math.inf), (1, -math.inf), (2, 0)],  # the pivot itself is infinite
        [(-3e38, -3e38), (3e38, 3e38), (3e38, 2e38)],  # finite, but offsets overflow
        [(3.4e38, 1e-45), (1e-45, -3.4e38), (1e38, 3.4e38)],  # finite, the cross product overflows
    ],
)
def test_undefined_orientation_raises(points):
    # A NaN is named by its point; only a coordinate that is infinite is blamed as one.
    coords = [c for p in points for c in p]
    want = (
        "has a NaN coordinate"
        if any(map(math.isnan, coords))
        else "infinite coordinates"
        if any(map(math.isinf, coords))
        else "coordinates too large"
    )
    with pytest.raises(ValueError, match=f"^convex_hull\\(\\): .*{want}"):
        convex_hull(points)


def test_bad_arguments():
    with pytest.raises(TypeError, match="argument 'points': 'list' object cannot be converted"):
        convex_hull([[0, 0], [1, 1], [2, 0]])
    with pytest.raises(ValueError, match="expected tuple of length 2, but got tuple of length 3"):
        convex_hull([(0, 0, 0)])


# ---- differential ----------------------------------------------------------------


def cloud(rng, kind, n):
    if kind == "grid":  # duplicates and long collinear runs
        return [(rng.randint(-4, 4), rng.randint(-4, 4)) for _ in range(n)]
    if kind == "disc":
        out = []
        for _ in range(n):
            r, t = math.sqrt(rng.random()), rng.random() * 2 * math.pi
            out.append((r * math.cos(t), r * math.sin(t)))
        return out
    if kind == "line":
        return [(v, 2 * v + 1) for v in (rng.randint(-50, 50) for _ in range(n))]
    if kind == "narrowed":  # doubles that round when narrowed, mixed magnitudes
        return [
            (
                rng.uniform(-1, 1) * 10 ** rng.randint(-3, 15),
                rng.uniform(-1, 1) * 10 ** rng.randint(-3, 15),
            )
            for _ in range(n)
        ]
    if kind == "subnormal":
        return [(rng.randint(-8, 8) * 1e-45, rng.randint(-8, 8) * 1e-45) for _ in range(n)]
    if kind == "runs":  # nearly collinear runs through a few anchors, some points repeated
        out = []
        while len(out) < n:
            x0, y0, dx, dy = (rng.uniform(-10, 10) for _ in range(4))
            for i in range(rng.randint(1, 60)):
                jitter = rng.choice([0.0, 1e-7, 1e-9, 1e-30]) * rng.uniform(-1, 1)
                out.append((x0 + i * dx * 1e-4, y0 + i * dy * 1e-4 + jitter))
            out += rng.sample(out, min(len(out), rng.randint(0, 5)))
        return out[:n]
    if kind == "extremes":  # huge and tiny magnitudes side by side
        scale = [1e-38, 1e-20, 1e-6, 1.0, 1e6, 1e15, 1e18]
        return [
            (rng.uniform(-1, 1) * rng.choice(scale), rng.uniform(-1, 1) * rng.choice(scale))
            for _ in range(n)
        ]
    if kind == "gauss":
        return [(rng.gauss(0, 1), rng.gauss(0, 1)) for _ in range(n)]
    if kind == "square":
        return [(rng.random(), rng.random()) for _ in range(n)]
    raise AssertionError(kind)


def is_judged_convex_hull(hull, pts):
    """Convex and containing every point by the scan's own float32 tests."""
    pts = [(f32(x), f32(y)) for x, y in pts]
    return accepted(hull, pts) or all_collinear(pivot_first(pts))


SMALL_KINDS = ["grid", "disc", "line", "narrowed", "subnormal", "runs", "extremes"]


@pytest.mark.parametrize("kind", SMALL_KINDS)
@pytest.mark.parametrize("n", [3, 4, 7, 40, 300])
def test_small_sets_follow_the_judged_scan(kind, n):
    # The scan's own result wherever it is convex and holds every point (all
    # of the consistent cases), else the exact hull; either way a convex
    # polygon that holds every point.
    rng = random.Random(f"{kind}-{n}")
    for _ in range(20):
        pts = cloud(rng, kind, n)
        got = convex_hull(pts)
        assert same_points(got, judged_hull(pts)), pts
        assert is_judged_convex_hull(got, pts), pts


@pytest.mark.parametrize("kind", ["disc", "square", "gauss", "grid", "runs", "narrowed"])
def test_dropping_inner_points_changes_nothing(kind):
    # From 1024 points on, points deep inside are dropped before the sort;
    # the model sorts and scans all of them.
    rng = random.Random(kind)
    for n in (1100, 3000):
        pts = cloud(rng, kind, n)
        assert same_points(convex_hull(pts), judged_hull(pts)), kind


def test_large_cloud_matches_reference():
    rng = random.Random(7)
    pts = cloud(rng, "disc", 20000) + cloud(rng, "grid", 2000)
    assert same_points(convex_hull(pts), ref_hull(pts))


def test_vertices_match_scipy_in_general_position():
    rng = np.random.default_rng(3)
    for n in (10, 100, 5000):
        pts = rng.uniform(-100, 100, (n, 2)).astype(np.float32).astype(np.float64)
        want = {tuple(p) for p in pts[scipy.spatial.ConvexHull(pts).vertices]}
        got = convex_hull([tuple(p) for p in pts.tolist()])
        assert set(got) == want and len(got) == len(want)
        # counter-clockwise: every turn is to the left
        for a, b, c in zip(got, got[1:] + got[:1], got[2:] + got[:2]):
            assert (b[0] - a[0]) * (c[1] - a[1]) - (b[1] - a[1]) * (c[0] - a[0]) > 0


def assert_exact_hull(got, pts):
    """The vertex set scipy finds, each once, counter-clockwise from the
    lowest point (leftmost among the lowest), every turn strictly left."""
    want = {
        tuple(p) for p in pts[scipy.spatial.ConvexHull(pts.astype(np.float64)).vertices].tolist()
    }
    got = [tuple(p) for p in got.tolist()]
    assert len(got) == len(want) and set(got) == want
    assert got[0] == min(got, key=lambda p: (p[1], p[0]))
    assert all(
        orientation(a, b, c) > 0 for a, b, c in zip(got, got[1:] + got[:1], got[2:] + got[:2])
    )


@pytest.mark.parametrize(
    "n", [1_000_000, pytest.param(10_000_000, marks=pytest.mark.slow)], ids=["1M", "10M"]
)
@pytest.mark.parametrize("kind", ["disc", "square", "gauss"])
def test_dense_clouds_give_the_exact_hull(kind, n):
    # At these densities the float32 angular order is not consistent, and the
    # scan alone kept interior points and made reflex turns.
    from gfxcore import arrays

    pts = dense_cloud(kind, n, seed=n + len(kind))
    assert_exact_hull(arrays.convex_hull(pts), pts)
    if n == 1_000_000:
        as_list = convex_hull(list(map(tuple, pts.tolist())))
        assert np.array_equal(np.asarray(as_list, dtype=np.float32), arrays.convex_hull(pts))


def test_nearly_collinear_input_is_deterministic():
    # Many points within the collinearity tolerance of one ray and of each
    # other: the angular order is not transitive here.
    rng = random.Random(11)
    pts = (
        [(0.0, 0.0)]
        + [(i * 1e-5, i * 1e-5 + rng.uniform(-1e-9, 1e-9) * i) for i in range(1, 400)]
        + [(1.0, 0.0), (0.0, 1.0)]
    )
    rng.shuffle(pts)
    first = convex_hull(pts)
    assert all(convex_hull(pts) == first for _ in range(3))
    assert set(first) <= {(f32(x), f32(y)) for x, y in pts}
    assert is_judged_convex_hull(first, pts)


HULL_CHILD = """
import math
import _core
# On a circle every point is on the hull: none is dropped before the sort.
circle = [(math.cos(i * 0.0015), math.sin(i * 0.0015)) for i in range(4096)]
points = circle * 1000
print(stopped_inside(_core.convex_hull, points))
"""


def test_ctrl_c_stops_the_sort_of_a_large_hull():
    # 4M points: the list is read in about 0.1 s, the sort takes seconds.
    assert ctrl_c_child(STOPPED_INSIDE + HULL_CHILD, delay=0.3) == "True\n"


# ---- bounding_box -------------------------------------------------------------------


@pytest.mark.parametrize(
    "points, box",
    [
        ([], (0.0, 0.0, 0.0, 0.0)),
        ([(1, -2), (3, 4)], (1.0, -2.0, 3.0, 4.0)),
        ([(math.nan, 1.0)], (FLT_MAX, 1.0, -FLT_MAX, 1.0)),
        ([(math.inf, -math.inf)], (FLT_MAX, -math.inf, math.inf, -FLT_MAX)),
        ([(0.1, 1e300), (-1e-50, 0)], (-0.0, 0.0, f32(0.1), math.inf)),
    ],
)
def test_bounding_box(points, box):
    got = bounding_box(points)
    assert isinstance(got, tuple) and all(same_f32(g, w) for g, w in zip(got, box))
