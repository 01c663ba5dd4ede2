#include "physics/body.hpp"

namespace core {

void RigidBody::apply_force(float fx, float fy, float fz, float dt) noexcept {
    if (mass == 0.0f) return;
    const float inv = 1.0f / mass;
    velocity[0] += (fx * inv) * dt;
    velocity[1] += (fy * inv) * dt;
    velocity[2] += (fz * inv) * dt;
}

void RigidBody::apply_impulse(float ix, float iy, float iz) noexcept {
    if (mass == 0.0f) return;
    const float inv = 1.0f / mass;
    velocity[0] += ix * inv;
    velocity[1] += iy * inv;
    velocity[2] += iz * inv;
}

// Symplectic Euler: the position moves with the velocity already updated.
// Gravity is an acceleration, so the mass does not divide it.
void RigidBody::integrate(float gx, float gy, float gz, float dt) noexcept {
    if (mass == 0.0f || type != BodyType::Dynamic) return;
    velocity[0] += gx * dt;
    velocity[1] += gy * dt;
    velocity[2] += gz * dt;
    position[0] += velocity[0] * dt;
    position[1] += velocity[1] * dt;
    position[2] += velocity[2] * dt;
}

int64_t to_int(const BodyType& t) noexcept { return static_cast<int64_t>(t); }

}  // namespace core
