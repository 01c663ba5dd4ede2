// Python surface of SdfPrimitive and SdfScene.
#include "module/bind.hpp"
#include "sdf/primitive.hpp"
#include "sdf/scene.hpp"

// clang-format off: the registrations read as a table, laid out by hand

namespace core {
namespace {

using namespace py;

SdfScene make_scene() { return {}; }

const Registration primitive{"SdfPrimitive", [](PyObject*) {
    return member(
        Class<SdfPrimitive>("SdfPrimitive")
            .static_method<&sdf_sphere>("sphere(cx, cy, cz, radius)")
            .static_method<&sdf_box>("box_(cx, cy, cz, hx, hy, hz)")
            .static_method<&sdf_cylinder>("cylinder(cx, cy, cz, height, radius)")
            .static_method<&sdf_capsule>(
                "capsule(ax, ay, az, bx, by, bz, radius)",
                "`center` is the midpoint of segment AB; AB direction and length are\n"
                "encoded as params[0..2] = B - A, params[3] = radius.")
            .static_method<&sdf_cone>("cone(cx, cy, cz, height, angle)")
            .static_method<&sdf_torus>("torus(cx, cy, cz, r_major, r_minor)")
            .static_method<&sdf_plane>(
                "plane(nx, ny, nz, d)",
                "Plane defined by normal (nx, ny, nz) and signed distance `d` from origin.\n"
                "`center` stores the normal; params[0] = d.")
            .static_method<&sdf_rounded_box>("rounded_box(cx, cy, cz, hx, hy, hz, round)")
            .method<&SdfPrimitive::set_csg_op>("set_csg_op($self, op)")
            .method<&SdfPrimitive::set_smooth_k>("set_smooth_k($self, k)")
            .method<&SdfPrimitive::to_bytes>(
                "to_bytes($self)",
                "Serialize to 48 bytes matching the WGSL `SdfPrimitive` struct layout.")
            .repr()
            .finish());
}};

const Registration scene{"SdfScene", [](PyObject*) {
    return member(Class<SdfScene>("SdfScene", "()")
                      .constructor<&make_scene>()
                      .method<&SdfScene::add>("add($self, prim)")
                      .method<&SdfScene::clear>("clear($self)")
                      .method<&SdfScene::len>("len($self)")
                      .method<&SdfScene::to_gpu_bytes>(
                          "to_gpu_bytes($self)",
                          "Flat byte buffer of all primitives (48 bytes each) ready for GPU "
                          "upload.")
                      .repr()
                      .finish());
}};

}  // namespace
}  // namespace core
