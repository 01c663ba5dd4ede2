#include "sdf_collision/scene_field.hpp"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <new>
#include <stdexcept>
#include <type_traits>
#include <utility>

#include "common/trig.hpp"
#include "sdf/record.hpp"
#include "sdf_collision/shapes.hpp"

namespace core {

namespace {

using lanes::F4;
using lanes::kWidth;
using Constants = std::array<float, 8>;

// Each kind: the record type codes it holds, and its formula over `c`, its
// columns of one record or of a block of four, at the point (x, y, z); the
// columns are those constants() gives. The rest of this file reaches the kinds
// through kinds() below, never by listing them.
template <SceneField::Kind>
struct Shape;

template <>
struct Shape<SceneField::kSpheres> {
    static constexpr uint32_t kCodes[] = {record::kSphere};
    static constexpr std::size_t kColumns = 4;
    static auto at(const auto& c, auto x, auto y, auto z) noexcept {
        return shapes::sphere(x - c[0], y - c[1], z - c[2], c[3]);
    }
};

template <>
struct Shape<SceneField::kBoxes> {
    static constexpr uint32_t kCodes[] = {record::kBox, record::kRoundedBox};
    static constexpr std::size_t kColumns = 7;
    static auto at(const auto& c, auto x, auto y, auto z) noexcept {
        return shapes::rounded_box(x - c[0], y - c[1], z - c[2], c[3], c[4], c[5], c[6]);
    }
};

template <>
struct Shape<SceneField::kCylinders> {
    static constexpr uint32_t kCodes[] = {record::kCylinder};
    static constexpr std::size_t kColumns = 5;
    static auto at(const auto& c, auto x, auto y, auto z) noexcept {
        return shapes::cylinder(x - c[0], y - c[1], z - c[2], c[3], c[4]);
    }
};

template <>
struct Shape<SceneField::kCapsules> {
    static constexpr uint32_t kCodes[] = {record::kCapsule};
    static constexpr std::size_t kColumns = 8;
    static auto at(const auto& c, auto x, auto y, auto z) noexcept {
        return shapes::capsule(x - c[0], y - c[1], z - c[2], c[3], c[4], c[5], c[6], c[7]);
    }
};

template <>
struct Shape<SceneField::kCones> {
    static constexpr uint32_t kCodes[] = {record::kCone};
    static constexpr std::size_t kColumns = 6;
    static auto at(const auto& c, auto x, auto y, auto z) noexcept {
        return shapes::cone(x - c[0], y - c[1], z - c[2], c[3], c[4], c[5]);
    }
};

template <>
struct Shape<SceneField::kTori> {
    static constexpr uint32_t kCodes[] = {record::kTorus};
    static constexpr std::size_t kColumns = 5;
    static auto at(const auto& c, auto x, auto y, auto z) noexcept {
        return shapes::torus(x - c[0], y - c[1], z - c[2], c[3], c[4]);
    }
};

template <>
struct Shape<SceneField::kPlanes> {
    static constexpr uint32_t kCodes[] = {record::kPlane};
    static constexpr std::size_t kColumns = 4;
    static auto at(const auto& c, auto x, auto y, auto z) noexcept {
        return shapes::plane(x, y, z, c[0], c[1], c[2], c[3]);
    }
};

// Calls `f.template operator()<K...>()` with every kind, in kind order.
template <class F>
constexpr decltype(auto) kinds(F&& f) {
    return [&]<std::size_t... K>(std::index_sequence<K...>) -> decltype(auto) {
        return f.template operator()<static_cast<SceneField::Kind>(K)...>();
    }(std::make_index_sequence<SceneField::kKinds>{});
}

constexpr auto kColumns =
    kinds([]<SceneField::Kind... K>() { return std::array{Shape<K>::kColumns...}; });

SceneField::Kind kind_of(uint32_t code) noexcept {
    return kinds([code]<SceneField::Kind... K>() {
        SceneField::Kind kind = SceneField::kKinds;
        (void)((std::ranges::find(Shape<K>::kCodes, code) != std::end(Shape<K>::kCodes) &&
                (kind = K, true)) ||
               ...);
        return kind;
    });
}

// What the kind's formula takes from one record. Everything that depends on
// the record alone is computed here, once, with the same float operations
// the record-by-record formula would make on every query.
Constants constants(const uint8_t* r) noexcept {
    using namespace record;
    const float cx = load_f32(r + kCenterX), cy = load_f32(r + kCenterY),
                cz = load_f32(r + kCenterZ);
    const float p0 = load_f32(r + kParam0), p1 = load_f32(r + kParam1), p2 = load_f32(r + kParam2),
                p3 = load_f32(r + kParam3);
    switch (load_u32(r + kType)) {
        case kBox:
            return {cx, cy, cz, p0, p1, p2, 0.0f};
        case kRoundedBox:
            return {cx, cy, cz, p0, p1, p2, p3};
        case kCapsule: {
            // The ends are rebuilt from the centre and half of B - A, as the
            // shader does, rather than taken from the stored difference.
            const float hx = p0 * 0.5f, hy = p1 * 0.5f, hz = p2 * 0.5f;
            const float ax = cx - hx, ay = cy - hy, az = cz - hz;
            const float bax = (cx + hx) - ax, bay = (cy + hy) - ay, baz = (cz + hz) - az;
            return {ax, ay, az, bax, bay, baz, bax * bax + bay * bay + baz * baz, p3};
        }
        case kCone: {
            float sn, cs;
            sin_cos(p1, sn, cs);
            return {cx, cy, cz, sn, cs, p0 / cs};  // cos(angle) = 0 is not guarded
        }
        default:
            return {cx, cy, cz, p0, p1};  // sphere, cylinder, torus, plane
    }
}

// Column k of a block of four records, read where the formula uses it.
struct Block {
    const float* p;
    uint32_t stride;
    F4 operator[](std::size_t k) const noexcept { return lanes::load(p + k * stride); }
};

// Column k of one record.
struct Record {
    const float* p;
    uint32_t stride;
    float operator[](std::size_t k) const noexcept { return p[k * stride]; }
};

// Evaluates `shape` on a group's records and hands each distance, or block
// of four, to `sink` with the index of the (first) record, until the sink
// has seen enough. A group too small for a block goes one record at a time,
// which answers sooner. The last block overlaps the one before it rather
// than reading past the group: a record seen twice changes neither the
// minimum nor the first record at it.
template <class Shape, class Sink>
void run(const float* columns, uint32_t count, uint32_t first, Shape shape, Sink& out) {
    Sink sink = out;  // in registers: the float columns could alias it
    if (count < kWidth) {
        for (uint32_t i = 0; i < count; ++i) {
            if (!sink(shape(Record{columns + i, count}), first + i)) break;
        }
    } else {
        for (uint32_t i = 0;; i += kWidth) {
            if (i + kWidth > count) i = count - kWidth;
            if (!sink(shape(Block{columns + i, count}), first + i)) break;
            if (i + kWidth == count) break;
        }
    }
    out = sink;
}

// The smallest distance per lane, and of the records taken one at a time.
// Within a lane records come in buffer order and a later one replaces the
// kept one only when strictly less.
struct Nearest {
    F4 per_lane = lanes::splat(kEmptyDistance);
    float single = kEmptyDistance;
    bool operator()(F4 d, uint32_t) noexcept {
        per_lane = lanes::less_or(d, per_lane);
        return true;
    }
    bool operator()(float d, uint32_t) noexcept {
        single = lanes::less_or(d, single);
        return true;
    }
};

// The record with the smallest buffer position among those at distance ±0.
// A group's records come in buffer order, so its walk ends at its first zero
// or once it is past the earliest zero found so far.
struct FirstZero {
    const uint32_t* positions;
    uint32_t position = UINT32_MAX;
    float value = 0.0f;
    bool operator()(float d, uint32_t index) noexcept {
        if (positions[index] > position) return false;
        if (d != 0.0f) return true;
        position = positions[index];
        value = d;
        return false;
    }
    bool operator()(F4 d, uint32_t first) noexcept {
        float v[kWidth];
        lanes::store(v, d);
        for (std::size_t j = 0; j < kWidth; ++j) {
            if (!(*this)(v[j], first + static_cast<uint32_t>(j))) return false;
        }
        return true;
    }
};

}  // namespace

SceneField::SceneField(std::span<const uint8_t> buffer) {
    const std::size_t n = buffer.size() / record::kSize;
    // Positions and counts are 32-bit: 200 GB of records would not fit them.
    if (n > UINT32_MAX) throw std::bad_alloc();
    const auto kind_at = [&](std::size_t i) {
        return kind_of(load_u32(buffer.data() + i * record::kSize + record::kType));
    };
    std::array<uint32_t, kKinds> count{};
    for (std::size_t i = 0; i < n; ++i) {
        if (const Kind kind = kind_at(i); kind != kKinds) ++count[kind];
    }
    std::array<Group*, kKinds> group_of{};
    uint32_t first = 0;
    std::size_t column0 = 0;
    for (std::size_t k = 0; k < kKinds; ++k) {
        if (count[k] == 0) continue;
        few_ = few_ && count[k] < kWidth;
        Group& g = groups_[group_count_++];
        g = {static_cast<Kind>(k), count[k], first, column0};
        group_of[k] = &g;
        first += count[k];
        column0 += count[k] * kColumns[k];
    }
    columns_.resize(column0);
    positions_.resize(first);
    std::array<uint32_t, kKinds> filled{};
    for (std::size_t i = 0; i < n; ++i) {
        const Kind kind = kind_at(i);
        if (kind == kKinds) continue;
        const Group& g = *group_of[kind];
        const uint32_t at = filled[kind]++;
        const Constants c = constants(buffer.data() + i * record::kSize);
        for (std::size_t k = 0; k < kColumns[kind]; ++k)
            columns_[g.column0 + k * g.count + at] = c[k];
        positions_[g.first + at] = static_cast<uint32_t>(i);
    }
}

namespace {

template <SceneField::Kind K, class Sink>
void run_group(const SceneField::Group& g, const float* columns, float px, float py, float pz, F4 x,
               F4 y, F4 z, Sink& sink) noexcept {
    const auto shape = [&](const auto& c) {
        if constexpr (std::is_same_v<decltype(c[0]), float>) {
            return Shape<K>::at(c, px, py, pz);
        } else {
            return Shape<K>::at(c, x, y, z);
        }
    };
    run(columns + g.column0, g.count, g.first, shape, sink);
}

// One small function per kind, called once per kind present in the scene.
template <class Sink>
void visit(std::span<const SceneField::Group> groups, const float* columns, float px, float py,
           float pz, Sink& sink) noexcept {
    using Run = void (*)(const SceneField::Group&, const float*, float, float, float, F4, F4, F4,
                         Sink&) noexcept;
    static constexpr auto kRun = kinds([]<SceneField::Kind... K>() {
        return std::array<Run, sizeof...(K)>{run_group<K, Sink>...};
    });
    const F4 x = lanes::splat(px), y = lanes::splat(py), z = lanes::splat(pz);
    for (const SceneField::Group& g : groups) kRun[g.kind](g, columns, px, py, pz, x, y, z, sink);
}

// The same for scenes where no kind fills a block: one record at a time and
// no call per kind, which answers a small scene soonest.
template <class Sink>
void visit_few(std::span<const SceneField::Group> groups, const float* columns, float px, float py,
               float pz, Sink& sink) noexcept {
    for (const SceneField::Group& g : groups) {
        const auto each = [&]<SceneField::Kind K>() {
            for (uint32_t i = 0; i < g.count; ++i) {
                const Record c{columns + g.column0 + i, g.count};
                if (!sink(Shape<K>::at(c, px, py, pz), g.first + i)) break;
            }
        };
        kinds([&]<SceneField::Kind... K>() {
            (void)((g.kind == K && (each.template operator()<K>(), true)) || ...);
        });
    }
}

}  // namespace

// The union keeps the first record, in buffer order, that is strictly below
// everything before it. Whatever the order of evaluation, that is a record
// holding the smallest distance, and all records holding it have the same
// bits unless the smallest distance is zero: then +0 and -0 tie and the
// earliest zero in the buffer decides the sign. (Cones give exactly zero over
// whole regions of space, so that second walk is not rare.)
float SceneField::distance(float px, float py, float pz) const noexcept {
    Nearest nearest;
    walk(px, py, pz, nearest);
    // Neither holds NaN: any order of comparison finds the same minimum.
    const float best = lanes::less_or(nearest.single, lanes::min_lane(nearest.per_lane));
    return best == 0.0f && positions_.size() > 1 ? first_zero(px, py, pz) : best;
}

float SceneField::first_zero(float px, float py, float pz) const noexcept {
    FirstZero zero{positions_.data()};
    walk(px, py, pz, zero);
    return zero.value;
}

template <class Sink>
void SceneField::walk(float px, float py, float pz, Sink& sink) const noexcept {
    const std::span<const Group> groups{groups_.data(), group_count_};
    if (few_) {
        visit_few(groups, columns_.data(), px, py, pz, sink);
    } else {
        visit(groups, columns_.data(), px, py, pz, sink);
    }
}

namespace {

constexpr float kNormalStep = 0.001f;

// The normal from the central differences of the distance along each axis.
std::array<float, 3> normal_from(float gx, float gy, float gz) noexcept {
    const float len = std::sqrt(gx * gx + gy * gy + gz * gz);
    if (len > 1e-10f) return {gx / len, gy / len, gz / len};
    return {0.0f, 1.0f, 0.0f};
}

}  // namespace

std::array<float, 3> SceneField::normal(float px, float py, float pz) const noexcept {
    constexpr float h = kNormalStep;
    const float gx = distance(px + h, py, pz) - distance(px - h, py, pz);
    const float gy = distance(px, py + h, pz) - distance(px, py - h, pz);
    const float gz = distance(px, py, pz + h) - distance(px, py, pz - h);
    return normal_from(gx, gy, gz);
}

namespace {

// Column k of one record spread over the four lanes.
struct Spread {
    const float* p;
    uint32_t stride;
    F4 operator[](std::size_t k) const noexcept { return lanes::splat(p[k * stride]); }
};

// Points per pass over the records: two blocks of lanes share each record's
// constants and overlap their latencies.
constexpr std::size_t kBlocks = 4;
using Points = std::array<F4, kBlocks>;

// The smallest distance in each lane over a group's records, kept as the
// record walk keeps it: a record replaces the kept one only when strictly less.
template <SceneField::Kind K>
void nearest_in_group(const SceneField::Group& g, const float* columns, const Points& x,
                      const Points& y, const Points& z, Points& best) noexcept {
    const float* c = columns + g.column0;
    // Written out per block, so that the kept minima stay in registers.
    [&]<std::size_t... k>(std::index_sequence<k...>) {
        Points b = best;
        for (uint32_t i = 0; i < g.count; ++i) {
            const Spread record{c + i, g.count};
            ((b[k] = lanes::less_or(Shape<K>::at(record, x[k], y[k], z[k]), b[k])), ...);
        }
        best = b;
    }(std::make_index_sequence<kBlocks>{});
}

}  // namespace

// Every record reaches every lane, and within a lane the minimum over the
// records does not depend on their order; only a zero minimum needs the
// buffer order (its sign), and those lanes take the one-point walk.
void SceneField::distances(const float* x, const float* y, const float* z, std::size_t n,
                           float* out) const noexcept {
    using Nearest = void (*)(const Group&, const float*, const Points&, const Points&,
                             const Points&, Points&) noexcept;
    static constexpr auto kNearest = kinds(
        []<Kind... K>() { return std::array<Nearest, sizeof...(K)>{nearest_in_group<K>...}; });
    const std::span<const Group> groups{groups_.data(), group_count_};
    const bool signed_zeros = positions_.size() > 1;
    constexpr std::size_t kPoints = kWidth * kBlocks;
    for (std::size_t i = 0; i < n; i += kPoints) {
        const std::size_t m = std::min(kPoints, n - i);
        float px[kPoints], py[kPoints], pz[kPoints], d[kPoints];
        for (std::size_t j = 0; j < kPoints; ++j) {
            const std::size_t at = i + std::min(j, m - 1);  // a short pass repeats its last point
            px[j] = x[at];
            py[j] = y[at];
            pz[j] = z[at];
        }
        Points bx, by, bz, best;
        for (std::size_t k = 0; k < kBlocks; ++k) {
            bx[k] = lanes::load(px + k * kWidth);
            by[k] = lanes::load(py + k * kWidth);
            bz[k] = lanes::load(pz + k * kWidth);
            best[k] = lanes::splat(kEmptyDistance);
        }
        for (const Group& g : groups) kNearest[g.kind](g, columns_.data(), bx, by, bz, best);
        for (std::size_t k = 0; k < kBlocks; ++k) lanes::store(d + k * kWidth, best[k]);
        for (std::size_t j = 0; j < m; ++j) {
            out[i + j] = d[j] == 0.0f && signed_zeros ? first_zero(px[j], py[j], pz[j]) : d[j];
        }
    }
}

void SceneField::normals(const float* x, const float* y, const float* z, std::size_t n,
                         float* out) const noexcept {
    // Six offset copies of a few points at a time, each axis in turn.
    constexpr std::size_t kChunk = 64;
    constexpr float h = kNormalStep;
    float px[kChunk], py[kChunk], pz[kChunk], d[6][kChunk];
    for (std::size_t i = 0; i < n; i += kChunk) {
        const std::size_t m = std::min(kChunk, n - i);
        for (std::size_t axis = 0; axis < 3; ++axis) {
            for (std::size_t side = 0; side < 2; ++side) {
                const float* coord[3] = {x + i, y + i, z + i};
                for (std::size_t j = 0; j < m; ++j) {
                    const float c = coord[axis][j];
                    px[j] = x[i + j];
                    py[j] = y[i + j];
                    pz[j] = z[i + j];
                    (axis == 0 ? px : axis == 1 ? py : pz)[j] = side == 0 ? c + h : c - h;
                }
                distances(px, py, pz, m, d[2 * axis + side]);
            }
        }
        for (std::size_t j = 0; j < m; ++j) {
            const auto v = normal_from(d[0][j] - d[1][j], d[2][j] - d[3][j], d[4][j] - d[5][j]);
            out[3 * (i + j)] = v[0];
            out[3 * (i + j) + 1] = v[1];
            out[3 * (i + j) + 2] = v[2];
        }
    }
}

std::size_t SceneField::column_count(Kind kind) noexcept {
    return kind < kKinds ? kColumns[kind] : 0;
}

SceneField::SceneField(const std::array<uint32_t, kKinds>& count, std::vector<uint32_t> positions,
                       std::vector<float> columns) {
    uint64_t first = 0, column0 = 0;
    for (std::size_t k = 0; k < kKinds; ++k) {
        if (count[k] == 0) continue;
        few_ = few_ && count[k] < kWidth;
        groups_[group_count_++] = {static_cast<Kind>(k), count[k], static_cast<uint32_t>(first),
                                   static_cast<std::size_t>(column0)};
        first += count[k];
        column0 += uint64_t{count[k]} * kColumns[k];
    }
    if (first > UINT32_MAX || positions.size() != first || columns.size() != column0)
        throw std::invalid_argument("the columns and positions do not match the record counts");
    positions_ = std::move(positions);
    columns_ = std::move(columns);
}

}  // namespace core
