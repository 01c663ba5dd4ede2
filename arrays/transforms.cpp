// Mat4x4.transform_point / transform_direction over (n, 3) arrays.
#include <optional>
#include <type_traits>

#include "core_object.hpp"
#include "groups.hpp"
#include "inputs.hpp"
#include "math_3d/mat4.hpp"
#include "outputs.hpp"
#include "parallel.hpp"

namespace core::arrays {
namespace {

static_assert(sizeof(Vec3) == 3 * sizeof(float) && alignof(Vec3) == alignof(float));

// A few nanoseconds an item: blocks big enough to outweigh their scheduling.
constexpr std::size_t kGrain = 1 << 15;

template <Vec3 (Mat4x4::*Apply)(const Vec3&) const noexcept>
nb::object transform(nb::handle m, nb::handle vectors, const char* arg, nb::handle workers,
                     nb::handle out_object) {
    const Mat4x4 matrix = copy_of<Mat4x4>(m, "m");
    const FloatRows in(vectors, arg, 3);
    const int threads = checked_workers(workers);
    const std::size_t n = in.rows();
    Output<float> out(out_object, {n, 3}, {&in.array()});
    in.visit([&](auto load) {
        parallel_for(n, kGrain, threads, [&](std::size_t begin, std::size_t end) noexcept {
            const Mat4x4 local = matrix;  // not aliased by the output: kept in registers
            for (std::size_t i = begin; i < end; ++i) {
                Vec3 r;
                if constexpr (std::is_same_v<decltype(load), PackedF32>) {
                    // A packed row is a Vec3 where it lies: passed as is, it
                    // is read at once rather than through three fresh
                    // stores, which the wide load cannot take over.
                    r = (local.*Apply)(*reinterpret_cast<const Vec3*>(load.p + 3 * i));
                } else {
                    r = (local.*Apply)({load(i, 0), load(i, 1), load(i, 2)});
                }
                out.data[3 * i] = r.x;
                out.data[3 * i + 1] = r.y;
                out.data[3 * i + 2] = r.z;
            }
        });
    });
    return out.finish();
}

}  // namespace

void register_transforms(nb::module_& m) {
    m.def(
        "transform_points",
        [](nb::handle matrix, nb::handle points, nb::handle workers, nb::handle out) {
            return transform<&Mat4x4::transform_point>(matrix, points, "points", workers, out);
        },
        nb::arg("m").none(), nb::arg("points").none(), nb::kw_only(), nb::arg("workers").none() = nb::none(),
        nb::arg("out").none() = nb::none(),
        nb::sig("def transform_points(m: _core.Mat4x4, points: ArrayLike, *, workers: int | None "
                "= None, out: NDArray[numpy.float32] | None = None) -> NDArray[numpy.float32]"),
        "Each row of `points` (shape (n, 3)) transformed by `m` as\n"
        "`m.transform_point(Vec3(*row))` does: an (n, 3) float32 array, or\n"
        "`out` filled and returned.");
    m.def(
        "transform_directions",
        [](nb::handle matrix, nb::handle directions, nb::handle workers, nb::handle out) {
            return transform<&Mat4x4::transform_direction>(matrix, directions, "directions",
                                                           workers, out);
        },
        nb::arg("m").none(), nb::arg("directions").none(), nb::kw_only(), nb::arg("workers").none() = nb::none(),
        nb::arg("out").none() = nb::none(),
        nb::sig("def transform_directions(m: _core.Mat4x4, directions: ArrayLike, *, workers: "
                "int | None = None, out: NDArray[numpy.float32] | None = None) -> "
                "NDArray[numpy.float32]"),
        "Each row of `directions` (shape (n, 3)) transformed by `m` as\n"
        "`m.transform_direction(Vec3(*row))` does (translation ignored): an\n"
        "(n, 3) float32 array, or `out` filled and returned.");
}

}  // namespace core::arrays
