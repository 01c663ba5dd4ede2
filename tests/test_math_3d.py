"""Vec3, Vec4, Quaternion and Mat4x4: float32 exactness, worked values,
rotation conventions against scipy, reprs and the Python surface."""

import inspect
import math
import struct

import numpy as np
import pytest
from conftest import SPECIAL_F32, f32, same_f32, ulps_apart
from scipy.spatial.transform import Rotation

import _core
from _core import Mat4x4, Quaternion, Vec3, Vec4

F = np.float32


def comps(v):
    return tuple(getattr(v, n) for n in "xyzw" if hasattr(v, n))


def same_all(got, want):
    got, want = list(got), [float(w) for w in want]
    return len(got) == len(want) and all(same_f32(g, w) for g, w in zip(got, want))


def random_f32(rng, n):
    """Specials first, then values spread over the whole float32 range."""
    out = [f32(x) for x in SPECIAL_F32]
    while len(out) < n:
        kind = rng.random()
        if kind < 0.5:
            out.append(f32(rng.uniform(-10, 10)))
        elif kind < 0.8:
            out.append(f32(rng.choice([-1, 1]) * 10 ** rng.uniform(-45, 38.5)))
        else:
            out.append(struct.unpack("<f", struct.pack("<I", rng.getrandbits(32)))[0])
    rng.shuffle(out)
    return out[:n]


def vectors(rng, dim, n=300):
    pool = random_f32(rng, n * dim)
    return [tuple(pool[i * dim : (i + 1) * dim]) for i in range(n)]


# ---- float32 reference ------------------------------------------------------


def r_dot(a, b):
    s = a[0] * b[0] + a[1] * b[1]
    for i in range(2, len(a)):
        s = s + a[i] * b[i]
    return s


def r_normalize(a, zero):
    q = r_dot(a, a)
    if q == 0:
        return zero
    n = np.sqrt(q)
    return tuple(c / n for c in a)


def r_qmul(a, b):
    ax, ay, az, aw = a
    bx, by, bz, bw = b
    return (
        ((aw * bx + ax * bw) + ay * bz) - az * by,
        ((aw * by - ax * bz) + ay * bw) + az * bx,
        ((aw * bz + ax * by) - ay * bx) + az * bw,
        ((aw * bw - ax * bx) - ay * by) - az * bz,
    )


def r_rotation(q):
    x, y, z, w = r_normalize(q, (F(0), F(0), F(0), F(1)))
    x2, y2, z2 = x + x, y + y, z + z
    wx, wy, wz = x2 * w, y2 * w, w * z2
    one, zero = F(1), F(0)
    return [
        one - (y * y2 + z * z2),
        x * y2 + wz,
        x * z2 - wy,
        zero,
        x * y2 - wz,
        one - (x * x2 + z * z2),
        y * z2 + wx,
        zero,
        x * z2 + wy,
        y * z2 - wx,
        one - (x * x2 + y * y2),
        zero,
        zero,
        zero,
        zero,
        one,
    ]


def r_matmul(a, b):
    out = [F(0)] * 16
    for c in range(4):
        for r in range(4):
            s = F(0)
            for k in range(4):
                s = s + a[4 * k + r] * b[4 * c + k]
            out[4 * c + r] = s
    return out


def f32s(values):
    return tuple(F(v) for v in values)


def probe_sincos(radians):
    """The module's own sine and cosine of radians / 2 (exact: the axis is x)."""
    q = Quaternion.from_axis_angle(Vec3(1, 0, 0), radians)
    return F(q.x), F(q.w)


def make_quat(x, y, z, w):
    q = Quaternion.identity()
    q.x, q.y, q.z, q.w = x, y, z, w
    return q


