"""Distance field evaluation and SdfCollider queries."""

import math
import random
import struct

import numpy as np
import pytest
from conftest import (
    SPECIAL_F32,
    STOPPED_INSIDE,
    FailingSequence,
    ctrl_c_child,
    f32,
    same_f32,
    ulps_apart,
)
from models.sdf import EMPTY, libm, ref_normal, ref_scene

from _core import SdfCollider, SdfScene
from _core import SdfPrimitive as P

F = np.float32


def random_primitive(rng, code):
    def val(scale):
        if rng.random() < 0.08:
            return rng.choice(SPECIAL_F32)
        return rng.uniform(-scale, scale)

    args = [val(4) for _ in range(7)]
    size = [abs(a) for a in args]
    return [
        lambda: P.sphere(*args[:3], size[3]),
        lambda: P.box_(*args[:3], *size[3:6]),
        lambda: P.cylinder(*args[:3], size[3], size[4]),
        lambda: P.capsule(*args[:6], size[6]),
        lambda: P.cone(*args[:3], size[3], args[4]),
        lambda: P.torus(*args[:3], size[3], size[4]),
        lambda: P.plane(*args[:4]),
        lambda: P.rounded_box(*args[:3], *size[3:7]),
    ][code]()


def loaded(*prims, trailing=b""):
    scene = SdfScene()
    for p in prims:
        scene.add(p)
    c = SdfCollider()
    c.load_bytes(scene.to_gpu_bytes() + list(trailing))
    return c


# ---- differential ----------------------------------------------------------------


@pytest.mark.parametrize("code", range(8))
def test_each_type_matches_reference(code, rng):
    with np.errstate(all="ignore"):
        for _ in range(40):
            prim = random_primitive(rng, code)
            buf = bytes(prim.to_bytes())
            c = SdfCollider()
            c.load_bytes(buf)
            for _ in range(12):
                p = [
                    rng.choice(SPECIAL_F32) if rng.random() < 0.1 else rng.uniform(-6, 6)
                    for _ in range(3)
                ]
                pf = [F(f32(v)) for v in p]
                got, want = c.distance(*p), float(ref_scene(buf, pf))
                if code == 4 and libm is None:
                    assert ulps_apart(got, want) <= 1, (prim, p, got, want)
                else:
                    assert same_f32(got, want), (prim, p, got, want)


def test_mixed_scenes_match_reference_distance_and_normal(rng):
    with np.errstate(all="ignore"):
        for _ in range(25):
            prims = [random_primitive(rng, rng.randrange(8)) for _ in range(rng.randrange(1, 7))]
            c = loaded(*prims)
            buf = bytes(b for p in prims for b in p.to_bytes())
            for _ in range(6):
                p = [rng.uniform(-5, 5) for _ in range(3)]
                pf = [F(f32(v)) for v in p]
                assert same_f32(c.distance(*p), float(ref_scene(buf, pf)))
                got, want = c.normal(*p), ref_normal(buf, pf)
                assert all(same_f32(a, b) for a, b in zip(got, want)), (prims, p, got, want)


# Field values for raw records: small exact values make ties and zero
# distances common; the rest are specials, arbitrary bit patterns and
# coordinates. A "tiny" scene takes mostly zeros of either sign, and its
# primitives of every kind meet at +0 and -0.
POOL = [0.0, -0.0, 1.0, -1.0, 2.0, 0.5, -0.5, 3.0]
TINY = [0.0, -0.0] * 3 + [1.0, -1.0]


def raw_field(rng, tiny=False):
    roll = rng.random()
    if tiny or roll < 0.4:
        return struct.pack("<f", rng.choice(TINY if tiny else POOL))
    if roll < 0.5:
        return struct.pack("<f", rng.choice(SPECIAL_F32))
    if roll < 0.6:
        return struct.pack("<I", rng.getrandbits(32))
    return struct.pack("<f", rng.uniform(-4, 4))


def hostile_scene(rng, tiny):
    """Records of every type code, unknown codes, copies of earlier records
    with a zero field's sign flipped, and a partial trailing record."""
    recs = []
    for _ in range(rng.choice([0, 1, 2, 3, 5, 8, 13, 30])):
        if recs and rng.random() < 0.3:
            rec = bytearray(rng.choice(recs))
            at = 4 * rng.randrange(8)
            if struct.unpack_from("<f", rec, at)[0] == 0:
                rec[at + 3] ^= 0x80
        else:
            code = rng.choice([rng.getrandbits(32), 8] if rng.random() < 0.1 else range(8))
            rec = bytearray(
                b"".join(raw_field(rng, tiny) for _ in range(8))
                + struct.pack("<I", code)
                + rng.randbytes(12)
            )
        recs.append(bytes(rec))
    return b"".join(recs) + rng.randbytes(rng.choice([0, 0, 1, 47]))


