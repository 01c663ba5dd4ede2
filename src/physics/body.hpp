// A point mass with a linear velocity. A world keeps copies of these records
// in one dense array; a free-standing body is stepped by `integrate`.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace core {

enum class BodyType : uint8_t { Dynamic = 0, Kinematic = 1, Static = 2 };

using Float3 = std::array<float, 3>;

struct RigidBody {
    Float3 position{};
    Float3 velocity{};
    float mass = 0.0f;
    uint32_t handle = 0;  // 0 until a world stores its own copy
    BodyType type = BodyType::Static;

    RigidBody() noexcept = default;
    // Zero mass (either sign) makes an immovable body; anything else, NaN
    // and negative masses included, is dynamic.
    explicit RigidBody(float m) noexcept : mass(m), type(type_of(m)) {}
    static BodyType type_of(float m) noexcept {
        return m == 0.0f ? BodyType::Static : BodyType::Dynamic;
    }
    // As the constructor's, on a body made by the default one: a world
    // fills its new bodies in place.
    void set_mass(float m) noexcept {
        mass = m;
        type = type_of(m);
    }

    void set_position(float x, float y, float z) noexcept { position = {x, y, z}; }
    Float3 get_position() const noexcept { return position; }
    void set_velocity(float vx, float vy, float vz) noexcept { velocity = {vx, vy, vz}; }
    Float3 get_velocity() const noexcept { return velocity; }

    void apply_force(float fx, float fy, float fz, float dt) noexcept;
    void apply_impulse(float ix, float iy, float iz) noexcept;
    bool is_static() const noexcept { return mass == 0.0f || type == BodyType::Static; }
    void integrate(float gx, float gy, float gz, float dt) noexcept;
};

int64_t to_int(const BodyType& t) noexcept;

}  // namespace core