def random_matrices(rng, n=60):
    """Dense matrices (no constructor exists) built from products of factories."""
    out = []
    for _ in range(n):
        a, b, c = (Vec3(*v) for v in vectors(rng, 3, 3))
        q = make_quat(*(rng.uniform(-1, 1) for _ in range(4)))
        m = Mat4x4.from_rotation(q).mul(Mat4x4.from_scale(a)).transpose()
        out.append(m.mul(Mat4x4.from_translation(b)).mul(Mat4x4.from_scale(c)))
    return out


# ---- Vec3 and Vec4 -----------------------------------------------------------

VEC3_BINARY = {
    "dot": (lambda a, b: a.dot(b), lambda a, b: (r_dot(a, b),)),
    "cross": (
        lambda a, b: a.cross(b),
        lambda a, b: (
            a[1] * b[2] - a[2] * b[1],
            a[2] * b[0] - a[0] * b[2],
            a[0] * b[1] - a[1] * b[0],
        ),
    ),
    "add": (lambda a, b: a.add(b), lambda a, b: tuple(x + y for x, y in zip(a, b))),
    "+": (lambda a, b: a + b, lambda a, b: tuple(x + y for x, y in zip(a, b))),
    "sub": (lambda a, b: a.sub(b), lambda a, b: tuple(x - y for x, y in zip(a, b))),
    "-": (lambda a, b: a - b, lambda a, b: tuple(x - y for x, y in zip(a, b))),
    "mul": (lambda a, b: a.mul(b.y), lambda a, b: tuple(x * b[1] for x in a)),
    "*": (lambda a, b: a * b.y, lambda a, b: tuple(x * b[1] for x in a)),
}


@pytest.mark.parametrize("op", VEC3_BINARY)
def test_vec3_binary_ops_match_float32_reference(op, rng):
    ours, ref = VEC3_BINARY[op]
    with np.errstate(all="ignore"):
        for a, b in zip(vectors(rng, 3), vectors(rng, 3)):
            got = ours(Vec3(*a), Vec3(*b))
            got = (got,) if isinstance(got, float) else comps(got)
            assert same_all(got, ref(f32s(a), f32s(b))), (op, a, b)


@pytest.mark.parametrize("cls, dim", [(Vec3, 3), (Vec4, 4)])
def test_unary_ops_match_float32_reference(cls, dim, rng):
    zero = (F(0),) * dim
    with np.errstate(all="ignore"):
        for a in vectors(rng, dim):
            v, fa = cls(*a), f32s(a)
            assert same_all([v.length()], [np.sqrt(r_dot(fa, fa))]), a
            assert same_all(comps(v.normalize()), r_normalize(fa, zero)), a
            assert same_all([v.dot(cls(*a[::-1]))], [r_dot(fa, fa[::-1])]), a
            assert same_all(comps(v), a)  # receiver unchanged


def test_vec3_negation_flips_sign_bits_only():
    v = -Vec3(0, 1, -2)
    assert same_all(comps(v), [-0.0, -1.0, 2.0])
    assert repr(v) == "Vec3(-0, -1, 2)"
    nan = struct.unpack("<f", struct.pack("<I", 0x7FC12345))[0]
    n = -Vec3(nan, math.inf, -0.0)
    assert struct.pack("<f", n.x) == struct.pack("<I", 0xFFC12345)
    assert same_all(comps(n), [nan, -math.inf, 0.0])


def test_vector_worked_values():
    assert comps(Vec3(1, 0, 0).cross(Vec3(0, 1, 0))) == (0, 0, 1)
    assert comps(Vec3(0, 1, 0).cross(Vec3(1, 0, 0))) == (0, 0, -1)
    assert same_all(comps(Vec3(0, 0, 0).normalize()), [0.0] * 3)
    assert same_all(comps(Vec3(1e-30, 0, 0).normalize()), [0.0] * 3)
    assert same_all(comps(Vec4(0, 0, 0, 0).normalize()), [0.0] * 4)
    assert all(math.isnan(c) for c in comps(Vec3(math.nan, 0, 0).normalize()))
    assert Vec3(1, 2, 2).length() == 3.0
    assert Vec4(1, 1, 1, 1).length() == 2.0
    assert repr(Vec4(0.5, 1, 2.25, 1e-7)) == "Vec4(0.5, 1, 2.25, 0.0000001)"
    assert repr(Vec3(0.1, math.nan, -math.inf)) == "Vec3(0.1, NaN, -inf)"


