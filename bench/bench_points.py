"""convex_hull against scipy (qhull), shapely (GEOS) and OpenCV,
pixel_edge_points against a numpy version, solve_ik against FABRIK in pure
Python. The `_core` rows start every anchor from the same plain Python lists
that ours takes; the array rows time the native calls alone, one thread each,
on the same float32 points (scipy gets them widened to float64 beforehand)."""

import math
import pathlib
import random
import sys

import cv2
import numpy as np
import scipy.spatial
import shapely
from gfxcore import arrays

import _core
from common import Case

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "tests"))
from models.hull import dense_cloud  # noqa: E402

HULL_POINTS = 1_000_000
SIDE = 1024
JOINTS = 100


def disc(n, seed=1):
    rng = random.Random(seed)
    out = []
    for _ in range(n):
        r, t = math.sqrt(rng.random()), rng.random() * 2 * math.pi
        # float32 values, so that every implementation sees the same points
        out.append((float(np.float32(r * math.cos(t))), float(np.float32(r * math.sin(t)))))
    return out


def same_vertices(ours, other):
    """Our hull holds each vertex the anchor finds, once, and no other."""
    theirs = {tuple(map(float, p)) for p in other}
    ours = [tuple(map(float, p)) for p in ours]
    return len(ours) == len(theirs) and set(ours) == theirs


def array_hull_cases():
    cv2.setNumThreads(1)
    out = []
    for n in (1_000_000, 10_000_000):
        for kind in ("disc", "square", "gaussian"):
            f32 = dense_cloud(kind, n, seed=9)
            env = dict(arrays=arrays, scipy=scipy, cv2=cv2, P=f32, P64=f32.astype(np.float64))
            name = f"arrays.convex_hull {n // 1_000_000}M {kind}"
            work = f"{n:,} float32 points, 1 thread"
            ours = "arrays.convex_hull(P, workers=1)"
            out += [
                Case(
                    name,
                    ours,
                    "scipy.spatial.ConvexHull(P64)",
                    "scipy ConvexHull",
                    env,
                    work,
                    check=lambda a, b: same_vertices(a, b.points[b.vertices]),
                    goal=0.5,
                ),
                Case(
                    name,
                    ours,
                    "cv2.convexHull(P)",
                    "OpenCV convexHull",
                    env,
                    work,
                    check=lambda a, b: same_vertices(a, b.reshape(-1, 2)),
                    goal=1.0,
                ),
            ]
    return out


def shapely_vertices(geom):
    return list(geom.exterior.coords)[:-1]


def blob_image(side, seed=2):
    """4 floats per pixel; channel 3 is a few overlapping discs."""
    rng = np.random.default_rng(seed)
    yy, xx = np.mgrid[0:side, 0:side]
    mask = np.zeros((side, side), bool)
    for _ in range(12):
        cx, cy, r = rng.uniform(0, side, 2).tolist() + [rng.uniform(side / 20, side / 5)]
        mask |= (xx - cx) ** 2 + (yy - cy) ** 2 < r * r
    pixels = rng.uniform(0, 1, (side * side, 4)).astype(np.float32)
    pixels[:, 3] = mask.ravel()
    return pixels.ravel().tolist()


def numpy_edges(data, count, stride, offset, threshold, width):
    a = np.asarray(data, dtype=np.float32)[offset::stride][:count] > np.float32(threshold)
    a = a.reshape(-1, width)
    pad = np.pad(a, 1)
    inner = pad[:-2, 1:-1] & pad[2:, 1:-1] & pad[1:-1, :-2] & pad[1:-1, 2:]
    ys, xs = np.nonzero(a & ~inner)
    return list(zip(xs.astype(float).tolist(), ys.astype(float).tolist()))


def python_fabrik(chain, target, lengths, max_iter=10, tolerance=0.001):
    """What a user writes without the module (float64, same steps)."""
    p = [tuple(c) for c in chain]
    n = len(p)
    root = p[0]
    tx, ty = target

    def place(a, b, length):
        dx, dy = b[0] - a[0], b[1] - a[1]
        lam = length / max(math.sqrt(dx * dx + dy * dy), 1.1920929e-7)
        return (a[0] + dx * lam, a[1] + dy * lam)

    if math.dist(root, target) >= sum(lengths):
        for i in range(n - 1):
            p[i + 1] = place(p[i], target, lengths[i])
        return p
    for _ in range(max_iter):
        p[-1] = (tx, ty)
        for i in range(n - 2, -1, -1):
            p[i] = place(p[i + 1], p[i], lengths[i])
        p[0] = root
        for i in range(1, n):
            p[i] = place(p[i - 1], p[i], lengths[i - 1])
        if math.dist(p[-1], target) < tolerance:
            break
    return p


def close_chains(a, b):
    return len(a) == len(b) and all(math.dist(p, q) < 1e-3 for p, q in zip(a, b))


def cases():
    pts = disc(HULL_POINTS)
    image = blob_image(SIDE)
    chain = [(0.1 * i, 0.0) for i in range(JOINTS)]
    lengths = [0.1] * (JOINTS - 1)
    target = (3.0, 5.0)  # within reach, and not reached in 10 iterations at 1e-9
    env = dict(
        _core=_core,
        np=np,
        scipy=scipy,
        shapely=shapely,
        pts=pts,
        image=image,
        chain=chain,
        lengths=lengths,
        target=target,
        numpy_edges=numpy_edges,
        python_fabrik=python_fabrik,
        shapely_vertices=shapely_vertices,
        SIDE=SIDE,
    )
    hull_work = f"{HULL_POINTS:,} points in a disc"
    return [
        Case(
            "convex_hull",
            "_core.convex_hull(pts)",
            "scipy.spatial.ConvexHull(np.asarray(pts))",
            "scipy ConvexHull",
            env,
            hull_work,
            check=lambda a, b: same_vertices(a, b.points[b.vertices]),
        ),
        Case(
            "convex_hull",
            "_core.convex_hull(pts)",
            "shapely.multipoints(np.asarray(pts)).convex_hull",
            "shapely",
            env,
            hull_work,
            check=lambda a, b: same_vertices(a, shapely_vertices(b)),
        ),
        Case(
            "pixel_edge_points",
            "_core.pixel_edge_points(image, SIDE * SIDE, 4, 3, 0.5, SIDE)",
            "numpy_edges(image, SIDE * SIDE, 4, 3, 0.5, SIDE)",
            "numpy",
            env,
            f"{SIDE}x{SIDE} pixels, 4 floats each",
            check=lambda a, b: a == b,
        ),
        Case(
            "solve_ik",
            "_core.solve_ik(chain, target, lengths, 10, 1e-9)",
            "python_fabrik(chain, target, lengths, 10, 1e-9)",
            "pure Python",
            env,
            f"{JOINTS} joints, 10 iterations",
            check=close_chains,
            goal=0.02,
        ),
    ] + array_hull_cases()
