// A frame's collision answers in one pass over the field: the distance and
// the normal at every point, and from them the push-out, each bit for bit
// what distances(), normals() and push_out() give. The three calls walk the
// field 8 times a point outside the scene and 14 inside; this walks it 7.
#include <algorithm>
#include <cmath>

#include "columns.hpp"
#include "core_object.hpp"
#include "groups.hpp"
#include "inputs.hpp"
#include "outputs.hpp"
#include "parallel.hpp"
#include "sdf_collision/collider.hpp"

namespace core::arrays {
namespace {

// Seven evaluations a point; about a million evaluations a block of work, as
// the other SDF queries take, so that a stop request is seen soon.
std::size_t grain(const SdfCollider& s) {
    const std::size_t work = 7 * (s.prim_count() + 1);
    return std::clamp<std::size_t>((std::size_t{1} << 20) / work, 16, 1024);
}

nb::object resolve(nb::handle collider, nb::handle points, nb::handle workers,
                   nb::handle out_object) {
    const Held<SdfCollider> held(collider, "collider");
    const FloatRows in(points, "points", 3);
    const int threads = checked_workers(workers);
    const std::size_t n = in.rows();
    const auto outs = out_tuple(out_object);
    Output<float> distances(outs[0], {n}, {&in.array()});
    Output<float> normals(outs[1], {n, 3}, {&in.array()});
    Output<float> push(outs[2], {n, 3}, {&in.array()});
    // The push-out is made from the distances and normals just written.
    refuse_shared({distances.target(), normals.target(), push.target()});
    const SceneField& field = held.get().field();
    in.visit([&](auto p) {
        parallel_for(
            n, grain(held.get()), threads, [&](std::size_t begin, std::size_t end) noexcept {
                by_chunks(p, begin, end, [&](std::size_t i, std::size_t m, const Columns& c) {
                    const float* d = distances.data + i;
                    const float* normal = normals.data + 3 * i;
                    float* out = push.data + 3 * i;
                    field.distances(c.x, c.y, c.z, m, distances.data + i);
                    field.normals(c.x, c.y, c.z, m, normals.data + 3 * i);
                    // As SdfCollider::push_out: the normal times the
                    // depth inside, zero elsewhere.
                    for (std::size_t j = 0; j < m; ++j) {
                        const float depth = d[j] < 0.0f ? std::fabs(d[j]) : 0.0f;
                        for (std::size_t a = 0; a < 3; ++a)
                            out[3 * j + a] = d[j] < 0.0f ? normal[3 * j + a] * depth : 0.0f;
                    }
                });
            });
    });
    return nb::make_tuple(distances.finish(), normals.finish(), push.finish());
}

}  // namespace

void register_resolve(nb::module_& m) {
    m.def("resolve", &resolve, nb::arg("collider").none(), nb::arg("points").none(), nb::kw_only(),
          nb::arg("workers").none() = nb::none(), nb::arg("out").none() = nb::none(),
          nb::sig("def resolve(collider: _core.SdfCollider, points: ArrayLike, *, workers: int | "
                  "None = None, out: tuple[NDArray[numpy.float32] | None, NDArray[numpy.float32] "
                  "| None, NDArray[numpy.float32] | None] | None = None) -> "
                  "tuple[NDArray[numpy.float32], NDArray[numpy.float32], NDArray[numpy.float32]]"),
          "`(distances(collider, points), normals(collider, points),\n"
          "push_out(collider, points))` from one pass over the scene: a frame's\n"
          "collision answers for the rows of `points` (shape (n, 3)), each array\n"
          "bit for bit the one its own call gives. `out` is a tuple of three\n"
          "arrays (or Nones) that do not overlap one another.");
}

}  // namespace core::arrays
