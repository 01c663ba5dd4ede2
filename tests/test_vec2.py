"""Vec2 and AABB: float32 results bit for bit against a numpy reference,
the documented edge cases, and the shortest-digit reprs."""

import math
import random

import numpy as np
import pytest
from conftest import SPECIAL_F32, f32, same_f32

from _core import AABB, Vec2

F = np.float32


def sample(rng, n=300):
    """float32 values: the special ones and seeded random ones of all scales."""
    vals = list(SPECIAL_F32)
    for _ in range(n):
        vals.append(f32(rng.choice([-1, 1]) * 10 ** rng.uniform(-44, 38.5)))
    return vals


def pairs(rng, n=400):
    vals = sample(rng)
    return [(rng.choice(vals), rng.choice(vals)) for _ in range(n)]


def ref_normalize(x, y):
    q = x * x + y * y
    if q == 0:
        return F(0), F(0)
    n = np.sqrt(q)
    return x / n, y / n


@np.errstate(all="ignore")
def test_vec2_arithmetic_matches_float32_reference(rng):
    for (ax, ay), (bx, by) in zip(pairs(rng), pairs(rng)):
        a, b = Vec2(ax, ay), Vec2(bx, by)
        fa = (F(ax), F(ay))
        fb = (F(bx), F(by))
        t = F(bx)
        expected = {
            "dot": fa[0] * fb[0] + fa[1] * fb[1],
            "length": np.sqrt(fa[0] * fa[0] + fa[1] * fa[1]),
            "add": (fa[0] + fb[0], fa[1] + fb[1]),
            "sub": (fa[0] - fb[0], fa[1] - fb[1]),
            "mul": (fa[0] * t, fa[1] * t),
            "lerp": (fa[0] + (fb[0] - fa[0]) * t, fa[1] + (fb[1] - fa[1]) * t),
            "normalize": ref_normalize(*fa),
        }
        got = {
            "dot": a.dot(b),
            "length": a.length(),
            "add": a + b,
            "sub": a - b,
            "mul": a * bx,
            "lerp": a.lerp(b, bx),
            "normalize": a.normalize(),
        }
        for name, want in expected.items():
            have = got[name]
            if isinstance(want, tuple):
                have = (have.x, have.y)
                assert all(same_f32(h, float(w)) for h, w in zip(have, want)), (
                    name,
                    ax,
                    ay,
                    bx,
                    by,
                )
            else:
                assert same_f32(have, float(want)), (name, ax, ay, bx, by)


def test_vec2_documented_values():
    assert Vec2(3, 4).length() == 5.0
    n = Vec2(3, 4).normalize()
    assert (n.x, n.y) == (0.6000000238418579, 0.800000011920929)
    for tiny in (Vec2(0, 0), Vec2(1e-30, 0)):
        z = tiny.normalize()
        assert (z.x, z.y) == (0.0, 0.0)
    nan = Vec2(math.nan, 0).normalize()
    assert math.isnan(nan.x) and math.isnan(nan.y)
    e = Vec2(1, 2).lerp(Vec2(3, 6), 2)
    assert (e.x, e.y) == (5.0, 10.0)
    d = Vec2(1, 5) - Vec2(3, 2)
    assert (d.x, d.y) == (-2.0, 3.0)


def test_operations_return_new_objects_and_keep_the_receiver():
    v = Vec2(1, 2)
    for result in (v + v, v - v, v * 1, v.normalize(), v.lerp(v, 0)):
        assert result is not v and type(result) is Vec2
    assert (v.x, v.y) == (1.0, 2.0)
    box = AABB(0, 0, 1, 1)
    assert box.expand(0) is not box


@pytest.mark.parametrize(
    "box, point, inside",
    [
        ((0, 0, 1, 1), (1, 1), True),
        ((0, 0, 1, 1), (0, 0), True),
        ((0, 0, 1, 1), (1.0000001, 0.5), False),
        ((0, 0, 1, 1), (math.nan, 0.5), False),
        ((0, math.nan, 1, 1), (0.5, 0.5), False),
        ((5, 5, 0, 0), (2, 2), False),
        ((-math.inf, -math.inf, math.inf, math.inf), (1e30, -1e30), True),
    ],
)
def test_aabb_contains(box, point, inside):
    assert AABB(*box).contains(Vec2(*point)) is inside


