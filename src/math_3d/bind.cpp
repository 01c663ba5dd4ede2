// Python surface of Vec3, Vec4, Mat4x4 and Quaternion.
#include "math_3d/mat4.hpp"
#include "math_3d/quaternion.hpp"
#include "math_3d/vec3.hpp"
#include "math_3d/vec4.hpp"
#include "module/bind.hpp"

// clang-format off: the registrations read as a table, laid out by hand

namespace core {
namespace {

using namespace py;

Vec3 make_vec3(float x, float y, float z) { return {x, y, z}; }
Vec4 make_vec4(float x, float y, float z, float w) { return {x, y, z, w}; }

const Registration vec3{"Vec3", [](PyObject*) {
    return member(Class<Vec3>("Vec3", "(x, y, z)")
                      .constructor<&make_vec3>()
                      .field<&Vec3::x>("x")
                      .field<&Vec3::y>("y")
                      .field<&Vec3::z>("z")
                      .method<&Vec3::dot>("dot($self, other)")
                      .method<&Vec3::cross>("cross($self, other)")
                      .method<&Vec3::length>("length($self)")
                      .method<&Vec3::normalize>("normalize($self)")
                      .method<&Vec3::operator+>("add($self, other)")
                      .method<static_cast<Vec3 (Vec3::*)(const Vec3&) const noexcept>(
                          &Vec3::operator-)>("sub($self, other)")
                      .method<&Vec3::operator*>("mul($self, scalar)")
                      .add<&Vec3::operator+>()
                      .sub<static_cast<Vec3 (Vec3::*)(const Vec3&) const noexcept>(
                          &Vec3::operator-)>()
                      .mul<&Vec3::operator*>()
                      .neg<static_cast<Vec3 (Vec3::*)() const noexcept>(&Vec3::operator-)>()
                      .repr()
                      .finish());
}};

const Registration vec4{"Vec4", [](PyObject*) {
    return member(Class<Vec4>("Vec4", "(x, y, z, w)")
                      .constructor<&make_vec4>()
                      .field<&Vec4::x>("x")
                      .field<&Vec4::y>("y")
                      .field<&Vec4::z>("z")
                      .field<&Vec4::w>("w")
                      .method<&Vec4::dot>("dot($self, other)")
                      .method<&Vec4::length>("length($self)")
                      .method<&Vec4::normalize>("normalize($self)")
                      .repr()
                      .finish());
}};

const Registration mat4{"Mat4x4", [](PyObject*) {
    return member(
        Class<Mat4x4>("Mat4x4")
            .static_method<&Mat4x4::identity>("identity()", "4×4 identity matrix.")
            .static_method<&Mat4x4::from_translation>("from_translation(v)",
                                                      "Translation matrix: T(v).")
            .static_method<&Mat4x4::from_scale>("from_scale(v)",
                                                "Non-uniform scale matrix: S(v).")
            .static_method<&Mat4x4::from_rotation>("from_rotation(q)",
                                                   "Rotation matrix from a unit quaternion.")
            .method<&Mat4x4::mul>("mul($self, other)", "Matrix multiplication: `self * other`.")
            .method<&Mat4x4::transform_point>(
                "transform_point($self, v)",
                "Transform a point (applies translation): returns `self * (x,y,z,1)` as Vec3.")
            .method<&Mat4x4::transform_direction>(
                "transform_direction($self, v)",
                "Transform a direction (ignores translation): returns `self * (x,y,z,0)` as "
                "Vec3.")
            .method<&Mat4x4::transpose>("transpose($self)", "Transpose of this matrix.")
            .method<&Mat4x4::data>("data($self)",
                                   "Flat 16-element list, column-major, ready for GPU upload.")
            .repr()
            .finish());
}};

const Registration quaternion{"Quaternion", [](PyObject*) {
    return member(
        Class<Quaternion>("Quaternion")
            .field<&Quaternion::x>("x")
            .field<&Quaternion::y>("y")
            .field<&Quaternion::z>("z")
            .field<&Quaternion::w>("w")
            .static_method<&Quaternion::identity>("identity()",
                                                  "Identity quaternion (no rotation).")
            .static_method<&Quaternion::from_axis_angle>(
                "from_axis_angle(axis, radians)",
                "Build a quaternion from an axis-angle rotation.\n"
                "`axis` should be a unit vector; `radians` is the rotation angle.")
            .static_method<&Quaternion::from_euler_xyz>(
                "from_euler_xyz(roll, pitch, yaw)",
                "Build a quaternion from intrinsic Euler angles (X then Y then Z rotations).")
            .method<&Quaternion::normalize>("normalize($self)",
                                            "Return a unit-length copy of this quaternion.")
            .method<&Quaternion::mul>("mul($self, other)", "Hamilton product: `self * other`.")
            .method<&Quaternion::conjugate>(
                "conjugate($self)", "Conjugate (inverse rotation for unit quaternions).")
            .method<&Quaternion::to_mat4>("to_mat4($self)",
                                          "Convert to a column-major 4×4 rotation matrix.")
            .mul<&Quaternion::mul>()
            .repr()
            .finish());
}};

}  // namespace
}  // namespace core
