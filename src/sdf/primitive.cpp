#include "sdf/primitive.hpp"

#include <cstring>

#include "common/format.hpp"
#include "sdf/record.hpp"

namespace core {

namespace {

SdfPrimitive make(uint32_t type, float cx, float cy, float cz, float p0, float p1 = 0.0f,
                  float p2 = 0.0f, float p3 = 0.0f) noexcept {
    SdfPrimitive p;
    p.center = {cx, cy, cz};
    p.type = type;
    p.params = {p0, p1, p2, p3};
    return p;
}

}  // namespace

SdfPrimitive sdf_sphere(float cx, float cy, float cz, float radius) noexcept {
    return make(record::kSphere, cx, cy, cz, radius);
}

SdfPrimitive sdf_box(float cx, float cy, float cz, float hx, float hy, float hz) noexcept {
    return make(record::kBox, cx, cy, cz, hx, hy, hz);
}

SdfPrimitive sdf_cylinder(float cx, float cy, float cz, float height, float radius) noexcept {
    return make(record::kCylinder, cx, cy, cz, height, radius);
}

SdfPrimitive sdf_capsule(float ax, float ay, float az, float bx, float by, float bz,
                         float radius) noexcept {
    return make(record::kCapsule, (ax + bx) * 0.5f, (ay + by) * 0.5f, (az + bz) * 0.5f, bx - ax,
                by - ay, bz - az, radius);
}

SdfPrimitive sdf_cone(float cx, float cy, float cz, float height, float angle) noexcept {
    return make(record::kCone, cx, cy, cz, height, angle);
}

SdfPrimitive sdf_torus(float cx, float cy, float cz, float r_major, float r_minor) noexcept {
    return make(record::kTorus, cx, cy, cz, r_major, r_minor);
}

SdfPrimitive sdf_plane(float nx, float ny, float nz, float d) noexcept {
    return make(record::kPlane, nx, ny, nz, d);
}

SdfPrimitive sdf_rounded_box(float cx, float cy, float cz, float hx, float hy, float hz,
                             float round) noexcept {
    return make(record::kRoundedBox, cx, cy, cz, hx, hy, hz, round);
}

void SdfPrimitive::write_record(uint8_t* out) const noexcept {
    using namespace record;
    store_f32(out + kCenterX, center[0]);
    store_f32(out + kCenterY, center[1]);
    store_f32(out + kCenterZ, center[2]);
    store_f32(out + kParam0, params[0]);
    store_f32(out + kParam1, params[1]);
    store_f32(out + kParam2, params[2]);
    store_f32(out + kSmoothK, smooth_k);
    store_f32(out + kParam3, params[3]);
    store_u32(out + kType, type);
    store_u32(out + kCsgOp, csg_op);
    std::memset(out + kPadding, 0, kSize - kPadding);
}

std::vector<uint8_t> SdfPrimitive::to_bytes() const {
    std::vector<uint8_t> out(record::kSize);
    write_record(out.data());
    return out;
}

std::string repr(const SdfPrimitive& p) {
    std::string s = "SdfPrimitive(type=";
    s += std::to_string(p.type);
    s += ", csg_op=";
    s += std::to_string(p.csg_op);
    s += ", center=[";
    append_fixed_list(s, {p.center[0], p.center[1], p.center[2]}, 3);
    s += "])";
    return s;
}

}  // namespace core
