// PhysicsWorld over arrays: the bodies' handles and positions in array
// order, positions set by handle, a step with its pairs as an array, and
// many rays at once.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core_call.hpp"
#include "core_object.hpp"
#include "groups.hpp"
#include "inputs.hpp"
#include "outputs.hpp"
#include "parallel.hpp"
#include "physics/ray_index.hpp"
#include "physics/world.hpp"
#include "scalars.hpp"

namespace core::arrays {
namespace {

// An integer (or bool) array of shape (n,) of handles.
class HandleArg {
public:
    HandleArg(nb::handle o, const char* arg) : array_(o, arg, kExpected), arg_(arg) {
        const Dtype d = array_.dtype();
        if (d.kind != Kind::kSigned && d.kind != Kind::kUnsigned && d.kind != Kind::kBool)
            array_.refuse_dtype(kExpected);
        rows_ = array_.rows(0);
    }

    std::size_t rows() const noexcept { return rows_; }
    const ArrayArg& array() const noexcept { return array_; }

    // Each value converted as _core converts the same Python int to a
    // handle: the first one outside 0..2**32-1 raises its OverflowError,
    // naming the argument.
    std::vector<std::uint32_t> values(int threads) const {
        std::vector<std::uint32_t> out(rows_);
        std::atomic<std::size_t> first_bad{rows_};
        parallel_for(rows_, 1 << 16, threads, [&](std::size_t begin, std::size_t end) noexcept {
            for (std::size_t i = begin; i < end; ++i) {
                const Integer v = at(i);
                if (v.negative || v.bits > UINT32_MAX) {
                    std::size_t seen = first_bad.load();
                    while (i < seen && !first_bad.compare_exchange_weak(seen, i)) {}
                    return;
                }
                out[i] = static_cast<std::uint32_t>(v.bits);
            }
        });
        if (first_bad.load() < rows_) handle_of(at(first_bad.load()), arg_);
        return out;
    }

private:
    static constexpr const char* kExpected = "an integer array";

    Integer at(std::size_t i) const noexcept {
        return integer_at(array_.data() + static_cast<std::int64_t>(i) * array_.stride(0),
                          array_.dtype());
    }

