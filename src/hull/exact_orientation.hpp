// The sign of the orientation of three float32 points, without rounding.
//
// A product of two float32 values has at most 48 significant bits and stays
// in double's normal range, so each of the six products the determinant
// expands to is exact in double; only their sum can round. A filtered double
// evaluation settles almost every call, and the rest sum the six products as
// a non-overlapping expansion, whose largest nonzero component has the sign
// of the exact sum.
#pragma once

#include <cmath>

#include "hull/convex_hull.hpp"

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

}  // namespace core
