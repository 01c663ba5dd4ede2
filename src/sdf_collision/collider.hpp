// Collision queries against a copy of a GPU scene buffer. The bytes are kept
// exactly as loaded, partial trailing record included, and every query walks
// them in place: the collider answers for the same scene the shader draws.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "sdf/record.hpp"
#include "sdf_collision/evaluate.hpp"

namespace core {

class SdfCollider {
public:
    void load_bytes(std::vector<uint8_t> data) noexcept { data_ = std::move(data); }

    uint64_t prim_count() const noexcept { return data_.size() / record::kSize; }

    float distance(float px, float py, float pz) const noexcept {
        return scene_distance(data_, px, py, pz);
    }

    std::array<float, 3> normal(float px, float py, float pz) const noexcept {
        return scene_normal(data_, px, py, pz);
    }

    // Samples the eight corners, then the centre; the box may be inverted.
    bool aabb_overlaps(float min_x, float min_y, float min_z, float max_x, float max_y,
                       float max_z) const noexcept;

    bool sphere_overlaps(float cx, float cy, float cz, float r) const noexcept {
        return distance(cx, cy, cz) < r;
    }

    // The displacement that moves an inside point onto the surface; zero outside.
    std::array<float, 3> push_out(float px, float py, float pz) const noexcept;

private:
    std::vector<uint8_t> data_;
};

}  // namespace core
