// A 3D vector of 32-bit floats: points, directions, axes and scales. Every
// operation rounds each step to float, summing left to right.
#pragma once

#include <cmath>
#include <string>

namespace core {

struct Vec3 {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;

    float dot(const Vec3& o) const noexcept { return (x * o.x + y * o.y) + z * o.z; }

    // Right-handed: x cross y is z.
    Vec3 cross(const Vec3& o) const noexcept {
        return {y * o.z - z * o.y, z * o.x - x * o.z, x * o.y - y * o.x};
    }

    float length() const noexcept { return std::sqrt(dot(*this)); }

    // A zero (or underflowing) squared length gives the zero vector; NaN
    // propagates.
    Vec3 normalize() const noexcept {
        const float q = dot(*this);
        if (q == 0.0f) return {0.0f, 0.0f, 0.0f};
        const float n = std::sqrt(q);
        return {x / n, y / n, z / n};
    }

    Vec3 operator+(const Vec3& o) const noexcept { return {x + o.x, y + o.y, z + o.z}; }
    Vec3 operator-(const Vec3& o) const noexcept { return {x - o.x, y - o.y, z - o.z}; }
    Vec3 operator*(float k) const noexcept { return {x * k, y * k, z * k}; }
    // Sign flips only: 0 becomes -0 and a NaN keeps its payload.
    Vec3 operator-() const noexcept { return {-x, -y, -z}; }
};

std::string repr(const Vec3& v);

}  // namespace core
