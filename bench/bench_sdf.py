"""SDF scene buffers and collider queries against numpy float32 broadcasting.

The anchor evaluates the same field as the collider: the records are decoded
once into per-type numpy arrays, and each query broadcasts the point (or a
block of points) over the primitives.
"""

import random

import glm
import numpy as np

import _core
from common import Case, same_floats

F = np.float32
BULK_POINTS = 10_000
BULK_PRIMS = 10_000


SPHERES_BOXES_TORI = (0, 1, 5)
EVERY_TYPE = tuple(range(8))


def _random_scene(n, seed, kinds=EVERY_TYPE):
    """n primitives of the given type codes in random order; one prim is a sphere."""
    rng = random.Random(seed)
    P = _core.SdfPrimitive
    u = lambda a, b: rng.uniform(a, b)  # noqa: E731
    makers = [
        lambda c: P.sphere(*c, u(0.2, 1)),
        lambda c: P.box_(*c, u(0.2, 1), u(0.2, 1), u(0.2, 1)),
        lambda c: P.cylinder(*c, u(0.2, 1), u(0.2, 1)),
        lambda c: P.capsule(*c, c[0] + u(-1, 1), c[1] + u(-1, 1), c[2] + u(-1, 1), u(0.1, 0.5)),
        lambda c: P.cone(*c, u(0.5, 1.5), u(0.2, 1.0)),
        lambda c: P.torus(*c, u(0.5, 1), u(0.1, 0.3)),
        lambda c: P.plane(u(-1, 1), u(-1, 1), u(-1, 1), u(-20, -10)),
        lambda c: P.rounded_box(*c, u(0.2, 1), u(0.2, 1), u(0.2, 1), u(0.05, 0.2)),
    ]
    scene = _core.SdfScene()
    for i in range(n):
        center = (u(-8, 8), u(-8, 8), u(-8, 8))
        kind = kinds[i % len(kinds)] if i < len(kinds) else rng.choice(kinds)
        scene.add(P.sphere(*center, 0.75) if n == 1 else makers[kind](center))
    return scene


# ---- numpy field -----------------------------------------------------------------

RECORD = np.dtype(
    [
        ("c", "<f4", 3),
        ("p", "<f4", 3),
        ("k", "<f4"),
        ("p3", "<f4"),
        ("type", "<u4"),
        ("op", "<u4"),
        ("pad", "V8"),
    ]
)


def decode(buffer):
    recs = np.frombuffer(bytes(buffer), dtype=RECORD)
    groups = {}
    for code in range(8):
        r = recs[recs["type"] == code]
        if len(r):
            groups[code] = (
                r["c"][:, 0],
                r["c"][:, 1],
                r["c"][:, 2],
                r["p"][:, 0],
                r["p"][:, 1],
                r["p"][:, 2],
                r["p3"],
            )
    return groups


def _box(dx, dy, dz, hx, hy, hz):
    qx, qy, qz = np.abs(dx) - hx, np.abs(dy) - hy, np.abs(dz) - hz
    z = F(0)
    inner = np.fmin(np.fmax(np.fmax(qx, qy), qz), z)
    return inner + np.sqrt(np.fmax(qx, z) ** 2 + np.fmax(qy, z) ** 2 + np.fmax(qz, z) ** 2)


