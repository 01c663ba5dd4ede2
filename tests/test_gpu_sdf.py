"""The shipped WGSL scene library on a real WebGPU stack, against SdfCollider.

Every primitive but the cone is built from +, -, *, /, abs and sqrt, which
the software Vulkan driver rounds correctly, so its distances must match the
collider's bit for bit: any slip in the order of operations shows up as a
difference. The cone takes the shader's own sine and cosine, an ulp at most
from the C library's: where they agree its distances match bit for bit too,
elsewhere they are held to a few ulps of the largest magnitude the formula
works with (see cone_scale).

The checks take the compute runner as an argument, so that test_browser.py
runs them on the browser's adapter as well.
"""

import math
import random
import struct

import gfxcore
import gpu
import numpy as np
import pytest
from models.floats import SPECIAL_F32
from models.trig import LIMIT, libm_sin_cos, ulps, wgsl_sin_cos

from _core import SdfCollider, SdfScene
from _core import SdfPrimitive as P

gfxgpu = pytest.importorskip("gfxcore.gpu", reason="gfxcore.gpu needs wgpu and numpy")
sdf_distances, sdf_normals = gfxgpu.sdf_distances, gfxgpu.sdf_normals

EMPTY = 3.4028234663852886e38
CONE = 4
CONE_ULPS = 8

# Distance of record `index` of the scene at each query point.
PRIMITIVE_KERNEL = (
    gfxcore.sdf_wgsl()
    + """
struct Query {
    p: vec3<f32>,
    index: u32,
}

@group(0) @binding(1) var<storage, read> queries: array<Query>;
@group(0) @binding(2) var<storage, read_write> result: array<f32>;

@compute @workgroup_size(64)
fn main(@builtin(global_invocation_id) id: vec3<u32>) {
    let k = id.x;
    if k < arrayLength(&queries) {
        result[k] = sdf_primitive_distance(sdf_scene[queries[k].index], queries[k].p);
    }
}
"""
)


# sdf_sin_cos of each angle.
SIN_COS_KERNEL = (
    gfxcore.sdf_wgsl()
    + """
@group(0) @binding(1) var<storage, read> angles: array<f32>;
@group(0) @binding(2) var<storage, read_write> result: array<vec2<f32>>;

@compute @workgroup_size(64)
fn main(@builtin(global_invocation_id) id: vec3<u32>) {
    if id.x < arrayLength(&angles) {
        result[id.x] = sdf_sin_cos(angles[id.x]) + vec2<f32>(f32(arrayLength(&sdf_scene)) * 0.0);
    }
}
"""
)


