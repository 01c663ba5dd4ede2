#include "sdf_collision/point_cells.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace core {

namespace {

constexpr float kFar = 0x1p40f;

bool on_grid(float x, float y, float z) noexcept {
    return std::fabs(x) <= kFar && std::fabs(y) <= kFar && std::fabs(z) <= kFar;  // NaN: false
}

}  // namespace

float float_above(double v) noexcept {
    float f = static_cast<float>(v);
    if (double{f} < v) f = std::nextafter(f, std::numeric_limits<float>::infinity());
    return f;
}

void PointCells::sort(const float* __restrict x, const float* __restrict y,
                      const float* __restrict z, std::size_t n, std::size_t per_cell) {
    cells_.clear();
    // The grid spans a sample of the points: the others fall into its edge
    // cells, and every cell's centre and radius come from the points it
    // holds, so that where a point lands never matters for the answer.
    constexpr std::size_t kSample = 8;
    std::array<float, 3> lo{kFar, kFar, kFar}, hi{-kFar, -kFar, -kFar};
    for (std::size_t i = 0; i < n; i += kSample) {
        if (!on_grid(x[i], y[i], z[i])) continue;
        lo = {std::min(lo[0], x[i]), std::min(lo[1], y[i]), std::min(lo[2], z[i])};
        hi = {std::max(hi[0], x[i]), std::max(hi[1], y[i]), std::max(hi[2], z[i])};
    }
    // Cells about as wide on every axis that has an extent, their number
    // about n / per_cell; an axis far thinner than the widest gets one.
    std::array<double, 3> extent{};
    double widest = 0.0;
    for (std::size_t k = 0; k < 3; ++k)
        widest = std::max(widest, extent[k] = std::max(0.0, double{hi[k]} - lo[k]));
    const double target = std::max<double>(1.0, static_cast<double>(n) / per_cell);
    // An extent so small that its scale would overflow a float counts as none.
    std::array<bool, 3> wide;
    double volume = 1.0;
    int axes = 0;
    for (std::size_t k = 0; k < 3; ++k) {
        wide[k] = extent[k] > widest * 0x1p-10 && extent[k] > 0x1p-100;
        if (wide[k]) volume *= extent[k], ++axes;
    }
    const double side = axes == 0 ? 1.0 : std::pow(volume / target, 1.0 / axes);
    std::array<uint32_t, 3> dims;
    std::array<float, 3> scale, top;
    for (std::size_t k = 0; k < 3; ++k) {
        dims[k] = wide[k]
                      ? static_cast<uint32_t>(std::clamp(std::ceil(extent[k] / side), 1.0, 128.0))
                      : 1;
        scale[k] = wide[k] ? static_cast<float>(dims[k] / extent[k]) : 0.0f;
        top[k] = static_cast<float>(dims[k] - 1);
        if (!wide[k]) lo[k] = 0.0f;
    }
    const std::size_t cells = std::size_t{dims[0]} * dims[1] * dims[2];
    const auto stray = static_cast<uint32_t>(cells);  // one bucket past the grid
    cell_.resize(n);
    start_.assign(cells + 2, 0);
    uint32_t* __restrict cell = cell_.data();
    // Clamped as floats (finite on the grid), then truncated.
    for (std::size_t i = 0; i < n; ++i) {
        const bool in = on_grid(x[i], y[i], z[i]);
        const float fx = in ? (x[i] - lo[0]) * scale[0] : 0.0f;
        const float fy = in ? (y[i] - lo[1]) * scale[1] : 0.0f;
        const float fz = in ? (z[i] - lo[2]) * scale[2] : 0.0f;
        const auto cx = static_cast<uint32_t>(fx > 0.0f ? (fx < top[0] ? fx : top[0]) : 0.0f);
        const auto cy = static_cast<uint32_t>(fy > 0.0f ? (fy < top[1] ? fy : top[1]) : 0.0f);
        const auto cz = static_cast<uint32_t>(fz > 0.0f ? (fz < top[2] ? fz : top[2]) : 0.0f);
        cell[i] = in ? (cz * dims[1] + cy) * dims[0] + cx : stray;
    }
    uint32_t* count = start_.data() + 1;
    for (std::size_t i = 0; i < n; ++i) ++count[cell[i]];
    for (std::size_t c = 0; c <= cells; ++c) count[c] += count[c - 1];
    placed_ = start_[cells];
    // One 16-byte store a point where they scatter, then columns in order.
    sorted_.resize(n);
    Point* sorted = sorted_.data();
    uint32_t* next = start_.data();
    for (std::size_t i = 0; i < n; ++i)
        sorted[next[cell[i]]++] = {x[i], y[i], z[i], static_cast<uint32_t>(i)};
    // Then columns in order, each cell's box taken on the way.
    x_.resize(n), y_.resize(n), z_.resize(n), order_.resize(n);
    float *sx = x_.data(), *sy = y_.data(), *sz = z_.data();
    uint32_t* order = order_.data();
    // next[c] is now where cell c ends; the stray points follow the last.
    uint32_t b = 0;
    for (std::size_t c = 0; c <= cells; ++c) {
        const uint32_t e = next[c];
        if (b == e) continue;
        float l[3] = {sorted[b].x, sorted[b].y, sorted[b].z}, h[3] = {l[0], l[1], l[2]};
        for (uint32_t j = b; j < e; ++j) {
            const Point p = sorted[j];
            sx[j] = p.x, sy[j] = p.y, sz[j] = p.z, order[j] = p.index;
            l[0] = std::min(l[0], p.x), h[0] = std::max(h[0], p.x);
            l[1] = std::min(l[1], p.y), h[1] = std::max(h[1], p.y);
            l[2] = std::min(l[2], p.z), h[2] = std::max(h[2], p.z);
        }
        if (c == cells) break;
        // The centre rounded to float, and how far it may then lie from
        // the farthest corner of the points' box.
        double half = 0.0, moved = 0.0;
        float q[3];
        for (std::size_t k = 0; k < 3; ++k) {
            const double mid = 0.5 * (double{l[k]} + h[k]), r = 0.5 * (double{h[k]} - l[k]);
            q[k] = static_cast<float>(mid);
            half += r * r;
            moved += (q[k] - mid) * (q[k] - mid);
        }
        const double norm =
            std::sqrt(double{q[0]} * q[0] + double{q[1]} * q[1] + double{q[2]} * q[2]);
        cells_.push_back({b, e, q[0], q[1], q[2],
                          float_above((std::sqrt(half) + std::sqrt(moved)) * (1 + 0x1p-40)),
                          float_above(norm * (1 + 0x1p-40))});
        b = e;
    }
}

}  // namespace core
