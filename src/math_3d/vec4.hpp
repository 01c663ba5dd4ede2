// A 4D vector of 32-bit floats, summing left to right with each step rounded.
#pragma once

#include <cmath>
#include <string>

namespace core {

struct Vec4 {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
    float w = 0.0f;

    float dot(const Vec4& o) const noexcept { return ((x * o.x + y * o.y) + z * o.z) + w * o.w; }

    float length() const noexcept { return std::sqrt(dot(*this)); }

    Vec4 normalize() const noexcept {
        const float q = dot(*this);
        if (q == 0.0f) return {0.0f, 0.0f, 0.0f, 0.0f};
        const float n = std::sqrt(q);
        return {x / n, y / n, z / n, w / n};
    }
};

std::string repr(const Vec4& v);

}  // namespace core
