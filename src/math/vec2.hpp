// A 2D vector of 32-bit floats. Every operation rounds each step to float.
#pragma once

#include <cmath>
#include <string>

namespace core {

struct Vec2 {
    float x = 0.0f;
    float y = 0.0f;

    float dot(const Vec2& o) const noexcept { return x * o.x + y * o.y; }
    float length() const noexcept { return std::sqrt(x * x + y * y); }

    Vec2 normalize() const noexcept {
        const float q = x * x + y * y;
        if (q == 0.0f) return {0.0f, 0.0f};
        const float n = std::sqrt(q);
        return {x / n, y / n};
    }

    // t is not clamped: values outside 0..1 extrapolate.
    Vec2 lerp(const Vec2& o, float t) const noexcept {
        return {x + (o.x - x) * t, y + (o.y - y) * t};
    }

    Vec2 operator+(const Vec2& o) const noexcept { return {x + o.x, y + o.y}; }
    Vec2 operator-(const Vec2& o) const noexcept { return {x - o.x, y - o.y}; }
    Vec2 operator*(float k) const noexcept { return {x * k, y * k}; }
};

std::string repr(const Vec2& v);

}  // namespace core
