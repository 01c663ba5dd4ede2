"""gfxcore.arrays' points, physics and bytes groups against what a program
would use without them: scipy's hull, a numpy mask, a Python loop over
get_position, PhysicsWorld.step's list, and the lz4 package's block
functions with the same size prefix; outlines against OpenCV (compare,
erode, findNonZero)."""

import cv2
import lz4.block
import numpy as np
from bench_physics import positions, world
from bench_tiles import text_like
from gfxcore import arrays
from scipy.spatial import ConvexHull

import _core
from common import Case

F = np.float32


def disc(n, seed=5):
    rng = np.random.default_rng(seed)
    r = np.sqrt(rng.random(n))
    a = rng.random(n) * (2 * np.pi)
    return np.column_stack([r * np.cos(a), r * np.sin(a)])


def numpy_edges(image, threshold):
    """Active pixels with an inactive 4-neighbour or on the border, as
    (x, y) float32 rows in row-major order."""
    active = image > threshold
    inner = np.zeros_like(active)
    inner[1:-1, 1:-1] = (
        active[1:-1, 1:-1]
        & active[:-2, 1:-1]
        & active[2:, 1:-1]
        & active[1:-1, :-2]
        & active[1:-1, 2:]
    )
    y, x = np.nonzero(active & ~inner)
    return np.column_stack([x, y]).astype(F)


def discs_image(side, share, seed=9):
    """A float32 image of 1.0 discs on 0.0 covering about `share` of it: few
    outline pixels among long empty and full runs."""
    rng = np.random.default_rng(seed)
    image = np.zeros((side, side), F)
    while np.count_nonzero(image) < share * side * side:
        cx, cy, r = (int(v) for v in rng.integers(0, side, 2).tolist() + [rng.integers(8, 120)])
        y0, y1, x0, x1 = max(0, cy - r), min(side, cy + r), max(0, cx - r), min(side, cx + r)
        yy, xx = np.ogrid[y0:y1, x0:x1]
        image[y0:y1, x0:x1][(yy - cy) ** 2 + (xx - cx) ** 2 < r * r] = 1.0
    return image


CROSS = cv2.getStructuringElement(cv2.MORPH_CROSS, (3, 3))


def opencv_edges(image, threshold):
    """The outline as OpenCV finds it: pixels of the mask that a cross
    erosion (nothing outside the image) removes, as (x, y) int32 rows."""
    mask = cv2.compare(image, threshold, cv2.CMP_GT)
    inner = cv2.erode(mask, CROSS, borderType=cv2.BORDER_CONSTANT, borderValue=0)
    return cv2.findNonZero(cv2.subtract(mask, inner))


def same_points(ours, theirs):
    return np.array_equal(ours, np.asarray(theirs).reshape(-1, 2).astype(F))


def add_loop(masses, xyz, vxyz):
    """The loop add_bodies stands for."""
    w = _core.PhysicsWorld()
    out = []
    for m, p, v in zip(masses, xyz, vxyz):
        b = _core.RigidBody(m)
        b.set_position(*p)
        b.set_velocity(*v)
        out.append(w.add_body(b))
    return out


def removal_times(masses, xyz, gone):
    """remove_bodies and its loop of remove_body, each on a fresh world of
    the same bodies (made outside the timing)."""
    import timeit

    env = {"arrays": arrays, "masses": masses, "xyz": xyz, "gone": gone, "_core": _core}
    setup = "w = _core.PhysicsWorld(); arrays.add_bodies(w, masses, xyz)"
    ours = timeit.repeat("arrays.remove_bodies(w, gone)", setup, number=1, repeat=25, globals=env)
    loop = "for h in hs: w.remove_body(h)"
    env["hs"] = gone.tolist()
    theirs = timeit.repeat(loop, setup, number=1, repeat=25, globals=env)
    return min(ours), min(theirs)


def same_hull(ours, hull):
    """The same vertex set as scipy's, each vertex once."""
    theirs = {tuple(p) for p in hull.points[hull.vertices].astype(F).tolist()}
    return len(ours) == len(theirs) and theirs == {tuple(p) for p in ours.tolist()}


