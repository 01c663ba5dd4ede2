"""SdfPrimitive records, SdfScene buffers and their reprs."""

import math
import struct

import pytest
from conftest import SPECIAL_F32, f32

from _core import SdfPrimitive as P
from _core import SdfScene

# Factory -> (type code, how the arguments map onto center, params[0..3]).
FACTORIES = {
    "sphere": (0, 4, lambda a: (a[0:3], [a[3], 0, 0, 0])),
    "box_": (1, 6, lambda a: (a[0:3], [a[3], a[4], a[5], 0])),
    "cylinder": (2, 5, lambda a: (a[0:3], [a[3], a[4], 0, 0])),
    "cone": (4, 5, lambda a: (a[0:3], [a[3], a[4], 0, 0])),
    "torus": (5, 5, lambda a: (a[0:3], [a[3], a[4], 0, 0])),
    "plane": (6, 4, lambda a: (a[0:3], [a[3], 0, 0, 0])),
    "rounded_box": (7, 7, lambda a: (a[0:3], [a[3], a[4], a[5], a[6]])),
}


def record(center, params, type_code, csg_op=0, smooth_k=0.0):
    return list(
        struct.pack("<6f2f2I8x", *center, *params[:3], smooth_k, params[3], type_code, csg_op)
    )


def test_sphere_record_bytes():
    data = P.sphere(1, 2, 3, 0.5).to_bytes()
    assert type(data) is list and all(type(b) is int for b in data)
    assert data == [0, 0, 128, 63, 0, 0, 0, 64, 0, 0, 64, 64, 0, 0, 0, 63] + [0] * 32


def test_capsule_stores_midpoint_and_offset():
    data = bytes(P.capsule(0, 0, 0, 0, 2, 0, 0.5).to_bytes())
    assert struct.unpack_from("<3f", data, 0) == (0.0, 1.0, 0.0)
    assert struct.unpack_from("<f", data, 16) == (2.0,)
    assert struct.unpack_from("<f", data, 24) == (0.0,)
    assert struct.unpack_from("<f", data, 28) == (0.5,)
    assert struct.unpack_from("<I", data, 32) == (3,)


def test_capsule_arithmetic_is_float32():
    # a + b overflows float32 although it fits a double; b - a rounds.
    data = bytes(P.capsule(3e38, 1e-8, 1, 3e38, 1, 16777217, 1).to_bytes())
    cx, cy, cz, p0, p1, p2 = struct.unpack_from("<6f", data, 0)
    assert cx == math.inf and p0 == 0.0
    assert cy == f32(f32(f32(1e-8) + 1.0) * 0.5)
    assert cz == f32((1.0 + f32(16777217.0)) * 0.5) and p2 == f32(16777217.0) - 1.0


@pytest.mark.parametrize("name", FACTORIES)
def test_factories_write_narrowed_fields_at_their_offsets(name, rng):
    code, arity, layout = FACTORIES[name]
    for _ in range(50):
        args = [
            rng.choice(SPECIAL_F32 + [rng.uniform(-1e6, 1e6), 1e39, -1e300]) for _ in range(arity)
        ]
        center, params = layout([f32(a) for a in args])
        got = getattr(P, name)(*args).to_bytes()
        assert got == record(center, params, code), (name, args)


def test_nan_and_negative_zero_kept_bit_for_bit():
    nan = struct.unpack("<f", bytes.fromhex("0100c0ff"))[0]  # a NaN with payload, sign set
    data = P.sphere(-0.0, nan, 0, -0.0).to_bytes()
    assert data[0:4] == [0, 0, 0, 0x80]
    assert data[4:8] == [1, 0, 0xC0, 0xFF]
    assert data[12:16] == [0, 0, 0, 0x80]


def test_setters_touch_only_their_bytes():
    p = P.rounded_box(1, 2, 3, 4, 5, 6, 7)
    before = p.to_bytes()
    p.set_smooth_k(0.25)
    after_k = p.to_bytes()
    assert [i for i in range(48) if before[i] != after_k[i]] == [26, 27]
    assert bytes(after_k[24:28]) == struct.pack("<f", 0.25)
    p.set_csg_op(2)
    after_op = p.to_bytes()
    assert [i for i in range(48) if after_k[i] != after_op[i]] == [36]
    p.set_csg_op(4294967295)
    assert p.to_bytes()[36:40] == [255] * 4
    assert repr(p) == "SdfPrimitive(type=7, csg_op=4294967295, center=[1.000,2.000,3.000])"
    p.set_smooth_k(math.nan)
    assert math.isnan(struct.unpack("<f", bytes(p.to_bytes()[24:28]))[0])


