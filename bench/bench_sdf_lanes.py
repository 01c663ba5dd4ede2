"""The SDF field over a million points on one thread, against numba compiled
for this CPU with the same float32 formulas (fastmath off), and against the
floor of one square root per point and primitive; and a frame's three
queries in one call against the three calls.

numba evaluates a block of points at a time, every record over the block,
the loop over points vectorised by LLVM for this CPU; ours runs the widest
lanes the CPU has. Both give the same bits, checked before timing.
"""

import ctypes
import ctypes.util

import numpy as np
from bench_sdf import _random_scene
from gfxcore import arrays

import _core

F = np.float32
POINTS = 1_000_000
BLOCK = 256
BIG = F(np.finfo(np.float32).max)
Z, ONE, HALF = F(0), F(1), F(0.5)

_libm = ctypes.CDLL(ctypes.util.find_library("m"))
for _name in ("sinf", "cosf"):
    getattr(_libm, _name).restype = ctypes.c_float
    getattr(_libm, _name).argtypes = [ctypes.c_float]


def columns(buffer):
    """Per type code, the constants the field decodes: one float32 column each."""
    recs = np.frombuffer(bytes(buffer), dtype=np.uint8).reshape(-1, 48)
    f = recs[:, :32].copy().view("<f4")
    code = recs[:, 32:36].copy().view("<u4")[:, 0]
    out = {}
    for k in range(8):
        r = f[code == k]
        cx, cy, cz, p0, p1, p2, p3 = (r[:, i] for i in (0, 1, 2, 3, 4, 5, 7))
        if k == 3:
            hx, hy, hz = p0 * HALF, p1 * HALF, p2 * HALF
            ax, ay, az = cx - hx, cy - hy, cz - hz
            bax, bay, baz = (cx + hx) - ax, (cy + hy) - ay, (cz + hz) - az
            cols = [ax, ay, az, bax, bay, baz, bax * bax + bay * bay + baz * baz, p3]
        elif k == 4:
            sn = np.array([_libm.sinf(a) for a in p1], dtype=F)
            cs = np.array([_libm.cosf(a) for a in p1], dtype=F)
            cols = [cx, cy, cz, sn, cs, p0 / cs]
        elif k == 1:
            cols = [cx, cy, cz, p0, p1, p2, np.zeros_like(p0)]
        elif k == 7:
            cols = [cx, cy, cz, p0, p1, p2, p3]
        else:
            cols = [cx, cy, cz, p0, p1]
        out[k] = np.ascontiguousarray(np.array(cols, dtype=F).reshape(len(cols), -1))
    return out