def test_vector_fields_narrow_and_refuse_delete():
    for v in (Vec3(1, 2, 3), Vec4(1, 2, 3, 4), Quaternion.identity()):
        v.z = 0.1
        assert v.z == f32(0.1)
        v.x = 1e300
        assert v.x == math.inf
        with pytest.raises(TypeError, match=r"^argument 'z': "):
            v.z = "a"
        assert v.z == f32(0.1)
        with pytest.raises(AttributeError, match="^can't delete attribute$"):
            del v.x


def test_vector_operator_and_argument_errors():
    v = Vec3(1, 2, 3)
    with pytest.raises(
        TypeError,
        match=r"^argument 'other': 'int' object cannot be converted "
        r"to 'Vec3'$",
    ):
        v.add(5)
    with pytest.raises(
        TypeError,
        match=r"^argument 'other': 'Vec4' object cannot be "
        r"converted to 'Vec3'$",
    ):
        v.sub(Vec4(1, 2, 3, 4))
    with pytest.raises(TypeError, match=r"^argument 'scalar': "):
        v.mul("2")
    with pytest.raises(TypeError, match="unsupported operand"):
        v + 5
    with pytest.raises(TypeError, match="unsupported operand"):
        2 * v
    with pytest.raises(TypeError, match="unsupported operand"):
        v * v
    with pytest.raises(TypeError):
        v / 2
    with pytest.raises(TypeError, match="unsupported operand"):
        Vec4(1, 2, 3, 4) + Vec4(1, 1, 1, 1)
    with pytest.raises(TypeError):
        -Vec4(1, 2, 3, 4)
    assert comps(v * 2) == (2, 4, 6)
    assert comps(v) == (1, 2, 3)


# ---- Quaternion --------------------------------------------------------------


def test_quaternion_worked_values():
    assert repr(Quaternion.identity()) == "Quaternion(0, 0, 0, 1)"
    half_pi = math.pi / 2
    unit = Quaternion.from_axis_angle(Vec3(0, 0, 1), half_pi)
    assert comps(Quaternion.from_axis_angle(Vec3(0, 0, 2), half_pi)) == comps(unit)
    s, c = probe_sincos(1.25)
    assert comps(Quaternion.from_axis_angle(Vec3(0, 0, 0), 1.25)) == (0, 0, 0, c)
    assert same_all(comps(Quaternion.from_euler_xyz(0, 0, 0)), [0, 0, 0, 1])
    turned = unit.to_mat4().transform_direction(Vec3(1, 0, 0))
    assert comps(turned) == pytest.approx((0, 1, 0), abs=1e-6)
    q = Quaternion.from_axis_angle(Vec3(1, 2, 3), 0.7)
    assert comps(q.mul(q.conjugate())) == pytest.approx((0, 0, 0, 1), abs=1e-6)
    assert same_all(comps(make_quat(1, -0.0, math.nan, 2).conjugate()), [-1.0, 0.0, math.nan, 2.0])


def test_zero_quaternion_is_the_identity_rotation():
    zero = make_quat(0, 0, 0, 0)
    assert same_all(comps(zero.normalize()), [0, 0, 0, 1])
    identity = Mat4x4.identity().data()
    assert zero.to_mat4().data() == identity
    assert Mat4x4.from_rotation(zero).data() == identity


