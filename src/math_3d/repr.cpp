#include "common/format.hpp"
#include "math_3d/mat4.hpp"
#include "math_3d/quaternion.hpp"
#include "math_3d/vec3.hpp"
#include "math_3d/vec4.hpp"

namespace core {

std::string repr(const Vec3& v) { return call_text("Vec3", {v.x, v.y, v.z}); }
std::string repr(const Vec4& v) { return call_text("Vec4", {v.x, v.y, v.z, v.w}); }
std::string repr(const Quaternion& q) { return call_text("Quaternion", {q.x, q.y, q.z, q.w}); }

// Row by row, as the matrix is read on paper, though it is stored by column.
std::string repr(const Mat4x4& a) {
    std::string s = "Mat4x4([";
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            if (r + c > 0) s += ", ";
            append_fixed(s, a.m[4 * c + r], 3);
        }
    }
    s += "])";
    return s;
}

}  // namespace core
