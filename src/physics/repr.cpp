#include <string>

#include "common/format.hpp"
#include "physics/repr.hpp"

namespace core {

std::string repr(const BodyType& t) {
    switch (t) {
        case BodyType::Dynamic:
            return "BodyType.Dynamic";
        case BodyType::Kinematic:
            return "BodyType.Kinematic";
        case BodyType::Static:
            return "BodyType.Static";
    }
    return "BodyType.Dynamic";  // unreachable: no other code is ever stored
}

std::string repr(const RigidBody& b) {
    std::string out = "RigidBody(handle=" + std::to_string(b.handle) + ", pos=(";
    append_fixed_list(out, {b.position[0], b.position[1], b.position[2]}, 3);
    out += "), mass=";
    append_fixed(out, b.mass, 3);
    out += ')';
    return out;
}

std::string repr(const PhysicsWorld& w) {
    const Float3 g = w.gravity();
    std::string out = "PhysicsWorld(bodies=" + std::to_string(w.body_count()) + ", gravity=(";
    append_fixed_list(out, {g[0], g[1], g[2]}, 1);
    out += "))";
    return out;
}

}  // namespace core
