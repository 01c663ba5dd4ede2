// The smallest distance over a scene field's records at many points, lanes
// holding points and each record's constants spread over them. One source
// for every width of lanes: each translation unit that includes it compiles
// it for its own instruction set, and the field picks one at run time.
#pragma once

#include <algorithm>
#include <bit>
#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <utility>

#include "sdf_collision/kinds.hpp"
#include "sdf_collision/lanes.hpp"
#include "sdf_collision/scene_field.hpp"

namespace core::field {

// Per point, the smallest distance over the records, each compared as the
// record walk compares (strictly less replaces). A zero keeps whichever sign
// its lane met first: the caller settles zeros in buffer order, where it
// matters. True when a record of a kind that can give -0 gave ±0 at some
// point; where none did, every zero is +0 and already settled.
using NearestPoints = bool (*)(std::span<const SceneField::Group> groups, const float* columns,
                               const float* x, const float* y, const float* z, std::size_t n,
                               float* out) noexcept;

// At points whose smallest distance is zero, the distance (+0 or -0) of the
// record earliest in the buffer among those at zero there. `positions` are
// the records' buffer positions, each below 2^24 so that a float holds it.
using FirstZeros = void (*)(std::span<const SceneField::Group> groups, const float* columns,
                            const uint32_t* positions, const float* x, const float* y,
                            const float* z, std::size_t n, float* out) noexcept;

using Reach = SceneField::Reach;

// For cells with centres cx, cy, cz, radii r and the centres' norms, a
// lane each (`cells` of them, any number), the records that can
// hold the smallest distance somewhere in each cell: their indices (in the
// order of the field's positions, ascending) go to lists + c * stride, and
// their number to counts[c].
using CellCandidates = void (*)(std::span<const SceneField::Group> groups, const float* columns,
                                const Reach* reach, const float* cx, const float* cy,
                                const float* cz, const float* r, const float* norm,
                                std::size_t cells, uint32_t* lists, std::size_t stride,
                                uint32_t* counts) noexcept;

// The same kernels at each width.
struct Kernels {
    NearestPoints nearest;
    FirstZeros first_zeros;
    CellCandidates candidates;
};

// Four SSE2 or NEON lanes (plain C++ with CORE_PLAIN_LANES), everywhere.
bool nearest_points_4(std::span<const SceneField::Group> groups, const float* columns,
                      const float* x, const float* y, const float* z, std::size_t n,
                      float* out) noexcept;
void first_zeros_4(std::span<const SceneField::Group> groups, const float* columns,
                   const uint32_t* positions, const float* x, const float* y, const float* z,
                   std::size_t n, float* out) noexcept;
void cell_candidates_4(std::span<const SceneField::Group> groups, const float* columns,
                       const Reach* reach, const float* cx, const float* cy, const float* cz,
                       const float* r, const float* norm, std::size_t cells, uint32_t* lists,
                       std::size_t stride, uint32_t* counts) noexcept;
// Eight AVX2 lanes; only on x86-64, and only where the CPU has AVX2.
bool nearest_points_8(std::span<const SceneField::Group> groups, const float* columns,
                      const float* x, const float* y, const float* z, std::size_t n,
                      float* out) noexcept;
void first_zeros_8(std::span<const SceneField::Group> groups, const float* columns,
                   const uint32_t* positions, const float* x, const float* y, const float* z,
                   std::size_t n, float* out) noexcept;
void cell_candidates_8(std::span<const SceneField::Group> groups, const float* columns,
                       const Reach* reach, const float* cx, const float* cy, const float* cz,
                       const float* r, const float* norm, std::size_t cells, uint32_t* lists,
                       std::size_t stride, uint32_t* counts) noexcept;
// Sixteen AVX-512 lanes; only on x86-64, and only where the CPU has them.
bool nearest_points_16(std::span<const SceneField::Group> groups, const float* columns,
                       const float* x, const float* y, const float* z, std::size_t n,
                       float* out) noexcept;
void first_zeros_16(std::span<const SceneField::Group> groups, const float* columns,
                    const uint32_t* positions, const float* x, const float* y, const float* z,
                    std::size_t n, float* out) noexcept;
void cell_candidates_16(std::span<const SceneField::Group> groups, const float* columns,
                        const Reach* reach, const float* cx, const float* cy, const float* cz,
                        const float* r, const float* norm, std::size_t cells, uint32_t* lists,
                        std::size_t stride, uint32_t* counts) noexcept;

inline namespace CORE_LANES_ISA {

// A record's columns, each spread over the lanes; written out so that the
// compiler keeps them in registers.
template <class V, std::size_t Columns>
std::array<V, Columns> spread(const float* c, uint32_t stride) noexcept {
    return [&]<std::size_t... k>(std::index_sequence<k...>) {
        return std::array<V, Columns>{lanes::constant<V>(c[k * stride])...};
    }(std::make_index_sequence<Columns>{});
}

// The smallest distance in each lane over a group's records, kept as the
// record walk keeps it: a record replaces the kept one only when strictly
// less. A record's constants stay in registers while the points stream past
// them from the first level of cache. True when a kind that can give -0
// gave ±0 somewhere.
template <class V, SceneField::Kind K>
bool nearest_in_group(const SceneField::Group& g, const float* columns, const float* x,
                      const float* y, const float* z, std::size_t n, float* best) noexcept {
    constexpr std::size_t kWidth = lanes::kLanes<V>;
    constexpr std::size_t kColumns = Shape<K>::kColumns;
    const float* c = columns + g.column0;
    unsigned zeros = 0;
    for (uint32_t i = 0; i < g.count; ++i) {
        const auto record = spread<V, kColumns>(c + i, g.count);
        for (std::size_t j = 0; j < n; j += kWidth) {
            const V d = Shape<K>::at(record, lanes::load_as<V>(x + j), lanes::load_as<V>(y + j),
                                     lanes::load_as<V>(z + j));
            if constexpr (Shape<K>::kNegativeZero) zeros |= lanes::zero_lanes(d);
            lanes::store(best + j, lanes::less_or(d, lanes::load_as<V>(best + j)));
        }
    }
    return zeros != 0;
}

// The record earliest in the buffer at distance ±0 in each lane: `where`
// holds its position (+inf while none) and `value` its distance. Positions
// are compared, not visiting order, so groups may come in any order.
template <class V, SceneField::Kind K>
void first_zero_in_group(const SceneField::Group& g, const float* columns,
                         const uint32_t* positions, const float* x, const float* y, const float* z,
                         std::size_t n, float* where, float* value) noexcept {
    constexpr std::size_t kWidth = lanes::kLanes<V>;
    constexpr std::size_t kColumns = Shape<K>::kColumns;
    const float* c = columns + g.column0;
    const V zero_below = lanes::constant<V>(std::numeric_limits<float>::denorm_min());
    const V none = lanes::constant<V>(std::numeric_limits<float>::infinity());
    for (uint32_t i = 0; i < g.count; ++i) {
        const auto record = spread<V, kColumns>(c + i, g.count);
        const V position = lanes::constant<V>(static_cast<float>(positions[g.first + i]));
        for (std::size_t j = 0; j < n; j += kWidth) {
            const V d = Shape<K>::at(record, lanes::load_as<V>(x + j), lanes::load_as<V>(y + j),
                                     lanes::load_as<V>(z + j));
            const V key = lanes::select(lanes::abs(d) < zero_below, position, none);
            const V w = lanes::load_as<V>(where + j);
            const auto earlier = key < w;
            lanes::store(where + j, lanes::select(earlier, key, w));
            lanes::store(value + j, lanes::select(earlier, d, lanes::load_as<V>(value + j)));
        }
    }
}

// Points a pass: their coordinates and results stay in the first level of
// cache while every record passes over them. A full pass reads and writes the
// caller's columns in place; a short one copies its points and repeats the
// last up to a whole number of lanes.
constexpr std::size_t kPassPoints = 256;

template <class V, class Each>
void by_passes(const float* x, const float* y, const float* z, std::size_t n, float* out,
               float start, const Each& each) noexcept {
    constexpr std::size_t kWidth = lanes::kLanes<V>;
    static_assert(kPassPoints % kWidth == 0);
    alignas(64) float px[kPassPoints], py[kPassPoints], pz[kPassPoints], result[kPassPoints];
    const V first = lanes::constant<V>(start);
    for (std::size_t i = 0; i < n; i += kPassPoints) {
        const std::size_t m = std::min(kPassPoints, n - i);
        if (m == kPassPoints) {
            for (std::size_t j = 0; j < m; j += kWidth) lanes::store(out + i + j, first);
            each(x + i, y + i, z + i, m, out + i);
            continue;
        }
        const std::size_t lanes_m = (m + kWidth - 1) / kWidth * kWidth;
        for (std::size_t j = 0; j < lanes_m; ++j) {
            const std::size_t at = i + std::min(j, m - 1);
            px[j] = x[at];
            py[j] = y[at];
            pz[j] = z[at];
            result[j] = start;
        }
        each(px, py, pz, lanes_m, result);
        for (std::size_t j = 0; j < m; ++j) out[i + j] = result[j];
    }
}

template <class V>
bool nearest_points(std::span<const SceneField::Group> groups, const float* columns, const float* x,
                    const float* y, const float* z, std::size_t n, float* out) noexcept {
    using Nearest = bool (*)(const SceneField::Group&, const float*, const float*, const float*,
                             const float*, std::size_t, float*) noexcept;
    static constexpr auto kNearest = kinds([]<SceneField::Kind... K>() {
        return std::array<Nearest, sizeof...(K)>{nearest_in_group<V, K>...};
    });
    bool signed_zeros = false;
    by_passes<V>(x, y, z, n, out, kEmptyDistance,
                 [&](const float* px, const float* py, const float* pz, std::size_t m,
                     float* best) noexcept {
                     for (const SceneField::Group& g : groups)
                         signed_zeros |= kNearest[g.kind](g, columns, px, py, pz, m, best);
                 });
    return signed_zeros;
}

template <class V>
void first_zeros(std::span<const SceneField::Group> groups, const float* columns,
                 const uint32_t* positions, const float* x, const float* y, const float* z,
                 std::size_t n, float* out) noexcept {
    using FirstZero =
        void (*)(const SceneField::Group&, const float*, const uint32_t*, const float*,
                 const float*, const float*, std::size_t, float*, float*) noexcept;
    static constexpr auto kFirstZero = kinds([]<SceneField::Kind... K>() {
        return std::array<FirstZero, sizeof...(K)>{first_zero_in_group<V, K>...};
    });
    by_passes<V>(x, y, z, n, out, 0.0f,
                 [&](const float* px, const float* py, const float* pz, std::size_t m,
                     float* value) noexcept {
                     alignas(64) float where[kPassPoints];
                     std::fill_n(where, m, std::numeric_limits<float>::infinity());
                     for (const SceneField::Group& g : groups)
                         kFirstZero[g.kind](g, columns, positions, px, py, pz, m, where, value);
                 });
}

// How far a record's distance can move across each cell, formula rounding
// on both sides included: lipschitz * radius plus twice 2^-16 of the
// magnitudes the formula meets (the point's and the columns'), far above
// the few dozen units in the last place its operations can lose, so that
// this arithmetic's own rounding is covered too.
template <class V>
V cell_slack(const Reach& reach, V r, V norm) noexcept {
    const V size = lanes::constant<V>(reach.size);
    const V error =
        lanes::constant<V>(0x1p-15f) * ((norm + r + size) * (lanes::constant<V>(1.0f) + size)) +
        lanes::constant<V>(0x1p-40f);
    return lanes::constant<V>(reach.lipschitz) * r + error;
}

// Pass 1 (`lists` null): the least upper bound over the group's records,
// into `best`. Pass 2: the records whose lower bound is not above `best`
// (NaN included) join their cells' lists.
template <class V, SceneField::Kind K>
void cell_bounds(const SceneField::Group& g, const float* columns, const Reach* reach, V cx, V cy,
                 V cz, V r, V norm, unsigned live, V& best, uint32_t* lists, std::size_t stride,
                 uint32_t* counts) noexcept {
    constexpr std::size_t kColumns = Shape<K>::kColumns;
    const float* c = columns + g.column0;
    for (uint32_t i = 0; i < g.count; ++i) {
        const uint32_t index = g.first + i;
        const Reach& k = reach[index];
        if (!(k.lipschitz < std::numeric_limits<float>::infinity())) {
            for (unsigned b = live; lists != nullptr && b != 0; b &= b - 1) {
                const auto cell = static_cast<std::size_t>(std::countr_zero(b));
                lists[cell * stride + counts[cell]++] = index;
            }
            continue;
        }
        const V d = Shape<K>::at(spread<V, kColumns>(c + i, g.count), cx, cy, cz);
        const V slack = cell_slack(k, r, norm);
        if (lists == nullptr) {
            best = lanes::less_or(d + slack, best);
            continue;
        }
        for (unsigned b = live & ~lanes::bits(best <= d - slack); b != 0; b &= b - 1) {
            const auto cell = static_cast<std::size_t>(std::countr_zero(b));
            lists[cell * stride + counts[cell]++] = index;
        }
    }
}

template <class V>
void cell_candidates(std::span<const SceneField::Group> groups, const float* columns,
                     const Reach* reach, const float* cx, const float* cy, const float* cz,
                     const float* r, const float* norm, std::size_t cells, uint32_t* lists,
                     std::size_t stride, uint32_t* counts) noexcept {
    constexpr std::size_t kWidth = lanes::kLanes<V>;
    using Bounds = void (*)(const SceneField::Group&, const float*, const Reach*, V, V, V, V, V,
                            unsigned, V&, uint32_t*, std::size_t, uint32_t*) noexcept;
    static constexpr auto kBounds = kinds([]<SceneField::Kind... K>() {
        return std::array<Bounds, sizeof...(K)>{cell_bounds<V, K>...};
    });
    for (std::size_t first = 0; first < cells; first += kWidth) {
        const std::size_t m = std::min(kWidth, cells - first);
        alignas(64) float v[5][kWidth];
        for (std::size_t j = 0; j < kWidth; ++j) {
            const std::size_t at = first + std::min(j, m - 1);
            v[0][j] = cx[at], v[1][j] = cy[at], v[2][j] = cz[at], v[3][j] = r[at],
            v[4][j] = norm[at];
        }
        const V x = lanes::load_as<V>(v[0]), y = lanes::load_as<V>(v[1]),
                z = lanes::load_as<V>(v[2]), radius = lanes::load_as<V>(v[3]),
                size = lanes::load_as<V>(v[4]);
        const unsigned live = (1u << m) - 1;
        uint32_t* batch_lists = lists + first * stride;
        uint32_t* batch_counts = counts + first;
        V best = lanes::constant<V>(std::numeric_limits<float>::infinity());
        for (const SceneField::Group& g : groups)
            kBounds[g.kind](g, columns, reach, x, y, z, radius, size, live, best, nullptr, stride,
                            batch_counts);
        std::fill_n(batch_counts, m, 0u);
        for (const SceneField::Group& g : groups)
            kBounds[g.kind](g, columns, reach, x, y, z, radius, size, live, best, batch_lists,
                            stride, batch_counts);
    }
}

}  // namespace CORE_LANES_ISA
}  // namespace core::field
