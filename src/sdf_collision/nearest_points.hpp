// The smallest distance over a scene field's records at many points, lanes
// holding points and each record's constants spread over them. One source
// for every width of lanes: each translation unit that includes it compiles
// it for its own instruction set, and the field picks one at run time.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
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

// Four SSE2 or NEON lanes (plain C++ with CORE_PLAIN_LANES), everywhere.
void nearest_points_4(std::span<const SceneField::Group> groups, const float* columns,
                      const float* x, const float* y, const float* z, std::size_t n,
                      float* out) noexcept;
// Eight AVX2 lanes; only on x86-64, and only where the CPU has AVX2.
void nearest_points_8(std::span<const SceneField::Group> groups, const float* columns,
                      const float* x, const float* y, const float* z, std::size_t n,
                      float* out) noexcept;
// Sixteen AVX-512 lanes; only on x86-64, and only where the CPU has them.
void nearest_points_16(std::span<const SceneField::Group> groups, const float* columns,
                       const float* x, const float* y, const float* z, std::size_t n,
                       float* out) noexcept;

inline namespace CORE_LANES_ISA {

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
        std::array<V, kColumns> record;
        for (std::size_t k = 0; k < kColumns; ++k) record[k] = lanes::constant<V>(c[k * g.count + i]);
        for (std::size_t j = 0; j < n; j += kWidth) {
            const V d = Shape<K>::at(record, lanes::load_as<V>(x + j), lanes::load_as<V>(y + j),
                                     lanes::load_as<V>(z + j));
            lanes::store(best + j, lanes::less_or(d, lanes::load_as<V>(best + j)));
        }
    }
}

// Points a pass: their coordinates and minima stay in the first level of
// cache while every record passes over them. A short pass repeats its last
// point up to a whole number of lanes.
template <class V>
void nearest_points(std::span<const SceneField::Group> groups, const float* columns,
                    const float* x, const float* y, const float* z, std::size_t n,
                    float* out) noexcept {
    using Nearest = void (*)(const SceneField::Group&, const float*, const float*, const float*,
                             const float*, std::size_t, float*) noexcept;
    static constexpr auto kNearest = kinds([]<SceneField::Kind... K>() {
        return std::array<Nearest, sizeof...(K)>{nearest_in_group<V, K>...};
    });
    constexpr std::size_t kWidth = lanes::kLanes<V>;
    constexpr std::size_t kPoints = 256;
    static_assert(kPoints % kWidth == 0);
    alignas(64) float px[kPoints], py[kPoints], pz[kPoints], best[kPoints];
    for (std::size_t i = 0; i < n; i += kPoints) {
        const std::size_t m = std::min(kPoints, n - i);
        const std::size_t lanes_m = (m + kWidth - 1) / kWidth * kWidth;
        for (std::size_t j = 0; j < lanes_m; ++j) {
            const std::size_t at = i + std::min(j, m - 1);
            px[j] = x[at];
            py[j] = y[at];
            pz[j] = z[at];
            best[j] = kEmptyDistance;
        }
        for (const SceneField::Group& g : groups)
            kNearest[g.kind](g, columns, px, py, pz, lanes_m, best);
        for (std::size_t j = 0; j < m; ++j) out[i + j] = best[j];
    }
}

}  // namespace CORE_LANES_ISA
}  // namespace core::field