@pytest.mark.skipif(libm is None, reason="cones need the C library's sinf and cosf")
def test_every_query_matches_the_record_walk_on_hostile_scenes():
    rng = random.Random(20261208)
    z = F(0)

    with np.errstate(all="ignore"):
        for scene in range(150):
            tiny = scene % 2 == 0
            buf = hostile_scene(rng, tiny)

            def coord():
                return struct.unpack("<f", raw_field(rng, tiny))[0]

            c = SdfCollider()
            c.load_bytes(buf)
            assert c.prim_count() == len(buf) // 48
            for _ in range(3):
                p = [coord() for _ in range(3)]
                pf = [F(v) for v in p]
                d = ref_scene(buf, pf)
                n = ref_normal(buf, pf)
                assert same_f32(c.distance(*p), float(d)), (buf.hex(), p)
                assert all(same_f32(a, b) for a, b in zip(c.normal(*p), n)), (buf.hex(), p)
                push = [float(F(v) * np.abs(d)) for v in n] if d < z else [0.0] * 3
                assert all(same_f32(a, b) for a, b in zip(c.push_out(*p), push)), (buf.hex(), p)
                r = coord()
                assert c.sphere_overlaps(*p, r) == bool(d < F(r))
                lo, hi = pf, [F(coord()) for _ in range(3)]
                corners = [[(lo, hi)[i >> k & 1][k] for k in range(3)] for i in range(8)]
                mid = [(lo[k] + hi[k]) * F(0.5) for k in range(3)]
                want = any(ref_scene(buf, q) < z for q in corners + [mid])
                assert c.aabb_overlaps(*lo, *hi) == want, (buf.hex(), lo, hi)


# ---- fixed points ------------------------------------------------------------------


@pytest.mark.parametrize(
    "prim, point, want",
    [
        (P.sphere(0, 0, 0, 1), (0, 0, 0), -1.0),
        (P.sphere(0, 0, 0, 1), (1, 0, 0), 0.0),
        (P.sphere(0, 0, 0, 1), (2, 0, 0), 1.0),
        (P.cylinder(0, 0, 0, 1, 0.5), (0, 1, 0), 0.0),
        (P.cylinder(0, 0, 0, 1, 0.5), (0.5, 0, 0), 0.0),
        (P.cylinder(0, 0, 0, 1, 0.5), (0, 0, 0), -0.5),
        (P.plane(0, 2, 0, 0), (0, 1, 0), 2.0),
        (P.torus(0, 0, 0, 2, 0.5), (2, 0, 0), -0.5),
        (P.torus(0, 0, 0, 2, 0.5), (0, 0, 0), 1.5),
        (P.box_(0, 0, 0, 1, 2, 3), (0, 0, 0), -1.0),
        (P.box_(0, 0, 0, 1, 2, 3), (2, 3, 0), f32(math.sqrt(2))),
        (P.rounded_box(0, 0, 0, 1, 1, 1, 0.25), (2, 0, 0), 0.75),
        (P.rounded_box(0, 0, 0, 1, 1, 1, 0.25), (0, 0, 0), -1.25),
        (P.capsule(0, 0, 0, 0, 2, 0, 0.5), (1, 1, 0), 0.5),
        (P.capsule(0, 0, 0, 0, 2, 0, 0.5), (0, 3, 0), 0.5),
        (P.capsule(1, 1, 1, 1, 1, 1, 0.5), (1, 1, 3), 1.5),  # A == B: a sphere
        (P.cone(0, 0, 0, 1, 0), (0, 2, 0), 1.0),
        (P.cone(0, 0, 0, 1, 0), (1, 0, 0), 0.0),
    ],
)
def test_distance_at_known_points(prim, point, want):
    assert loaded(prim).distance(*point) == want


