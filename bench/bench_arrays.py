"""gfxcore.arrays against the per-item calls it replaces and against numpy
doing the same work: whole arrays of points through the SDF collider and
Mat4x4 transforms, the worker pool's scaling, and the memory a call takes."""

import tracemalloc

import numpy as np
from bench_sdf import _random_scene, decode, np_field
from gfxcore import arrays
from threadpoolctl import ThreadpoolController

import _core
from common import Case

POINTS = 1_000_000
F = np.float32

_blas = ThreadpoolController()


def one_blas_thread(f):
    """f() with numpy's BLAS held to one thread, the way a single-threaded
    program would see it."""
    with _blas.limit(limits=1, user_api="blas"):
        return f()


def same_bits(a, b):
    return np.array_equal(np.asarray(a, F).view(np.uint32), np.asarray(b, F).view(np.uint32))


def close(a, b):
    return np.allclose(np.asarray(a, F).ravel(), np.asarray(b, F).ravel(), rtol=1e-5, atol=1e-4)


def extra_memory(c, points):
    """(peak bytes the call adds, bytes of its input plus its output)."""
    tracemalloc.start()
    try:
        before = tracemalloc.get_traced_memory()[0]
        tracemalloc.reset_peak()
        out = arrays.distances(c, points)
        peak = tracemalloc.get_traced_memory()[1] - before
    finally:
        tracemalloc.stop()
    return float(peak), float(points.nbytes + out.nbytes)


def cases():
    scene = _random_scene(16, seed=16)
    c = _core.SdfCollider()
    c.load_bytes(scene.to_gpu_bytes())
    rng = np.random.default_rng(22)
    pts = rng.uniform(-8, 8, size=(POINTS, 3)).astype(F)
    m = _core.Quaternion.from_axis_angle(_core.Vec3(1, 2, 3), 0.7).to_mat4()
    m = m.mul(_core.Mat4x4.from_translation(_core.Vec3(1, -2, 3)))
    data = m.data()
    env = {
        "arrays": arrays,
        "c": c,
        "m": m,
        "P": pts,
        "pts": pts.tolist(),
        "g": decode(scene.to_gpu_bytes()),
        "np_field": np_field,
        "X": pts[:, 0:1],
        "Y": pts[:, 1:2],
        "Z": pts[:, 2:3],
        "one_blas_thread": one_blas_thread,
        "R": np.array([data[0:3], data[4:7], data[8:11]], F),  # rows are columns of m
        "T": np.array(data[12:15], F),
    }
    work = f"{POINTS:,} points"
    label = "16 prims (every type)"
    return [
        Case(
            f"arrays.distances, {label}",
            "arrays.distances(c, P)",
            "[c.distance(x, y, z) for x, y, z in pts]",
            "loop over SdfCollider.distance",
            env,
            work=work,
            check=same_bits,
            goal=0.1,
        ),
        Case(
            f"arrays.distances, {label}, vs numpy",
            "arrays.distances(c, P)",
            "np_field(g, X, Y, Z)",
            "numpy model",
            env,
            work=work,
            check=close,
            goal=0.03,
        ),
        Case(
            f"arrays.normals, {label}",
            "arrays.normals(c, P)",
            "[c.normal(x, y, z) for x, y, z in pts]",
            "loop over SdfCollider.normal",
            env,
            work=work,
            check=same_bits,
            goal=0.15,
        ),
        Case(
            "arrays.distances, workers=2 vs workers=1",
            "arrays.distances(c, P, workers=2)",
            "arrays.distances(c, P, workers=1)",
            "workers=1",
            env,
            work=work,
            check=same_bits,
            goal=1 / 1.6,
        ),
        Case(
            "arrays.transform_points",
            "arrays.transform_points(m, P)",
            "one_blas_thread(lambda: P @ R + T)",
            "numpy float32 p @ R.T + t, 1 BLAS thread",
            env,
            work=work,
            check=close,
            goal=0.5,
        ),
        Case(
            "arrays.distances peak extra memory",
            "",
            "",
            "input + output",
            env,
            work=work,
            quantity=lambda: extra_memory(c, pts),
            unit="B",
            goal=1.1,
        ),
    ]
