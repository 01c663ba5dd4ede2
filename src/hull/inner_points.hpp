// Points that cannot be on a hull, found before the hull's sort.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <utility>
#include <vector>

#include "common/interrupt.hpp"
#include "hull/convex_hull.hpp"
#include "hull/exact_hull.hpp"

namespace core {

namespace inner_points_detail {

// pseudo-angle of (dx, dy) in [0, 4), increasing with the angle.
inline double pseudo_angle(double dx, double dy) {
    const double t = dy / (std::fabs(dx) + std::fabs(dy));
    if (dx < 0.0) return 2.0 - t;
    return dy < 0.0 ? 4.0 + t : t;
}

}  // namespace inner_points_detail

// Removes the points strictly inside the convex polygon of the set's extreme
// points in `directions` directions, shrunk towards its centre by 2^-9,
// keeping the order of the rest and the first point first. A removed point
// lies inside the hull by at least 2^-16 of the set's extent (the polygon is
// refused unless its centre is 1/128 of the extent from every edge): far
// beyond what the rounding of the scan's float32 tests can move. Such a point
// never ends on the scan's stack, and on a consistent angular order the rest
// keep their order, so the scan decides the same without it. Returns false
// when nothing is removed.
inline bool drop_inner_points(std::vector<Point>& points, int directions) {
    const std::size_t n = points.size();
    std::vector<double> dx(directions), dy(directions);
    for (int j = 0; j < directions; ++j) {
        // The axes exactly, so that the bounding box is among the extremes.
        static constexpr double kAxisX[4] = {1.0, 0.0, -1.0, 0.0};
        static constexpr double kAxisY[4] = {0.0, 1.0, 0.0, -1.0};
        const double t = 2.0 * 3.14159265358979323846 * j / directions;
        const bool axis = 4 * j % directions == 0;
        dx[j] = axis ? kAxisX[4 * j / directions] : std::cos(t);
        dy[j] = axis ? kAxisY[4 * j / directions] : std::sin(t);
    }
    std::vector<double> best(directions, -HUGE_VAL);
    std::vector<std::size_t> arg(directions, 0);
    InterruptPoll<> poll;
    for (std::size_t i = 0; i < n; ++i) {
        poll.tick(directions);
        const double x = points[i][0], y = points[i][1];
        for (int j = 0; j < directions; ++j) {
            const double d = x * dx[j] + y * dy[j];
            if (d > best[j]) {
                best[j] = d;
                arg[j] = i;
            }
        }
    }
    std::vector<Point> corners;
    for (int j = 0; j < directions; ++j) corners.push_back(points[arg[j]]);
    const std::vector<Point> polygon = exact_hull(std::move(corners));
    const std::size_t m = polygon.size();
    if (m < 3) return false;
    double cx = 0.0, cy = 0.0, lo_x = HUGE_VAL, hi_x = -HUGE_VAL, lo_y = HUGE_VAL, hi_y = -HUGE_VAL;
    for (const Point& v : polygon) {
        cx += v[0];
        cy += v[1];
        lo_x = std::fmin(lo_x, v[0]);
        hi_x = std::fmax(hi_x, v[0]);
        lo_y = std::fmin(lo_y, v[1]);
        hi_y = std::fmax(hi_y, v[1]);
    }
    cx /= double(m);
    cy /= double(m);
    const double extent = std::fmax(hi_x - lo_x, hi_y - lo_y);
    constexpr double kShrink = 1.0 - 0x1p-9;
    std::vector<double> sx(m), sy(m), angle(m);
    for (std::size_t i = 0; i < m; ++i) {
        const Point& a = polygon[i];
        const Point& b = polygon[(i + 1) % m];
        const double ex = double(b[0]) - a[0], ey = double(b[1]) - a[1];
        const double inset = (ex * (cy - a[1]) - ey * (cx - a[0])) / std::sqrt(ex * ex + ey * ey);
        if (!(inset >= extent / 128.0)) return false;
        sx[i] = cx + (a[0] - cx) * kShrink;
        sy[i] = cy + (a[1] - cy) * kShrink;
        angle[i] = inner_points_detail::pseudo_angle(sx[i] - cx, sy[i] - cy);
    }
    // Start at the smallest angle, so that the angles increase.
    const std::size_t first =
        std::size_t(std::min_element(angle.begin(), angle.end()) - angle.begin());
    std::rotate(sx.begin(), sx.begin() + first, sx.end());
    std::rotate(sy.begin(), sy.begin() + first, sy.end());
    std::rotate(angle.begin(), angle.begin() + first, angle.end());
    std::size_t kept = 1;  // the pivot stays first
    for (std::size_t i = 1; i < n; ++i) {
        poll.tick(8);
        const double x = points[i][0], y = points[i][1];
        const double qx = x - cx, qy = y - cy;
        bool inside = true;
        if (qx != 0.0 || qy != 0.0) {
            const double a = inner_points_detail::pseudo_angle(qx, qy);
            std::size_t e =
                std::size_t(std::upper_bound(angle.begin(), angle.end(), a) - angle.begin());
            e = (e == 0 ? m : e) - 1;
            const std::size_t f = e + 1 == m ? 0 : e + 1;
            inside = (sx[f] - sx[e]) * (y - sy[e]) - (sy[f] - sy[e]) * (x - sx[e]) > 0.0;
        }
        if (!inside) points[kept++] = points[i];
    }
    if (kept == n) return false;
    points.resize(kept);
    return true;
}

}  // namespace core
