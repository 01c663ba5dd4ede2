#include "math_3d/mat4.hpp"

namespace core {

Vec3 Mat4x4::transform_point(const Vec3& v) const noexcept { return transform_point_inline(v); }

Vec3 Mat4x4::transform_direction(const Vec3& v) const noexcept {
    return transform_direction_inline(v);
}

}  // namespace core