def _numba_kernels():
    from numba import njit

    @njit(inline="always")
    def max_num(a, b):
        if a != a:
            return b
        return b if a < b else a

    @njit(inline="always")
    def min_num(a, b):
        if a != a:
            return b
        return b if b < a else a

    @njit(inline="always")
    def pos_sq(a):
        p = a if Z < a else Z
        return p * p

    @njit(inline="always")
    def rounded_box(dx, dy, dz, hx, hy, hz, r):
        qx, qy, qz = abs(dx) - hx, abs(dy) - hy, abs(dz) - hz
        inside = min_num(max_num(max_num(qx, qy), qz), Z)
        return (inside + np.sqrt(pos_sq(qx) + pos_sq(qy) + pos_sq(qz))) - r

    @njit(inline="always")
    def keep(best, i, d):
        if d < best[i]:
            best[i] = d

    @njit(fastmath=False)
    def field(x, y, z, c0, c1, c2, c3, c4, c5, c6, c7, out):
        n = x.shape[0]
        best = np.empty(BLOCK, dtype=np.float32)
        for s in range(0, n, BLOCK):
            m = min(BLOCK, n - s)
            px, py, pz = x[s : s + m], y[s : s + m], z[s : s + m]
            for i in range(m):
                best[i] = BIG
            for r in range(c0.shape[1]):
                cx, cy, cz, rad = c0[0, r], c0[1, r], c0[2, r], c0[3, r]
                for i in range(m):
                    dx, dy, dz = px[i] - cx, py[i] - cy, pz[i] - cz
                    keep(best, i, np.sqrt(dx * dx + dy * dy + dz * dz) - rad)
            for c in (c1, c7):
                for r in range(c.shape[1]):
                    cx, cy, cz, hx, hy, hz, rr = (
                        c[0, r],
                        c[1, r],
                        c[2, r],
                        c[3, r],
                        c[4, r],
                        c[5, r],
                        c[6, r],
                    )
                    for i in range(m):
                        keep(
                            best, i, rounded_box(px[i] - cx, py[i] - cy, pz[i] - cz, hx, hy, hz, rr)
                        )
            for r in range(c2.shape[1]):
                cx, cy, cz, hh, rad = c2[0, r], c2[1, r], c2[2, r], c2[3, r], c2[4, r]
                for i in range(m):
                    dx, dy, dz = px[i] - cx, py[i] - cy, pz[i] - cz
                    e1 = np.sqrt(dx * dx + dz * dz) - rad
                    e2 = abs(dy) - hh
                    keep(best, i, min_num(max_num(e1, e2), Z) + np.sqrt(pos_sq(e2) + pos_sq(e1)))
            for r in range(c3.shape[1]):
                ax, ay, az, bx, by, bz, bb, rad = (
                    c3[0, r],
                    c3[1, r],
                    c3[2, r],
                    c3[3, r],
                    c3[4, r],
                    c3[5, r],
                    c3[6, r],
                    c3[7, r],
                )
                for i in range(m):
                    pax, pay, paz = px[i] - ax, py[i] - ay, pz[i] - az
                    t = (pax * bx + pay * by + paz * bz) / bb
                    t = Z if t < Z else t
                    t = ONE if ONE < t else t
                    t = t if Z < bb else Z
                    ex, ey, ez = pax - bx * t, pay - by * t, paz - bz * t
                    keep(best, i, np.sqrt(ex * ex + ey * ey + ez * ez) - rad)
            for r in range(c4.shape[1]):
                cx, cy, cz, sn, cs, k = c4[0, r], c4[1, r], c4[2, r], c4[3, r], c4[4, r], c4[5, r]
                for i in range(m):
                    dx, dy, dz = px[i] - cx, py[i] - cy, pz[i] - cz
                    q = np.sqrt(dx * dx + dz * dz)
                    a1 = cs * q - dy * sn
                    a2 = (dy * cs + sn * q) - k
                    keep(best, i, min_num(max_num(-a1, a2), Z) + np.sqrt(pos_sq(a1) + pos_sq(a2)))
            for r in range(c5.shape[1]):
                cx, cy, cz, big, small = c5[0, r], c5[1, r], c5[2, r], c5[3, r], c5[4, r]
                for i in range(m):
                    dx, dy, dz = px[i] - cx, py[i] - cy, pz[i] - cz
                    t = np.sqrt(dx * dx + dz * dz) - big
                    keep(best, i, np.sqrt(dy * dy + t * t) - small)
            for r in range(c6.shape[1]):
                nx, ny, nz, off = c6[0, r], c6[1, r], c6[2, r], c6[3, r]
                for i in range(m):
                    keep(best, i, (px[i] * nx + py[i] * ny + pz[i] * nz) - off)
            for i in range(m):
                out[s + i] = best[i]
        return out

    @njit(fastmath=False)
    def sqrt_floor(x, c, out):
        # One square root and one minimum per point and record: the least
        # any field of these records can cost.
        n = x.shape[0]
        best = np.empty(BLOCK, dtype=np.float32)
        for s in range(0, n, BLOCK):
            m = min(BLOCK, n - s)
            px = x[s : s + m]
            for i in range(m):
                best[i] = BIG
            for r in range(c.shape[0]):
                cr = c[r]
                for i in range(m):
                    keep(best, i, np.sqrt(px[i] + cr))
            for i in range(m):
                out[s + i] = best[i]
        return out

    return field, sqrt_floor


