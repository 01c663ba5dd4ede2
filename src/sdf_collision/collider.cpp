#include "sdf_collision/collider.hpp"

#include <cmath>

namespace core {

bool SdfCollider::aabb_overlaps(float x0, float y0, float z0, float x1, float y1,
                                float z1) const noexcept {
    const float xs[2] = {x0, x1}, ys[2] = {y0, y1}, zs[2] = {z0, z1};
    for (int i = 0; i < 8; ++i) {
        if (distance(xs[i & 1], ys[(i >> 1) & 1], zs[i >> 2]) < 0.0f) return true;
    }
    return distance((x0 + x1) * 0.5f, (y0 + y1) * 0.5f, (z0 + z1) * 0.5f) < 0.0f;
}

std::array<float, 3> SdfCollider::push_out(float px, float py, float pz) const noexcept {
    const float d = distance(px, py, pz);
    if (!(d < 0.0f)) return {0.0f, 0.0f, 0.0f};
    const auto n = normal(px, py, pz);
    const float depth = std::fabs(d);
    return {n[0] * depth, n[1] * depth, n[2] * depth};
}

}  // namespace core
