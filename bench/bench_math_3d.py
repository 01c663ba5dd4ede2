"""Vec3, Quaternion and Mat4x4 against PyGLM's vec3, quat and mat4."""

import glm

import _core
from common import Case, same_floats

Vec3, Quaternion, Mat4x4 = _core.Vec3, _core.Quaternion, _core.Mat4x4


def _glm_data(m):
    return [m[c][r] for c in range(4) for r in range(4)]


def cases():
    q1 = Quaternion.from_axis_angle(Vec3(1, 2, 3), 0.7)
    q2 = Quaternion.from_euler_xyz(0.3, -1.1, 2.0)
    m1 = Mat4x4.from_translation(Vec3(1, 2, 3)).mul(Mat4x4.from_rotation(q1))
    m2 = Mat4x4.from_rotation(q2).mul(Mat4x4.from_scale(Vec3(2, 0.5, 3)))
    env = {
        "Quaternion": Quaternion,
        "glm": glm,
        "a": Vec3(1.5, -2.25, 0.5),
        "b": Vec3(0.5, 4.0, -3.0),
        "ga": glm.vec3(1.5, -2.25, 0.5),
        "gb": glm.vec3(0.5, 4.0, -3.0),
        "q1": q1,
        "q2": q2,
        "gq1": glm.quat(q1.w, q1.x, q1.y, q1.z),
        "gq2": glm.quat(q2.w, q2.x, q2.y, q2.z),
        "m1": m1,
        "m2": m2,
        "gm1": glm.mat4(*m1.data()),
        "gm2": glm.mat4(*m2.data()),
        "axis": Vec3(0.0, 0.6, 0.8),
        "gaxis": glm.vec3(0.0, 0.6, 0.8),
        "angle": 1.25,
    }
    xyz = lambda v: (v.x, v.y, v.z)  # noqa: E731
    xyzw = lambda q: (q.x, q.y, q.z, q.w)  # noqa: E731
    vec = lambda tol: lambda a, b: same_floats(xyz(a), xyz(b), tol)  # noqa: E731
    quat = lambda a, b: same_floats(xyzw(a), xyzw(b), 1e-6)  # noqa: E731
    mat = lambda a, b: same_floats(a.data(), _glm_data(b), 1e-5)  # noqa: E731
    return [
        Case("Vec3 a + b", "a + b", "ga + gb", "PyGLM", env, check=vec(0)),
        Case("Vec3 a.cross(b)", "a.cross(b)", "glm.cross(ga, gb)", "PyGLM", env, check=vec(0)),
        Case(
            "Vec3 a.normalize()",
            "a.normalize()",
            "glm.normalize(ga)",
            "PyGLM",
            env,
            check=vec(1e-7),
        ),
        Case("Quaternion q1 * q2", "q1 * q2", "gq1 * gq2", "PyGLM", env, check=quat),
        Case("Mat4x4 m1.mul(m2)", "m1.mul(m2)", "gm1 * gm2", "PyGLM", env, check=mat),
        Case(
            "Mat4x4 m1.transform_point(a)",
            "m1.transform_point(a)",
            "gm1 * ga",
            "PyGLM",
            env,
            check=vec(1e-5),
        ),
        Case(
            "Quaternion.from_axis_angle(axis, angle)",
            "Quaternion.from_axis_angle(axis, angle)",
            "glm.angleAxis(angle, gaxis)",
            "PyGLM",
            env,
            check=quat,
        ),
    ]
