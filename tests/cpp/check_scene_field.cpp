// Checks the decoded scene field against the record-by-record evaluator below
// (the plain walk over the 48-byte records, kept here as the reference) on
// seeded scenes with every type code, unknown codes, hostile fields and ties
// at ±0, at the point and at the six offsets of a normal. Prints the first
// mismatch and exits 1. `make check-long` builds it with the machine's lanes
// and with -DCORE_PLAIN_LANES and runs a bounded number of scenes; by hand:
//   g++ -std=c++20 -O2 -ffp-contract=off -Isrc -o build/check_scene_field
//       tests/cpp/check_scene_field.cpp src/sdf_collision/scene_field.cpp
//   build/check_scene_field [scenes]   (200000 by default)
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <span>
#include <vector>

#include "common/trig.hpp"
#include "sdf/record.hpp"
#include "sdf_collision/scene_field.hpp"

namespace reference {

using namespace core;

namespace detail {

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

}  // namespace detail
using namespace detail;

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
    const float gx =
        scene_distance(buffer, px + h, py, pz) - scene_distance(buffer, px - h, py, pz);
    const float gy =
        scene_distance(buffer, px, py + h, pz) - scene_distance(buffer, px, py - h, pz);
    const float gz =
        scene_distance(buffer, px, py, pz + h) - scene_distance(buffer, px, py, pz - h);
    const float len = std::sqrt(sq(gx) + sq(gy) + sq(gz));
    if (len > 1e-10f) return {gx / len, gy / len, gz / len};
    return {0.0f, 1.0f, 0.0f};
}

}  // namespace reference

namespace {

std::mt19937_64 rng;

uint32_t below(uint32_t n) { return static_cast<uint32_t>(rng() % n); }

// Small exact values make ties and zero distances common; the rest are
// arbitrary bit patterns, specials and ordinary coordinates. In a tiny scene
// nearly every field and coordinate is a zero of either sign, so primitives
// of every kind meet at +0 and -0.
bool tiny = false;

float value() {
    if (tiny) return below(4) == 0 ? (below(2) ? 1.0f : -1.0f) : (below(2) ? 0.0f : -0.0f);
    static constexpr float kPool[] = {0.0f, -0.0f, 1.0f, -1.0f, 2.0f, 0.5f, -0.5f, 3.0f};
    static const float kSpecial[] = {INFINITY,      -INFINITY,      NAN,       -NAN,
                                     3.4028235e38f, -3.4028235e38f, 1e-45f,    1.1754942e-38f,
                                     1e20f,         1e-7f,          1.5707964f};
    switch (below(8)) {
        case 0:
        case 1:
        case 2:
            return kPool[below(8)];
        case 3:
            return kSpecial[below(sizeof kSpecial / sizeof kSpecial[0])];
        case 4:
            return std::bit_cast<float>(static_cast<uint32_t>(rng()));
        default:
            return std::uniform_real_distribution<float>(-4.0f, 4.0f)(rng);
    }
}

std::vector<uint8_t> scene() {
    const uint32_t n = below(5) == 0 ? below(80) : below(12);
    std::vector<uint8_t> b(n * core::record::kSize + (below(4) == 0 ? below(48) : 0));
    for (auto& byte : b) byte = static_cast<uint8_t>(rng());
    for (uint32_t i = 0; i < n; ++i) {
        uint8_t* r = b.data() + i * core::record::kSize;
        if (i > 0 && below(3) == 0) {
            // A copy of an earlier record, one zero field maybe of the other
            // sign: a tie at the same distance, or at +0 against -0.
            std::copy_n(r - core::record::kSize * (1 + below(i)), core::record::kSize, r);
            const std::size_t off = 4 * below(8);
            if (core::load_f32(r + off) == 0.0f) r[off + 3] ^= 0x80;
            continue;
        }
        for (std::size_t off = 0; off < 32; off += 4) core::store_f32(r + off, value());
        const uint32_t code = below(10) == 0  ? static_cast<uint32_t>(rng())
                              : below(4) == 0 ? core::record::kPlane
                                              : below(9);
        core::store_u32(r + core::record::kType, code);
    }
    return b;
}

bool same(float a, float b) {
    return std::bit_cast<uint32_t>(a) == std::bit_cast<uint32_t>(b) || (a != a && b != b);
}

}  // namespace

int main(int argc, char** argv) {
    // A forced path this CPU cannot run is skipped (ctest's skip code).
#if defined(CORE_LANES_ALWAYS_AVX512)
    if (!__builtin_cpu_supports("avx512f")) return std::puts("no AVX-512 here: skipped"), 77;
#elif defined(CORE_LANES_ALWAYS_AVX2)
    if (!__builtin_cpu_supports("avx2")) return std::puts("no AVX2 here: skipped"), 77;
#endif
    const long scenes = argc > 1 ? std::atol(argv[1]) : 200000;
    long points = 0;
    for (long s = 0; s < scenes; ++s) {
        rng.seed(static_cast<uint64_t>(s));
        tiny = s % 3 == 0;
        const std::vector<uint8_t> b = scene();
        const core::SceneField field(b);
        // Up to two full passes of the widest lanes and a short one.
        constexpr std::size_t kMost = 300;
        float xs[kMost], ys[kMost], zs[kMost], ds[kMost], ns[3 * kMost];
        const std::size_t n = 1 + static_cast<std::size_t>(s % 8 == 0 ? s / 8 % kMost : s % 8);
        for (std::size_t k = 0; k < std::max<std::size_t>(n, 8); ++k) {
            float p[3];
            for (float& c : p) c = below(3) == 0 ? (below(2) ? 0.0f : -0.0f) : value();
            xs[k] = p[0], ys[k] = p[1], zs[k] = p[2];
            if (k >= 8) continue;
            ++points;
            const float want = reference::scene_distance(b, p[0], p[1], p[2]);
            const float got = field.distance(p[0], p[1], p[2]);
            const auto wn = reference::scene_normal(b, p[0], p[1], p[2]);
            const auto gn = field.normal(p[0], p[1], p[2]);
            if (!same(got, want) || !same(gn[0], wn[0]) || !same(gn[1], wn[1]) ||
                !same(gn[2], wn[2])) {
                std::printf(
                    "scene %ld point (%a, %a, %a): distance %a want %a, normal "
                    "(%a, %a, %a) want (%a, %a, %a)\n",
                    s, p[0], p[1], p[2], got, want, gn[0], gn[1], gn[2], wn[0], wn[1], wn[2]);
                return 1;
            }
        }
        // The same points at once, and by cells of points.
        float cs[kMost];
        field.distances(xs, ys, zs, n, ds);
        field.distances_by_cells(xs, ys, zs, n, cs);
        field.normals(xs, ys, zs, n, ns);
        for (std::size_t k = 0; k < n; ++k) {
            const auto gn = field.normal(xs[k], ys[k], zs[k]);
            if (!same(ds[k], field.distance(xs[k], ys[k], zs[k])) || !same(cs[k], ds[k]) ||
                !same(ns[3 * k], gn[0]) || !same(ns[3 * k + 1], gn[1]) ||
                !same(ns[3 * k + 2], gn[2])) {
                std::printf("scene %ld point %zu of %zu: the bulk queries differ\n", s, k, n);
                return 1;
            }
        }
    }
    std::printf("%ld scenes, %ld points: identical\n", scenes, points);
    return 0;
}
