// The byte functions with bytes in and out: LZ4 framing, the scene buffer,
// tiles.
#include <cstring>
#include <exception>
#include <memory>
#include <span>
#include <vector>

#include "core_call.hpp"
#include "core_object.hpp"
#include "groups.hpp"
#include "inputs.hpp"
#include "scalars.hpp"
#include "sdf/scene.hpp"
#include "sdf_collision/collider.hpp"
#include "tiles/lz4_block.hpp"
#include "tiles/tile_cache.hpp"

namespace core::arrays {
namespace {

nb::bytes bytes_of(std::span<const std::uint8_t> data) {
    return nb::bytes(reinterpret_cast<const char*>(data.data()), data.size());
}

// A bytes object of `room` bytes that `fill` writes without the lock (one
// library call, not interruptible), cut to the length it reports.
template <class Fill>
nb::bytes bytes_filled(std::size_t room, Fill&& fill) {
    PyObject* out = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(room));
    if (out == nullptr) throw nb::python_error();
    nb::object owner = nb::steal(out);
    auto* data = reinterpret_cast<std::uint8_t*>(PyBytes_AS_STRING(out));
    const std::size_t written = core_call(Length::kShort, [&] { return fill(data); });
    if (written == room) return nb::steal<nb::bytes>(owner.release());
    owner.release();
    // Frees the object itself when it fails.
    if (_PyBytes_Resize(&out, static_cast<Py_ssize_t>(written)) < 0) throw nb::python_error();
    return nb::steal<nb::bytes>(out);
}

// From this many input bytes an LZ4 call takes long enough (a few
// milliseconds and up) to run detached, answering Ctrl-C at once.
constexpr std::size_t kDetachedBytes = std::size_t{8} << 20;

// What a detached LZ4 call holds of Python's: its input and its result.
struct LzHeld {
    ByteInput::Owned input;
    PyObject* out = nullptr;
};

int release(void* p) noexcept {
    auto* held = static_cast<LzHeld*>(p);
    if (held->input.has_view) PyBuffer_Release(&held->input.view);
    Py_XDECREF(held->out);
    delete held;
    return 0;
}

// As bytes_filled, the work on a thread of its own: a stopped call raises
// KeyboardInterrupt at once, and the work's memory is given back when it ends.
template <class Fill>
nb::bytes bytes_detached(ByteInput& in, std::size_t room, Fill fill) {
    struct Job : DetachedJob {
        std::unique_ptr<LzHeld> held = std::make_unique<LzHeld>();
        Fill fill;
        std::uint8_t* out = nullptr;
        std::size_t written = 0;
        std::exception_ptr error;
        explicit Job(Fill f) : fill(std::move(f)) {}
        void run() noexcept override {
            try {
                written = fill(held->input.bytes, out);
            } catch (...) {
                error = std::current_exception();
            }
        }
        void orphaned() noexcept override {
            // Without a pending call (its queue full) it stays held: a leak,
            // never a release without the lock.
            Py_AddPendingCall(&release, held.release());
        }
    };
    auto job = std::make_shared<Job>(std::move(fill));
    in.hand_over(job->held->input);
    job->held->out = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(room));
    if (job->held->out == nullptr) {
        release(job->held.release());
        throw nb::python_error();
    }
    job->out = reinterpret_cast<std::uint8_t*>(PyBytes_AS_STRING(job->held->out));
    const bool finished = run_detached(job);
    if (job->abandoned) throw nb::python_error();
    PyObject* out = job->held->out;
    job->held->out = nullptr;
    release(job->held.release());
    nb::object owner = nb::steal(out);
    if (!finished) throw nb::python_error();
    if (job->error) raise_core_error(job->error);
    if (job->written == room) return nb::steal<nb::bytes>(owner.release());
    out = owner.release().ptr();
    if (_PyBytes_Resize(&out, static_cast<Py_ssize_t>(job->written)) < 0) throw nb::python_error();
    return nb::steal<nb::bytes>(out);
}

nb::bytes lz4_compress(nb::handle data_object) {
    ByteInput in(data_object, "data");
    const auto data = in.bytes();
    const std::size_t room =
        core_call(Length::kShort, [&] { return core::lz4_compress_room(data); });
    if (data.size() >= kDetachedBytes)
        return bytes_detached(in, room, [](std::span<const std::uint8_t> d, std::uint8_t* out) {
            return lz4_compress_into(d, out);
        });
    return bytes_filled(room, [&](std::uint8_t* out) { return lz4_compress_into(data, out); });
}

