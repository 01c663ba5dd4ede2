#include <initializer_list>

#include "common/format.hpp"
#include "math_3d/mat4.hpp"
#include "math_3d/quaternion.hpp"
#include "math_3d/vec3.hpp"
#include "math_3d/vec4.hpp"

namespace core {
namespace {

// "Name(a, b, ...)" with each value in its shortest form.
std::string call_text(const char* name, std::initializer_list<float> values) {
    std::string s = name;
    s += '(';
    const char* sep = "";
    for (float v : values) {
        s += sep;
        append_shortest(s, v);
        sep = ", ";
    }
    s += ')';
    return s;
}

}  // namespace

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
