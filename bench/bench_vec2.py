"""Vec2 and AABB against PyGLM's vec2 (the box logic written on glm vectors)."""

import glm

import _core
from common import Case, same_floats


def _glm_contains(lo, hi, p):
    return lo.x <= p.x <= hi.x and lo.y <= p.y <= hi.y


def _glm_intersects(alo, ahi, blo, bhi):
    return alo.x <= bhi.x and ahi.x >= blo.x and alo.y <= bhi.y and ahi.y >= blo.y


def cases():
    env = {
        "Vec2": _core.Vec2,
        "AABB": _core.AABB,
        "glm": glm,
        "a": _core.Vec2(1.5, -2.25),
        "b": _core.Vec2(0.5, 4.0),
        "ga": glm.vec2(1.5, -2.25),
        "gb": glm.vec2(0.5, 4.0),
        "box": _core.AABB(0, 0, 2, 2),
        "other": _core.AABB(1, 1, 3, 3),
        "p": _core.Vec2(1, 1),
        "lo": glm.vec2(0, 0),
        "hi": glm.vec2(2, 2),
        "olo": glm.vec2(1, 1),
        "ohi": glm.vec2(3, 3),
        "gp": glm.vec2(1, 1),
        "glm_contains": _glm_contains,
        "glm_intersects": _glm_intersects,
        "x": 1.5,
        "y": -2.25,
    }
    xy = lambda v: (v.x, v.y)  # noqa: E731
    same_vec = lambda a, b: same_floats(xy(a), xy(b))  # noqa: E731
    return [
        Case("Vec2(x, y)", "Vec2(x, y)", "glm.vec2(x, y)", "PyGLM", env, check=same_vec),
        Case("Vec2 a + b", "a + b", "ga + gb", "PyGLM", env, check=same_vec),
        Case("Vec2 a * 2.0", "a * 2.0", "ga * 2.0", "PyGLM", env, check=same_vec),
        Case("Vec2 a.dot(b)", "a.dot(b)", "glm.dot(ga, gb)", "PyGLM", env, check=same_floats),
        Case(
            "Vec2 a.normalize()",
            "a.normalize()",
            "glm.normalize(ga)",
            "PyGLM",
            env,
            check=lambda a, b: same_floats(xy(a), xy(b), 1e-7),
        ),
        Case("Vec2 a.x read", "a.x", "ga.x", "PyGLM", env, check=same_floats),
        Case("Vec2 a.x = v write", "a.x = 1.5", "ga.x = 1.5", "PyGLM", env),
        Case(
            "AABB.contains(p)",
            "box.contains(p)",
            "glm_contains(lo, hi, gp)",
            "PyGLM",
            env,
            check=lambda a, b: a == b,
        ),
        Case(
            "AABB.intersects(other)",
            "box.intersects(other)",
            "glm_intersects(lo, hi, olo, ohi)",
            "PyGLM",
            env,
            check=lambda a, b: a == b,
        ),
    ]
