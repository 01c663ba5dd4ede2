#include "sdf_collision/evaluate.hpp"

#include <cmath>

#include "common/trig.hpp"
#include "sdf/record.hpp"

namespace core {

namespace {

// max and min that drop a single NaN operand and keep the other.
inline float max_num(float a, float b) noexcept {
    if (a != a) return b;
    return a < b ? b : a;
}

inline float min_num(float a, float b) noexcept {
    if (a != a) return b;
    return b < a ? b : a;
}

inline float pos(float a) noexcept { return max_num(a, 0.0f); }

inline float sq(float a) noexcept { return a * a; }

// Length of the positive part of (a, b, c).
inline float outside(float a, float b, float c) noexcept {
    return std::sqrt(sq(pos(a)) + sq(pos(b)) + sq(pos(c)));
}

float box(float dx, float dy, float dz, float hx, float hy, float hz) noexcept {
    const float qx = std::fabs(dx) - hx;
    const float qy = std::fabs(dy) - hy;
    const float qz = std::fabs(dz) - hz;
    return min_num(max_num(max_num(qx, qy), qz), 0.0f) + outside(qx, qy, qz);
}

// Axis along Y; `half_height` measured from the centre.
float cylinder(float dx, float dy, float dz, float half_height, float radius) noexcept {
    const float e1 = std::sqrt(sq(dx) + sq(dz)) - radius;
    const float e2 = std::fabs(dy) - half_height;
    return min_num(max_num(e1, e2), 0.0f) + std::sqrt(sq(pos(e2)) + sq(pos(e1)));
}

// The segment's ends are rebuilt from the centre and half of B - A, as the
// shader does, rather than taken from the stored difference.
float capsule(float px, float py, float pz, const uint8_t* r) noexcept {
    using namespace record;
    const float cx = load_f32(r + kCenterX), cy = load_f32(r + kCenterY),
                cz = load_f32(r + kCenterZ);
    const float hx = load_f32(r + kParam0) * 0.5f, hy = load_f32(r + kParam1) * 0.5f,
                hz = load_f32(r + kParam2) * 0.5f;
    const float ax = cx - hx, ay = cy - hy, az = cz - hz;
    const float bx = cx + hx, by = cy + hy, bz = cz + hz;
    const float pax = px - ax, pay = py - ay, paz = pz - az;
    const float bax = bx - ax, bay = by - ay, baz = bz - az;
    const float bb = sq(bax) + sq(bay) + sq(baz);
    float t = 0.0f;
    if (bb > 0.0f) {
        t = (pax * bax + pay * bay + paz * baz) / bb;
        if (t < 0.0f) t = 0.0f;
        if (t > 1.0f) t = 1.0f;
    }
    return std::sqrt(sq(pax - bax * t) + sq(pay - bay * t) + sq(paz - baz * t)) -
           load_f32(r + kParam3);
}

// Axis along Y, apex at the centre; cos(angle) = 0 is not guarded.
float cone(float dx, float dy, float dz, float height, float angle) noexcept {
    float sn, cs;
    sin_cos(angle, sn, cs);
    const float q = std::sqrt(sq(dx) + sq(dz));
    const float a1 = cs * q - dy * sn;
    const float a2 = (dy * cs + sn * q) - height / cs;
    return min_num(max_num(-a1, a2), 0.0f) + std::sqrt(sq(pos(a1)) + sq(pos(a2)));
}

}  // namespace

float primitive_distance(const uint8_t* r, float px, float py, float pz) noexcept {
    using namespace record;
    const float cx = load_f32(r + kCenterX);
    const float cy = load_f32(r + kCenterY);
    const float cz = load_f32(r + kCenterZ);
    const float p0 = load_f32(r + kParam0);
    const float dx = px - cx, dy = py - cy, dz = pz - cz;
    switch (load_u32(r + kType)) {
        case kSphere:
            return std::sqrt(sq(dx) + sq(dy) + sq(dz)) - p0;
        case kBox:
            return box(dx, dy, dz, p0, load_f32(r + kParam1), load_f32(r + kParam2));
        case kCylinder:
            return cylinder(dx, dy, dz, p0, load_f32(r + kParam1));
        case kCapsule:
            return capsule(px, py, pz, r);
        case kCone:
            return cone(dx, dy, dz, p0, load_f32(r + kParam1));
        case kTorus: {
            const float t = std::sqrt(sq(dx) + sq(dz)) - p0;
            return std::sqrt(sq(dy) + sq(t)) - load_f32(r + kParam1);
        }
        case kPlane:
            // The stored normal is used as is: its length scales the distance.
            return (px * cx + py * cy + pz * cz) - p0;
        case kRoundedBox:
            return box(dx, dy, dz, p0, load_f32(r + kParam1), load_f32(r + kParam2)) -
                   load_f32(r + kParam3);
        default:
            return kEmptyDistance;
    }
}

float scene_distance(std::span<const uint8_t> buffer, float px, float py, float pz) noexcept {
    const std::size_t n = buffer.size() / record::kSize;
    const uint8_t* r = buffer.data();
    float best = kEmptyDistance;
    for (std::size_t i = 0; i < n; ++i, r += record::kSize) {
        const float d = primitive_distance(r, px, py, pz);
        if (d < best) best = d;
    }
    return best;
}

std::array<float, 3> scene_normal(std::span<const uint8_t> buffer, float px, float py,
                                  float pz) noexcept {
    constexpr float h = 0.001f;
    const float gx = scene_distance(buffer, px + h, py, pz) - scene_distance(buffer, px - h, py, pz);
    const float gy = scene_distance(buffer, px, py + h, pz) - scene_distance(buffer, px, py - h, pz);
    const float gz = scene_distance(buffer, px, py, pz + h) - scene_distance(buffer, px, py, pz - h);
    const float len = std::sqrt(sq(gx) + sq(gy) + sq(gz));
    if (len > 1e-10f) return {gx / len, gy / len, gz / len};
    return {0.0f, 1.0f, 0.0f};
}

}  // namespace core
