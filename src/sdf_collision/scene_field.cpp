#include "sdf_collision/scene_field.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <iterator>
#include <limits>
#include <new>
#include <stdexcept>
#include <type_traits>
#include <utility>

#include "common/trig.hpp"
#include "sdf/record.hpp"
#include "sdf_collision/kinds.hpp"
#include "sdf_collision/nearest_points.hpp"
#include "sdf_collision/point_cells.hpp"
#include "sdf_collision/shapes.hpp"

namespace core {

namespace {

using field::kColumns;
using field::kinds;
using field::Shape;
using lanes::F4;
using lanes::kWidth;
using Constants = std::array<float, 8>;

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
    const auto [first, column0] = lay_out(count);
    std::array<const Group*, kKinds> group_of{};
    for (const Group& g : groups()) group_of[g.kind] = &g;
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
    reach_records();
}

namespace {

// Each record's reach (see SceneField::Reach). A column beyond 2^40 (or not
// a number) leaves the record in every cell: the rounding bounds the cells
// rely on assume moderate magnitudes.
template <SceneField::Kind K>
void reach_group(const SceneField::Group& g, const float* columns,
                 SceneField::Reach* reach) noexcept {
    for (uint32_t i = 0; i < g.count; ++i) {
        const Record c{columns + g.column0 + i, g.count};
        double size = 0.0;
        bool moderate = true;
        for (std::size_t k = 0; k < Shape<K>::kColumns; ++k) {
            const double v = std::fabs(double{c[k]});
            moderate = moderate && v <= 0x1p40;  // false for NaN
            size += v;
        }
        reach[g.first + i] =
            moderate ? SceneField::Reach{float_above(Shape<K>::lipschitz(c) * (1 + 0x1p-20)),
                                         float_above(size * (1 + 0x1p-40))}
                     : SceneField::Reach{std::numeric_limits<float>::infinity(), 0.0f};
    }
}

}  // namespace

void SceneField::reach_records() {
    reach_.assign(positions_.size(), Reach{});
    for (const Group& g : groups()) {
        kinds([&]<Kind... K>() {
            (void)((g.kind == K && (reach_group<K>(g, columns_.data(), reach_.data()), true)) ||
                   ...);
        });
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
    return best == 0.0f && signed_zeros_ ? first_zero(px, py, pz) : best;
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

// The widest lanes this CPU runs, unless the build fixes them
// (CORE_LANES=sse2, avx2 or avx512 in CMake) so that tests can hold each to
// the plain lanes.
field::Kernels widest_lanes() noexcept {
    constexpr field::Kernels k4{field::nearest_points_4, field::first_zeros_4,
                                field::cell_candidates_4};
    constexpr field::Kernels k8{field::nearest_points_8, field::first_zeros_8,
                                field::cell_candidates_8};
    constexpr field::Kernels k16{field::nearest_points_16, field::first_zeros_16,
                                 field::cell_candidates_16};
    (void)k4, (void)k8, (void)k16;
#if defined(CORE_LANES_ALWAYS_AVX512)
    return k16;
#elif defined(CORE_LANES_ALWAYS_AVX2)
    return k8;
#elif defined(__x86_64__) && !defined(CORE_PLAIN_LANES) && !defined(CORE_LANES_NO_AVX2)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f")) return k16;
    return __builtin_cpu_supports("avx2") ? k8 : k4;
#else
    return k4;
#endif
}

const field::Kernels kernels = widest_lanes();

// Positions a float holds exactly, for the lanes that settle zeros.
constexpr std::size_t kExactPositions = std::size_t{1} << 24;

// Cells pay from this many records on, in calls of this many points on,
// about this many points to a cell.
constexpr std::size_t kCellRecords = 64;
constexpr std::size_t kCellPoints = 2048;
constexpr std::size_t kPointsPerCell = 128;

}  // namespace

// The records' minimum at many points through the widest lanes (by cells
// where that pays), then the sign of exact zeros settled where a record
// that can give -0 met one.
void SceneField::distances(const float* x, const float* y, const float* z, std::size_t n,
                           float* out) const noexcept {
    // A few points answer sooner one at a time, each record block filling
    // the lanes, than as a pass of points that mostly repeat the last.
    constexpr std::size_t kFewPoints = 4;
    if (n <= kFewPoints) {
        for (std::size_t j = 0; j < n; ++j) out[j] = distance(x[j], y[j], z[j]);
        return;
    }
    if (cell_block() != 0 && n >= kCellPoints) return distances_by_cells(x, y, z, n, out);
    if (kernels.nearest(groups(), columns_.data(), x, y, z, n, out)) settle_zeros(x, y, z, n, out);
}

void SceneField::distances_by_cells(const float* x, const float* y, const float* z, std::size_t n,
                                    float* out) const noexcept {
    try {
        if (n > UINT32_MAX) throw std::bad_alloc();  // the sort counts in 32 bits
        nearest_by_cells(x, y, z, n, out);
    } catch (const std::bad_alloc&) {
        kernels.nearest(groups(), columns_.data(), x, y, z, n, out);
    }
    settle_zeros(x, y, z, n, out);
}

std::size_t SceneField::cell_block() const noexcept {
    // Enough points for cells of kPointsPerCell to be small, but a block's
    // work bounded even where no record can be left out.
    if (positions_.size() < kCellRecords) return 0;
    return std::clamp<std::size_t>((std::size_t{1} << 26) / positions_.size(), 4096, 65536);
}

void SceneField::nearest_by_cells(const float* x, const float* y, const float* z, std::size_t n,
                                  float* out) const {
    const std::span<const Group> all = groups();
    const std::size_t records = positions_.size();
    // Kept from call to call on each thread, the first touch of fresh
    // memory costing more than the sort, unless a call was out of the
    // ordinary (cell_block() keeps calls in bounds).
    struct Workspace {
        PointCells cells;
        std::vector<uint32_t> lists;
        std::vector<float> chosen, result;
    };
    thread_local Workspace kept;
    Workspace fresh;
    Workspace& w = n <= (std::size_t{1} << 16) && records <= (std::size_t{1} << 16) ? kept : fresh;
    PointCells& cells = w.cells;
    cells.sort(x, y, z, n, kPointsPerCell);
    // Cells a batch: their lists take at most a megabyte.
    constexpr std::size_t kBatch = 16;
    const std::size_t batch = std::clamp<std::size_t>(
        (std::size_t{1} << 18) / std::max<std::size_t>(records, 1), 1, kBatch);
    w.lists.resize(batch * records);
    w.result.resize(n);
    std::vector<uint32_t>& lists = w.lists;
    std::vector<float>& chosen = w.chosen;
    std::vector<float>& result = w.result;
    // Points off the grid (not numbers, or beyond 2^40) meet every record.
    if (const std::size_t placed = cells.placed(); placed < n) {
        kernels.nearest(all, columns_.data(), cells.x() + placed, cells.y() + placed,
                        cells.z() + placed, n - placed, result.data() + placed);
    }
    uint32_t counts[kBatch];
    float cx[kBatch], cy[kBatch], cz[kBatch], radius[kBatch], norm[kBatch];
    const auto grid = cells.cells();
    for (std::size_t b = 0; b < grid.size(); b += batch) {
        const std::size_t m = std::min(batch, grid.size() - b);
        for (std::size_t j = 0; j < m; ++j) {
            const PointCells::Cell& c = grid[b + j];
            cx[j] = c.x, cy[j] = c.y, cz[j] = c.z, radius[j] = c.radius, norm[j] = c.norm;
        }
        kernels.candidates(all, columns_.data(), reach_.data(), cx, cy, cz, radius, norm, m,
                           lists.data(), records, counts);
        for (std::size_t j = 0; j < m; ++j) {
            // The candidates' columns, kind by kind as the field lays them out
            // (a list is in ascending record order, so kinds come in turn).
            const uint32_t* list = lists.data() + j * records;
            if (chosen.size() < 8 * std::size_t{counts[j]})
                chosen.resize(8 * std::size_t{counts[j]});
            std::array<Group, kKinds> some;
            std::size_t kinds_seen = 0, column = 0, g = 0;
            for (std::size_t at = 0; at < counts[j];) {
                while (list[at] >= all[g].first + all[g].count) ++g;
                std::size_t end = at;
                while (end < counts[j] && list[end] < all[g].first + all[g].count) ++end;
                const auto k = static_cast<uint32_t>(end - at);
                some[kinds_seen++] = {all[g].kind, k, 0, column};
                for (std::size_t col = 0; col < kColumns[all[g].kind]; ++col) {
                    const float* from = columns_.data() + all[g].column0 + col * all[g].count;
                    for (uint32_t q = 0; q < k; ++q)
                        chosen[column + col * k + q] = from[list[at + q] - all[g].first];
                }
                column += std::size_t{k} * kColumns[all[g].kind];
                at = end;
            }
            const PointCells::Cell& c = grid[b + j];
            kernels.nearest({some.data(), kinds_seen}, chosen.data(), cells.x() + c.begin,
                            cells.y() + c.begin, cells.z() + c.begin, c.end - c.begin,
                            result.data() + c.begin);
        }
    }
    const auto order = cells.order();
    for (std::size_t j = 0; j < order.size(); ++j) out[order[j]] = result[j];
}

// Every record reaches every lane, and within a lane the minimum over the
// records does not depend on their order; only a zero minimum needs the
// buffer order (its sign): those points go through the lanes again, keeping
// the earliest record at zero (cones give exact zeros over whole regions,
// so there can be many).
void SceneField::settle_zeros(const float* x, const float* y, const float* z, std::size_t n,
                              float* out) const noexcept {
    if (!signed_zeros_) return;
    const std::span<const Group> groups = this->groups();
    // Only planes give -0: where none of them does, every record at zero
    // gives +0; where the earliest plane at zero gives +0, so does the
    // earliest record. The rest need every record's position.
    constexpr auto kNegativeZero =
        kinds([]<Kind... K>() { return std::array{Shape<K>::kNegativeZero...}; });
    std::array<Group, kKinds> signed_groups;
    std::size_t signed_count = 0;
    for (const Group& g : groups) {
        if (kNegativeZero[g.kind]) signed_groups[signed_count++] = g;
    }
    if (positions_.size() > kExactPositions) {
        for (std::size_t j = 0; j < n; ++j)
            if (out[j] == 0.0f) out[j] = first_zero(x[j], y[j], z[j]);
        return;
    }
    constexpr std::size_t kBatch = 256;
    float zx[kBatch], zy[kBatch], zz[kBatch], zd[kBatch];
    std::size_t at[kBatch], k = 0;
    const auto settle = [&] {
        for (std::size_t q = 0; q < k; ++q) zx[q] = x[at[q]], zy[q] = y[at[q]], zz[q] = z[at[q]];
        kernels.first_zeros({signed_groups.data(), signed_count}, columns_.data(),
                            positions_.data(), zx, zy, zz, k, zd);
        std::size_t q2 = 0;
        for (std::size_t q = 0; q < k; ++q) {
            out[at[q]] = zd[q];
            if (!std::signbit(zd[q])) continue;
            zx[q2] = zx[q], zy[q2] = zy[q], zz[q2] = zz[q], at[q2++] = at[q];
        }
        kernels.first_zeros(groups, columns_.data(), positions_.data(), zx, zy, zz, q2, zd);
        for (std::size_t q = 0; q < q2; ++q) out[at[q]] = zd[q];
        k = 0;
    };
    const auto zero_at = [&](std::size_t j) {
        at[k++] = j;
        if (k == kBatch) settle();
    };
    std::size_t j = 0;
    for (; j + kWidth <= n; j += kWidth) {
        for (unsigned bits = lanes::zero_lanes(lanes::load(out + j)); bits != 0; bits &= bits - 1)
            zero_at(j + static_cast<std::size_t>(std::countr_zero(bits)));
    }
    for (; j < n; ++j) {
        if (out[j] == 0.0f) zero_at(j);
    }
    if (k > 0) settle();
}

void SceneField::normals(const float* x, const float* y, const float* z, std::size_t n,
                         float* out) const noexcept {
    // Six offset copies of a few points at a time, each axis in turn, all
    // through the lanes at once.
    constexpr std::size_t kChunk = 64;
    constexpr float h = kNormalStep;
    float px[6 * kChunk], py[6 * kChunk], pz[6 * kChunk], d[6 * kChunk];
    for (std::size_t i = 0; i < n; i += kChunk) {
        const std::size_t m = std::min(kChunk, n - i);
        for (std::size_t axis = 0; axis < 3; ++axis) {
            for (std::size_t side = 0; side < 2; ++side) {
                const std::size_t at = (2 * axis + side) * m;
                const float* coord[3] = {x + i, y + i, z + i};
                for (std::size_t j = 0; j < m; ++j) {
                    const float c = coord[axis][j];
                    px[at + j] = x[i + j];
                    py[at + j] = y[i + j];
                    pz[at + j] = z[i + j];
                    (axis == 0 ? px : axis == 1 ? py : pz)[at + j] = side == 0 ? c + h : c - h;
                }
            }
        }
        distances(px, py, pz, 6 * m, d);
        for (std::size_t j = 0; j < m; ++j) {
            const auto v = normal_from(d[j] - d[m + j], d[2 * m + j] - d[3 * m + j],
                                       d[4 * m + j] - d[5 * m + j]);
            out[3 * (i + j)] = v[0];
            out[3 * (i + j) + 1] = v[1];
            out[3 * (i + j) + 2] = v[2];
        }
    }
}

std::size_t SceneField::column_count(Kind kind) noexcept {
    return kind < kKinds ? kColumns[kind] : 0;
}

std::pair<std::size_t, std::size_t> SceneField::lay_out(const std::array<uint32_t, kKinds>& count) {
    uint64_t first = 0, column0 = 0;
    for (std::size_t k = 0; k < kKinds; ++k) {
        if (count[k] == 0) continue;
        few_ = few_ && count[k] < kWidth;
        groups_[group_count_++] = {static_cast<Kind>(k), count[k], static_cast<uint32_t>(first),
                                   static_cast<std::size_t>(column0)};
        first += count[k];
        column0 += uint64_t{count[k]} * kColumns[k];
    }
    // Positions and counts are 32-bit: 200 GB of records would not fit them.
    if (first > UINT32_MAX) throw std::bad_alloc();
    constexpr auto kNegativeZero =
        kinds([]<Kind... K>() { return std::array{Shape<K>::kNegativeZero...}; });
    for (std::size_t k = 0; k < kKinds; ++k)
        signed_zeros_ = signed_zeros_ || (first > 1 && count[k] > 0 && kNegativeZero[k]);
    return {static_cast<std::size_t>(first), static_cast<std::size_t>(column0)};
}

SceneField::SceneField(const std::array<uint32_t, kKinds>& count, std::vector<uint32_t> positions,
                       std::vector<float> columns) {
    const auto [first, column0] = lay_out(count);
    if (positions.size() != first || columns.size() != column0)
        throw std::invalid_argument("the columns and positions do not match the record counts");
    // A zero minimum is settled by buffer order, which needs each kind's
    // records in ascending position, as decoding leaves them.
    for (const Group& g : groups())
        for (uint32_t i = g.first + 1; i < g.first + g.count; ++i)
            if (positions[i] <= positions[i - 1])
                throw std::invalid_argument("the record positions are not ascending");
    positions_ = std::move(positions);
    columns_ = std::move(columns);
    reach_records();
}

namespace field {

bool nearest_points_4(std::span<const SceneField::Group> groups, const float* columns,
                      const float* x, const float* y, const float* z, std::size_t n,
                      float* out) noexcept {
    return nearest_points<lanes::F4>(groups, columns, x, y, z, n, out);
}

void first_zeros_4(std::span<const SceneField::Group> groups, const float* columns,
                   const uint32_t* positions, const float* x, const float* y, const float* z,
                   std::size_t n, float* out) noexcept {
    first_zeros<lanes::F4>(groups, columns, positions, x, y, z, n, out);
}

void cell_candidates_4(std::span<const SceneField::Group> groups, const float* columns,
                       const Reach* reach, const float* cx, const float* cy, const float* cz,
                       const float* r, const float* norm, std::size_t cells, uint32_t* lists,
                       std::size_t stride, uint32_t* counts) noexcept {
    cell_candidates<lanes::F4>(groups, columns, reach, cx, cy, cz, r, norm, cells, lists, stride,
                               counts);
}

}  // namespace field

}  // namespace core
