// The slab test of a ray against an axis-aligned box, shared by the per-ray
// cast and the indexed one so that both compute the same bits.
#pragma once

#include <cmath>
#include <optional>

#include "physics/body.hpp"

namespace core {

// max and min that drop a NaN operand and give the second operand when the
// two are equal (+0 against -0), the same on every compiler and CPU:
// std::fmax leaves the sign of a zero result open, and x86-64 builds gave
// either sign depending on how the call was inlined.
inline float max_of(float a, float b) noexcept { return std::isnan(b) || a > b ? a : b; }
inline float min_of(float a, float b) noexcept { return std::isnan(b) || a < b ? a : b; }

// A ray with its per-axis reciprocals worked out once.
struct Ray {
    Float3 o;
    Float3 d;
    Float3 inv;
    bool parallel[3];

    Ray(const Float3& origin, const Float3& dir) noexcept : o(origin), d(dir) {
        for (int k = 0; k < 3; ++k) {
            // A direction component below 1e-8 in magnitude counts as
            // parallel to its slab.
            parallel[k] = std::fabs(d[k]) < 1e-8f;
            inv[k] = parallel[k] ? 0.0f : 1.0f / d[k];
        }
    }
};

// Narrows [tmin, tmax] to where the ray is inside [lo, hi] on every axis;
// false when that is empty or behind the origin. For finite rays and boxes,
// a box inside another never gets a wider interval than the outer one: each
// step rounds monotonically, which is what lets an index skip whole groups.
inline bool slab_interval(const Float3& lo, const Float3& hi, const Ray& r, float& tmin,
                          float& tmax) noexcept {
    tmin = -INFINITY;
    tmax = INFINITY;
    for (int k = 0; k < 3; ++k) {
        if (r.parallel[k]) {
            if (r.o[k] < lo[k] || r.o[k] > hi[k]) return false;
            continue;
        }
        const float t1 = r.inv[k] * (lo[k] - r.o[k]);
        const float t2 = r.inv[k] * (hi[k] - r.o[k]);
        const bool ordered = t1 < t2;
        const float near = ordered ? t1 : t2;
        const float far = ordered ? t2 : t1;
        // A NaN slab distance leaves the interval as it was.
        tmin = max_of(tmin, near);
        tmax = min_of(tmax, far);
        if (tmin > tmax) return false;
    }
    return !(tmax < 0.0f);
}

inline Float3 box_min(const Float3& p) noexcept { return {p[0] - 0.5f, p[1] - 0.5f, p[2] - 0.5f}; }
inline Float3 box_max(const Float3& p) noexcept { return {p[0] + 0.5f, p[1] + 0.5f, p[2] + 0.5f}; }

// The ray parameter at which the ray meets the unit box around `p`; nullopt
// on a miss. Never NaN: the interval starts infinite and NaN operands are dropped.
inline std::optional<float> slab_hit(const Float3& p, const Ray& r) noexcept {
    float tmin, tmax;
    if (!slab_interval(box_min(p), box_max(p), r, tmin, tmax)) return std::nullopt;
    // From inside the box the ray reports where it leaves.
    return tmin >= 0.0f ? tmin : tmax;
}

}  // namespace core