def cases():
    rng = np.random.default_rng(22)
    pts = disc(1_000_000).astype(F).astype(np.float64)  # float32 values: one point set for both
    image = rng.random((1024, 1024)).astype(F)
    image[200:800, 300:900] = 1.0  # a solid block with an inside among the noise
    bodies = world(positions(10_000, "cube"))
    handles = arrays.handles(bodies)
    masses = rng.choice([0.0, 1.0, 2.0], 10_000)
    xyz = rng.uniform(-50, 50, (10_000, 3)).astype(F)
    vxyz = rng.normal(size=(10_000, 3)).astype(F)
    gone = rng.permutation(np.arange(1, 10_001))[:5_000]
    row_of = {h: i for i, h in enumerate(handles.tolist())}
    asked = rng.permutation(handles)
    moved = rng.uniform(-10, 10, (10_000_000, 3)).astype(F)
    into = np.empty_like(moved)
    matrix = _core.Mat4x4.from_translation(_core.Vec3(1.0, 2.0, 3.0)).mul(
        _core.Mat4x4.from_scale(_core.Vec3(2.0, 0.5, 1.0))
    )
    one_mib = text_like(1 << 20)
    packed = lz4.block.compress(one_mib, store_size=True)
    env = {
        "arrays": arrays,
        "ConvexHull": ConvexHull,
        "numpy_edges": numpy_edges,
        "opencv_edges": opencv_edges,
        "outlines": discs_image(4096, 0.16),
        "noise": rng.random((4096, 4096), dtype=F),
        "lz4": lz4,
        "P": pts,
        "image": image,
        "w": bodies,
        "hs": handles.tolist(),
        "add_loop": add_loop,
        "_core": _core,
        "masses": masses,
        "xyz": xyz,
        "vxyz": vxyz,
        "lists": (masses.tolist(), xyz.tolist(), vxyz.tolist()),
        "row_of": row_of,
        "moved": moved,
        "into": into,
        "matrix": matrix,
        "asked": asked,
        "asked_list": asked.tolist(),
        "x": one_mib,
        "y": packed,
    }
    return [
        Case(
            "arrays.convex_hull, disc",
            "arrays.convex_hull(P)",
            "ConvexHull(P)",
            "scipy ConvexHull",
            env,
            work="1,000,000 points",
            check=same_hull,
            goal=0.5,
        ),
        Case(
            "arrays.pixel_edge_points",
            "arrays.pixel_edge_points(image, 0.5)",
            "numpy_edges(image, 0.5)",
            "numpy mask and shifts",
            env,
            work="1024 x 1024 float32",
            check=np.array_equal,
            goal=1.0,
        ),
        Case(
            "arrays.pixel_edge_points, sparse outlines",
            "arrays.pixel_edge_points(outlines, 0.5)",
            "opencv_edges(outlines, 0.5)",
            "OpenCV compare, erode, findNonZero",
            env,
            work="4096 x 4096 float32, 16% active discs",
            check=same_points,
            goal=1.0,
        ),
        Case(
            "arrays.pixel_edge_points, dense noise",
            "arrays.pixel_edge_points(noise, 0.5)",
            "opencv_edges(noise, 0.5)",
            "OpenCV compare, erode, findNonZero",
            env,
            work="4096 x 4096 float32, uniform noise",
            check=same_points,
            goal=0.5,
        ),
        Case(
            "arrays.positions",
            "arrays.positions(w)",
            "[w.get_position(h) for h in hs]",
            "loop over get_position",
            env,
            work="10,000 bodies",
            check=lambda a, b: np.array_equal(a, np.array(b, F)),
            goal=0.02,
        ),
        Case(
            "arrays.transform_points into out",
            "arrays.transform_points(matrix, moved, out=into)",
            "arrays.transform_points(matrix, moved)",
            "a new array each call",
            env,
            work="10,000,000 float32 points",
            check=np.array_equal,
            goal=0.5,
        ),
        Case(
            "arrays.add_bodies",
            "arrays.add_bodies(_core.PhysicsWorld(), masses, xyz, vxyz)",
            "add_loop(*lists)",
            "loop of RigidBody, set_position, set_velocity, add_body",
            env,
            work="10,000 bodies",
            check=lambda a, b: a.tolist() == b,
            goal=0.05,
        ),
        Case(
            "arrays.remove_bodies",
            "",
            "",
            "loop of remove_body",
            work="5,000 of 10,000 bodies",
            goal=0.2,
            quantity=lambda: removal_times(masses, xyz, gone),
        ),
        Case(
            "arrays.rows",
            "arrays.rows(w, asked)",
            "[row_of[h] for h in asked_list]",
            "a dict lookup per handle",
            env,
            work="10,000 handles",
            check=lambda a, b: a.tolist() == b,
            goal=0.05,
        ),
        Case(
            "arrays.step cube 10k",
            "arrays.step(w, 0.016)",
            "w.step(0.016)",
            "PhysicsWorld.step",
            env,
            work="10,000 bodies",
            check=lambda a, b: a.tolist() == [list(p) for p in b],
            goal=0.8,
        ),
        Case(
            "arrays.lz4_compress 1 MiB text-like",
            "arrays.lz4_compress(x)",
            "lz4.block.compress(x, store_size=True)",
            "lz4 block",
            env,
            work="1 MiB",
            check=lambda a, b: a == b,
            goal=1.1,
        ),
        Case(
            "arrays.lz4_decompress 1 MiB text-like",
            "arrays.lz4_decompress(y)",
            "lz4.block.decompress(y)",
            "lz4 block",
            env,
            work="1 MiB",
            check=lambda a, b: a == b,
            goal=1.1,
        ),
    ]
