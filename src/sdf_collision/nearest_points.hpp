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

inline namespace CORE_LANES_ISA {

// Column k of one record spread over the lanes.
template <class V>
struct Spread {
    const float* p;
    uint32_t stride;
    V operator[](std::size_t k) const noexcept { return lanes::constant<V>(p[k * stride]); }
};

// The smallest distance in each lane over a group's records, kept as the
// record walk keeps it: a record replaces the kept one only when strictly less.
template <class V, SceneField::Kind K, std::size_t Blocks>
void nearest_in_group(const SceneField::Group& g, const float* columns,
                      const std::array<V, Blocks>& x, const std::array<V, Blocks>& y,
                      const std::array<V, Blocks>& z, std::array<V, Blocks>& best) noexcept {
    const float* c = columns + g.column0;
    // Written out per block, so that the kept minima stay in registers.
    [&]<std::size_t... k>(std::index_sequence<k...>) {
        std::array<V, Blocks> b = best;
        for (uint32_t i = 0; i < g.count; ++i) {
            const Spread<V> record{c + i, g.count};
            ((b[k] = lanes::less_or(Shape<K>::at(record, x[k], y[k], z[k]), b[k])), ...);
        }
        best = b;
    }(std::make_index_sequence<Blocks>{});
}

// `Blocks` blocks of lanes a pass share each record's constants and overlap
// their latencies; a short last pass repeats its last point.
template <class V, std::size_t Blocks>
void nearest_points(std::span<const SceneField::Group> groups, const float* columns,
                    const float* x, const float* y, const float* z, std::size_t n,
                    float* out) noexcept {
    using Points = std::array<V, Blocks>;
    using Nearest = void (*)(const SceneField::Group&, const float*, const Points&,
                             const Points&, const Points&, Points&) noexcept;
    static constexpr auto kNearest = kinds([]<SceneField::Kind... K>() {
        return std::array<Nearest, sizeof...(K)>{nearest_in_group<V, K, Blocks>...};
    });
    constexpr std::size_t kWidth = lanes::kLanes<V>;
    constexpr std::size_t kPoints = kWidth * Blocks;
    for (std::size_t i = 0; i < n; i += kPoints) {
        const std::size_t m = std::min(kPoints, n - i);
        float px[kPoints], py[kPoints], pz[kPoints], d[kPoints];
        for (std::size_t j = 0; j < kPoints; ++j) {
            const std::size_t at = i + std::min(j, m - 1);
            px[j] = x[at];
            py[j] = y[at];
            pz[j] = z[at];
        }
        Points bx, by, bz, best;
        for (std::size_t k = 0; k < Blocks; ++k) {
            bx[k] = lanes::load_as<V>(px + k * kWidth);
            by[k] = lanes::load_as<V>(py + k * kWidth);
            bz[k] = lanes::load_as<V>(pz + k * kWidth);
            best[k] = lanes::constant<V>(kEmptyDistance);
        }
        for (const SceneField::Group& g : groups) kNearest[g.kind](g, columns, bx, by, bz, best);
        for (std::size_t k = 0; k < Blocks; ++k) lanes::store(d + k * kWidth, best[k]);
        for (std::size_t j = 0; j < m; ++j) out[i + j] = d[j];
    }
}

}  // namespace CORE_LANES_ISA
}  // namespace core::field
