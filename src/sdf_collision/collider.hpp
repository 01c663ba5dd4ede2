// Collision queries against a GPU scene buffer: the collider answers for the
// same scene the shader draws, bit for bit. The buffer is decoded at load
// into the layout its queries run fastest on; a partial trailing record
// counts for nothing.
#pragma once

#include <array>
#include <cstdint>
#include <utility>
#include <vector>

#include "sdf/record.hpp"
#include "sdf_collision/scene_field.hpp"

namespace core {

class SdfCollider {
public:
    // Leaves the stored scene as it was if decoding fails.
    void load_bytes(const std::vector<uint8_t>& data) {
        field_ = SceneField(data);
        count_ = data.size() / record::kSize;
    }

    uint64_t prim_count() const noexcept { return count_; }

    float distance(float px, float py, float pz) const noexcept {
        return field_.distance(px, py, pz);
    }

    std::array<float, 3> normal(float px, float py, float pz) const noexcept {
        return field_.normal(px, py, pz);
    }

    // Samples the eight corners, then the centre; the box may be inverted.
    bool aabb_overlaps(float min_x, float min_y, float min_z, float max_x, float max_y,
                       float max_z) const noexcept;

    bool sphere_overlaps(float cx, float cy, float cz, float r) const noexcept {
        return distance(cx, cy, cz) < r;
    }

    // The displacement that moves an inside point onto the surface; zero outside.
    std::array<float, 3> push_out(float px, float py, float pz) const noexcept;

    // The field itself, for queries over many points at once.
    const SceneField& field() const noexcept { return field_; }

    // Takes the decoded scene of another collider (a copy from elsewhere) and
    // its record count, partial and unknown records included.
    void restore(SceneField field, uint64_t count) noexcept {
        field_ = std::move(field);
        count_ = count;
    }

private:
    SceneField field_;
    uint64_t count_ = 0;
};

}  // namespace core