    ArrayArg array_;
    const char* arg_;
    std::size_t rows_ = 0;
};

// Handles of any shape, in C order, with that shape. A C-ordered uint32
// array (the pairs of `step`) is taken as it lies: every value is a handle.
struct HandleArray {
    std::vector<std::uint32_t> values;
    std::vector<std::size_t> shape;
};

constexpr const char* kIntegers = "an integer array";

HandleArray handle_array(const ArrayArg& a, const char* arg) {
    const Dtype d = a.dtype();
    if (d.kind != Kind::kSigned && d.kind != Kind::kUnsigned && d.kind != Kind::kBool)
        a.refuse_dtype(kIntegers);
    HandleArray out;
    std::int64_t packed = d.size;
    bool c_order = true;
    for (std::size_t k = a.ndim(); k-- > 0;) {
        out.shape.insert(out.shape.begin(), a.shape(k));
        c_order = c_order && (a.shape(k) <= 1 || a.stride(k) == packed);
        packed *= static_cast<std::int64_t>(a.shape(k));
    }
    out.values.resize(a.size());
    if (c_order && d.native(Kind::kUnsigned, 4)) {
        if (!out.values.empty())
            std::memcpy(out.values.data(), a.data(), out.values.size() * sizeof(std::uint32_t));
        return out;
    }
    if (c_order && d.native(Kind::kSigned, 8)) {
        // numpy's default integers: checked in one pass, the first one out
        // of range raising as the general path would.
        const std::uint8_t* p = a.data();
        for (std::size_t i = 0; i < out.values.size(); ++i) {
            std::int64_t v;
            std::memcpy(&v, p + 8 * i, sizeof v);
            if (v < 0 || v > std::int64_t{UINT32_MAX})
                out.values[i] = handle_of(integer_at(p + 8 * i, d), arg);
            out.values[i] = static_cast<std::uint32_t>(v);
        }
        return out;
    }
    // The byte offset of each element in C order, one axis at a time.
    std::vector<std::size_t> at(a.ndim(), 0);
    for (std::size_t i = 0; i < out.values.size(); ++i) {
        std::int64_t offset = 0;
        for (std::size_t k = 0; k < a.ndim(); ++k)
            offset += static_cast<std::int64_t>(at[k]) * a.stride(k);
        out.values[i] = handle_of(integer_at(a.data() + offset, d), arg);
        for (std::size_t k = a.ndim(); k-- > 0;) {
            if (++at[k] < a.shape(k)) break;
            at[k] = 0;
        }
    }
    return out;
}

using World = Held<PhysicsWorld>;
using ChangedWorld = Held<PhysicsWorld, true>;

nb::object handles(nb::handle world, nb::handle out_object) {
    const World held(world, "world");
    const auto bodies = held.get().bodies();
    Output<std::uint32_t> out(out_object, {bodies.size()});
    // The pointers are held apart from what the stores could change.
    std::uint32_t* const to = out.data;
    const RigidBody* const from = bodies.data();
    parallel_for(bodies.size(), 1 << 15, 0, [=](std::size_t begin, std::size_t end) noexcept {
        for (std::size_t i = begin; i < end; ++i) to[i] = from[i].handle;
    });
    return out.finish();
}

nb::object positions(nb::handle world, nb::handle out_object) {
    const World held(world, "world");
    const auto bodies = held.get().bodies();
    Output<float> out(out_object, {bodies.size(), 3});
    float* const to = out.data;  // as in handles()
    const RigidBody* const from = bodies.data();
    parallel_for(bodies.size(), 1 << 15, 0, [=](std::size_t begin, std::size_t end) noexcept {
        for (std::size_t i = begin; i < end; ++i)
            std::memcpy(to + 3 * i, from[i].position.data(), sizeof(Float3));
    });
    return out.finish();
}

void set_positions(nb::handle world, nb::handle handles_object, nb::handle xyz,
                   nb::handle workers) {
    ChangedWorld held(world, "world");
    // Checked in order, as _core converts arguments: every handle first (on
    // the calling thread, still interruptible).
    const std::vector<std::uint32_t> handles = HandleArg(handles_object, "handles").values(1);
    const FloatRows in(xyz, "xyz", 3);
    check_row_count(handles.size(), in.array(), 3, "handles has");
    const int threads = checked_workers(workers);
    PhysicsWorld& w = held.get();
    // The bodies are looked up first (a long lookup can be stopped), then
    // moved in order, so a repeated handle ends where its last row says.
    std::vector<const RigidBody*> found(handles.size());
    parallel_for(handles.size(), 1 << 14, threads,
                 [&](std::size_t begin, std::size_t end) noexcept {
                     for (std::size_t i = begin; i < end; ++i) found[i] = w.find(handles[i]);
                 });
    nb::gil_scoped_release unlocked;
    in.visit([&](auto load) {
        for (std::size_t i = 0; i < found.size(); ++i) {
            // The world is held exclusively: its bodies are ours to change.
            if (found[i] != nullptr)
                const_cast<RigidBody*>(found[i])->set_position(load(i, 0), load(i, 1), load(i, 2));
        }
    });
}

nb::object step(nb::handle world, nb::handle dt_object) {
    ChangedWorld held(world, "world");
    const float dt = float_arg(dt_object, "dt");
    PhysicsWorld& w = held.get();
    const std::vector<HandlePair> pairs = core_call(Length::kUnknown, [&] { return w.step(dt); });
    NewArray<std::uint32_t> out = new_array<std::uint32_t>({pairs.size(), 2});
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        out.data[2 * i] = std::get<0>(pairs[i]);
        out.data[2 * i + 1] = std::get<1>(pairs[i]);
    }
    return out.array;
}

nb::object add_bodies(nb::handle world, nb::handle masses_object, nb::handle positions_object,
                      nb::handle velocities_object, nb::handle out_object) {
    ChangedWorld held(world, "world");
    const FloatRows masses(masses_object, "masses", 0);
    const std::size_t n = masses.rows();
    const FloatRows at(positions_object, "positions", 3);
    check_row_count(n, at.array(), 3, "masses has");
    std::optional<FloatRows> moving;
    if (!velocities_object.is_none()) {
        moving.emplace(velocities_object, "velocities", 3);
        check_row_count(n, moving->array(), 3, "masses has");
    }
    std::vector<const ArrayArg*> inputs = {&masses.array(), &at.array()};
    if (moving) inputs.push_back(&moving->array());
    Output<std::uint32_t> out(out_object, std::span<const std::size_t>(&n, 1), inputs);
    PhysicsWorld& w = held.get();
    // The bodies are made in the world's own array.
    const auto fill = [&](std::span<RigidBody> made) {
        masses.visit([&](auto mass) {
            for (std::size_t i = 0; i < n; ++i) made[i].set_mass(mass(i, 0));
        });
        at.visit([&](auto p) {
            for (std::size_t i = 0; i < n; ++i) made[i].set_position(p(i, 0), p(i, 1), p(i, 2));
        });
        if (moving) {
            moving->visit([&](auto v) {
                for (std::size_t i = 0; i < n; ++i) made[i].set_velocity(v(i, 0), v(i, 1), v(i, 2));
            });
        }
    };
    core_call(Length::kUnknown, [&] {
        w.add_bodies(std::span(out.data, n), fill);
        return 0;
    });
    return out.finish();
}

void remove_bodies(nb::handle world, nb::handle handles_object) {
    ChangedWorld held(world, "world");
    const ArrayArg given(handles_object, "handles", kIntegers);
    const HandleArray handles = handle_array(given, "handles");
    PhysicsWorld& w = held.get();
    core_call(Length::kUnknown, [&] {
        w.remove_bodies(handles.values);
        return 0;
    });
}

nb::object rows(nb::handle world, nb::handle handles_object, nb::handle out_object) {
    const World held(world, "world");
    const ArrayArg given(handles_object, "handles", kIntegers);
    const HandleArray handles = handle_array(given, "handles");
    Output<std::int64_t> out(out_object, handles.shape, {&given});
    const PhysicsWorld& w = held.get();
    core_call(Length::kUnknown, [&] {
        w.find_rows(handles.values, std::span(out.data, handles.values.size()));
        return 0;
    });
    return out.finish();
}

nb::tuple raycasts(nb::handle world, nb::handle origins, nb::handle directions, nb::handle workers,
                   nb::handle out_object) {
    const World held(world, "world");
    const FloatRows o(origins, "origins", 3);
    const FloatRows d(directions, "directions", 3);
    check_row_count(o.rows(), d.array(), 3, "origins has");
    const int threads = checked_workers(workers);
    const PhysicsWorld& w = held.get();
    const std::size_t n = o.rows();
    const auto outs = out_tuple(out_object);
    Output<bool> hit(outs[0], {n}, {&o.array(), &d.array()});
    Output<std::uint32_t> handle(outs[1], {n}, {&o.array(), &d.array()});
    Output<float> t(outs[2], {n}, {&o.array(), &d.array()});
    refuse_shared({hit.target(), handle.target(), t.target()});
    if (n == 0) return nb::make_tuple(hit.finish(), handle.finish(), t.finish());
    const auto bodies = w.bodies();
    const RayIndex index = core_call(Length::kUnknown, [&] { return RayIndex(bodies); });
    o.visit([&](auto po) {
        d.visit([&](auto pd) {
            parallel_for(n, 64, threads, [&](std::size_t begin, std::size_t end) noexcept {
                for (std::size_t i = begin; i < end; ++i) {
                    const Ray ray({po(i, 0), po(i, 1), po(i, 2)}, {pd(i, 0), pd(i, 1), pd(i, 2)});
                    const NearestHit best = index.nearest(ray);
                    hit.data[i] = best.hit;
                    handle.data[i] = best.hit ? bodies[best.index].handle : 0;
                    t.data[i] = best.t;
                }
            });
        });
    });
    return nb::make_tuple(hit.finish(), handle.finish(), t.finish());
}

}  // namespace