def same_bits(a, b):
    return np.array_equal(np.asarray(a).view(np.uint32), np.asarray(b).view(np.uint32))


def same_frames(a, b):
    return len(a) == len(b) == 3 and all(same_bits(x, y) for x, y in zip(a, b))


def frame_cases():
    from common import Case

    buffer = _random_scene(16, seed=16).to_gpu_bytes()
    c = _core.SdfCollider()
    c.load_bytes(buffer)
    rng = np.random.default_rng(5)
    outside = rng.uniform(-8, 8, size=(100_000, 3)).astype(F)
    candidates = rng.uniform(-8, 8, size=(3_000_000, 3)).astype(F)
    inside = candidates[arrays.distances(c, candidates) < 0][:100_000]
    rows = []
    for label, pts, goal in (("mostly outside", outside, 0.95), ("all inside", inside, 0.6)):
        share = float(np.mean(arrays.distances(c, pts) < 0))
        rows.append(
            Case(
                f"arrays.resolve, 16 prims, points {label}",
                "arrays.resolve(c, P, workers=1)",
                "(arrays.distances(c, P, workers=1), arrays.normals(c, P, workers=1),"
                " arrays.push_out(c, P, workers=1))",
                "distances, normals and push_out",
                {"arrays": arrays, "c": c, "P": pts},
                work=f"{len(pts):,} points, {share:.0%} inside",
                check=same_frames,
                goal=goal,
            )
        )
    return rows


def cases():
    from common import Case

    try:
        field, sqrt_floor = _numba_kernels()
    except ImportError:
        return frame_cases()
    rng = np.random.default_rng(31)
    pts = rng.uniform(-8, 8, size=(POINTS, 3)).astype(F)
    x, y, z = (np.ascontiguousarray(pts[:, k]) for k in range(3))
    out = np.empty(POINTS, dtype=F)
    rows = []
    scenes = [
        ("spheres and boxes", (0, 1), 16, 0.6),
        ("spheres and boxes", (0, 1), 256, 0.6),
        ("every type", tuple(range(8)), 16, 0.7),
        ("every type", tuple(range(8)), 256, 0.7),
    ]
    for label, kinds, n, goal in scenes:
        buffer = _random_scene(n, seed=n + len(kinds), kinds=kinds).to_gpu_bytes()
        c = _core.SdfCollider()
        c.load_bytes(buffer)
        cols = columns(buffer)
        env = {
            "arrays": arrays,
            "c": c,
            "P": pts,
            "field": field,
            "x": x,
            "y": y,
            "z": z,
            "cols": [cols[k] for k in range(8)],
            "out": out,
        }
        rows.append(
            Case(
                f"arrays.distances, {n} prims ({label}), 1 thread vs numba",
                "arrays.distances(c, P, workers=1)",
                "field(x, y, z, *cols, out)",
                "numba @njit, this CPU",
                env,
                work=f"{POINTS:,} points",
                check=same_bits,
                goal=goal,
            )
        )
    n = 256
    buffer = _random_scene(n, seed=5, kinds=(0,)).to_gpu_bytes()
    c = _core.SdfCollider()
    c.load_bytes(buffer)
    env = {
        "arrays": arrays,
        "c": c,
        "P": pts,
        "floor": sqrt_floor,
        "x": x,
        "out": out,
        "r": rng.uniform(9, 10, n).astype(F),
    }
    rows.append(
        Case(
            f"arrays.distances, {n} spheres, 1 thread vs the sqrt floor",
            "arrays.distances(c, P, workers=1)",
            "floor(x, r, out)",
            "numba: one sqrt and min per point and sphere",
            env,
            work=f"{POINTS:,} points",
            goal=2.5,
        )
    )
    return rows + frame_cases()
