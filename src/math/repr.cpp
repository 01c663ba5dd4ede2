#include "common/format.hpp"
#include "math/aabb.hpp"
#include "math/vec2.hpp"

namespace core {

std::string repr(const Vec2& v) { return call_text("Vec2", {v.x, v.y}); }

std::string repr(const AABB& b) {
    std::string s = "AABB((";
    append_shortest(s, b.min_x);
    s += ", ";
    append_shortest(s, b.min_y);
    s += "), (";
    append_shortest(s, b.max_x);
    s += ", ";
    append_shortest(s, b.max_y);
    s += "))";
    return s;
}

}  // namespace core
