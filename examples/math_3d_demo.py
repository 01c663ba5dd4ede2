"""3D vectors, quaternions and column-major 4x4 matrices, all in float32."""

import math

from _core import Mat4x4, Quaternion, Vec3, Vec4

x, y = Vec3(1, 0, 0), Vec3(0, 1, 0)
print(f"x.cross(y) = {x.cross(y)!r} (right-handed), -x = {-x!r}")
v = Vec3(1, 2, 2)
print(f"v = {v!r}: length {v.length()}, normalize {v.normalize()!r}, v * 2 = {v * 2!r}")
print(f"Vec4(1, 1, 1, 1).length() = {Vec4(1, 1, 1, 1).length()}")

quarter = Quaternion.from_axis_angle(Vec3(0, 0, 5), math.pi / 2)  # the axis is normalised
print(f"a quarter turn about z: {quarter!r}")
print(f"  turns x into {quarter.to_mat4().transform_direction(x)!r}")
euler = Quaternion.from_euler_xyz(0.1, 0.2, 0.3)  # roll about x first, then y, then z
print(f"from_euler_xyz(0.1, 0.2, 0.3) = {euler!r}")
print(f"  q * q.conjugate() = {euler * euler.conjugate()!r}")

# Scale, then rotate, then translate: the rightmost matrix acts first.
model = (
    Mat4x4.from_translation(Vec3(10, 0, 0))
    .mul(Mat4x4.from_rotation(quarter))
    .mul(Mat4x4.from_scale(Vec3(2, 2, 2)))
)
print(f"model = {model!r}")
print(
    f"model.transform_point(x) = {model.transform_point(x)!r}, "
    f"transform_direction(x) = {model.transform_direction(x)!r}"
)
print(f"model.data() (column-major, for GPU upload): {model.data()}")
