#include "math_3d/mat4.hpp"

namespace core {

Vec3 Mat4x4::transform_point(const Vec3& v) const noexcept {
    return {m[12] + ((v.x * m[0] + v.y * m[4]) + v.z * m[8]),
            m[13] + ((v.x * m[1] + v.y * m[5]) + v.z * m[9]),
            m[14] + ((v.x * m[2] + v.y * m[6]) + v.z * m[10])};
}

Vec3 Mat4x4::transform_direction(const Vec3& v) const noexcept {
    return {(v.x * m[0] + v.y * m[4]) + v.z * m[8], (v.x * m[1] + v.y * m[5]) + v.z * m[9],
            (v.x * m[2] + v.y * m[6]) + v.z * m[10]};
}

}  // namespace core