nb::bytes lz4_decompress(nb::handle data_object) {
    ByteInput in(data_object, "data");
    const auto data = in.bytes();
    const std::size_t room =
        core_call(Length::kShort, [&] { return core::lz4_decompress_room(data); });
    if (data.size() >= kDetachedBytes || room >= 4 * kDetachedBytes)
        return bytes_detached(in, room, [room](std::span<const std::uint8_t> d, std::uint8_t* out) {
            return core::lz4_decompress_into(d, out, room);
        });
    return bytes_filled(
        room, [&](std::uint8_t* out) { return core::lz4_decompress_into(data, out, room); });
}

nb::bytes scene_bytes(nb::handle scene) {
    const Held<SdfScene> held(scene, "scene");
    return bytes_of(core_call(Length::kShort, [&] { return held.get().to_gpu_bytes(); }));
}

// The scene is decoded into a collider of its own, which replaces the held
// one only when the call was not stopped: a stopped load changes nothing.
void load_scene(nb::handle collider, nb::handle data_object) {
    Held<SdfCollider, true> held(collider, "collider");
    const ByteInput in(data_object, "data");
    std::vector<std::uint8_t> data(in.bytes().begin(), in.bytes().end());
    held.get() = detached_call([data = std::move(data)] {
        SdfCollider loaded;
        loaded.load_bytes(data);
        return loaded;
    });
}

nb::object tile_bytes(nb::handle cache, nb::handle x_object, nb::handle y_object) {
    Held<TileCache, true> held(cache, "cache");
    const std::int32_t x = int32_arg(x_object, "x"), y = int32_arg(y_object, "y");
    const std::vector<std::uint8_t>* data = held.get().get(x, y);
    if (data == nullptr) return nb::none();
    return bytes_of(*data);
}

nb::object put_tile(nb::handle cache, nb::handle x_object, nb::handle y_object,
                    nb::handle data_object) {
    Held<TileCache, true> held(cache, "cache");
    const std::int32_t x = int32_arg(x_object, "x"), y = int32_arg(y_object, "y");
    const ByteInput in(data_object, "data");
    std::vector<std::uint8_t> data(in.bytes().begin(), in.bytes().end());
    const auto evicted = held.get().put(x, y, std::move(data));
    if (!evicted) return nb::none();
    return nb::make_tuple(std::get<0>(*evicted), std::get<1>(*evicted));
}

}  // namespace

void register_bytes(nb::module_& m) {
    m.def("lz4_compress", &lz4_compress, nb::arg("data").none(),
          nb::sig("def lz4_compress(data: Buffer) -> bytes"),
          "`_core.lz4_compress(data)` as bytes, for any bytes-like `data` (bytes,\n"
          "bytearray, memoryview, a uint8 array): a 4-byte little-endian length,\n"
          "then one LZ4 block.");
    m.def("lz4_decompress", &lz4_decompress, nb::arg("data").none(),
          nb::sig("def lz4_decompress(data: Buffer) -> bytes"),
          "`_core.lz4_decompress(data)` as bytes, for any bytes-like `data`, with\n"
          "its RuntimeErrors.");
    m.def("scene_bytes", &scene_bytes, nb::arg("scene").none(),
          nb::sig("def scene_bytes(scene: _core.SdfScene) -> bytes"),
          "`scene.to_gpu_bytes()` as bytes.");
    m.def("load_scene", &load_scene, nb::arg("collider").none(), nb::arg("data").none(),
          nb::sig("def load_scene(collider: _core.SdfCollider, data: Buffer) -> None"),
          "`collider.load_bytes(data)` for any bytes-like `data`.");
    m.def("tile_bytes", &tile_bytes, nb::arg("cache").none(), nb::arg("x").none(),
          nb::arg("y").none(),
          nb::sig("def tile_bytes(cache: _core.TileCache, x: int, y: int) -> bytes | None"),
          "`cache.get(x, y)` as bytes, or None for a tile not in the cache; like\n"
          "`get`, it marks the tile as recently used.");
    m.def("put_tile", &put_tile, nb::arg("cache").none(), nb::arg("x").none(), nb::arg("y").none(),
          nb::arg("data").none(),
          nb::sig("def put_tile(cache: _core.TileCache, x: int, y: int, data: Buffer) -> "
                  "tuple[int, int] | None"),
          "`cache.put(x, y, data)` for any bytes-like `data`: the key of the tile\n"
          "it evicted, or None.");
}

}  // namespace core::arrays