def test_sine_and_cosine_within_one_ulp(rng):
    for a in random_f32(rng, 400) + [f32(rng.uniform(-100, 100)) for _ in range(400)]:
        if not math.isfinite(a):
            continue
        h = float(F(a) * F(0.5))
        s, c = probe_sincos(a)
        assert ulps_apart(float(s), f32(math.sin(h))) <= 1, a
        assert ulps_apart(float(c), f32(math.cos(h))) <= 1, a


def test_quaternion_factories_follow_written_order(rng):
    # The module's own sine and cosine feed the reference, so the rest of the
    # arithmetic is compared bit for bit.
    with np.errstate(all="ignore"):
        for axis, (angle, pitch, yaw) in zip(vectors(rng, 3), vectors(rng, 3)):
            s, c = probe_sincos(angle)
            u = r_normalize(f32s(axis), (F(0),) * 3)
            got = Quaternion.from_axis_angle(Vec3(*axis), angle)
            assert same_all(comps(got), [u[0] * s, u[1] * s, u[2] * s, c]), (axis, angle)

            sr, cr = probe_sincos(angle)
            sp, cp = probe_sincos(pitch)
            sy, cy = probe_sincos(yaw)
            want = [
                (sr * cp) * cy - (cr * sp) * sy,
                (sr * cp) * sy + (cr * sp) * cy,
                (cp * cr) * sy - (sr * sp) * cy,
                (sr * sp) * sy + (cp * cr) * cy,
            ]
            got = Quaternion.from_euler_xyz(angle, pitch, yaw)
            assert same_all(comps(got), want), (angle, pitch, yaw)


def test_quaternion_products_and_matrices_match_float32_reference(rng):
    quats = vectors(rng, 4)
    with np.errstate(all="ignore"):
        for a, b in zip(quats, quats[1:] + quats[:1]):
            qa, qb, fa = make_quat(*a), make_quat(*b), f32s(a)
            want = r_qmul(fa, f32s(b))
            assert same_all(comps(qa.mul(qb)), want), (a, b)
            assert same_all(comps(qa * qb), want), (a, b)
            assert same_all(comps(qa.normalize()), r_normalize(fa, (F(0), F(0), F(0), F(1))))
            assert same_all(qa.to_mat4().data(), r_rotation(fa)), a
            assert same_all(Mat4x4.from_rotation(qa).data(), r_rotation(fa)), a
            assert same_all(comps(qa), a)


def test_euler_is_the_product_of_single_axis_rotations(rng):
    for _ in range(100):
        r, p, y = (rng.uniform(-4, 4) for _ in range(3))
        rx = Quaternion.from_axis_angle(Vec3(1, 0, 0), r)
        ry = Quaternion.from_axis_angle(Vec3(0, 1, 0), p)
        rz = Quaternion.from_axis_angle(Vec3(0, 0, 1), y)
        got = comps(Quaternion.from_euler_xyz(r, p, y))
        assert got == pytest.approx(comps(rz * ry * rx), abs=2e-6)
    r = 0.8
    assert comps(Quaternion.from_euler_xyz(r, 0, 0)) == pytest.approx(
        comps(Quaternion.from_axis_angle(Vec3(1, 0, 0), r)), abs=1e-7
    )


def same_rotation(q, want_xyzw):
    """Equal up to the sign that q and -q share."""
    got = np.array(comps(q))
    return min(np.abs(got - want_xyzw).max(), np.abs(got + want_xyzw).max()) < 2e-6


