// Python surface of BodyType, RigidBody and PhysicsWorld.
#include "module/bind.hpp"
#include "physics/repr.hpp"
#include "physics/world.hpp"

// clang-format off: the registrations read as a table, laid out by hand

namespace core {
namespace {

using namespace py;

RigidBody make_body(float mass) { return RigidBody(mass); }
// The world is returned by value and moved into its Python object.
PhysicsWorld make_world() { return PhysicsWorld(); }

const Registration body_type{"BodyType", [](PyObject*) {
    return member(Class<BodyType>("BodyType")
                      .constant("Dynamic", &enum_constant<BodyType, BodyType::Dynamic>)
                      .constant("Kinematic", &enum_constant<BodyType, BodyType::Kinematic>)
                      .constant("Static", &enum_constant<BodyType, BodyType::Static>)
                      .int_like<&to_int>()
                      .repr()
                      .finish());
}};

const Registration rigid_body{"RigidBody", [](PyObject*) {
    return member(
        Class<RigidBody>("RigidBody", "(mass)")
            .constructor<&make_body>()
            .method<&RigidBody::set_position>("set_position($self, x, y, z)")
            .method<&RigidBody::get_position>("get_position($self)")
            .method<&RigidBody::set_velocity>("set_velocity($self, vx, vy, vz)")
            .method<&RigidBody::get_velocity>("get_velocity($self)")
            .method<&RigidBody::apply_force>(
                "apply_force($self, fx, fy, fz, dt)",
                "Accumulate a force over dt into velocity (F = ma \u2192 \u0394v = (F/m)*dt).")
            .method<&RigidBody::apply_impulse>("apply_impulse($self, ix, iy, iz)",
                                               "Apply an instantaneous impulse (\u0394v = I/m).")
            .method<&RigidBody::is_static>("is_static($self)")
            .method<&RigidBody::integrate>(
                "integrate($self, gx, gy, gz, dt)",
                "Integrate position and velocity for one timestep (symplectic Euler).")
            .repr()
            .finish());
}};

const Registration physics_world{"PhysicsWorld", [](PyObject*) {
    return member(
        Class<PhysicsWorld>("PhysicsWorld", "()")
            .constructor<&make_world>()
            .method<&PhysicsWorld::set_gravity>("set_gravity($self, gx, gy, gz)")
            .method<&PhysicsWorld::add_body>("add_body($self, body)",
                                             "Add a body to the world and return its handle.")
            .method<&PhysicsWorld::remove_body>(
                "remove_body($self, handle)",
                "Remove a body by handle. Uses swap-remove to keep the Vec dense.")
            .method<&PhysicsWorld::step>(
                "step($self, dt)",
                "Step the simulation: integrate dynamics, then broad-phase AABB collision "
                "detection.\nReturns (handle_a, handle_b) pairs whose AABBs overlap this step.")
            .method<&PhysicsWorld::body_count>("body_count($self)")
            .method<&PhysicsWorld::get_position>("get_position($self, handle)")
            .method<&PhysicsWorld::set_position>("set_position($self, handle, x, y, z)")
            .method<&PhysicsWorld::raycast>(
                "raycast($self, ox, oy, oz, dx, dy, dz)",
                "Raycast against all body AABBs.\nReturns (handle, distance) pairs sorted "
                "nearest-first.")
            .repr()
            .finish());
}};

}  // namespace
}  // namespace core
