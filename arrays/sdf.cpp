// SdfCollider's queries over arrays of points, boxes and spheres.
#include <array>
#include <optional>
#include <string>

#include "core_object.hpp"
#include "groups.hpp"
#include "inputs.hpp"
#include "math_3d/vec3.hpp"
#include "outputs.hpp"
#include "parallel.hpp"
#include "sdf_collision/collider.hpp"

namespace core::arrays {
namespace {

// Points per block: the scene is walked once per point, tens of
// nanoseconds at the least.
constexpr std::size_t kGrain = 1024;

using Collider = Held<SdfCollider>;

const char* const kDistancesDoc =
    "The signed distance of the scene at each row of `points` (shape (n, 3)),\n"
    "as `collider.distance(*row)` gives it: an (n,) float32 array.";

nb::object distances(nb::handle collider, nb::handle points, std::optional<int> workers) {
    const Collider held(collider, "collider");
    const FloatRows in(points, "points", 3);
    const int threads = checked_workers(workers);
    const std::size_t n = in.rows();
    NewArray<float> out = new_array<float>({n});
    const SdfCollider& c = held.get();
    in.visit([&](auto p) {
        parallel_for(n, kGrain, threads, [&](std::size_t begin, std::size_t end) noexcept {
            for (std::size_t i = begin; i < end; ++i)
                out.data[i] = c.distance(p(i, 0), p(i, 1), p(i, 2));
        });
    });
    return out.array;
}

// normal() and push_out(): three floats a point.
template <std::array<float, 3> (SdfCollider::*Query)(float, float, float) const noexcept>
nb::object vectors(nb::handle collider, nb::handle points, std::optional<int> workers) {
    const Collider held(collider, "collider");
    const FloatRows in(points, "points", 3);
    const int threads = checked_workers(workers);
    const std::size_t n = in.rows();
    NewArray<float> out = new_array<float>({n, 3});
    const SdfCollider& c = held.get();
    in.visit([&](auto p) {
        parallel_for(n, kGrain, threads, [&](std::size_t begin, std::size_t end) noexcept {
            for (std::size_t i = begin; i < end; ++i) {
                const auto v = (c.*Query)(p(i, 0), p(i, 1), p(i, 2));
                out.data[3 * i] = v[0];
                out.data[3 * i + 1] = v[1];
                out.data[3 * i + 2] = v[2];
            }
        });
    });
    return out.array;
}

void check_same_rows(const FloatRows& a, const FloatRows& b, nb::handle b_object, const char* b_arg,
                     const char* a_arg, std::size_t cols) {
    if (a.rows() == b.rows()) return;
    const std::string expected = std::string("(") + std::to_string(a.rows()) +
                                 (cols == 0 ? ",)" : ", " + std::to_string(cols) + ")") +
                                 ", as many rows as " + a_arg;
    refuse_shape(import_array(b_object, b_arg, ""), b_arg, expected.c_str());
}

nb::object sphere_overlaps(nb::handle collider, nb::handle centers, nb::handle radii,
                           std::optional<int> workers) {
    const Collider held(collider, "collider");
    const FloatRows c(centers, "centers", 3);
    const FloatRows r(radii, "radii", 0);
    check_same_rows(c, r, radii, "radii", "centers", 0);
    const int threads = checked_workers(workers);
    const std::size_t n = c.rows();
    NewArray<bool> out = new_array<bool>({n});
    const SdfCollider& s = held.get();
    c.visit([&](auto p) {
        r.visit([&](auto radius) {
            parallel_for(n, kGrain, threads, [&](std::size_t begin, std::size_t end) noexcept {
                for (std::size_t i = begin; i < end; ++i)
                    out.data[i] = s.sphere_overlaps(p(i, 0), p(i, 1), p(i, 2), radius(i, 0));
            });
        });
    });
    return out.array;
}

nb::object aabb_overlaps(nb::handle collider, nb::handle mins, nb::handle maxs,
                         std::optional<int> workers) {
    const Collider held(collider, "collider");
    const FloatRows lo(mins, "mins", 3);
    const FloatRows hi(maxs, "maxs", 3);
    check_same_rows(lo, hi, maxs, "maxs", "mins", 3);
    const int threads = checked_workers(workers);
    const std::size_t n = lo.rows();
    NewArray<bool> out = new_array<bool>({n});
    const SdfCollider& s = held.get();
    lo.visit([&](auto a) {
        hi.visit([&](auto b) {
            parallel_for(n, kGrain / 8, threads, [&](std::size_t begin, std::size_t end) noexcept {
                for (std::size_t i = begin; i < end; ++i)
                    out.data[i] =
                        s.aabb_overlaps(a(i, 0), a(i, 1), a(i, 2), b(i, 0), b(i, 1), b(i, 2));
            });
        });
    });
    return out.array;
}

// A corner of the grid: a Vec3, or three numbers taken as Vec3(x, y, z) takes them.
Vec3 corner(nb::handle o, const char* arg) {
    if (Py_TYPE(o.ptr()) == core_type("Vec3")) return copy_of<Vec3>(o, arg);
    std::array<float, 3> v{};
    bool ok = PyTuple_Check(o.ptr()) || PyList_Check(o.ptr());
    ok = ok && nb::len(o) == 3;
    for (std::size_t k = 0; ok && k < 3; ++k) {
        const double d = PyFloat_AsDouble(nb::handle(o)[k].ptr());
        if (d == -1.0 && PyErr_Occurred()) {
            PyErr_Clear();
            ok = false;
        }
        v[k] = static_cast<float>(d);
    }
    if (!ok) {
        const std::string message =
            std::string("argument '") + arg + "': expected a Vec3 or a tuple of three floats";
        throw nb::type_error(message.c_str());
    }
    return {v[0], v[1], v[2]};
}

std::array<std::size_t, 3> grid_shape(nb::handle o) {
    std::array<std::size_t, 3> n{};
    bool ok = PyTuple_Check(o.ptr()) && nb::len(o) == 3;
    for (std::size_t k = 0; ok && k < 3; ++k) {
        PyObject* item = PyTuple_GET_ITEM(o.ptr(), k);
        const long long v = PyLong_Check(item) ? PyLong_AsLongLong(item) : -1;
        if (v < 0 || PyErr_Occurred()) {
            PyErr_Clear();
            ok = false;
        }
        n[k] = static_cast<std::size_t>(v);
    }
    if (!ok)
        throw nb::value_error("argument 'shape': expected a tuple of three ints >= 0 (nx, ny, nz)");
    return n;
}

// lo + (hi - lo) * i / (count - 1) in float64, then narrowed; lo alone for one sample.
float sample_at(float lo, float hi, std::size_t i, std::size_t count) noexcept {
    if (count == 1) return lo;
    const double l = lo, h = hi;
    return static_cast<float>(l +
                              (h - l) * static_cast<double>(i) / static_cast<double>(count - 1));
}

nb::object sample_grid(nb::handle collider, nb::handle lo_object, nb::handle hi_object,
                       nb::handle shape_object, std::optional<int> workers) {
    const Collider held(collider, "collider");
    const Vec3 lo = corner(lo_object, "lo"), hi = corner(hi_object, "hi");
    const auto [nx, ny, nz] = grid_shape(shape_object);
    const int threads = checked_workers(workers);
    NewArray<float> out = new_array<float>({nx, ny, nz});
    const SdfCollider& s = held.get();
    // One block per row of z samples or more; a row's y and x are fixed.
    const std::size_t rows = nx * ny;
    const std::size_t grain = std::max<std::size_t>(1, kGrain / std::max<std::size_t>(nz, 1));
    parallel_for(rows, grain, threads, [&](std::size_t begin, std::size_t end) noexcept {
        for (std::size_t row = begin; row < end; ++row) {
            const float x = sample_at(lo.x, hi.x, row / ny, nx);
            const float y = sample_at(lo.y, hi.y, row % ny, ny);
            for (std::size_t k = 0; k < nz; ++k)
                out.data[row * nz + k] = s.distance(x, y, sample_at(lo.z, hi.z, k, nz));
        }
    });
    return out.array;
}

}  // namespace

void register_sdf(nb::module_& m) {
    const auto workers = nb::arg("workers") = nb::none();
    m.def("distances", &distances, nb::arg("collider"), nb::arg("points"), nb::kw_only(), workers,
          nb::sig("def distances(collider: _core.SdfCollider, points: ArrayLike, *, workers: int | "
                  "None = None) -> NDArray[numpy.float32]"),
          kDistancesDoc);
    m.def("normals", &vectors<&SdfCollider::normal>, nb::arg("collider"), nb::arg("points"),
          nb::kw_only(), workers,
          nb::sig("def normals(collider: _core.SdfCollider, points: ArrayLike, *, workers: int | "
                  "None = None) -> NDArray[numpy.float32]"),
          "The outward normal at each row of `points` (shape (n, 3)), as\n"
          "`collider.normal(*row)` gives it: an (n, 3) float32 array.");
    m.def("push_out", &vectors<&SdfCollider::push_out>, nb::arg("collider"), nb::arg("points"),
          nb::kw_only(), workers,
          nb::sig("def push_out(collider: _core.SdfCollider, points: ArrayLike, *, workers: int | "
                  "None = None) -> NDArray[numpy.float32]"),
          "The push-out displacement of each row of `points` (shape (n, 3)), as\n"
          "`collider.push_out(*row)` gives it: an (n, 3) float32 array, zero rows\n"
          "for points outside.");
    m.def("sphere_overlaps", &sphere_overlaps, nb::arg("collider"), nb::arg("centers"),
          nb::arg("radii"), nb::kw_only(), workers,
          nb::sig("def sphere_overlaps(collider: _core.SdfCollider, centers: ArrayLike, radii: "
                  "ArrayLike, *, workers: int | None = None) -> NDArray[numpy.bool_]"),
          "For each sphere (`centers` of shape (n, 3), `radii` of shape (n,)),\n"
          "`collider.sphere_overlaps(*center, radius)`: an (n,) bool array.");
    m.def("aabb_overlaps", &aabb_overlaps, nb::arg("collider"), nb::arg("mins"), nb::arg("maxs"),
          nb::kw_only(), workers,
          nb::sig("def aabb_overlaps(collider: _core.SdfCollider, mins: ArrayLike, maxs: "
                  "ArrayLike, *, workers: int | None = None) -> NDArray[numpy.bool_]"),
          "For each box (`mins` and `maxs` of shape (n, 3)),\n"
          "`collider.aabb_overlaps(*min, *max)`: an (n,) bool array.");
    m.def("sample_grid", &sample_grid, nb::arg("collider"), nb::arg("lo"), nb::arg("hi"),
          nb::arg("shape"), nb::kw_only(), workers,
          nb::sig("def sample_grid(collider: _core.SdfCollider, lo: _core.Vec3 | tuple[float, "
                  "float, float], hi: _core.Vec3 | tuple[float, float, float], shape: tuple[int, "
                  "int, int], *, workers: int | None = None) -> NDArray[numpy.float32]"),
          "The scene's distance on a grid of `shape = (nx, ny, nz)` samples from\n"
          "`lo` to `hi` (corners included): `out[i, j, k]` is the distance at\n"
          "`(x_i, y_j, z_k)`, `x_i = lo.x + (hi.x - lo.x) * i / (nx - 1)` computed in\n"
          "float64 and then narrowed to float32 (`x_0 = lo.x` when `nx` is 1).\n"
          "A tuple corner is taken as `Vec3(*corner)` takes it.");
}

}  // namespace core::arrays