def test_rotation_conventions_agree_with_scipy(rng):
    for _ in range(100):
        axis = np.array([rng.uniform(-2, 2) for _ in range(3)])
        angle, r, p, y = (rng.uniform(-3, 3) for _ in range(4))
        ref = Rotation.from_rotvec(axis / np.linalg.norm(axis) * angle)
        q = Quaternion.from_axis_angle(Vec3(*axis), angle)
        assert same_rotation(q, ref.as_quat())  # x, y, z, w order
        # Fixed-axis X, then Y, then Z.
        assert same_rotation(
            Quaternion.from_euler_xyz(r, p, y), Rotation.from_euler("xyz", [r, p, y]).as_quat()
        )
        m = np.array(q.to_mat4().data()).reshape(4, 4, order="F")
        assert np.allclose(m[:3, :3], ref.as_matrix(), atol=2e-6)
        assert np.allclose(m[3], [0, 0, 0, 1]) and np.allclose(m[:3, 3], 0)
        v = np.array([rng.uniform(-5, 5) for _ in range(3)])
        turned = q.to_mat4().transform_direction(Vec3(*v))
        assert np.allclose(comps(turned), ref.apply(v), atol=1e-5)
        other = Quaternion.from_euler_xyz(r, p, y)
        product = ref * Rotation.from_quat(comps(other))
        assert same_rotation(q * other, product.as_quat())


# ---- Mat4x4 --------------------------------------------------------------------

IDENTITY_REPR = (
    "Mat4x4([1.000, 0.000, 0.000, 0.000, 0.000, 1.000, 0.000, 0.000, "
    "0.000, 0.000, 1.000, 0.000, 0.000, 0.000, 0.000, 1.000])"
)


def test_matrix_worked_values():
    assert repr(Mat4x4.identity()) == IDENTITY_REPR
    t = Mat4x4.from_translation(Vec3(1, 2, 3))
    assert t.data() == [1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 1, 2, 3, 1]
    assert repr(t) == (
        "Mat4x4([1.000, 0.000, 0.000, 1.000, 0.000, 1.000, 0.000, 2.000, "
        "0.000, 0.000, 1.000, 3.000, 0.000, 0.000, 0.000, 1.000])"
    )
    assert comps(t.transform_point(Vec3(0, 0, 0))) == (1, 2, 3)
    assert comps(t.transform_direction(Vec3(0, 0, 0))) == (0, 0, 0)
    assert t.transpose().data() == [1, 0, 0, 1, 0, 1, 0, 2, 0, 0, 1, 3, 0, 0, 0, 1]
    assert Mat4x4.from_scale(Vec3(2, 3, 4)).data() == [
        2,
        0,
        0,
        0,
        0,
        3,
        0,
        0,
        0,
        0,
        4,
        0,
        0,
        0,
        0,
        1,
    ]
    assert Mat4x4.identity().mul(Mat4x4.identity()).data() == Mat4x4.identity().data()
    assert repr(Mat4x4.from_scale(Vec3(0.0625, -0.0, math.nan))) == (
        "Mat4x4([0.062, 0.000, 0.000, 0.000, 0.000, -0.000, 0.000, 0.000, "
        "0.000, 0.000, NaN, 0.000, 0.000, 0.000, 0.000, 1.000])"
    )
    # 0.0005 narrows to slightly above the tie; 0.1875 is an exact tie.
    shifted = Mat4x4.from_translation(Vec3(0.0005, -math.inf, 0.1875))
    assert repr(shifted).split(", ")[3::4][:3] == ["0.001", "-inf", "0.188"]


def test_matrix_product_sums_start_from_positive_zero():
    # Every product for element 12 of t * t is -0; only a +0 start makes it +0.
    t = Mat4x4.from_translation(Vec3(-0.0, -0.0, -0.0))
    assert same_f32(t.mul(t).data()[12], 0.0)
    assert same_f32(Mat4x4.from_scale(Vec3(-0.0, 1, 1)).data()[0], -0.0)


