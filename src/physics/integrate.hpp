// The integration pass of a world step, the one place work leaves the
// calling thread.
#pragma once

#include <span>

#include "physics/body.hpp"

namespace core {

// Writes each body of `in`, advanced by `RigidBody::integrate`, to the same
// slot of `out` (of the same size). Split over the worker pool when there
// are enough bodies to pay for it; the same result either way.
void integrate_all(std::span<const RigidBody> in, std::span<RigidBody> out, Float3 g, float dt);

}  // namespace core
