// Python surface of BodyType, RigidBody and PhysicsWorld.
#include "module/bind.hpp"
#include "physics/world.hpp"

namespace core {
namespace {

using namespace bind;

// ---- temporary: int-like enumeration until the binding layer has it ----
template <BodyType E>
PyObject* body_type_constant() {
    return new_instance<BodyType>(E);
}

PyObject* body_type_int(PyObject* self) noexcept {
    return PyLong_FromLongLong(to_int(as_instance<BodyType>(self)->value));
}

PyObject* body_type_compare(PyObject* self, PyObject* other, int op) noexcept {
    if ((op != Py_EQ && op != Py_NE) || !is_instance<BodyType>(self)) Py_RETURN_NOTIMPLEMENTED;
    long long rhs;
    if (is_instance<BodyType>(other)) {
        rhs = to_int(as_instance<BodyType>(other)->value);
    } else {
        PyObject* index = PyNumber_Index(other);
        if (index == nullptr) return not_implemented();
        int overflow = 0;
        rhs = PyLong_AsLongLongAndOverflow(index, &overflow);
        Py_DECREF(index);
        if (overflow != 0 || (rhs == -1 && PyErr_Occurred())) return not_implemented();
    }
    const bool equal = to_int(as_instance<BodyType>(self)->value) == rhs;
    return Py_NewRef((equal == (op == Py_EQ)) ? Py_True : Py_False);
}

PyTypeObject* make_int_like(PyTypeObject* type) {
    if (type == nullptr) return nullptr;
    type->tp_as_number->nb_int = &body_type_int;
    type->tp_richcompare = &body_type_compare;
    type->tp_hash = PyObject_HashNotImplemented;
    PyType_Modified(type);
    return type;
}
// ---- end temporary ----

RigidBody make_body(float mass) { return RigidBody(mass); }
PhysicsWorld make_world() { return PhysicsWorld(); }

const Registration body_type{"BodyType", [](PyObject*) {
    return member(make_int_like(Class<BodyType>("BodyType")
                                    .constant("Dynamic", &body_type_constant<BodyType::Dynamic>)
                                    .constant("Kinematic", &body_type_constant<BodyType::Kinematic>)
                                    .constant("Static", &body_type_constant<BodyType::Static>)
                                    .repr()
                                    .finish()));
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
