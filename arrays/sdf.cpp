// SdfCollider's queries over arrays of points, boxes and spheres.
#include <algorithm>
#include <climits>
#include <array>
#include <cmath>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "columns.hpp"
#include "core_object.hpp"
#include "groups.hpp"
#include "inputs.hpp"
#include "math_3d/vec3.hpp"
#include "outputs.hpp"
#include "parallel.hpp"
#include "scalars.hpp"
#include "sdf_collision/collider.hpp"

namespace core::arrays {
namespace {

// Points per block of work: about a million point-record evaluations (a
// few milliseconds), so that blocks balance over the threads and a stop
// request is seen soon even in a large scene (down to one point a block).
std::size_t grain(const SdfCollider& s, std::size_t evaluations_per_point = 1) {
    const std::size_t work = evaluations_per_point * (s.prim_count() + 1);
    return std::clamp<std::size_t>((std::size_t{1} << 20) / work, 1, 1024);
}

// Columns for a block of m points, kept per thread from call to call (their
// first touch would cost more than filling them); null if memory is short.
float* block_columns(std::size_t m) noexcept {
    thread_local std::vector<float> kept;
    try {
        if (kept.size() < 3 * m) kept.resize(3 * m);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    return kept.data();
}

using Collider = Held<SdfCollider>;

const char* const kDistancesDoc =
    "The signed distance of the scene at each row of `points` (shape (n, 3)),\n"
    "as `collider.distance(*row)` gives it: an (n,) float32 array.";

// Distances of the rows of `in`, handed to body(first, m, columns, d) a
// chunk at a time, over the worker pool.
template <class Body>
void each_distance(const SdfCollider& s, const FloatRows& in, int threads, const Body& body) {
    const SceneField& field = s.field();
    in.visit([&](auto p) {
        parallel_for(
            in.rows(), grain(s), threads, [&](std::size_t begin, std::size_t end) noexcept {
                float d[kChunk];
                by_chunks(p, begin, end, [&](std::size_t i, std::size_t m, const Columns& c) {
                    field.distances(c.x, c.y, c.z, m, d);
                    body(i, m, c, d);
                });
            });
    });
}

// distances() and normals(): `Width` floats a point, straight from the field.
template <void (SceneField::*Query)(const float*, const float*, const float*, std::size_t, float*)
              const noexcept,
          std::size_t Width, std::size_t Evaluations>
nb::object per_point(nb::handle collider, nb::handle points, nb::handle workers,
                     nb::handle out_object) {
    const Collider held(collider, "collider");
    const FloatRows in(points, "points", 3);
    const int threads = checked_workers(workers);
    const std::size_t rows_only[] = {in.rows()}, rows_wide[] = {in.rows(), Width};
    Output<float> out(out_object,
                      Width == 1 ? std::span<const std::size_t>(rows_only)
                                 : std::span<const std::size_t>(rows_wide),
                      {&in.array()});
    const SceneField& field = held.get().field();
    // Distances go to the field a block at a time, for it to sort a large
    // scene's points into cells and to settle the signs of exact zeros in
    // batches; the rest a chunk at a time.
    const std::size_t block = Width != 1           ? 0
                              : field.cell_block() ? field.cell_block()
                                                   : std::max(grain(held.get()), kChunk);
    in.visit([&](auto p) {
        parallel_for(in.rows(), block != 0 ? block : grain(held.get(), Evaluations), threads,
                     [&](std::size_t begin, std::size_t end) noexcept {
                         const std::size_t m = end - begin;
                         if (float* c = block != 0 ? block_columns(m) : nullptr) {
                             gather(p, begin, m, c, c + m, c + 2 * m);
                             (field.*Query)(c, c + m, c + 2 * m, m, out.data + begin);
                             return;
                         }
                         by_chunks(p, begin, end,
                                   [&](std::size_t i, std::size_t m, const Columns& c) {
                                       (field.*Query)(c.x, c.y, c.z, m, out.data + Width * i);
                                   });
                     });
    });
    return out.finish();
}

// As SdfCollider::push_out: the normal times the depth for points inside,
// zero elsewhere; normals are taken for the inside points only.
nb::object push_out(nb::handle collider, nb::handle points, nb::handle workers,
                    nb::handle out_object) {
    const Collider held(collider, "collider");
    const FloatRows in(points, "points", 3);
    const int threads = checked_workers(workers);
    Output<float> out(out_object, {in.rows(), 3}, {&in.array()});
    const SceneField& field = held.get().field();
    each_distance(held.get(), in, threads,
                  [&](std::size_t i, std::size_t m, const Columns& c, const float* d) {
                      Columns inside;
                      std::size_t which[kChunk], k = 0;
                      for (std::size_t j = 0; j < m; ++j) {
                          float* row = out.data + 3 * (i + j);
                          row[0] = row[1] = row[2] = 0.0f;
                          if (!(d[j] < 0.0f)) continue;
                          inside.x[k] = c.x[j];
                          inside.y[k] = c.y[j];
                          inside.z[k] = c.z[j];
                          which[k++] = j;
                      }
                      float n[3 * kChunk];
                      field.normals(inside.x, inside.y, inside.z, k, n);
                      for (std::size_t q = 0; q < k; ++q) {
                          const float depth = std::fabs(d[which[q]]);
                          float* row = out.data + 3 * (i + which[q]);
                          for (std::size_t a = 0; a < 3; ++a) row[a] = n[3 * q + a] * depth;
                      }
                  });
    return out.finish();
}

nb::object sphere_overlaps(nb::handle collider, nb::handle centers, nb::handle radii,
                           nb::handle workers, nb::handle out_object) {
    const Collider held(collider, "collider");
    const FloatRows c(centers, "centers", 3);
    const FloatRows r(radii, "radii", 0);
    check_row_count(c.rows(), r.array(), 0, "centers");
    const int threads = checked_workers(workers);
    Output<bool> out(out_object, {c.rows()}, {&c.array(), &r.array()});
    r.visit([&](auto radius) {
        each_distance(held.get(), c, threads,
                      [&](std::size_t i, std::size_t m, const Columns&, const float* d) {
                          for (std::size_t j = 0; j < m; ++j)
                              out.data[i + j] = d[j] < radius(i + j, 0);
                      });
    });
    return out.finish();
}

// As SdfCollider::aabb_overlaps: inside at one of the eight corners or at the
// centre. Every sample is taken (the answer is the same as stopping early).
nb::object aabb_overlaps(nb::handle collider, nb::handle mins, nb::handle maxs, nb::handle workers,
                         nb::handle out_object) {
    const Collider held(collider, "collider");
    const FloatRows lo(mins, "mins", 3);
    const FloatRows hi(maxs, "maxs", 3);
    check_row_count(lo.rows(), hi.array(), 3, "mins");
    const int threads = checked_workers(workers);
    Output<bool> out(out_object, {lo.rows()}, {&lo.array(), &hi.array()});
    const SceneField& field = held.get().field();
    lo.visit([&](auto a) {
        hi.visit([&](auto b) {
            parallel_for(lo.rows(), grain(held.get(), 9), threads,
                         [&](std::size_t begin, std::size_t end) noexcept {
                             Columns c0, c1, s;
                             float d[kChunk];
                             for (std::size_t i = begin; i < end; i += kChunk) {
                                 const std::size_t m = std::min(kChunk, end - i);
                                 c0.gather(a, i, m);
                                 c1.gather(b, i, m);
                                 for (std::size_t j = 0; j < m; ++j) out.data[i + j] = false;
                                 for (int k = 0; k < 9; ++k) {
                                     for (std::size_t j = 0; j < m; ++j) {
                                         if (k < 8) {
                                             s.x[j] = (k & 1 ? c1 : c0).x[j];
                                             s.y[j] = (k >> 1 & 1 ? c1 : c0).y[j];
                                             s.z[j] = (k >> 2 ? c1 : c0).z[j];
                                         } else {
                                             s.x[j] = (c0.x[j] + c1.x[j]) * 0.5f;
                                             s.y[j] = (c0.y[j] + c1.y[j]) * 0.5f;
                                             s.z[j] = (c0.z[j] + c1.z[j]) * 0.5f;
                                         }
                                     }
                                     field.distances(s.x, s.y, s.z, m, d);
                                     for (std::size_t j = 0; j < m; ++j)
                                         out.data[i + j] |= d[j] < 0.0f;
                                 }
                             }
                         });
        });
    });
    return out.finish();
}

// Items of a sequence argument (tuple, list, array; not str) of `n`
// items, or nullopt for anything else.
std::optional<std::vector<nb::object>> items_of(nb::handle o, std::size_t n) {
    if (PyUnicode_Check(o.ptr()) || PyBytes_Check(o.ptr()) || !PySequence_Check(o.ptr()))
        return std::nullopt;
    const Py_ssize_t size = PySequence_Size(o.ptr());
    if (size != static_cast<Py_ssize_t>(n)) {
        PyErr_Clear();
        return std::nullopt;
    }
    std::vector<nb::object> items;
    for (std::size_t k = 0; k < n; ++k) {
        PyObject* item = PySequence_GetItem(o.ptr(), static_cast<Py_ssize_t>(k));
        if (item == nullptr) throw nb::python_error();
        items.push_back(nb::steal(item));
    }
    return items;
}

// A corner of the grid: a Vec3, or three numbers (a tuple, list or array)
// taken as Vec3(x, y, z) takes them.
Vec3 corner(nb::handle o, const char* arg) {
    if (is_core<Vec3>(o)) return copy_of<Vec3>(o, arg);
    const auto items = items_of(o, 3);
    if (!items) {
        const std::string message = std::string("argument '") + arg +
                                    "': expected a Vec3 or a sequence of three numbers, got " +
                                    object_text(o);
        throw nb::type_error(message.c_str());
    }
    float v[3];
    for (std::size_t k = 0; k < 3; ++k) v[k] = float_arg((*items)[k], arg);
    return {v[0], v[1], v[2]};
}

std::array<std::size_t, 3> grid_shape(nb::handle o, const char* arg = "shape",
                                      const char* names = "(nx, ny, nz)") {
    const std::string expected = std::string("three ints >= 0 ") + names;
    const auto items = items_of(o, 3);
    if (!items) {
        const std::string message =
            std::string("argument '") + arg + "': expected " + expected + ", got " + object_text(o);
        throw nb::value_error(message.c_str());
    }
    std::array<std::size_t, 3> n{};
    for (std::size_t k = 0; k < 3; ++k)
        n[k] = static_cast<std::size_t>(index_arg((*items)[k], arg, 0, LONG_MAX, expected.c_str()));
    return n;
}

// lo + (hi - lo) * i / (count - 1) in float64, then narrowed; lo alone for one sample.
float sample_at(float lo, float hi, std::size_t i, std::size_t count) noexcept {
    if (count == 1) return lo;
    const double l = lo, h = hi;
    return static_cast<float>(l +
                              (h - l) * static_cast<double>(i) / static_cast<double>(count - 1));
}

// The block of `block` samples at index `offset` of the grid of `shape`
// samples; each sample's coordinates come from its index in the whole grid,
// so blocks put together are the one-call grid, bit for bit.
nb::object sample_grid(nb::handle collider, nb::handle lo_object, nb::handle hi_object,
                       nb::handle shape_object, nb::handle offset_object, nb::handle block_object,
                       nb::handle workers, nb::handle out_object) {
    const Collider held(collider, "collider");
    const Vec3 lo = corner(lo_object, "lo"), hi = corner(hi_object, "hi");
    // Plain names, not a structured binding: the block lambda captures them.
    const std::array<std::size_t, 3> shape = grid_shape(shape_object);
    std::array<std::size_t, 3> offset{}, block = shape;
    if (!offset_object.is_none()) offset = grid_shape(offset_object, "offset", "(i, j, k)");
    for (std::size_t a = 0; a < 3; ++a) {
        if (offset[a] > shape[a])
            throw nb::value_error("argument 'offset': beyond the grid's shape");
        block[a] = shape[a] - offset[a];
    }
    if (!block_object.is_none()) {
        block = grid_shape(block_object, "block", "(bx, by, bz)");
        for (std::size_t a = 0; a < 3; ++a)
            if (block[a] > shape[a] - offset[a])
                throw nb::value_error("argument 'block': reaches beyond the grid's shape");
    }
    const std::size_t nx = shape[0], ny = shape[1], nz = shape[2];
    const std::size_t i0 = offset[0], j0 = offset[1], k0 = offset[2];
    const std::size_t by = block[1], bz = block[2];
    const int threads = checked_workers(workers);
    Output<float> out(out_object, {block[0], by, bz});  // numpy refuses a size too large
    if (block[0] == 0 || by == 0 || bz == 0) return out.finish();
    const SdfCollider& s = held.get();
    const SceneField& field = s.field();
    // Blocks of samples in C order, whatever the shape: a long row is split
    // like any other run of points, so a block's work stays bounded.
    parallel_for(block[0] * by * bz, grain(s), threads,
                 [&](std::size_t begin, std::size_t end) noexcept {
                     Columns c;
                     for (std::size_t i = begin; i < end;) {
                         const std::size_t row = i / bz, k = i % bz;
                         const std::size_t m = std::min({kChunk, bz - k, end - i});
                         const float x = sample_at(lo.x, hi.x, i0 + row / by, nx);
                         const float y = sample_at(lo.y, hi.y, j0 + row % by, ny);
                         for (std::size_t j = 0; j < m; ++j) {
                             c.x[j] = x;
                             c.y[j] = y;
                             c.z[j] = sample_at(lo.z, hi.z, k0 + k + j, nz);
                         }
                         field.distances(c.x, c.y, c.z, m, out.data + i);
                         i += m;
                     }
                 });
    return out.finish();
}

}  // namespace

void register_sdf(nb::module_& m) {
    const auto workers = nb::arg("workers").none() = nb::none();
    const auto out = nb::arg("out").none() = nb::none();
    m.def("distances", &per_point<&SceneField::distances, 1, 1>, nb::arg("collider").none(),
          nb::arg("points").none(), nb::kw_only(), workers, out,
          nb::sig("def distances(collider: _core.SdfCollider, points: ArrayLike, *, workers: int | "
                  "None = None, out: NDArray[numpy.float32] | None = None) -> "
                  "NDArray[numpy.float32]"),
          kDistancesDoc);
    m.def("normals", &per_point<&SceneField::normals, 3, 6>, nb::arg("collider").none(),
          nb::arg("points").none(), nb::kw_only(), workers, out,
          nb::sig("def normals(collider: _core.SdfCollider, points: ArrayLike, *, workers: int | "
                  "None = None, out: NDArray[numpy.float32] | None = None) -> "
                  "NDArray[numpy.float32]"),
          "The outward normal at each row of `points` (shape (n, 3)), as\n"
          "`collider.normal(*row)` gives it: an (n, 3) float32 array.");
    m.def("push_out", &push_out, nb::arg("collider").none(), nb::arg("points").none(),
          nb::kw_only(), workers, out,
          nb::sig("def push_out(collider: _core.SdfCollider, points: ArrayLike, *, workers: int | "
                  "None = None, out: NDArray[numpy.float32] | None = None) -> "
                  "NDArray[numpy.float32]"),
          "The push-out displacement of each row of `points` (shape (n, 3)), as\n"
          "`collider.push_out(*row)` gives it: an (n, 3) float32 array, zero rows\n"
          "for points outside.");
    m.def("sphere_overlaps", &sphere_overlaps, nb::arg("collider").none(),
          nb::arg("centers").none(), nb::arg("radii").none(), nb::kw_only(), workers, out,
          nb::sig("def sphere_overlaps(collider: _core.SdfCollider, centers: ArrayLike, radii: "
                  "ArrayLike, *, workers: int | None = None, out: NDArray[numpy.bool_] | None = "
                  "None) -> NDArray[numpy.bool_]"),
          "For each sphere (`centers` of shape (n, 3), `radii` of shape (n,)),\n"
          "`collider.sphere_overlaps(*center, radius)`: an (n,) bool array.");
    m.def("aabb_overlaps", &aabb_overlaps, nb::arg("collider").none(), nb::arg("mins").none(),
          nb::arg("maxs").none(), nb::kw_only(), workers, out,
          nb::sig("def aabb_overlaps(collider: _core.SdfCollider, mins: ArrayLike, maxs: "
                  "ArrayLike, *, workers: int | None = None, out: NDArray[numpy.bool_] | None = "
                  "None) -> NDArray[numpy.bool_]"),
          "For each box (`mins` and `maxs` of shape (n, 3)),\n"
          "`collider.aabb_overlaps(*min, *max)`: an (n,) bool array.");
    m.def("sample_grid", &sample_grid, nb::arg("collider").none(), nb::arg("lo").none(),
          nb::arg("hi").none(), nb::arg("shape").none(), nb::kw_only(),
          nb::arg("offset").none() = nb::none(), nb::arg("block").none() = nb::none(), workers, out,
          nb::sig("def sample_grid(collider: _core.SdfCollider, lo: _core.Vec3 | tuple[float, "
                  "float, float], hi: _core.Vec3 | tuple[float, float, float], shape: tuple[int, "
                  "int, int], *, offset: tuple[int, int, int] | None = None, block: tuple[int, "
                  "int, int] | None = None, workers: int | None = None, out: "
                  "NDArray[numpy.float32] | None = None) -> "
                  "NDArray[numpy.float32]"),
          "The scene's distance on a grid of `shape = (nx, ny, nz)` samples from\n"
          "`lo` to `hi` (corners included): `out[i, j, k]` is the distance at\n"
          "`(x_i, y_j, z_k)`, `x_i = lo.x + (hi.x - lo.x) * i / (nx - 1)` computed in\n"
          "float64 and then narrowed to float32 (`x_0 = lo.x` when `nx` is 1).\n"
          "A corner of three numbers (a tuple, list or array) is taken as\n"
          "`Vec3(*corner)` takes them; `shape` may be any sequence of three ints.\n"
          "\n"
          "With `offset = (i, j, k)` and `block = (bx, by, bz)` (by default the\n"
          "rest of the grid), only that block: `out[a, b, c]` is sample\n"
          "`(i + a, j + b, k + c)` of the whole grid, with the same bits.");
}

}  // namespace core::arrays
