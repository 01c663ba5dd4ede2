// The reprs of the physics types, in the fixed forms the module prints.
#pragma once

#include <string>

#include "physics/body.hpp"
#include "physics/world.hpp"

namespace core {

std::string repr(const BodyType& t);
std::string repr(const RigidBody& b);
std::string repr(const PhysicsWorld& w);

}  // namespace core
