// Python surface of SdfCollider.
#include "module/bind.hpp"
#include "sdf_collision/collider.hpp"

// clang-format off: the registrations read as a table, laid out by hand

namespace core {
namespace {

using namespace py;

SdfCollider make_collider() { return {}; }

const Registration collider{"SdfCollider", [](PyObject*) {
    return member(
        Class<SdfCollider>(
            "SdfCollider", "()",
            "Collision query interface over an SDF scene loaded from GPU byte data.\n\n"
            "Construct with `SdfCollider()`, then call `load_bytes()` with the output\n"
            "of `SdfScene.to_gpu_bytes()`.  All query methods are usable immediately.")
            .constructor<&make_collider>()
            .method<&SdfCollider::load_bytes>(
                "load_bytes($self, data)",
                "Replace the stored primitive data with `data` (output of\n"
                "`SdfScene.to_gpu_bytes()`).  Any partial trailing record is ignored.")
            .method<&SdfCollider::prim_count>("prim_count($self)",
                                               "Number of complete primitive records stored.")
            .method<&SdfCollider::distance>(
                "distance($self, px, py, pz)",
                "Evaluate the scene SDF at point (px, py, pz).\n\n"
                "Returns the signed distance to the nearest surface across all\n"
                "primitives (union \u2014 minimum distance).\n"
                "Negative = inside, positive = outside.")
            .method<&SdfCollider::normal>(
                "normal($self, px, py, pz)",
                "Compute the outward surface normal at (px, py, pz) via central\n"
                "differences with step h = 0.001.\n\n"
                "Returns (nx, ny, nz).  If the point is far from all geometry the\n"
                "returned vector still points away from the nearest surface, though it\n"
                "may not be unit length in degenerate configurations.")
            .method<&SdfCollider::aabb_overlaps>(
                "aabb_overlaps($self, min_x, min_y, min_z, max_x, max_y, max_z)",
                "Conservative AABB overlap test.\n\n"
                "Samples the 8 corners and the centre of the AABB (9 points total).\n"
                "Returns `true` if any sample has a negative signed distance (inside\n"
                "the SDF), indicating an overlap.")
            .method<&SdfCollider::sphere_overlaps>(
                "sphere_overlaps($self, cx, cy, cz, r)",
                "Sphere overlap test.\n\n"
                "Returns `true` if the sphere (centre, radius) intersects the SDF\n"
                "surface or is entirely inside it.")
            .method<&SdfCollider::push_out>(
                "push_out($self, px, py, pz)",
                "Push-out displacement vector.\n\n"
                "For a point that is inside the SDF (d < 0), returns the displacement\n"
                "`normal * |d|` that moves it to the surface.  If the point is already\n"
                "outside (d >= 0) the returned vector is (0, 0, 0).")
            .finish());
}};

}  // namespace
}  // namespace core