def test_unknown_codes_partial_records_and_ignored_fields():
    sphere = P.sphere(0, 0, 0, 1).to_bytes()
    unknown = [bytes(sphere[:32]) + struct.pack("<I", code) + bytes(12) for code in (8, 2**32 - 1)]
    c = SdfCollider()
    c.load_bytes(b"".join(unknown))
    assert c.prim_count() == 2 and c.distance(0, 0, 0) == EMPTY

    # 100 bytes: two records and 4 ignored bytes that would be a nearer sphere.
    c.load_bytes(
        bytes(P.sphere(5, 0, 0, 1).to_bytes() + P.sphere(0, 0, 0, 1).to_bytes()) + bytes(4)
    )
    assert c.prim_count() == 2 and c.distance(0, 0, 0) == -1.0
    c.load_bytes(bytes(P.sphere(5, 0, 0, 1).to_bytes()) + bytes(sphere[:47]))
    assert c.prim_count() == 1 and c.distance(0, 0, 0) == 4.0

    a, b = P.sphere(0, 0, 0, 1), P.box_(1, 0, 0, 1, 1, 1)
    plain = loaded(a, b)
    a.set_csg_op(2)
    a.set_smooth_k(0.5)
    b.set_csg_op(4294967295)
    b.set_smooth_k(math.nan)
    blended = loaded(a, b)
    for p in [(0, 0, 0), (0.9, 0.1, 0), (-3, 2, 1), (1.5, 0, 0)]:
        assert blended.distance(*p) == plain.distance(*p)
        assert blended.normal(*p) == plain.normal(*p)
        assert blended.push_out(*p) == plain.push_out(*p)


@pytest.mark.parametrize("data", [b"", bytes(1), bytes(47)])
def test_empty_collider_answers(data):
    c = SdfCollider()
    c.load_bytes(data)
    assert c.prim_count() == 0
    assert c.distance(1, 2, 3) == EMPTY
    assert c.normal(1, 2, 3) == (0.0, 1.0, 0.0)
    assert c.push_out(1, 2, 3) == (0.0, 0.0, 0.0)
    assert c.aabb_overlaps(-1e30, -1e30, -1e30, 1e30, 1e30, 1e30) is False
    assert c.sphere_overlaps(0, 0, 0, 3.4e38) is False
    assert c.sphere_overlaps(0, 0, 0, 1e39) is True
    assert c.sphere_overlaps(0, 0, 0, math.inf) is True
    assert c.sphere_overlaps(0, 0, 0, math.nan) is False


def test_unit_sphere_queries():
    c = loaded(P.sphere(0, 0, 0, 1))
    assert c.distance(0, 0, 0) == -1.0
    n = c.normal(2, 0, 0)
    assert n[0] == pytest.approx(1.0) and abs(n[1]) < 1e-6 and abs(n[2]) < 1e-6
    assert c.push_out(0.5, 0, 0) == pytest.approx((0.5, 0.0, 0.0), abs=1e-6)
    assert c.push_out(2, 0, 0) == (0.0, 0.0, 0.0)
    assert c.push_out(1, 0, 0) == (0.0, 0.0, 0.0)  # on the surface: d == 0
    assert c.sphere_overlaps(2, 0, 0, 1) is False
    assert c.sphere_overlaps(2, 0, 0, 1.5) is True
    assert c.sphere_overlaps(cx=0, cy=0, cz=0, r=-0.5) is True
    assert c.aabb_overlaps(-0.1, -0.1, -0.1, 0.1, 0.1, 0.1) is True
    assert c.aabb_overlaps(-3, -3, -3, 3, 3, 3) is True  # only the centre is inside
    assert c.aabb_overlaps(3, 3, 3, -3, -3, -3) is True  # inverted box, same samples
    assert c.aabb_overlaps(1, 0, 0, 2, 0, 0) is False  # touches at distance 0
    assert c.aabb_overlaps(1.5, 1.5, 1.5, 1.5, 1.5, 1.5) is False


def test_push_out_is_normal_times_depth():
    c = loaded(P.box_(0, 0, 0, 1, 2, 3), P.torus(2, 0, 0, 1, 0.5))
    for p in [(0.2, 0.3, -0.1), (2.9, 0.1, 0.0), (-0.5, 1.5, 2.5)]:
        d, n = F(c.distance(*p)), [F(v) for v in c.normal(*p)]
        assert d < 0
        want = tuple(float(v * np.abs(d)) for v in n)
        assert all(same_f32(a, b) for a, b in zip(c.push_out(*p), want))


# ---- load_bytes --------------------------------------------------------------------


def test_load_bytes_accepts_sequences_and_copies():
    rec = P.sphere(0, 0, 0, 2).to_bytes()
    for data in (
        rec,
        tuple(rec),
        bytes(rec),
        bytearray(rec),
        memoryview(bytes(rec)),
        np.array(rec, dtype=np.uint8),
    ):
        c = SdfCollider()
        c.load_bytes(data)
        assert c.prim_count() == 1 and c.distance(0, 0, 0) == -2.0, type(data)
    mutable = bytearray(rec)
    c = SdfCollider()
    c.load_bytes(data=mutable)
    mutable[12:16] = struct.pack("<f", 5.0)
    assert c.distance(0, 0, 0) == -2.0


