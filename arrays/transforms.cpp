// Mat4x4.transform_point / transform_direction over (n, 3) arrays.
#include <cmath>
#include <optional>
#include <type_traits>

#include "core_object.hpp"
#include "groups.hpp"
#include "inputs.hpp"
#include "math_3d/mat4.hpp"
#include "math_3d/mat4_rows.hpp"
#include "outputs.hpp"
#include "parallel.hpp"

namespace core::arrays {
namespace {

// A few nanoseconds an item: blocks big enough to outweigh their scheduling.
constexpr std::size_t kGrain = 1 << 15;

// The caller's arrays from this size up are written past the caches: they
// would only push out what the caller reads next. New arrays are not: their
// pages are zeroed into the caches as they are first touched.
constexpr std::size_t kStreamBytes = std::size_t{8} << 20;

// Packed float32 rows go four at a time through vector lanes; other inputs
// a row at a time through the inline arithmetic. Then any row with a NaN is
// made again by the one compiled copy _core calls, for its NaN bits.
template <bool Translate>
nb::object transform(nb::handle m, nb::handle vectors, const char* arg, nb::handle workers,
                     nb::handle out_object) {
    constexpr auto apply = Translate ? &Mat4x4::transform_point : &Mat4x4::transform_direction;
    constexpr auto inline_apply =
        Translate ? &Mat4x4::transform_point_inline : &Mat4x4::transform_direction_inline;
    const Mat4x4 matrix = copy_of<Mat4x4>(m, "m");
    const FloatRows in(vectors, arg, 3);
    const int threads = checked_workers(workers);
    const std::size_t n = in.rows();
    Output<float> out(out_object, {n, 3}, {&in.array()});
    const bool stream = out.target() != nullptr && out.target()->packed() != nullptr &&
                        n * 3 * sizeof(float) >= kStreamBytes;
    in.visit([&](auto load) {
        parallel_for(n, kGrain, threads, [&](std::size_t begin, std::size_t end) noexcept {
            const Mat4x4 local = matrix;  // not aliased by the output: kept in registers
            float* o = out.data;
            bool any_nan = false;
            if constexpr (std::is_same_v<decltype(load), PackedF32>) {
                any_nan = transform_rows(local, Translate, load.p + 3 * begin, o + 3 * begin,
                                         end - begin, stream);
            } else {
                for (std::size_t i = begin; i < end; ++i) {
                    const Vec3 r = (local.*inline_apply)({load(i, 0), load(i, 1), load(i, 2)});
                    o[3 * i] = r.x;
                    o[3 * i + 1] = r.y;
                    o[3 * i + 2] = r.z;
                    any_nan = any_nan || std::isnan(r.x) || std::isnan(r.y) || std::isnan(r.z);
                }
            }
            if (!any_nan) return;
            for (std::size_t i = begin; i < end; ++i) {
                if (!std::isnan(o[3 * i]) && !std::isnan(o[3 * i + 1]) && !std::isnan(o[3 * i + 2]))
                    continue;
                const Vec3 r = (local.*apply)({load(i, 0), load(i, 1), load(i, 2)});
                o[3 * i] = r.x;
                o[3 * i + 1] = r.y;
                o[3 * i + 2] = r.z;
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
            return transform<true>(matrix, points, "points", workers, out);
        },
        nb::arg("m").none(), nb::arg("points").none(), nb::kw_only(),
        nb::arg("workers").none() = nb::none(), nb::arg("out").none() = nb::none(),
        nb::sig("def transform_points(m: _core.Mat4x4, points: ArrayLike, *, workers: int | None "
                "= None, out: NDArray[numpy.float32] | None = None) -> NDArray[numpy.float32]"),
        "Each row of `points` (shape (n, 3)) transformed by `m` as\n"
        "`m.transform_point(Vec3(*row))` does: an (n, 3) float32 array, or\n"
        "`out` filled and returned.");
    m.def(
        "transform_directions",
        [](nb::handle matrix, nb::handle directions, nb::handle workers, nb::handle out) {
            return transform<false>(matrix, directions, "directions", workers, out);
        },
        nb::arg("m").none(), nb::arg("directions").none(), nb::kw_only(),
        nb::arg("workers").none() = nb::none(), nb::arg("out").none() = nb::none(),
        nb::sig("def transform_directions(m: _core.Mat4x4, directions: ArrayLike, *, workers: "
                "int | None = None, out: NDArray[numpy.float32] | None = None) -> "
                "NDArray[numpy.float32]"),
        "Each row of `directions` (shape (n, 3)) transformed by `m` as\n"
        "`m.transform_direction(Vec3(*row))` does (translation ignored): an\n"
        "(n, 3) float32 array, or `out` filled and returned.");
}

}  // namespace core::arrays
