// Python surface of Vec2 and AABB.
#include "math/aabb.hpp"
#include "math/vec2.hpp"
#include "module/bind.hpp"

// clang-format off: the registrations read as a table, laid out by hand

namespace core {
namespace {

using namespace py;

Vec2 make_vec2(float x, float y) { return {x, y}; }
AABB make_aabb(float min_x, float min_y, float max_x, float max_y) {
    return {min_x, min_y, max_x, max_y};
}

const Registration vec2{"Vec2", [](PyObject*) {
    return member(Class<Vec2>("Vec2", "(x, y)")
                      .constructor<&make_vec2>()
                      .field<&Vec2::x>("x")
                      .field<&Vec2::y>("y")
                      .method<&Vec2::dot>("dot($self, other)")
                      .method<&Vec2::length>("length($self)")
                      .method<&Vec2::normalize>("normalize($self)")
                      .method<&Vec2::lerp>("lerp($self, other, t)")
                      .add<&Vec2::operator+>()
                      .sub<&Vec2::operator- >()
                      .mul<&Vec2::operator*>()
                      .repr()
                      .finish());
}};

const Registration aabb{"AABB", [](PyObject*) {
    return member(Class<AABB>("AABB", "(min_x, min_y, max_x, max_y)")
                      .constructor<&make_aabb>()
                      .field<&AABB::min_x>("min_x")
                      .field<&AABB::min_y>("min_y")
                      .field<&AABB::max_x>("max_x")
                      .field<&AABB::max_y>("max_y")
                      .method<&AABB::contains>("contains($self, v)")
                      .method<&AABB::intersects>("intersects($self, other)")
                      .method<&AABB::center>("center($self)")
                      .method<&AABB::size>("size($self)")
                      .method<&AABB::expand>("expand($self, amount)")
                      .repr()
                      .finish());
}};

}  // namespace
}  // namespace core