def test_matrix_operations_match_float32_reference(rng):
    mats = random_matrices(rng)
    points = vectors(rng, 3, len(mats))
    with np.errstate(all="ignore"):
        for a, b, p in zip(mats, mats[1:] + mats[:1], points):
            da, db, fp = f32s(a.data()), f32s(b.data()), f32s(p)
            assert same_all(a.mul(b).data(), r_matmul(da, db))
            assert same_all(a.transpose().data(), [da[4 * (i % 4) + i // 4] for i in range(16)])
            direction = [(fp[0] * da[r] + fp[1] * da[4 + r]) + fp[2] * da[8 + r] for r in range(3)]
            assert same_all(comps(a.transform_direction(Vec3(*p))), direction)
            assert same_all(
                comps(a.transform_point(Vec3(*p))), [da[12 + r] + direction[r] for r in range(3)]
            )


def test_matrix_layout_agrees_with_numpy(rng):
    def dense():
        v = [Vec3(*(rng.uniform(-2, 2) for _ in range(3))) for _ in range(3)]
        q = make_quat(*(rng.uniform(-1, 1) for _ in range(4)))
        m = Mat4x4.from_rotation(q).mul(Mat4x4.from_scale(v[0])).transpose()
        return m.mul(Mat4x4.from_translation(v[1])).mul(Mat4x4.from_scale(v[2]))

    a, b = dense(), dense()
    na = np.array(a.data(), dtype=np.float64).reshape(4, 4, order="F")
    nb = np.array(b.data(), dtype=np.float64).reshape(4, 4, order="F")
    ab = np.array(a.mul(b).data()).reshape(4, 4, order="F")
    assert np.allclose(ab, na @ nb, rtol=1e-5, atol=1e-5)
    p = np.array([0.5, -2.0, 3.0])
    assert np.allclose(
        comps(a.transform_point(Vec3(*p))), (na @ np.append(p, 1))[:3], rtol=1e-5, atol=1e-5
    )
    t = Mat4x4.from_translation(Vec3(1, 2, 3)).mul(Mat4x4.from_scale(Vec3(2, 2, 2)))
    assert comps(t.transform_point(Vec3(1, 1, 1))) == (3, 4, 5)  # scale, then translate


# ---- Python surface --------------------------------------------------------------


def test_classes_without_constructor():
    for cls in (Mat4x4, Quaternion):
        with pytest.raises(TypeError, match=f"^No constructor defined for {cls.__name__}$"):
            cls()
        assert cls.__doc__ is None
    assert Vec3.__doc__ == "" and Vec4.__doc__ == ""
    assert str(inspect.signature(Vec3)) == "(x, y, z)"
    assert str(inspect.signature(Vec4)) == "(x, y, z, w)"


def test_operators_present_only_where_declared():
    q = Quaternion.identity()
    for bad in (
        lambda: q * 2,
        lambda: 2 * q,
        lambda: q * Vec3(1, 2, 3),
        lambda: Vec3(1, 2, 3) * q,
        lambda: Mat4x4.identity() * Mat4x4.identity(),
        lambda: q + q,
        lambda: -q,
    ):
        with pytest.raises(TypeError):
            bad()
    with pytest.raises(
        TypeError,
        match=r"^argument 'v': 'tuple' object cannot be converted "
        r"to 'Vec3'$",
    ):
        Mat4x4.identity().transform_point((1, 2, 3))
    with pytest.raises(TypeError, match=r"^argument 'q': "):
        Mat4x4.from_rotation(Vec4(0, 0, 0, 1))


def test_docstrings_and_registration_order():
    assert Quaternion.from_axis_angle.__doc__ == (
        "Build a quaternion from an axis-angle rotation.\n"
        "`axis` should be a unit vector; `radians` is the rotation angle."
    )
    assert Quaternion.to_mat4.__doc__ == "Convert to a column-major 4×4 rotation matrix."
    assert Mat4x4.identity.__text_signature__ == "()"
    assert Mat4x4.transform_point.__doc__ == (
        "Transform a point (applies translation): returns `self * (x,y,z,1)` as Vec3."
    )
    assert Vec3.cross.__doc__ is None and Vec3.cross.__text_signature__ == "($self, other)"
    names = [n for n in _core.__all__ if n in {"AABB", "Vec3", "Vec4", "Mat4x4", "Quaternion"}]
    assert names == ["AABB", "Vec3", "Vec4", "Mat4x4", "Quaternion"]