@pytest.mark.parametrize(
    "bad, exc, message",
    [
        ([0] * 47 + [256], OverflowError, "^out of range integral type conversion attempted$"),
        ((1, 2, -1), OverflowError, "^out of range integral type conversion attempted$"),
        ([1, 2, 2**40], OverflowError, None),
        ("abc", TypeError, "^argument 'data': Can't extract `str` to `Vec`$"),
        (5, TypeError, "^argument 'data': 'int' object cannot be converted to 'Sequence'$"),
        ([1, 2.0], TypeError, "^argument 'data': "),
        ([1, "2"], TypeError, "^argument 'data': "),
        (FailingSequence(message="boom"), KeyError, "boom"),
    ],
)
def test_failed_load_keeps_previous_scene(bad, exc, message):
    c = loaded(P.sphere(0, 0, 0, 1))
    with pytest.raises(exc, match=message):
        c.load_bytes(bad)
    assert c.prim_count() == 1 and c.distance(0, 0, 0) == -1.0


LOAD_CHILD = """
import _core
c = _core.SdfCollider()
one = list(_core.SdfPrimitive.sphere(0, 0, 0, 1).to_bytes())
c.load_bytes(one)
print(stopped_inside(c.load_bytes, one * 700_000), c.prim_count(), c.distance(0, 0, 0))
"""


def test_ctrl_c_while_a_large_list_is_read_keeps_the_old_scene():
    # The list is read in 70 ms or more, as the build goes.
    out = ctrl_c_child(STOPPED_INSIDE + LOAD_CHILD, delay=0.02)
    assert out == "True 1 -1.0\n"


def test_query_argument_errors_name_the_parameter():
    c = SdfCollider()
    with pytest.raises(TypeError, match=r"^argument 'py': "):
        c.distance(0, "1", 0)
    with pytest.raises(TypeError, match=r"^argument 'max_z': "):
        c.aabb_overlaps(0, 0, 0, 1, 1, None)
    with pytest.raises(TypeError, match=r"^SdfCollider.normal\(\) missing 1 required"):
        c.normal(0, 0)


def test_collider_docstrings():
    assert SdfCollider.__text_signature__ == "()"
    assert SdfCollider.distance.__doc__ == (
        "Evaluate the scene SDF at point (px, py, pz).\n\n"
        "Returns the signed distance to the nearest surface across all\n"
        "primitives (union \u2014 minimum distance).\n"
        "Negative = inside, positive = outside."
    )
    assert SdfCollider.load_bytes.__text_signature__ == "($self, data)"
    assert SdfCollider.prim_count.__doc__ == "Number of complete primitive records stored."


class Index:
    def __init__(self, value, victim=None):
        self.value, self.victim = value, victim

    def __index__(self):
        if self.victim is not None:
            self.victim.clear()  # drops the list's references, including to self
        return self.value


def test_load_bytes_mixed_items_and_a_list_emptied_while_read():
    rec = P.sphere(0, 0, 0, 2).to_bytes()
    mixed = [
        Index(b) if i % 3 == 0 else (b == 1 if b < 2 and i % 3 == 1 else b)
        for i, b in enumerate(rec)
    ]
    c = SdfCollider()
    c.load_bytes(mixed)
    assert c.prim_count() == 1 and c.distance(0, 0, 0) == -2.0
    data = list(P.sphere(0, 0, 0, 1).to_bytes())
    data[:0] = [7]
    data[1] = Index(0, victim=data)
    c.load_bytes(data)  # reading stops where the list now ends
    assert c.prim_count() == 0 and c.distance(0, 0, 0) == EMPTY


def test_reentrant_conversions_hit_the_borrow_flag():
    c = loaded(P.sphere(0, 0, 0, 1))

    class Reloads:
        def __float__(self):
            c.load_bytes(b"")
            return 0.0

    class Queries:
        def __index__(self):
            c.distance(0, 0, 0)
            return 0

    with pytest.raises(RuntimeError, match="^Already borrowed$"):
        c.distance(Reloads(), 0, 0)
    with pytest.raises(RuntimeError, match="^Already mutably borrowed$"):
        c.load_bytes([Queries()] * 48)
    assert c.prim_count() == 1 and c.distance(0, 0, 0) == -1.0
