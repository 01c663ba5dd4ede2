"""SdfCollider.load_bytes on any buffer, then queries at fuzzed points: no
crash, and the scene's distance is the union (first minimum, NaN never wins)
of its records' distances, each loaded alone."""

import math
import struct

import atheris

import _core
import common

RECORD = 48
FLT_MAX = 3.4028234663852886e38


def same(a, b):
    return struct.pack("<d", a) == struct.pack("<d", b) or (math.isnan(a) and math.isnan(b))


def test_one(data):
    fdp = atheris.FuzzedDataProvider(data)
    n = fdp.ConsumeIntInRange(0, 4)
    buffer = fdp.ConsumeBytes(n * RECORD + fdp.ConsumeIntInRange(0, RECORD - 1))
    collider = _core.SdfCollider()
    collider.load_bytes(buffer if fdp.ConsumeBool() else list(buffer))
    assert collider.prim_count() == len(buffer) // RECORD
    singles = []
    for i in range(len(buffer) // RECORD):
        one = _core.SdfCollider()
        one.load_bytes(buffer[i * RECORD : (i + 1) * RECORD])
        singles.append(one)
    for _ in range(3):
        p = common.floats(fdp, 3)
        d = collider.distance(*p)
        best = FLT_MAX
        for one in singles:
            di = one.distance(*p)
            if di < best:
                best = di
        assert same(d, best), (d, best)
        normal = collider.normal(*p)
        assert len(normal) == 3
        collider.push_out(*p)
        collider.sphere_overlaps(*common.floats(fdp, 4))
        collider.aabb_overlaps(*common.floats(fdp, 6))


if __name__ == "__main__":
    common.main(test_one)