def np_field(groups, px, py, pz):
    """Distance of points (arrays of shape (m, 1), or float32 scalars) to the union."""
    z = F(0)
    best = None
    for code, (cx, cy, cz, p0, p1, p2, p3) in groups.items():
        dx, dy, dz = px - cx, py - cy, pz - cz
        if code == 0:
            d = np.sqrt(dx * dx + dy * dy + dz * dz) - p0
        elif code == 1:
            d = _box(dx, dy, dz, p0, p1, p2)
        elif code == 2:
            e1 = np.sqrt(dx * dx + dz * dz) - p1
            e2 = np.abs(dy) - p0
            d = np.fmin(np.fmax(e1, e2), z) + np.sqrt(np.fmax(e2, z) ** 2 + np.fmax(e1, z) ** 2)
        elif code == 3:
            hx, hy, hz = p0 * F(0.5), p1 * F(0.5), p2 * F(0.5)
            ax, ay, az = cx - hx, cy - hy, cz - hz
            bax, bay, baz = (cx + hx) - ax, (cy + hy) - ay, (cz + hz) - az
            pax, pay, paz = px - ax, py - ay, pz - az
            bb = bax * bax + bay * bay + baz * baz
            t = np.clip((pax * bax + pay * bay + paz * baz) / bb, z, F(1))
            ex, ey, ez = pax - bax * t, pay - bay * t, paz - baz * t
            d = np.sqrt(ex * ex + ey * ey + ez * ez) - p3
        elif code == 4:
            q = np.sqrt(dx * dx + dz * dz)
            sn, cs = np.sin(p1), np.cos(p1)
            a1 = cs * q - dy * sn
            a2 = (dy * cs + sn * q) - p0 / cs
            d = np.fmin(np.fmax(-a1, a2), z) + np.sqrt(np.fmax(a1, z) ** 2 + np.fmax(a2, z) ** 2)
        elif code == 5:
            t = np.sqrt(dx * dx + dz * dz) - p0
            d = np.sqrt(dy * dy + t * t) - p1
        elif code == 6:
            d = (px * cx + py * cy + pz * cz) - p0
        else:
            d = _box(dx, dy, dz, p0, p1, p2) - p3
        m = d.min(axis=-1)
        best = m if best is None else np.fmin(best, m)
    return best


def np_normal(groups, px, py, pz):
    h = F(0.001)
    g = np.array(
        [
            np_field(groups, px + h, py, pz) - np_field(groups, px - h, py, pz),
            np_field(groups, px, py + h, pz) - np_field(groups, px, py - h, pz),
            np_field(groups, px, py, pz + h) - np_field(groups, px, py, pz - h),
        ]
    )
    n = np.sqrt(g[0] * g[0] + g[1] * g[1] + g[2] * g[2])
    return tuple(g / n) if n > F(1e-10) else (F(0), F(1), F(0))


def np_aabb_overlaps(groups, lo, hi):
    x = np.array(
        [lo[0], hi[0], lo[0], hi[0], lo[0], hi[0], lo[0], hi[0], (lo[0] + hi[0]) * F(0.5)], dtype=F
    )[:, None]
    y = np.array(
        [lo[1], lo[1], hi[1], hi[1], lo[1], lo[1], hi[1], hi[1], (lo[1] + hi[1]) * F(0.5)], dtype=F
    )[:, None]
    zs = np.array(
        [lo[2], lo[2], lo[2], lo[2], hi[2], hi[2], hi[2], hi[2], (lo[2] + hi[2]) * F(0.5)], dtype=F
    )[:, None]
    return bool((np_field(groups, x, y, zs) < 0).any())


def _close(a, b):
    return same_floats(a, b, 1e-4)


