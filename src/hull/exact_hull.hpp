// The exact hull of float32 points: orientation signs without rounding, and
// a monotone chain built on them.
//
// A product of two float32 values has at most 48 significant bits and stays
// in double's normal range, so each of the six products the determinant
// expands to is exact in double; only their sum can round. A filtered double
// evaluation settles almost every call, and the rest sum the six products as
// a non-overlapping expansion, whose largest nonzero component has the sign
// of the exact sum.
#pragma once

#include <algorithm>
#include <cmath>
#include <vector>

#include "common/interrupt.hpp"
#include "hull/convex_hull.hpp"
#include "hull/stable_sort.hpp"

namespace core {

namespace orientation_detail {

// a + b = s + e exactly (s the rounded sum).
inline void two_sum(double a, double b, double& s, double& e) {
    s = a + b;
    const double bv = s - a;
    const double av = s - bv;
    e = (a - av) + (b - bv);
}

inline int exact_sign(const Point& a, const Point& b, const Point& c) {
    const double ax = a[0], ay = a[1], bx = b[0], by = b[1], cx = c[0], cy = c[1];
    const double terms[6] = {bx * cy, -(bx * ay), -(ax * cy), -(by * cx), ax * by, ay * cx};
    double expansion[6];
    int size = 0;
    for (double t : terms) {
        double q = t;
        for (int i = 0; i < size; ++i) {
            double s, e;
            two_sum(q, expansion[i], s, e);
            expansion[i] = e;
            q = s;
        }
        expansion[size++] = q;
    }
    for (int i = size - 1; i >= 0; --i) {
        if (expansion[i] > 0.0) return 1;
        if (expansion[i] < 0.0) return -1;
    }
    return 0;
}

}  // namespace orientation_detail

// +1 when c lies to the left of the line a -> b, -1 to the right, 0 on it.
// Coordinates must be finite.
inline int orientation(const Point& a, const Point& b, const Point& c) {
    const double left = (double(b[0]) - a[0]) * (double(c[1]) - a[1]);
    const double right = (double(b[1]) - a[1]) * (double(c[0]) - a[0]);
    const double det = left - right;
    // The rounding of the differences, products and difference above is at
    // most this much (the classic bound for double orientation tests).
    const double bound = 3.3306690738754716e-16 * (std::fabs(left) + std::fabs(right));
    if (det > bound) return 1;
    if (det < -bound) return -1;
    return orientation_detail::exact_sign(a, b, c);
}

// The hull's vertices by a monotone chain with exact orientation tests:
// counter-clockwise from the smallest point in (x, y) order, no point on an
// edge, no point twice; one point for a set of equal points, the two ends for
// collinear ones.
inline std::vector<Point> exact_hull(std::vector<Point> points) {
    // Of points equal but for the sign of a zero, the one with the negative
    // zero comes first and stands for them: the answer does not depend on
    // the order the points arrive in.
    const auto before = [](const Point& a, const Point& b) {
        if (a[0] != b[0]) return a[0] < b[0];
        if (a[1] != b[1]) return a[1] < b[1];
        const bool ax = std::signbit(a[0]), bx = std::signbit(b[0]);
        if (ax != bx) return ax;
        return std::signbit(a[1]) && !std::signbit(b[1]);
    };
    stable_merge_sort(points.data(), points.size(), before);
    points.erase(
        std::unique(points.begin(), points.end(),
                    [](const Point& a, const Point& b) { return a[0] == b[0] && a[1] == b[1]; }),
        points.end());
    if (points.size() == 1) return points;
    std::vector<Point> hull;
    hull.reserve(points.size() + 1);
    InterruptPoll<> poll;
    const auto chain = [&](auto first, auto last) {
        const std::size_t base = hull.size();
        for (auto it = first; it != last; ++it) {
            poll.tick();
            while (hull.size() >= base + 2 &&
                   orientation(hull[hull.size() - 2], hull[hull.size() - 1], *it) <= 0)
                hull.pop_back();
            hull.push_back(*it);
        }
        hull.pop_back();  // the next chain starts there
    };
    chain(points.begin(), points.end());
    chain(points.rbegin(), points.rend());
    return hull;
}

}  // namespace core
