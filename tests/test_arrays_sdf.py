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
            want = (
                [c.distance(*p) for p in rows],
                [c.normal(*p) for p in rows],
                [c.push_out(*p) for p in rows],
            )
            assert_same_f32(arrays.distances(c, given), want[0])
            assert_same_f32(arrays.normals(c, given), want[1])
            assert_same_f32(arrays.push_out(c, given), want[2])
            frame = arrays.resolve(c, given, workers=1 + scene % 2)
            assert type(frame) is tuple and len(frame) == 3
            for got, expected in zip(frame, want):
                assert_same_f32(got, expected)
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


def scattered_scene(rng, n):
    """n records of every type code, centres spread over a 16-unit cube and
    sizes under a unit, then a few hostile records (not numbers, huge, at
    the float limits) that no cell may leave out."""
    recs = []
    for _ in range(n):
        centre = [rng.uniform(-8, 8) for _ in range(3)]
        size = [rng.uniform(0.2, 1) for _ in range(5)]
        recs.append(struct.pack("<8fI12x", *centre, *size, rng.randrange(8)))
    return b"".join(recs) + hostile_scene(rng, False) + hostile_scene(rng, True)


def clouds(rng, nrng, n):
    """Points spread, clustered, on a plane, on a line and repeated, with a
    share of hostile coordinates and of exact ties (a record's centre)."""
    spread = nrng.uniform(-9, 9, (n, 3))
    centres = nrng.uniform(-8, 8, (5, 3))
    clustered = centres[nrng.integers(0, 5, n)] + nrng.normal(0, 0.05, (n, 3))
    flat = spread.copy()
    flat[:, 2] = 0.5
    line = spread.copy()
    line[:, :2] = 1.25
    repeated = np.repeat(spread[: n // 50], 50, axis=0)
    for cloud in (spread, clustered, flat, line, repeated):
        cloud = cloud.copy()
        pick = nrng.random(cloud.shape) < 0.02
        cloud[pick] = hostile(nrng, int(pick.sum()), share=1.0)
        cloud[nrng.integers(0, len(cloud), 20)] = np.round(cloud[:20] * 4) / 4
        yield nrng.permutation(cloud)


def test_many_points_in_a_large_scene_match_small_calls():
    # Blocks of many points in a scene of many records are sorted into cells
    # and only the records that can be nearest in a cell are evaluated there;
    # calls of a few hundred points evaluate every record.
    rng, nrng = random.Random(31), np.random.default_rng(31)
    for scene in range(8):
        c = SdfCollider()
        c.load_bytes(scattered_scene(rng, rng.choice([70, 120, 300])))
        for cloud in clouds(rng, nrng, rng.choice([3000, 9000])):
            want = np.concatenate(
                [
                    arrays.distances(c, cloud[i : i + 256], workers=1)
                    for i in range(0, len(cloud), 256)
                ]
            )
            assert_same_f32(arrays.distances(c, cloud, workers=1 + scene % 2), want)