def cases():
    out = []
    px, py, pz = 0.25, -0.5, 1.5
    scenes = [(1, EVERY_TYPE, "1 prims")]
    for n in (16, 256):
        scenes += [
            (n, SPHERES_BOXES_TORI, f"{n} prims (spheres/boxes/tori)"),
            (n, EVERY_TYPE, f"{n} prims (every type)"),
        ]
    for n, kinds, label in scenes:
        scene = _random_scene(n, seed=n, kinds=kinds)
        c = _core.SdfCollider()
        c.load_bytes(scene.to_gpu_bytes())
        g = decode(scene.to_gpu_bytes())
        env = {
            "c": c,
            "g": g,
            "np_field": np_field,
            "np_normal": np_normal,
            "np_aabb_overlaps": np_aabb_overlaps,
            "px": px,
            "py": py,
            "pz": pz,
            "fx": F(px),
            "fy": F(py),
            "fz": F(pz),
            "lo": (F(-1), F(-1), F(-1)),
            "hi": (F(1.5), F(1.5), F(1.5)),
        }
        per_point = 0.015 if n == 256 else None
        out += [
            Case(
                f"SdfCollider.distance, {label}",
                "c.distance(px, py, pz)",
                "np_field(g, fx, fy, fz)",
                "numpy",
                env,
                work="1 point",
                check=_close,
                goal=per_point,
            ),
            Case(
                f"SdfCollider.normal, {label}",
                "c.normal(px, py, pz)",
                "np_normal(g, fx, fy, fz)",
                "numpy",
                env,
                work="1 point (6 evaluations)",
                check=_close,
                goal=per_point,
            ),
            Case(
                f"SdfCollider.aabb_overlaps, {label}",
                "c.aabb_overlaps(-1, -1, -1, 1.5, 1.5, 1.5)",
                "np_aabb_overlaps(g, lo, hi)",
                "numpy",
                env,
                work="1 box (up to 9 evaluations)",
                check=lambda a, b: a == b,
                goal=0.05 if n == 256 else None,
            ),
        ]
        if n == 1:
            env.update(glm=glm, va=glm.vec3(px, py, pz), vb=glm.vec3(1.0, 2.0, 3.0))
            out.append(
                Case(
                    "SdfCollider.distance, 1 prim vs glm.dot",
                    "c.distance(px, py, pz)",
                    "glm.dot(va, vb)",
                    "PyGLM glm.dot(vec3, vec3)",
                    env,
                    work="1 call",
                    goal=1.0,
                )
            )

    # Bulk: 10,000 points, one call each for us, one broadcast for numpy.
    scene = _random_scene(16, seed=16)
    rng = np.random.default_rng(7)
    pts = rng.uniform(-8, 8, size=(BULK_POINTS, 3)).astype(F)
    c = _core.SdfCollider()
    c.load_bytes(scene.to_gpu_bytes())
    env = {
        "c": c,
        "g": decode(scene.to_gpu_bytes()),
        "np_field": np_field,
        "pts": pts.tolist(),
        "X": pts[:, 0:1],
        "Y": pts[:, 1:2],
        "Z": pts[:, 2:3],
    }
    out.append(
        Case(
            "SdfCollider.distance, 16 prims, bulk",
            "[c.distance(x, y, z) for x, y, z in pts]",
            "np_field(g, X, Y, Z)",
            "numpy",
            env,
            work=f"{BULK_POINTS:,} points",
            check=_close,
            goal=None,
        )
    )

    # The cost of an array call itself: one point against one per-item call.
    from gfxcore import arrays

    env = {
        "arrays": arrays,
        "c": c,
        "P": pts[:1].copy(),
        "x": float(pts[0, 0]),
        "y": float(pts[0, 1]),
        "z": float(pts[0, 2]),
    }
    out.append(
        Case(
            "arrays.distances, 1 point, 16 prims",
            "arrays.distances(c, P)",
            "c.distance(x, y, z)",
            "SdfCollider.distance",
            env,
            work="1 point",
            check=lambda a, b: a.tolist() == [b],
            goal=10.0,
        )
    )

    big = _random_scene(BULK_PRIMS, seed=3)
    data = big.to_gpu_bytes()
    recs = np.frombuffer(bytes(data), dtype=np.uint8)
    env = {"scene": big, "recs": recs, "data": data, "c": _core.SdfCollider(), "np": np}
    out += [
        Case(
            "SdfScene.to_gpu_bytes",
            "scene.to_gpu_bytes()",
            "recs.tolist()",
            "numpy uint8 tolist",
            env,
            work=f"{BULK_PRIMS:,} primitives",
            check=lambda a, b: a == b,
        ),
        Case(
            "SdfCollider.load_bytes (list)",
            "c.load_bytes(data)",
            "np.array(data, dtype=np.uint8)",
            "numpy np.array(list, uint8)",
            env,
            work=f"{BULK_PRIMS:,} primitives",
            goal=0.2,
        ),
    ]
    return out
