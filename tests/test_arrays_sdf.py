"""gfxcore.arrays' SDF group against SdfCollider's per-item calls, on the
hostile scenes of the collider's own tests."""

import random
import struct

import numpy as np
from conftest import ctrl_c_child
from gfxcore import arrays
from models.arrays import assert_same_f32, hostile, layouts
from test_sdf_collision import hostile_scene, raw_field

from _core import SdfCollider, Vec3


def points(rng, nrng, tiny, n):
    """Half exact float32 coordinates that make ties and zeros common, half
    hostile float64 ones."""
    exact = [struct.unpack("<f", raw_field(rng, tiny))[0] for _ in range(3 * n)]
    values = np.array(exact).reshape(n, 3)
    values[n // 2 :] = hostile(nrng, (n - n // 2, 3))
    return nrng.permutation(values)


def test_sdf_queries_match_the_per_item_calls():
    rng, nrng = random.Random(2212), np.random.default_rng(2212)
    for scene in range(60):
        tiny = scene % 2 == 0
        c = SdfCollider()
        c.load_bytes(hostile_scene(rng, tiny) + hostile_scene(rng, tiny)[: 48 * rng.randrange(3)])
        n = rng.randrange(0, 120)
        for given, rows in layouts(points(rng, nrng, tiny, n)):
            assert_same_f32(arrays.distances(c, given), [c.distance(*p) for p in rows])
            assert_same_f32(arrays.normals(c, given), [c.normal(*p) for p in rows])
            assert_same_f32(arrays.push_out(c, given), [c.push_out(*p) for p in rows])
        ends = points(rng, nrng, tiny, 2 * n)
        radii = hostile(nrng, n)
        got = arrays.sphere_overlaps(c, ends[:n], radii)
        assert got.dtype == np.bool_
        assert got.tolist() == [c.sphere_overlaps(*p, r) for p, r in zip(ends[:n].tolist(), radii)]
        got = arrays.aabb_overlaps(c, ends[:n], ends[n:][::-1])
        want = [c.aabb_overlaps(*a, *b) for a, b in zip(ends[:n].tolist(), ends[n:][::-1].tolist())]
        assert got.tolist() == want
        lo, hi = (
            (Vec3(*e) for e in ends[:2].tolist()) if n >= 2 else (Vec3(-1, 0, 2), Vec3(1, 0, -2))
        )
        shape = tuple(rng.randrange(4) for _ in range(3))
        axes = [
            [a if count == 1 else a + (b - a) * i / (count - 1) for i in range(count)]
            for a, b, count in zip((lo.x, lo.y, lo.z), (hi.x, hi.y, hi.z), shape)
        ]
        want = [[[c.distance(x, y, z) for z in axes[2]] for y in axes[1]] for x in axes[0]]
        want = np.array(want).reshape(shape)
        assert_same_f32(arrays.sample_grid(c, lo, hi, shape), want)
        # Corners as numbers in an array or list, the shape as numpy integers.
        as_array = np.array([lo.x, lo.y, lo.z], np.float32)
        shape_ints = np.array(shape, np.int64)
        assert_same_f32(arrays.sample_grid(c, as_array, [hi.x, hi.y, hi.z], shape_ints), want)


GRID_CHILD = """
import _core
from gfxcore import arrays
scene = _core.SdfScene()
for i in range(20_000):
    scene.add(_core.SdfPrimitive.sphere(i * 0.01, 0.0, 0.0, 0.5))
c = _core.SdfCollider()
c.load_bytes(scene.to_gpu_bytes())
print("ready", flush=True)
try:
    # One row of 16M samples: minutes of work, were a row one block.
    arrays.sample_grid(c, (0, 0, 0), (1, 1, 1), (1, 1, 16_000_000))
except KeyboardInterrupt:
    print("stopped")
"""


def test_ctrl_c_stops_a_grid_of_one_long_row():
    assert ctrl_c_child(GRID_CHILD) == "stopped\n"


def test_a_grid_with_a_zero_in_its_shape_is_empty_at_once():
    # Any shape with a zero gives an empty result without walking the others
    # (2**40 rows would never end).
    c = SdfCollider()
    for shape in ((2**20, 2**20, 0), (0, 2**40, 2**20), (2**40, 0, 2**20)):
        assert arrays.sample_grid(c, (0, 0, 0), (1, 1, 1), np.array(shape)).shape == shape
