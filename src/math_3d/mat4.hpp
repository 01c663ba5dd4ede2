// A 4x4 matrix of 32-bit floats stored column-major, so that the sixteen
// floats go to a GPU unchanged: m[4 * c + r] is column c, row r, and an
// affine transform keeps its translation in m[12..14].
#pragma once

#include <array>
#include <span>
#include <string>

#include "math_3d/quaternion.hpp"
#include "math_3d/vec3.hpp"

namespace core {

struct Mat4x4 {
    std::array<float, 16> m{};

    static Mat4x4 identity() noexcept { return from_scale({1.0f, 1.0f, 1.0f}); }

    static Mat4x4 from_translation(const Vec3& v) noexcept {
        Mat4x4 t = identity();
        t.m[12] = v.x;
        t.m[13] = v.y;
        t.m[14] = v.z;
        return t;
    }

    static Mat4x4 from_scale(const Vec3& v) noexcept {
        Mat4x4 s;
        s.m[0] = v.x;
        s.m[5] = v.y;
        s.m[10] = v.z;
        s.m[15] = 1.0f;
        return s;
    }

    // A zero quaternion gives the identity.
    static Mat4x4 from_rotation(const Quaternion& q) noexcept {
        const Quaternion u = q.normalize();
        const float x = u.x, y = u.y, z = u.z, w = u.w;
        const float x2 = x + x, y2 = y + y, z2 = z + z;
        const float wx = x2 * w, wy = y2 * w, wz = w * z2;
        Mat4x4 r;
        r.m[0] = 1.0f - (y * y2 + z * z2);
        r.m[1] = x * y2 + wz;
        r.m[2] = x * z2 - wy;
        r.m[4] = x * y2 - wz;
        r.m[5] = 1.0f - (x * x2 + z * z2);
        r.m[6] = y * z2 + wx;
        r.m[8] = x * z2 + wy;
        r.m[9] = y * z2 - wx;
        r.m[10] = 1.0f - (x * x2 + y * y2);
        r.m[15] = 1.0f;
        return r;
    }

    // self * o. Each sum starts from +0, so an all-negative-zero column sum
    // comes out as +0.
    Mat4x4 mul(const Mat4x4& o) const noexcept {
        Mat4x4 p;
        for (int c = 0; c < 4; ++c) {
            for (int r = 0; r < 4; ++r) {
                float s = 0.0f;
                for (int k = 0; k < 4; ++k) s = s + m[4 * k + r] * o.m[4 * c + k];
                p.m[4 * c + r] = s;
            }
        }
        return p;
    }

    // self * (x, y, z, 1) without the fourth row: no division by w.
    // Compiled once (mat4.cpp) for every caller: where a compiler inlines
    // the sums it may order their operands otherwise, and a NaN result then
    // takes the other NaN operand's sign and payload.
    Vec3 transform_point(const Vec3& v) const noexcept;

    // self * (x, y, z, 0): translation ignored. Compiled once, as above.
    Vec3 transform_direction(const Vec3& v) const noexcept;

    // The same arithmetic inline, for loops over many points: the same
    // values, except that which NaN a NaN component is may differ; such a
    // row is made again with the function above.
    Vec3 transform_point_inline(const Vec3& v) const noexcept {
        return {m[12] + ((v.x * m[0] + v.y * m[4]) + v.z * m[8]),
                m[13] + ((v.x * m[1] + v.y * m[5]) + v.z * m[9]),
                m[14] + ((v.x * m[2] + v.y * m[6]) + v.z * m[10])};
    }

    Vec3 transform_direction_inline(const Vec3& v) const noexcept {
        return {(v.x * m[0] + v.y * m[4]) + v.z * m[8], (v.x * m[1] + v.y * m[5]) + v.z * m[9],
                (v.x * m[2] + v.y * m[6]) + v.z * m[10]};
    }

    Mat4x4 transpose() const noexcept {
        Mat4x4 t;
        for (int c = 0; c < 4; ++c)
            for (int r = 0; r < 4; ++r) t.m[4 * c + r] = m[4 * r + c];
        return t;
    }

    // Storage order, i.e. column-major.
    std::span<const float> data() const noexcept { return m; }
};

inline Mat4x4 Quaternion::to_mat4() const noexcept { return Mat4x4::from_rotation(*this); }

std::string repr(const Mat4x4& a);

}  // namespace core
