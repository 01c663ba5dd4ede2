// An axis-aligned 2D box. Nothing keeps min below max: inverted and NaN boxes
// are stored as given, and every comparison with NaN is false.
#pragma once

#include <string>

#include "math/vec2.hpp"

namespace core {

struct AABB {
    float min_x = 0.0f;
    float min_y = 0.0f;
    float max_x = 0.0f;
    float max_y = 0.0f;

    // Edges and corners are inside.
    bool contains(const Vec2& v) const noexcept {
        return min_x <= v.x && v.x <= max_x && min_y <= v.y && v.y <= max_y;
    }

    // Boxes that only touch along an edge or at a corner intersect.
    bool intersects(const AABB& o) const noexcept {
        return min_x <= o.max_x && max_x >= o.min_x && min_y <= o.max_y && max_y >= o.min_y;
    }

    Vec2 center() const noexcept { return {(min_x + max_x) * 0.5f, (min_y + max_y) * 0.5f}; }
    Vec2 size() const noexcept { return {max_x - min_x, max_y - min_y}; }

    // A negative amount shrinks the box and may invert it.
    AABB expand(float a) const noexcept { return {min_x - a, min_y - a, max_x + a, max_y + a}; }
};

std::string repr(const AABB& b);

}  // namespace core
