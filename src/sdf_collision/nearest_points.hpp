// The smallest distance over a scene field's records at many points, lanes
// holding points and each record's constants spread over them. One source
// for every width of lanes: each translation unit that includes it compiles
// it for its own instruction set, and the field picks one at run time.
#pragma once

#include <algorithm>
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
// its lane met first: the caller settles zeros in buffer order.
using NearestPoints = void (*)(std::span<const SceneField::Group> groups, const float* columns,
                               const float* x, const float* y, const float* z, std::size_t n,
                               float* out) noexcept;

// At points whose smallest distance is zero, the distance (+0 or -0) of the
// record earliest in the buffer among those at zero there. `positions` are
// the records' buffer positions, each below 2^24 so that a float holds it.
using FirstZeros = void (*)(std::span<const SceneField::Group> groups, const float* columns,
                            const uint32_t* positions, const float* x, const float* y,
                            const float* z, std::size_t n, float* out) noexcept;

// The same two kernels at each width.
struct Kernels {
    NearestPoints nearest;
    FirstZeros first_zeros;
};

// Four SSE2 or NEON lanes (plain C++ with CORE_PLAIN_LANES), everywhere.
void nearest_points_4(std::span<const SceneField::Group> groups, const float* columns,
                      const float* x, const float* y, const float* z, std::size_t n,
                      float* out) noexcept;
void first_zeros_4(std::span<const SceneField::Group> groups, const float* columns,
                   const uint32_t* positions, const float* x, const float* y, const float* z,
                   std::size_t n, float* out) noexcept;
// Eight AVX2 lanes; only on x86-64, and only where the CPU has AVX2.
void nearest_points_8(std::span<const SceneField::Group> groups, const float* columns,
                      const float* x, const float* y, const float* z, std::size_t n,
                      float* out) noexcept;
void first_zeros_8(std::span<const SceneField::Group> groups, const float* columns,
                   const uint32_t* positions, const float* x, const float* y, const float* z,
                   std::size_t n, float* out) noexcept;
// Sixteen AVX-512 lanes; only on x86-64, and only where the CPU has them.
void nearest_points_16(std::span<const SceneField::Group> groups, const float* columns,
                       const float* x, const float* y, const float* z, std::size_t n,
                       float* out) noexcept;
void first_zeros_16(std::span<const SceneField::Group> groups, const float* columns,
                    const uint32_t* positions, const float* x, const float* y, const float* z,
                    std::size_t n, float* out) noexcept;

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
// them from the first level of cache.
template <class V, SceneField::Kind K>
void nearest_in_group(const SceneField::Group& g, const float* columns, const float* x,
                      const float* y, const float* z, std::size_t n, float* best) noexcept {
    constexpr std::size_t kWidth = lanes::kLanes<V>;
    constexpr std::size_t kColumns = Shape<K>::kColumns;
    const float* c = columns + g.column0;
    for (uint32_t i = 0; i < g.count; ++i) {
        const auto record = spread<V, kColumns>(c + i, g.count);
        for (std::size_t j = 0; j < n; j += kWidth) {
            const V d = Shape<K>::at(record, lanes::load_as<V>(x + j), lanes::load_as<V>(y + j),
                                     lanes::load_as<V>(z + j));
            lanes::store(best + j, lanes::less_or(d, lanes::load_as<V>(best + j)));
        }
    }
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
void nearest_points(std::span<const SceneField::Group> groups, const float* columns, const float* x,
                    const float* y, const float* z, std::size_t n, float* out) noexcept {
    using Nearest = void (*)(const SceneField::Group&, const float*, const float*, const float*,
                             const float*, std::size_t, float*) noexcept;
    static constexpr auto kNearest = kinds([]<SceneField::Kind... K>() {
        return std::array<Nearest, sizeof...(K)>{nearest_in_group<V, K>...};
    });
    by_passes<V>(x, y, z, n, out, kEmptyDistance,
                 [&](const float* px, const float* py, const float* pz, std::size_t m,
                     float* best) noexcept {
                     for (const SceneField::Group& g : groups)
                         kNearest[g.kind](g, columns, px, py, pz, m, best);
                 });
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

}  // namespace CORE_LANES_ISA
}  // namespace core::field