def gpu_primitive_distances(records, queries, run=gpu.run_compute):
    """queries: (x, y, z, record index) -> the GPU's float32 distances, as a
    scene of that one record would give them (a NaN or infinite distance
    leaves the empty distance), to compare with a one-record collider."""
    data = b"".join(struct.pack("<3fI", *q) for q in queries)
    out = run(PRIMITIVE_KERNEL, [b"".join(records), data], 4 * len(queries), -(-len(queries) // 64))
    got = np.frombuffer(out, dtype=np.float32)
    return np.where(got < np.float32(EMPTY), got, np.float32(EMPTY))


def gpu_sin_cos(angles, run):
    """The GPU's sdf_sin_cos of each float32 angle, one (sin, cos) row each."""
    out = run(
        SIN_COS_KERNEL,
        [gfxcore.scene_buffer(b""), angles.tobytes()],
        8 * len(angles),
        -(-len(angles) // 64),
    )
    return np.frombuffer(out, dtype=np.float32).reshape(-1, 2)


def sines_agree(records, run):
    """Per record: whether the GPU's sdf_sin_cos of its angle (params[1]) is
    the C library's sinf and cosf, bit for bit."""
    angles = np.array([struct.unpack_from("<f", r, 16)[0] for r in records], dtype=np.float32)
    expected = np.column_stack(libm_sin_cos(angles))
    return (ulps(gpu_sin_cos(angles, run), expected) == 0).all(axis=1)


def gpu_scene(scene, points):
    """gfxcore.gpu's distance and normal at each point, four floats a point."""
    device = gpu.gpu_device()
    return np.column_stack(
        [sdf_distances(scene, points, device=device), sdf_normals(scene, points, device=device)]
    )


def ordered(a):
    """float32 values as integers whose difference counts ulps (+0 == -0)."""
    i = np.asarray(a, dtype=np.float32).view(np.int32).astype(np.int64)
    return np.where(i < 0, -(i & 0x7FFFFFFF), i)


def ulp_diff(a, b):
    a, b = np.asarray(a, dtype=np.float32), np.asarray(b, dtype=np.float32)
    both_nan = np.isnan(a) & np.isnan(b)
    diff = np.abs(ordered(a) - ordered(b))
    return np.where(both_nan, 0, np.where(np.isnan(a) | np.isnan(b), 2**40, diff))


def cone_scale(record, p):
    """The largest magnitude among the cone's terms; sin and cos being an ulp
    off move the result by a few ulps of it."""
    cx, cy, cz, height, angle = struct.unpack_from("<5f", record)
    dx, dy, dz = p[0] - cx, p[1] - cy, p[2] - cz
    return max(math.hypot(dx, dz), abs(dy), abs(height / math.cos(angle)))


def f32_ulp(x):
    return 2.0 ** (math.frexp(x)[1] - 24) if x else 2.0**-149


# ---- seeded random scenes -------------------------------------------------------------


def random_primitive(rng, code):
    """A primitive of type `code`; one in four has a degenerate size (zero,
    negative, or a capsule whose ends coincide)."""

    def c():
        return rng.uniform(-3, 3)

    def size(hi=2.0):
        return rng.choice([0.0, -0.5, 1e-4]) if rng.random() < 0.25 else rng.uniform(0.0, hi)

    if code == 0:
        return P.sphere(c(), c(), c(), size())
    if code == 1:
        return P.box_(c(), c(), c(), size(), size(), size())
    if code == 2:
        return P.cylinder(c(), c(), c(), size(), size())
    if code == 3:
        a = (c(), c(), c())
        b = a if rng.random() < 0.25 else (c(), c(), c())
        return P.capsule(*a, *b, size(1.0))
    if code == 4:
        angle = rng.choice([0.0, 1.5, -1.5]) if rng.random() < 0.25 else rng.uniform(-1.4, 1.4)
        return P.cone(c(), c(), c(), size(), angle)
    if code == 5:
        return P.torus(c(), c(), c(), size(), size(1.0))
    if code == 6:
        return P.plane(*(rng.choice([0.0, c()]) for _ in range(3)), c())
    return P.rounded_box(c(), c(), c(), size(), size(), size(), size(0.5))


def query_points(rng, prim):
    """A grid around the origin, the primitive's centre, points moved onto its
    surface along the collider's normal, and far points."""
    grid = [
        (x, y, z)
        for x in np.linspace(-4, 4, 7)
        for y in np.linspace(-4, 4, 7)
        for z in np.linspace(-4, 4, 5)
    ]
    collider = SdfCollider()
    collider.load_bytes(prim.to_bytes())
    center = struct.unpack_from("<3f", bytes(prim.to_bytes()))
    near = []
    for p in rng.sample(grid, 40):
        d = collider.distance(*p)
        n = collider.normal(*p)
        near.append(tuple(p[i] - n[i] * d for i in range(3)))
    far = [(1e4, -2e4, 3e4), (-1e19, 0.0, 1e19), (0.0, 5e37, 0.0)]
    return [tuple(map(float, p)) for p in grid] + [center] + near + far


def check_primitive_distances(code, run):
    """Seeded primitives of type `code` against one-record colliders; the
    number of points compared."""
    rng = random.Random(1100 + code)
    prims = [random_primitive(rng, code) for _ in range(12)]
    records = [bytes(p.to_bytes()) for p in prims]
    queries, expected = [], []
    for index, (prim, record) in enumerate(zip(prims, records)):
        collider = SdfCollider()
        collider.load_bytes(record)
        for p in query_points(rng, prim):
            queries.append((*p, index))
            expected.append(collider.distance(*p))
    got = gpu_primitive_distances(records, queries, run)
    expected = np.array(expected, dtype=np.float32)
    if code == CONE:
        check_cones(records, queries, got, expected)
    else:
        bad = np.nonzero(ulp_diff(got, expected))[0]
        assert bad.size == 0, [(queries[k], got[k], expected[k]) for k in bad[:5]]
    return len(queries)


def check_cones(records, queries, got, expected):
    """Within CONE_ULPS of the scale of the cone's terms. Returns the share
    of points that match bit for bit."""
    same = ulp_diff(got, expected) == 0
    for k, (g, e) in enumerate(zip(got, expected)):
        record, p = records[queries[k][3]], queries[k][:3]
        if same[k]:
            continue
        scale = cone_scale(record, p)
        assert math.isfinite(e) and math.isfinite(scale), (record.hex(), p, g, e)
        assert abs(float(g) - float(e)) <= CONE_ULPS * f32_ulp(scale), (record.hex(), p, g, e)
    return same.mean()


@pytest.mark.parametrize(
    "code",
    range(8),
    ids=["sphere", "box", "cylinder", "capsule", "cone", "torus", "plane", "rounded_box"],
)
def test_primitive_distances_match_the_collider(code):
    check_primitive_distances(code, gpu.run_compute)


def check_sin_cos(run):
    """The GPU's sdf_sin_cos against sinf and cosf, dense over |angle| <= 2π
    and at every float near a multiple of π/2: within an ulp, and the same
    bits as its float32 replay on the host. Returns the share that matches
    the C library bit for bit."""
    near = (np.arange(-4, 5)[:, None] * np.pi / 2).astype(np.float32).view(np.int32)
    angles = np.concatenate(
        [
            np.random.default_rng(3).uniform(-2 * np.pi, 2 * np.pi, 20000).astype(np.float32),
            (near + np.arange(-200, 200)).astype(np.int32).view(np.float32).ravel(),
        ]
    )
    angles = angles[np.abs(angles) <= LIMIT]
    got = gpu_sin_cos(angles, run)
    diff = ulps(got, np.column_stack(libm_sin_cos(angles)))
    assert diff.max() <= 1, angles[np.argmax(diff.max(axis=1))]
    replay = ulps(got, np.column_stack(wgsl_sin_cos(angles))).max(axis=1)
    assert replay.max() == 0, angles[np.argmax(replay)]
    return (diff == 0).mean()


def test_cone_sine_and_cosine_stay_near_the_c_library():
    check_sin_cos(gpu.run_compute)


def check_cone_goal(run):
    """Cones of any angle up to 2π, points in [-10, 10]: bit for bit where
    the GPU's sine and cosine are the C library's, elsewhere within
    CONE_ULPS of the scale of their terms. Returns the shares that match bit
    for bit and come within 8 ulps of the collider (or 1e-6 near zero), and
    the largest difference."""
    rng = random.Random(24)
    records, queries, expected = [], [], []
    for index in range(24):
        angle = rng.uniform(-2 * math.pi, 2 * math.pi)
        prim = P.cone(*(rng.uniform(-5, 5) for _ in range(3)), rng.uniform(0, 3), angle)
        records.append(bytes(prim.to_bytes()))
        collider = SdfCollider()
        collider.load_bytes(records[-1])
        for _ in range(400):
            p = tuple(rng.uniform(-10, 10) for _ in range(3))
            queries.append((*p, index))
            expected.append(collider.distance(*p))
    got = gpu_primitive_distances(records, queries, run)
    expected = np.array(expected, dtype=np.float32)
    same = check_cones(records, queries, got, expected)
    diff = np.abs(got.astype(np.float64) - expected)
    near = (ulp_diff(got, expected) <= CONE_ULPS) | (diff <= 1e-6)
    agree = sines_agree(records, run)[[q[3] for q in queries]]
    assert np.all(ulp_diff(got, expected)[agree] == 0)
    return {
        "points": len(queries),
        "bit for bit": same,
        "sines agree": agree.mean(),
        "within 8 ulps or 1e-6": near.mean(),
        "largest difference": diff.max(),
    }


def test_cone_distances_reach_the_goal():
    check_cone_goal(gpu.run_compute)


# Field values that arithmetic gets wrong first.
SPECIAL = SPECIAL_F32


def hostile_record(rng):
    code = rng.choice([0, 1, 2, 3, 4, 5, 6, 7, 8, 0xFFFFFFFF])
    fields = [rng.choice(SPECIAL) if rng.random() < 0.3 else rng.uniform(-3, 3) for _ in range(8)]
    if code == CONE:
        # The GPU's sine of a huge or infinite angle need not be the C
        # library's; the angle stays where both are an ulp from exact.
        fields[4] = rng.uniform(-1.4, 1.4)
    return struct.pack("<8f2I8x", *fields, code, rng.getrandbits(32))


def flushed_distance(record, point):
    def flush(x):
        return math.copysign(0.0, x) if abs(x) < 1.1754944e-38 else x

    collider = SdfCollider()
    collider.load_bytes(
        struct.pack("<8f", *map(flush, struct.unpack_from("<8f", record))) + record[32:]
    )
    return np.float32(collider.distance(*map(flush, point)))


def check_hostile_records(run):
    """Records with special values against one-record colliders; the number
    of points compared."""
    rng = random.Random(77)
    records = [hostile_record(rng) for _ in range(300)]
    points = [
        tuple(rng.choice(SPECIAL) if rng.random() < 0.2 else rng.uniform(-4, 4) for _ in range(3))
        for _ in range(20)
    ]
    queries, expected = [], []
    for index, record in enumerate(records):
        collider = SdfCollider()
        collider.load_bytes(record)
        for p in points:
            queries.append((*p, index))
            expected.append(collider.distance(*p))
    got = gpu_primitive_distances(records, queries, run)
    expected = np.array(expected, dtype=np.float32)
    diff = ulp_diff(got, expected)
    codes = [struct.unpack_from("<I", records[q[3]], 32)[0] for q in queries]
    for k in np.nonzero(diff)[0]:
        # A GPU may flush subnormal inputs to zero (WGSL allows it; newer
        # Mesa does): then it matches the collider given them flushed.
        if ulp_diff(got[k], flushed_distance(records[queries[k][3]], queries[k][:3])) == 0:
            continue
        # Cones may differ in the last bits, never in NaN-ness or infinity.
        assert (
            codes[k] == CONE and diff[k] < 2**40 and np.isfinite(got[k]) == np.isfinite(expected[k])
        ), (records[queries[k][3]].hex(), queries[k][:3], got[k], expected[k])
    return len(queries)


def test_hostile_records_match_the_collider():
    check_hostile_records(gpu.run_compute)


def mixed_scene(rng, with_cones):
    scene = SdfScene()
    for code in rng.choices([c for c in range(8) if with_cones or c != CONE], k=10):
        prim = random_primitive(rng, code)
        prim.set_csg_op(rng.getrandbits(32))  # neither of these changes the union
        prim.set_smooth_k(rng.uniform(-1, 1))
        scene.add(prim)
    buffer = bytes(scene.to_gpu_bytes())
    # A record whose distance is NaN everywhere and records of unknown types never win.
    nan_sphere = struct.pack("<8f2I8x", math.nan, 0, 0, 1, 0, 0, 0, 0, 0, 0)
    unknown = struct.pack("<8f2I8x", *[0.0] * 8, 9, 0) + struct.pack(
        "<8f2I8x", *[0.0] * 8, 0xFFFFFFFF, 0
    )
    return buffer[:96] + nan_sphere + unknown + buffer[96:]


@pytest.mark.parametrize("seed", range(4))
def test_scene_distance_and_normal_match_the_collider(seed):
    rng = random.Random(seed)
    buffer = mixed_scene(rng, with_cones=False) + bytes(range(40))  # partial trailing record
    points = np.array(
        [
            (x, y, z)
            for x in np.linspace(-4, 4, 17)
            for y in np.linspace(-4, 4, 17)
            for z in np.linspace(-4, 4, 9)
        ],
        dtype=np.float32,
    )
    collider = SdfCollider()
    collider.load_bytes(buffer)
    expected = np.array(
        [(collider.distance(*p), *collider.normal(*p)) for p in points.tolist()], dtype=np.float32
    )
    got = gpu_scene(buffer, points)
    bad = np.nonzero(ulp_diff(got, expected).any(axis=1))[0]
    assert bad.size == 0, [(points[k], got[k], expected[k]) for k in bad[:5]]


def test_scene_with_cones_stays_within_the_cone_bound():
    rng = random.Random(9)
    buffer = mixed_scene(rng, with_cones=True)
    points = np.array(
        [
            (x, y, z)
            for x in np.linspace(-4, 4, 9)
            for y in np.linspace(-4, 4, 9)
            for z in np.linspace(-4, 4, 9)
        ],
        dtype=np.float32,
    )
    collider = SdfCollider()
    collider.load_bytes(buffer)
    expected = np.array([collider.distance(*p) for p in points.tolist()], dtype=np.float32)
    got = gpu_scene(buffer, points)[:, 0]
    # The largest cone term in this box of points stays below 16.
    assert np.all(np.abs(got - expected) <= CONE_ULPS * f32_ulp(16.0))


@pytest.mark.parametrize("data", [[], [1], list(range(47))])
def test_scenes_without_a_complete_record_are_empty(data):
    got = gpu_scene(data, np.array([[0, 0, 0], [1e30, -5, 2]], dtype=np.float32))
    assert got.tolist() == [[EMPTY, 0.0, 1.0, 0.0]] * 2


def test_scene_forms_agree_and_large_inputs_split_into_dispatches(monkeypatch):
    scene = SdfScene()
    for prim in (P.sphere(0, 0, 0, 1), P.torus(1, 0, 0, 2, 0.5), P.box_(0, 2, 0, 1, 1, 1)):
        scene.add(prim)
    points = np.random.default_rng(3).uniform(-4, 4, (1000, 3))
    whole = gpu_scene(scene, points)
    device = gpu.gpu_device()
    monkeypatch.setattr(device, "max_points_per_dispatch", 128)  # 8 dispatches, the last partial
    for form in (bytes(scene.to_gpu_bytes()), scene.to_gpu_bytes(), scene):
        assert np.array_equal(gpu_scene(form, points), whole)
    assert gpu_scene(scene, np.empty((0, 3))).shape == (0, 4)


def test_scene_buffer_keeps_complete_records_only():
    sphere = P.sphere(1, 2, 3, 0.5).to_bytes()
    assert gfxcore.scene_buffer(sphere * 2 + [7] * 4) == bytes(sphere * 2)
    assert len(gfxcore.scene_buffer(b"")) == gfxcore.RECORD_SIZE


@pytest.mark.parametrize("group, binding", [(-1, 0), (0, 2**32), (0.0, 0), (True, 0)])
def test_sdf_wgsl_refuses_bad_binding_numbers(group, binding):
    with pytest.raises(ValueError):
        gfxcore.sdf_wgsl(group=group, binding=binding)


def test_record_struct_has_the_buffer_layout():
    # The struct is 48 bytes with params[3] at 28: the kernel reads each field back.
    code = (
        gfxcore.sdf_wgsl(group=0, binding=0)
        + """
@group(0) @binding(1) var<storage, read> which: array<u32>;
@group(0) @binding(2) var<storage, read_write> result: array<f32>;

@compute @workgroup_size(1)
fn main() {
    let r = sdf_scene[which[0]];
    result[0] = r.center.x; result[1] = r.center.y; result[2] = r.center.z;
    result[3] = r.p0; result[4] = r.p1; result[5] = r.p2; result[6] = r.smooth_k; result[7] = r.p3;
    result[8] = f32(r.type_code); result[9] = f32(r.csg_op);
    result[10] = f32(arrayLength(&sdf_scene));
}
"""
    )
    cap = P.capsule(0, 0, 0, 0, 2, 0, 0.5)
    cap.set_smooth_k(0.25)
    cap.set_csg_op(6)
    data = P.sphere(9, 9, 9, 9).to_bytes() + cap.to_bytes()
    out = np.frombuffer(
        gpu.run_compute(code, [bytes(data), struct.pack("<I", 1)], 44, 1), dtype=np.float32
    )
    assert out.tolist() == [0, 1, 0, 0, 2, 0, 0.25, 0.5, 3, 6, 2]
