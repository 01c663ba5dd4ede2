#include <algorithm>
#include <cmath>
#include <optional>

#include "physics/slab.hpp"
#include "physics/world.hpp"

namespace core {

std::vector<RayHit> PhysicsWorld::raycast(float ox, float oy, float oz, float dx, float dy,
                                          float dz) const {
    const Ray ray({ox, oy, oz}, {dx, dy, dz});
    std::vector<RayHit> hits;
    for (const RigidBody& b : bodies_) {
        if (const auto t = slab_hit(b.position, ray)) hits.emplace_back(b.handle, *t);
    }
    // Nearest first, equal distances in array order. The interval bounds
    // start infinite and NaN operands are dropped, so no distance comes
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
