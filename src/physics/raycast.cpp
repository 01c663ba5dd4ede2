#include <algorithm>
#include <cmath>
#include <optional>

#include "physics/world.hpp"

namespace core {
namespace {

// The ray parameter at which origin + t * dir meets the unit box around
// `p`, by the slab test; nullopt on a miss. A direction component below
// 1e-8 in magnitude counts as parallel to its slab.
std::optional<float> slab_hit(const Float3& p, const Float3& o, const Float3& d) noexcept {
    float tmin = -INFINITY;
    float tmax = INFINITY;
    for (int k = 0; k < 3; ++k) {
        const float lo = p[k] - 0.5f;
        const float hi = p[k] + 0.5f;
        if (std::fabs(d[k]) < 1e-8f) {
            if (o[k] < lo || o[k] > hi) return std::nullopt;
            continue;
        }
        const float inv = 1.0f / d[k];
        const float t1 = inv * (lo - o[k]);
        const float t2 = inv * (hi - o[k]);
        const bool ordered = t1 < t2;
        const float near = ordered ? t1 : t2;
        const float far = ordered ? t2 : t1;
        // A NaN slab distance leaves the interval as it was.
        tmin = std::fmax(tmin, near);
        tmax = std::fmin(tmax, far);
        if (tmin > tmax) return std::nullopt;
    }
    if (tmax < 0.0f) return std::nullopt;
    // From inside the box the ray reports where it leaves.
    return tmin >= 0.0f ? tmin : tmax;
}

}  // namespace

std::vector<RayHit> PhysicsWorld::raycast(float ox, float oy, float oz, float dx, float dy,
                                          float dz) const {
    const Float3 o{ox, oy, oz};
    const Float3 d{dx, dy, dz};
    std::vector<RayHit> hits;
    for (const RigidBody& b : bodies_) {
        if (const auto t = slab_hit(b.position, o, d)) hits.emplace_back(b.handle, *t);
    }
    // Nearest first, equal distances in array order. The interval bounds
    // start infinite and fmax/fmin drop NaN operands, so no distance comes
    // out NaN today; should one ever, it sorts after every number (NaNs among
    // themselves in array order) rather than breaking the ordering.
    std::stable_sort(hits.begin(), hits.end(), [](const RayHit& a, const RayHit& b) {
        const float ta = std::get<1>(a);
        const float tb = std::get<1>(b);
        return !std::isnan(ta) && (std::isnan(tb) || ta < tb);
    });
    return hits;
}

}  // namespace core
