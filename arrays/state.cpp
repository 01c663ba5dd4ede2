// The whole state of a _core object as bytes, and back, for the state that
// Python cannot read or rebuild through _core's own methods (a matrix's
// cells, a body's mass, a world's handle index, a cache's recency order, a
// collider's decoded scene). gfxcore's pickling is built on these two.
//
// Payload: "GXST", a u16 format version and a u16 class tag, then the
// class's fields, little-endian. Every length and index is checked before
// anything changes, so a payload that is cut, padded or made up raises
// ValueError and leaves the object as it was.
#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "core_object.hpp"
#include "groups.hpp"
#include "inputs.hpp"
#include "math_3d/mat4.hpp"
#include "physics/body.hpp"
#include "physics/world.hpp"
#include "sdf/primitive.hpp"
#include "sdf/record.hpp"
#include "sdf/scene.hpp"
#include "sdf_collision/collider.hpp"
#include "tiles/tile_cache.hpp"

namespace core::arrays {

namespace {

constexpr char kMagic[4] = {'G', 'X', 'S', 'T'};
constexpr std::uint16_t kVersion = 1;

enum Tag : std::uint16_t {
    kMat4x4 = 1,
    kRigidBody = 2,
    kSdfPrimitive = 3,
    kSdfScene = 4,
    kSdfCollider = 5,
    kPhysicsWorld = 6,
    kTileCache = 7,
};

[[noreturn]] void bad_payload(const std::string& why) {
    throw nb::value_error(("invalid state payload: " + why).c_str());
}

class Writer {
public:
    explicit Writer(Tag tag) {
        raw(kMagic, 4);
        u16(kVersion);
        u16(tag);
    }
    void raw(const void* p, std::size_t n) {
        const auto* b = static_cast<const std::uint8_t*>(p);
        out_.insert(out_.end(), b, b + n);
    }
    void u8(std::uint8_t v) { out_.push_back(v); }
    void u16(std::uint16_t v) { le(v); }
    void u32(std::uint32_t v) { le(v); }
    void u64(std::uint64_t v) { le(v); }
    void f32(float v) { le(std::bit_cast<std::uint32_t>(v)); }
    nb::bytes bytes() const {
        return nb::bytes(reinterpret_cast<const char*>(out_.data()), out_.size());
    }

private:
    template <class T>
    void le(T v) {
        for (std::size_t k = 0; k < sizeof v; ++k)
            out_.push_back(static_cast<std::uint8_t>(v >> 8 * k));
    }
    std::vector<std::uint8_t> out_;
};

class Reader {
public:
    Reader(std::span<const std::uint8_t> data, Tag tag) : data_(data) {
        if (data.size() < 8 || std::memcmp(data.data(), kMagic, 4) != 0)
            bad_payload("not a gfxcore state");
        at_ = 4;
        if (const std::uint16_t v = u16(); v != kVersion)
            bad_payload("format version " + std::to_string(v) + " is not known here");
        if (u16() != tag) bad_payload("made for another class");
    }
    const std::uint8_t* take(std::size_t n) {
        if (n > data_.size() - at_) bad_payload("cut short");
        const std::uint8_t* p = data_.data() + at_;
        at_ += n;
        return p;
    }
    std::uint8_t u8() { return *take(1); }
    std::uint16_t u16() { return le<std::uint16_t>(); }
    std::uint32_t u32() { return le<std::uint32_t>(); }
    std::uint64_t u64() { return le<std::uint64_t>(); }
    float f32() { return std::bit_cast<float>(u32()); }
    // A count of items of `size` bytes each that the rest can hold.
    std::size_t count(std::size_t size) {
        const std::uint64_t n = u64();
        if (n > (data_.size() - at_) / size) bad_payload("a length beyond the data");
        return static_cast<std::size_t>(n);
    }
    std::size_t remaining() const noexcept { return data_.size() - at_; }
    void end() const {
        if (at_ != data_.size()) bad_payload("bytes after the end");
    }

private:
    template <class T>
    T le() {
        const std::uint8_t* p = take(sizeof(T));
        T v = 0;
        for (std::size_t k = 0; k < sizeof(T); ++k) v |= static_cast<T>(T{p[k]} << 8 * k);
        return v;
    }
    std::span<const std::uint8_t> data_;
    std::size_t at_ = 0;
};

constexpr std::size_t kBodySize = 7 * 4 + 4 + 1;

void write_body(Writer& w, const RigidBody& b) {
    for (float v : b.position) w.f32(v);
    for (float v : b.velocity) w.f32(v);
    w.f32(b.mass);
    w.u32(b.handle);
    w.u8(static_cast<std::uint8_t>(b.type));
}

RigidBody read_body(Reader& r) {
    RigidBody b;
    for (float& v : b.position) v = r.f32();
    for (float& v : b.velocity) v = r.f32();
    b.mass = r.f32();
    b.handle = r.u32();
    const std::uint8_t type = r.u8();
    if (type > static_cast<std::uint8_t>(BodyType::Static)) bad_payload("an unknown body type");
    b.type = static_cast<BodyType>(type);
    return b;
}

SdfPrimitive read_record(Reader& r) {
    using namespace record;
    const std::uint8_t* p = r.take(kSize);
    for (std::size_t k = kPadding; k < kSize; ++k)
        if (p[k] != 0) bad_payload("a record with non-zero padding");
    SdfPrimitive s;
    s.center = {load_f32(p + kCenterX), load_f32(p + kCenterY), load_f32(p + kCenterZ)};
    s.params = {load_f32(p + kParam0), load_f32(p + kParam1), load_f32(p + kParam2),
                load_f32(p + kParam3)};
    s.smooth_k = load_f32(p + kSmoothK);
    s.type = load_u32(p + kType);
    s.csg_op = load_u32(p + kCsgOp);
    return s;
}

void write_record(Writer& w, const SdfPrimitive& s) {
    std::uint8_t r[record::kSize];
    s.write_record(r);
    w.raw(r, sizeof r);
}

// Each class: its state out, and back into an object under the exclusive
// borrow. A restore reads and checks everything first, then commits.

nb::bytes mat4_state(const Mat4x4& m) {
    Writer w(kMat4x4);
    for (float v : m.m) w.f32(v);
    return w.bytes();
}
void restore_mat4(Mat4x4& m, Reader& r) {
    Mat4x4 read;
    for (float& v : read.m) v = r.f32();
    r.end();
    m = read;
}

nb::bytes body_state(const RigidBody& b) {
    Writer w(kRigidBody);
    write_body(w, b);
    return w.bytes();
}
void restore_body(RigidBody& b, Reader& r) {
    const RigidBody read = read_body(r);
    r.end();
    b = read;
}

nb::bytes primitive_state(const SdfPrimitive& s) {
    Writer w(kSdfPrimitive);
    write_record(w, s);
    return w.bytes();
}
void restore_primitive(SdfPrimitive& s, Reader& r) {
    const SdfPrimitive read = read_record(r);
    r.end();
    s = read;
}

nb::bytes scene_state(const SdfScene& s) {
    Writer w(kSdfScene);
    w.u64(s.primitives.size());
    for (const SdfPrimitive& p : s.primitives) write_record(w, p);
    return w.bytes();
}
void restore_scene(SdfScene& s, Reader& r) {
    std::vector<SdfPrimitive> read(r.count(record::kSize));
    for (SdfPrimitive& p : read) p = read_record(r);
    r.end();
    s.primitives = std::move(read);
}

// The collider keeps its scene decoded, not its buffer: the decoded columns
// travel (at most 36 bytes a record), with each record's place in the
// buffer and the buffer's record count.
nb::bytes collider_state(const SdfCollider& c) {
    const SceneField& f = c.field();
    Writer w(kSdfCollider);
    w.u64(c.prim_count());
    std::array<std::uint32_t, SceneField::kKinds> count{};
    for (const SceneField::Group& g : f.groups()) count[g.kind] = g.count;
    for (std::uint32_t n : count) w.u32(n);
    for (std::uint32_t p : f.positions()) w.u32(p);
    for (float v : f.columns()) w.f32(v);
    return w.bytes();
}
void restore_collider(SdfCollider& c, Reader& r) {
    const std::uint64_t records = r.u64();
    std::array<std::uint32_t, SceneField::kKinds> count{};
    std::uint64_t decoded = 0, columns = 0;
    for (std::size_t k = 0; k < count.size(); ++k) {
        count[k] = r.u32();
        decoded += count[k];
        columns +=
            std::uint64_t{count[k]} * SceneField::column_count(static_cast<SceneField::Kind>(k));
    }
    // A buffer of more records does not decode (their places are 32-bit).
    if (records > UINT32_MAX || decoded > records) bad_payload("record counts out of range");
    if ((decoded + columns) * 4 != r.remaining()) bad_payload("a length unlike the record counts");
    // Each kind's records in buffer order, each place once.
    std::vector<std::uint32_t> positions(static_cast<std::size_t>(decoded));
    std::size_t at = 0;
    for (std::uint32_t n : count) {
        for (std::uint32_t i = 0; i < n; ++i, ++at) {
            positions[at] = r.u32();
            if (positions[at] >= records || (i > 0 && positions[at] <= positions[at - 1]))
                bad_payload("record positions out of order or range");
        }
    }
    std::vector<std::uint32_t> sorted = positions;
    std::ranges::sort(sorted);
    if (std::ranges::adjacent_find(sorted) != sorted.end())
        bad_payload("a record place given twice");
    std::vector<float> values(static_cast<std::size_t>(columns));
    if (columns * 4 != 0) {
        const std::uint8_t* p = r.take(static_cast<std::size_t>(columns) * 4);
        for (std::size_t k = 0; k < values.size(); ++k) values[k] = load_f32(p + 4 * k);
    }
    r.end();
    c.restore(SceneField(count, std::move(positions), std::move(values)), records);
}

nb::bytes world_state(const PhysicsWorld& world) {
    Writer w(kPhysicsWorld);
    for (float v : world.gravity()) w.f32(v);
    w.u32(world.next_handle());
    const auto bodies = world.bodies();
    w.u64(bodies.size());
    for (const RigidBody& b : bodies) write_body(w, b);
    w.u64(bodies.size());
    world.each_index_entry([&](std::uint32_t handle, std::uint32_t at) {
        w.u32(handle);
        w.u32(at);
    });
    return w.bytes();
}
void restore_world(PhysicsWorld& world, Reader& r) {
    Float3 gravity;
    for (float& v : gravity) v = r.f32();
    const std::uint32_t next = r.u32();
    std::vector<RigidBody> bodies(r.count(kBodySize));
    for (RigidBody& b : bodies) b = read_body(r);
    std::vector<std::pair<std::uint32_t, std::uint32_t>> index(r.count(8));
    for (auto& [handle, at] : index) {
        handle = r.u32();
        at = r.u32();
    }
    r.end();
    try {
        world.restore(gravity, std::move(bodies), index, next);
    } catch (const std::invalid_argument& e) {
        bad_payload(e.what());
    }
}

nb::bytes cache_state(const TileCache& cache) {
    Writer w(kTileCache);
    w.u64(cache.capacity());
    w.u64(cache.len());
    cache.each_oldest_first(
        [&](std::int32_t x, std::int32_t y, const std::vector<std::uint8_t>& d) {
            w.u32(static_cast<std::uint32_t>(x));
            w.u32(static_cast<std::uint32_t>(y));
            w.u64(d.size());
            w.raw(d.data(), d.size());
        });
    return w.bytes();
}
// Into a cache of the same capacity (TileCache(capacity) made by the
// caller): the tiles are put back oldest first, which rebuilds the recency.
void restore_cache(TileCache& cache, Reader& r) {
    if (r.u64() != cache.capacity()) bad_payload("made for a cache of another capacity");
    struct Entry {
        std::int32_t x, y;
        const std::uint8_t* data;
        std::size_t size;
    };
    std::vector<Entry> entries(r.count(16));
    if (entries.size() > cache.capacity()) bad_payload("more tiles than the capacity");
    std::vector<std::uint64_t> keys(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        Entry& e = entries[i];
        e.x = static_cast<std::int32_t>(r.u32());
        e.y = static_cast<std::int32_t>(r.u32());
        e.size = r.count(1);
        e.data = r.take(e.size);
        keys[i] =
            std::uint64_t{static_cast<std::uint32_t>(e.x)} << 32 | static_cast<std::uint32_t>(e.y);
    }
    r.end();
    std::ranges::sort(keys);
    if (std::ranges::adjacent_find(keys) != keys.end()) bad_payload("a tile given twice");
    cache.clear();
    for (const Entry& e : entries)
        cache.put(e.x, e.y, std::vector<std::uint8_t>(e.data, e.data + e.size));
}

// The class of `o` among those with a state here, by its exact type.
template <class F>
decltype(auto) by_class(nb::handle o, F&& f) {
    if (is_core<Mat4x4>(o)) return f.template operator()<Mat4x4>();
    if (is_core<RigidBody>(o)) return f.template operator()<RigidBody>();
    if (is_core<SdfPrimitive>(o)) return f.template operator()<SdfPrimitive>();
    if (is_core<SdfScene>(o)) return f.template operator()<SdfScene>();
    if (is_core<SdfCollider>(o)) return f.template operator()<SdfCollider>();
    if (is_core<PhysicsWorld>(o)) return f.template operator()<PhysicsWorld>();
    if (is_core<TileCache>(o)) return f.template operator()<TileCache>();
    nb::str qualname = nb::steal<nb::str>(PyType_GetQualName(Py_TYPE(o.ptr())));
    throw nb::type_error(("argument 'obj': '" + std::string(qualname.c_str()) +
                          "' object has no state of its own to save")
                             .c_str());
}

nb::bytes state_of(nb::handle obj) {
    return by_class(obj, [&]<class T>() {
        const Held<T> held(obj, "obj");
        const T& v = held.get();
        if constexpr (std::is_same_v<T, Mat4x4>) return mat4_state(v);
        if constexpr (std::is_same_v<T, RigidBody>) return body_state(v);
        if constexpr (std::is_same_v<T, SdfPrimitive>) return primitive_state(v);
        if constexpr (std::is_same_v<T, SdfScene>) return scene_state(v);
        if constexpr (std::is_same_v<T, SdfCollider>) return collider_state(v);
        if constexpr (std::is_same_v<T, PhysicsWorld>) return world_state(v);
        if constexpr (std::is_same_v<T, TileCache>) return cache_state(v);
    });
}

void restore_state(nb::handle obj, nb::handle payload) {
    by_class(obj, [&]<class T>() {
        Held<T, true> held(obj, "obj");
        const ByteInput in(payload, "state");
        T& v = held.get();
        if constexpr (std::is_same_v<T, Mat4x4>) {
            Reader r(in.bytes(), kMat4x4);
            restore_mat4(v, r);
        } else if constexpr (std::is_same_v<T, RigidBody>) {
            Reader r(in.bytes(), kRigidBody);
            restore_body(v, r);
        } else if constexpr (std::is_same_v<T, SdfPrimitive>) {
            Reader r(in.bytes(), kSdfPrimitive);
            restore_primitive(v, r);
        } else if constexpr (std::is_same_v<T, SdfScene>) {
            Reader r(in.bytes(), kSdfScene);
            restore_scene(v, r);
        } else if constexpr (std::is_same_v<T, SdfCollider>) {
            Reader r(in.bytes(), kSdfCollider);
            restore_collider(v, r);
        } else if constexpr (std::is_same_v<T, PhysicsWorld>) {
            Reader r(in.bytes(), kPhysicsWorld);
            restore_world(v, r);
        } else {
            Reader r(in.bytes(), kTileCache);
            restore_cache(v, r);
        }
    });
}

}  // namespace

void register_state(nb::module_& m) {
    m.def("_state_of", &state_of, nb::arg("obj").none(),
          nb::sig("def _state_of(obj: object) -> bytes"),
          "The state of a _core Mat4x4, RigidBody, SdfPrimitive, SdfScene,\n"
          "SdfCollider, PhysicsWorld or TileCache as a versioned payload, read\n"
          "under the shared borrow; gfxcore's pickling uses it.");
    m.def("_restore_state", &restore_state, nb::arg("obj").none(), nb::arg("state").none(),
          nb::sig("def _restore_state(obj: object, state: Buffer) -> None"),
          "Give `obj` the state `_state_of` read from an object of its class\n"
          "(a TileCache: of its capacity), under the exclusive borrow. A payload\n"
          "that is not such a state raises ValueError and changes nothing.");
}

}  // namespace core::arrays