def test_set_csg_op_rejects_out_of_range_and_keeps_value():
    p = P.sphere(0, 0, 0, 1)
    p.set_csg_op(5)
    for bad in (-1, 4294967296):
        with pytest.raises(OverflowError, match="out of range integral type conversion attempted"):
            p.set_csg_op(bad)
    with pytest.raises(TypeError, match=r"^argument 'op': "):
        p.set_csg_op(1.5)
    assert p.to_bytes()[36] == 5


@pytest.mark.parametrize(
    "center, text",
    [
        ((1, 2.5, -3), "[1.000,2.500,-3.000]"),
        ((-0.0, 1e39, -math.inf), "[-0.000,inf,-inf]"),
        ((math.nan, 0.0625, 0.0005), "[NaN,0.062,0.001]"),
        ((123456789, -0.0004, 1e-45), "[123456792.000,-0.000,0.000]"),
    ],
)
def test_primitive_repr(center, text):
    assert repr(P.sphere(*center, 1)) == f"SdfPrimitive(type=0, csg_op=0, center={text})"


def test_factory_errors():
    with pytest.raises(TypeError, match="^No constructor defined for SdfPrimitive$"):
        P()
    with pytest.raises(TypeError, match=r"missing 1 required positional argument: 'radius'"):
        P.capsule(0, 0, 0, 1, 1, 1)
    assert P.torus(r_minor=1, r_major=2, cx=0, cy=0, cz=0).to_bytes()[12:20] == list(
        struct.pack("<2f", 2, 1)
    )


def test_scene_buffer_is_records_in_order_and_holds_copies():
    scene = SdfScene()
    assert scene.to_gpu_bytes() == [] and scene.len() == 0
    assert repr(scene) == "SdfScene(primitives=0)"
    a, b = P.sphere(1, 2, 3, 4), P.plane(0, 1, 0, -2)
    scene.add(a)
    scene.add(b)
    scene.add(a)
    a.set_csg_op(9)
    a.set_smooth_k(3)
    data = scene.to_gpu_bytes()
    assert type(data) is list and len(data) == 144 and scene.len() == 3
    assert data == P.sphere(1, 2, 3, 4).to_bytes() + b.to_bytes() + P.sphere(1, 2, 3, 4).to_bytes()
    assert repr(scene) == "SdfScene(primitives=3)"
    scene.clear()
    assert scene.len() == 0 and scene.to_gpu_bytes() == []
    scene.add(b)
    assert scene.to_gpu_bytes() == b.to_bytes()


def test_scene_add_refuses_other_types_and_has_no_len():
    scene = SdfScene()
    with pytest.raises(
        TypeError,
        match=r"^argument 'prim': 'int' object cannot be converted "
        r"to 'SdfPrimitive'$",
    ):
        scene.add(5)
    with pytest.raises(TypeError):
        len(scene)
    assert scene.len() == 0


def test_wgsl_cone_sine_is_within_an_ulp_of_the_c_library():
    # sdf.wgsl's own sine and cosine, replayed in float32 on the host: dense
    # over |angle| <= 2π, and every float near each multiple of π/2, where
    # the reduction loses digits first.
    import numpy as np
    from models.trig import LIMIT, libm_sin_cos, ulps, wgsl_sin_cos

    rng = np.random.default_rng(24)
    near = (np.arange(-4, 5)[:, None] * np.pi / 2).astype(np.float32).view(np.int32)
    angles = np.concatenate(
        [
            rng.uniform(-2 * np.pi, 2 * np.pi, 60_000).astype(np.float32),
            (near + np.arange(-3000, 3000)).astype(np.int32).view(np.float32).ravel(),
            np.float32([0.0, -0.0, 1e-30, -1e-45, 2 * np.pi, -2 * np.pi, 1e-3]),
        ]
    )
    angles = angles[np.abs(angles) <= LIMIT]
    for got, expected in zip(wgsl_sin_cos(angles), libm_sin_cos(angles)):
        worst = np.argmax(ulps(got, expected))
        assert ulps(got, expected)[worst] <= 1, (angles[worst], got[worst], expected[worst])
