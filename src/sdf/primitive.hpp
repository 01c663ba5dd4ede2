// One SDF primitive: a shape code, a reference point, four shape parameters
// and the combine code and blend factor that the shader reads. Nothing is
// validated; any float (NaN, infinities, negative sizes) is kept as given.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace core {

struct SdfPrimitive {
    std::array<float, 3> center{};  // a plane keeps its normal here
    uint32_t type = 0;
    std::array<float, 4> params{};
    uint32_t csg_op = 0;  // opaque to us: stored and serialised only
    float smooth_k = 0.0f;

    void set_csg_op(uint32_t op) noexcept { csg_op = op; }
    void set_smooth_k(float k) noexcept { smooth_k = k; }

    // Writes the 48-byte record at `out`.
    void write_record(uint8_t* out) const noexcept;
    std::vector<uint8_t> to_bytes() const;
};

SdfPrimitive sdf_sphere(float cx, float cy, float cz, float radius) noexcept;
SdfPrimitive sdf_box(float cx, float cy, float cz, float hx, float hy, float hz) noexcept;
SdfPrimitive sdf_cylinder(float cx, float cy, float cz, float height, float radius) noexcept;
// Stored as the midpoint of AB with B - A and the radius in the parameters.
SdfPrimitive sdf_capsule(float ax, float ay, float az, float bx, float by, float bz,
                         float radius) noexcept;
SdfPrimitive sdf_cone(float cx, float cy, float cz, float height, float angle) noexcept;
SdfPrimitive sdf_torus(float cx, float cy, float cz, float r_major, float r_minor) noexcept;
SdfPrimitive sdf_plane(float nx, float ny, float nz, float d) noexcept;
SdfPrimitive sdf_rounded_box(float cx, float cy, float cz, float hx, float hy, float hz,
                             float round) noexcept;

std::string repr(const SdfPrimitive& p);

}  // namespace core
