"""gfxcore.arrays' SDF group against SdfCollider's per-item calls, on the
hostile scenes of the collider's own tests."""

import random
import struct

import numpy as np
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
        assert_same_f32(arrays.sample_grid(c, lo, hi, shape), np.array(want).reshape(shape))