@pytest.mark.parametrize(
    "a, b, hit",
    [
        ((0, 0, 1, 1), (1, 1, 2, 2), True),  # corner touch
        ((0, 0, 1, 1), (1, 0, 2, 1), True),  # edge touch
        ((0, 0, 1, 1), (1.5, 0, 2, 1), False),
        ((0, 0, 1, 1), (0, 1.5, 1, 2), False),
        ((0, 0, 1, 1), (-1, -1, 3, 3), True),  # containment
        ((0, 0, 1, 1), (0, 0, math.nan, 1), False),
    ],
)
def test_aabb_intersects(a, b, hit):
    assert AABB(*a).intersects(AABB(*b)) is hit
    assert AABB(*b).intersects(AABB(*a)) is hit


@np.errstate(all="ignore")
def test_aabb_derived_boxes_match_float32_reference(rng):
    vals = sample(rng)
    for _ in range(300):
        lo_x, lo_y, hi_x, hi_y, a = (rng.choice(vals) for _ in range(5))
        box = AABB(lo_x, lo_y, hi_x, hi_y)
        c, s, e = box.center(), box.size(), box.expand(a)
        h = F(0.5)
        assert same_f32(c.x, float((F(lo_x) + F(hi_x)) * h))
        assert same_f32(c.y, float((F(lo_y) + F(hi_y)) * h))
        assert same_f32(s.x, float(F(hi_x) - F(lo_x)))
        assert same_f32(s.y, float(F(hi_y) - F(lo_y)))
        want = (F(lo_x) - F(a), F(lo_y) - F(a), F(hi_x) + F(a), F(hi_y) + F(a))
        got = (e.min_x, e.min_y, e.max_x, e.max_y)
        assert all(same_f32(g, float(w)) for g, w in zip(got, want))


def test_inverted_boxes_are_kept():
    box = AABB(5, 5, 0, 0)
    assert (box.min_x, box.max_x) == (5.0, 0.0)
    s = box.size()
    assert (s.x, s.y) == (-5.0, -5.0)
    shrunk = AABB(0, 0, 1, 1).expand(-1)
    assert (shrunk.min_x, shrunk.min_y, shrunk.max_x, shrunk.max_y) == (1.0, 1.0, 0.0, 0.0)


def shortest(x: float) -> str:
    """Reference: the fewest digits that round-trip as float32, positional."""
    if math.isnan(x):
        return "NaN"
    if math.isinf(x):
        return "inf" if x > 0 else "-inf"
    return np.format_float_positional(np.float32(x), unique=True, trim="-")


@pytest.mark.parametrize(
    "v, text",
    [
        (Vec2(0.1, 2), "Vec2(0.1, 2)"),
        (Vec2(1e20, 0), "Vec2(100000000000000000000, 0)"),
        (Vec2(-0.0, math.nan), "Vec2(-0, NaN)"),
        (Vec2(1e-7, -math.inf), "Vec2(0.0000001, -inf)"),
        (Vec2(math.inf, 123456792), "Vec2(inf, 123456790)"),
        (
            Vec2(3.4028235e38, 1e-45),
            "Vec2(340282350000000000000000000000000000000, "
            "0.000000000000000000000000000000000000000000001)",
        ),
    ],
)
def test_vec2_repr(v, text):
    assert repr(v) == text


def test_aabb_repr():
    assert repr(AABB(0, 0, 1.5, 2)) == "AABB((0, 0), (1.5, 2))"
    assert repr(AABB(-0.0, 0.25, -1e-7, 5e9)) == "AABB((-0, 0.25), (-0.0000001, 5000000000))"


def test_repr_digits_match_reference(rng):
    for x in sample(rng, 2000):
        assert repr(Vec2(x, 0)) == f"Vec2({shortest(x)}, 0)"
    for _ in range(2000):
        x = f32(random.Random(rng.random()).uniform(-1e6, 1e6))
        assert repr(Vec2(x, x)) == f"Vec2({shortest(x)}, {shortest(x)})"
