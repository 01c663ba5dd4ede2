// The byte functions with bytes in and out: LZ4 framing, the scene buffer,
// tiles.
#include <cstring>
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

nb::bytes lz4_compress(nb::handle data_object) {
    const ByteInput in(data_object, "data");
    const auto data = in.bytes();
    const std::size_t room =
        core_call(Length::kShort, [&] { return core::lz4_compress_room(data); });
    return bytes_filled(room, [&](std::uint8_t* out) { return lz4_compress_into(data, out); });
}

nb::bytes lz4_decompress(nb::handle data_object) {
    const ByteInput in(data_object, "data");
    const auto data = in.bytes();
    const std::size_t room =
        core_call(Length::kShort, [&] { return core::lz4_decompress_room(data); });
    return bytes_filled(
        room, [&](std::uint8_t* out) { return core::lz4_decompress_into(data, out, room); });
}

nb::bytes scene_bytes(nb::handle scene) {
    const Held<SdfScene> held(scene, "scene");
    return bytes_of(core_call(Length::kShort, [&] { return held.get().to_gpu_bytes(); }));
}

void load_scene(nb::handle collider, nb::handle data_object) {
    Held<SdfCollider, true> held(collider, "collider");
    const ByteInput in(data_object, "data");
    std::vector<std::uint8_t> data(in.bytes().begin(), in.bytes().end());
    core_call(Length::kShort, [&] {
        held.get().load_bytes(data);
        return true;
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
          "then one LZ4 block. One library call: Ctrl-C waits for it.");
    m.def("lz4_decompress", &lz4_decompress, nb::arg("data").none(),
          nb::sig("def lz4_decompress(data: Buffer) -> bytes"),
          "`_core.lz4_decompress(data)` as bytes, for any bytes-like `data`, with\n"
          "its RuntimeErrors. One library call: Ctrl-C waits for it.");
    m.def("scene_bytes", &scene_bytes, nb::arg("scene").none(),
          nb::sig("def scene_bytes(scene: _core.SdfScene) -> bytes"),
          "`scene.to_gpu_bytes()` as bytes.");
    m.def("load_scene", &load_scene, nb::arg("collider").none(), nb::arg("data").none(),
          nb::sig("def load_scene(collider: _core.SdfCollider, data: Buffer) -> None"),
          "`collider.load_bytes(data)` for any bytes-like `data`.");
    m.def("tile_bytes", &tile_bytes, nb::arg("cache").none(), nb::arg("x").none(), nb::arg("y").none(),
          nb::sig("def tile_bytes(cache: _core.TileCache, x: int, y: int) -> bytes | None"),
          "`cache.get(x, y)` as bytes, or None for a tile not in the cache; like\n"
          "`get`, it marks the tile as recently used.");
    m.def("put_tile", &put_tile, nb::arg("cache").none(), nb::arg("x").none(), nb::arg("y").none(), nb::arg("data").none(),
          nb::sig("def put_tile(cache: _core.TileCache, x: int, y: int, data: Buffer) -> "
                  "tuple[int, int] | None"),
          "`cache.put(x, y, data)` for any bytes-like `data`: the key of the tile\n"
          "it evicted, or None.");
}

}  // namespace core::arrays