void register_physics(nb::module_& m) {
    const auto workers = (nb::arg("workers").none() = nb::none());
    const auto out = (nb::arg("out").none() = nb::none());
    m.def("handles", &handles, nb::arg("world").none(), nb::kw_only(), out,
          nb::sig("def handles(world: _core.PhysicsWorld, *, out: NDArray[numpy.uint32] | None = "
                  "None) -> NDArray[numpy.uint32]"),
          "The handle of every body of `world` in its array order (the order\n"
          "`step` and `raycast` report in): an (n,) uint32 array.");
    m.def("positions", &positions, nb::arg("world").none(), nb::kw_only(), out,
          nb::sig("def positions(world: _core.PhysicsWorld, *, out: NDArray[numpy.float32] | None "
                  "= None) -> NDArray[numpy.float32]"),
          "The position of every body of `world` in its array order (that of\n"
          "`handles(world)`): an (n, 3) float32 array.");
    m.def("set_positions", &set_positions, nb::arg("world").none(), nb::arg("handles").none(),
          nb::arg("xyz").none(), nb::kw_only(), workers,
          nb::sig("def set_positions(world: _core.PhysicsWorld, handles: ArrayLike, xyz: "
                  "ArrayLike, *, workers: int | None = None) -> None"),
          "`world.set_position(handle, *row)` for each of `handles` (an integer\n"
          "array of shape (n,)) and row of `xyz` (shape (n, 3)), in order: an\n"
          "unknown handle is skipped, a repeated one ends at its last row. A\n"
          "handle outside 0..2**32-1 raises OverflowError before anything moves.");
    m.def("step", &step, nb::arg("world").none(), nb::arg("dt").none(),
          nb::sig("def step(world: _core.PhysicsWorld, dt: float) -> NDArray[numpy.uint32]"),
          "`world.step(dt)`, with its pairs as a (k, 2) uint32 array in the same\n"
          "order. Ctrl-C stops it with KeyboardInterrupt and leaves the world as\n"
          "it was.");
    m.def("add_bodies", &add_bodies, nb::arg("world").none(), nb::arg("masses").none(),
          nb::arg("positions").none(), nb::arg("velocities").none() = nb::none(), nb::kw_only(),
          out,
          nb::sig("def add_bodies(world: _core.PhysicsWorld, masses: ArrayLike, positions: "
                  "ArrayLike, velocities: ArrayLike | None = None, *, out: NDArray[numpy.uint32] "
                  "| None = None) -> NDArray[numpy.uint32]"),
          "Adds a body for each of `masses` (shape (n,)) at the row of\n"
          "`positions` (shape (n, 3)) moving at the row of `velocities` (shape\n"
          "(n, 3); at rest when None), as `RigidBody(mass)`, `set_position`,\n"
          "`set_velocity` and `world.add_body` would one by one: an (n,) uint32\n"
          "array of their handles, in order. A refused or stopped call adds\n"
          "nothing.");
    m.def("remove_bodies", &remove_bodies, nb::arg("world").none(), nb::arg("handles").none(),
          nb::sig("def remove_bodies(world: _core.PhysicsWorld, handles: ArrayLike) -> None"),
          "`world.remove_body(handle)` for each of `handles` (an integer array\n"
          "of any shape, in C order), in order: unknown handles are skipped and\n"
          "each removal moves the last body into the freed row. A refused or\n"
          "stopped call removes nothing.");
    m.def("rows", &rows, nb::arg("world").none(), nb::arg("handles").none(), nb::kw_only(), out,
          nb::sig("def rows(world: _core.PhysicsWorld, handles: ArrayLike, *, out: "
                  "NDArray[numpy.int64] | None = None) -> NDArray[numpy.int64]"),
          "The row of `positions(world)` (and of `handles(world)`) holding each\n"
          "of `handles` (an integer array of any shape, such as the pairs of\n"
          "`step`): an int64 array of the same shape, -1 for a handle the world\n"
          "does not hold.");
    m.def("raycasts", &raycasts, nb::arg("world").none(), nb::arg("origins").none(),
          nb::arg("directions").none(), nb::kw_only(), workers, nb::arg("out").none() = nb::none(),
          nb::sig("def raycasts(world: _core.PhysicsWorld, origins: ArrayLike, directions: "
                  "ArrayLike, *, workers: int | None = None, out: tuple[NDArray[numpy.bool_] | "
                  "None, NDArray[numpy.uint32] | None, NDArray[numpy.float32] | None] | None = "
                  "None) -> tuple[NDArray[numpy.bool_], NDArray[numpy.uint32], "
                  "NDArray[numpy.float32]]"),
          "The nearest hit of each ray (rows of `origins` and `directions`, shape\n"
          "(n, 3)): `(hit, handle, t)`, (n,) arrays of bool, uint32 and float32\n"
          "holding entry 0 of `world.raycast(*origin, *direction)`, or (False, 0,\n"
          "inf) where that list is empty.");
}

}  // namespace core::arrays
