// A rotation quaternion of 32-bit floats, vector part first and w last. No
// unit length is kept: only normalize() and the matrix conversion normalise.
#pragma once

#include <cmath>
#include <string>

#include "common/trig.hpp"
#include "math_3d/vec3.hpp"

namespace core {

struct Mat4x4;

struct Quaternion {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
    float w = 1.0f;

    static Quaternion identity() noexcept { return {0.0f, 0.0f, 0.0f, 1.0f}; }

    // The axis is normalised here, whatever its length; a zero axis gives
    // (0, 0, 0, cos(radians / 2)).
    static Quaternion from_axis_angle(const Vec3& axis, float radians) noexcept {
        const Vec3 u = axis.normalize();
        float s, c;
        sin_cos(radians * 0.5f, s, c);
        return {u.x * s, u.y * s, u.z * s, c};
    }

    // Z(yaw) * Y(pitch) * X(roll): applied to a vector, roll about the fixed X
    // axis acts first, then pitch about Y, then yaw about Z.
    static Quaternion from_euler_xyz(float roll, float pitch, float yaw) noexcept {
        float sr, cr, sp, cp, sy, cy;
        sin_cos(roll * 0.5f, sr, cr);
        sin_cos(pitch * 0.5f, sp, cp);
        sin_cos(yaw * 0.5f, sy, cy);
        return {(sr * cp) * cy - (cr * sp) * sy, (sr * cp) * sy + (cr * sp) * cy,
                (cp * cr) * sy - (sr * sp) * cy, (sr * sp) * sy + (cp * cr) * cy};
    }

    // The zero quaternion normalises to the identity, so it still stands for
    // a rotation.
    Quaternion normalize() const noexcept {
        const float q = ((x * x + y * y) + z * z) + w * w;
        if (q == 0.0f) return identity();
        const float n = std::sqrt(q);
        return {x / n, y / n, z / n, w / n};
    }

    // Hamilton product self * o.
    Quaternion mul(const Quaternion& o) const noexcept {
        return {
            ((w * o.x + x * o.w) + y * o.z) - z * o.y, ((w * o.y - x * o.z) + y * o.w) + z * o.x,
            ((w * o.z + x * o.y) - y * o.x) + z * o.w, ((w * o.w - x * o.x) - y * o.y) - z * o.z};
    }

    Quaternion conjugate() const noexcept { return {-x, -y, -z, w}; }

    // Rotation matrix of the normalised quaternion (defined in mat4.hpp).
    Mat4x4 to_mat4() const noexcept;
};

std::string repr(const Quaternion& q);

}  // namespace core
